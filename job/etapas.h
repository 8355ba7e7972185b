// The steps the job runs with the external tools, each returning the failure it ended in: the
// backup job and the window's send-file and FTP test run the same ones.
#pragma once

#include "codigos.h"
#include "enviador.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kelvane {

struct ObservadorJob;

// Whether credentials are stored in clear: the observer's answer when it gives one, otherwise the
// NCripto key of info.ini, converted as the window's load converts it.
bool ConsultarNCripto(const ObservadorJob* observador);

// Each step below gives its tool a time limit: LimiteEtapa of info.ini in seconds (30 minutes
// when absent or not a whole number of 1 or more) plus 1 s for every 64 KiB of the file it works
// on. A tool still running then is stopped, and the step fails saying so. The line to log when
// LimiteEtapa is set but not valid.
std::optional<std::string> LimiteEtapaInvalido();

// Deletes the file if it is there; a failure is the job's (ErroOutro, errno).
std::optional<Falha> Excluir(const std::filesystem::path& arquivo);

// Packs `origem` into `arquivo` with 7z, replacing any archive of that name.
std::optional<Falha> Compactar(const std::filesystem::path& pasta,
                               const std::filesystem::path& arquivo,
                               const std::filesystem::path& origem,
                               const OpcoesProcesso& opcoes = {});
// Checks with "7z t" that the archive is whole.
std::optional<Falha> TestarArquivo(const std::filesystem::path& pasta,
                                   const std::filesystem::path& arquivo,
                                   const OpcoesProcesso& opcoes = {});

// Porta as the uploader takes it: a whole number from 1 to 65535, blanks around it allowed, 21
// when empty; otherwise the failure (EnvioFalhou) that names it.
std::optional<Falha> ConferirPortaFtp(const std::string& valor, std::string& porta);

// The FTP settings of info.ini, the user and password read through the NCripto rule.
std::optional<Falha> LerDadosFtp(bool ncripto, DadosFtp& dados);

// Sends one file with the uploader; `etapa` names the step in the failure ("Envio falhou"),
// whose text never holds the password.
std::optional<Falha> EnviarArquivo(const std::filesystem::path& pasta, const DadosFtp& dados,
                                   const std::filesystem::path& arquivo, const std::string& etapa,
                                   const OpcoesProcesso& opcoes = {});

} // namespace kelvane
