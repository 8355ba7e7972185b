// The steps the job runs with the external tools, each returning the failure it ended in: the
// backup job and the window's send-file and FTP test run the same ones.
#pragma once

#include "../plataforma/transferencia.h"
#include "../settings/regras.h"
#include "codigos.h"
#include "enviador.h"
#include "ferramentas.h"
#include "meios.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace kelvane {

// Every tool step ends: an FTP server that reads a few bytes a second never trips the uploader's
// idle time-outs and would hold the job, and its lock, for days. The floor covers starting,
// connecting and logging in; the rate, 512 kbit/s, is the slowest ADSL upstream and over a
// hundred times what such a server takes (see the README).
inline constexpr std::uintmax_t kRitmoMinimo = 64 * 1024; // bytes per second

// Each tool step below is given a time limit: `piso` seconds (LimiteEtapa) plus 1 s for every
// kRitmoMinimo bytes of the file it works on. A tool still running then is stopped, and the step
// fails saying so.

// Deletes the file if it is there; a failure is the job's (ErroOutro, errno).
std::optional<Falha> Excluir(const std::filesystem::path& arquivo);

// Packs `origem` into `arquivo` with 7z, replacing any archive of that name; with `senha`
// (SenhaArquivo) encrypted, file names included, the password handed to 7z on its stdin.
std::optional<Falha> Compactar(const std::filesystem::path& pasta,
                               const std::filesystem::path& arquivo,
                               const std::filesystem::path& origem, std::int64_t piso,
                               const OpcoesProcesso& opcoes = {}, const std::string& senha = {},
                               const Meios& meios = MeiosDoSistema());
// Checks with "7z t" that the archive is whole; with `senha`, also that it cannot be opened
// without it (7z asked for it).
std::optional<Falha> TestarArquivo(const std::filesystem::path& pasta,
                                   const std::filesystem::path& arquivo, std::int64_t piso,
                                   const OpcoesProcesso& opcoes = {}, const std::string& senha = {},
                                   const Meios& meios = MeiosDoSistema());

// The restore's unpacking: "7z t", then "7z x" of `arquivo` into the folder `destino`, with
// `senha` (SenhaArquivo) on 7z's stdin when set. A wrong password or a damaged archive is 7z's
// failure (CompactacaoFalhou).
std::optional<Falha> Extrair(const std::filesystem::path& pasta,
                             const std::filesystem::path& arquivo,
                             const std::filesystem::path& destino, std::int64_t piso,
                             const OpcoesProcesso& opcoes, const std::string& senha,
                             const Meios& meios);

// Where the transfer unit sends: the FTP settings, a step's time limit (`limite`), and the time
// to connect (20 s for the window's test, 60 s otherwise).
plataforma::DestinoTransferencia DestinoDe(const DadosFtp& dados, std::chrono::seconds limite);

// SenhaArquivo could not be unscrambled: packing without it would send a readable archive.
std::optional<Falha> SenhaArquivoIlegivel(const Configuracao& c);

// The FTP settings of the record; a credential that could not be unscrambled or a port that is
// not valid is the failure (EnvioFalhou).
std::optional<Falha> DadosFtpDe(const Configuracao& c, const Validacao& v, DadosFtp& dados);

// Given the server session once the file is there whole under `nome` (the window's test deletes
// it through that session and describes it).
using AposEnvio = std::function<void(SessaoTransferencia& sessao, const std::string& nome)>;

// Sends one file: plain FTP with the uploader, the encrypted schemes with the transfer unit, each
// under a temporary name renamed once whole. Then the size the server kept must be the file's
// (before the rename where the transfer is ours); a server that does not answer SIZE is told to
// dados.registrar and the send counts. `passo` names the step in the failure (PassoFalha::Envio),
// whose words never hold the password. `transferencia` gets the transfer unit's own failure when
// the send ended in one (what the server showed that nothing trusted, for the window's test).
std::optional<Falha> EnviarArquivo(const std::filesystem::path& pasta, const DadosFtp& dados,
                                   const std::filesystem::path& arquivo, PassoFalha passo,
                                   std::int64_t piso, const OpcoesProcesso& opcoes = {},
                                   const AposEnvio& apos = {},
                                   plataforma::FalhaTransferencia* transferencia = nullptr,
                                   const Meios& meios = MeiosDoSistema());

} // namespace kelvane
