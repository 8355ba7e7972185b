// What a run is fed (Contexto) and what it returns (Resultado): nothing inside the run reads the
// process's state; whoever starts it (Main, the window) gathers that once and hands it in.
#pragma once

#include "../settings/configuracao.h"
#include "codigos.h"
#include "meios.h"
#include "observador.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

// The window's send-file: this file (UTF-8), packed first into "<arquivo>.7z" with `compactar`.
struct EnvioAvulso {
    std::string arquivo;
    bool compactar = false;
};

// The window's FTP test: the FTP settings of the record checked as the job checks them, then
// `arquivo` sent as the job sends and, once whole on the server, handed with its session to
// `apos` (which deletes it and describes the connection).
struct TesteFtp {
    std::filesystem::path arquivo;
    std::function<void(SessaoTransferencia& sessao, const std::string& nome)> apos;
};

struct Contexto {
    std::filesystem::path programa; // the tools
    std::filesystem::path dados;    // info.ini, Log, the lock, the archives
    std::filesystem::path backups;  // where the server writes the .BAK
    std::string arquivoLog;         // the log's name in dados/Log
    // info.ini as read once, after the one permission check; empty: the run makes that check and
    // that read itself, as its first step (the window's run-now, on what was just saved).
    std::optional<Configuracao> configuracao;
    std::function<std::tm()> agora; // the local time
    // The reporter besides the log: its message line, the backup's progress, the error box.
    ObservadorJob* observador = nullptr;
    Programas* programas = nullptr;
    Transferencias* transferencias = nullptr;
    Banco* banco = nullptr;
    // Set: the run is the send-file's pack and send of this file alone, told to the observer's
    // message line alone (no log, lock, heartbeat or backup); `configuracao` must be set.
    std::optional<EnvioAvulso> avulso{};
    // Set: the run is that connect-and-check alone, told to no one (a failure's transfer field
    // holds the host key or certificate the server showed); `configuracao` must be set.
    std::optional<TesteFtp> testeFtp{};
};

// Where a run stopped.
enum class Etapa {
    Nenhuma,      // it reached its end
    Permissoes,   // another account could change what the run reads or runs
    Trava,        // the lock file could not be opened
    Ocupada,      // another run holds the lock
    Ferramentas,  // tools missing from the program folder
    Configuracao, // a value of info.ini the run cannot go on with
    Conexao,      // the database server
    Pasta,        // the backups' folder could not be made
    Backup,       // the BACKUP statement
    Verificacao,  // RESTORE VERIFYONLY
    Compactacao,  // 7z a (or the .BAK was not a file to pack)
    Teste,        // 7z t
    Envio,        // the upload and its size
    Exclusao,     // the .BAK could not be deleted
    Log,          // the log could not be written
    Interna,      // anything else the run threw
    // The restore's (RESTAURAR):
    Download,         // the listing, the download and its size
    Extracao,         // 7z t and 7z x of the archive
    Restauracao,      // RESTORE, or the database already there
    Integridade,      // DBCC CHECKDB
    TesteRestauracao, // EXEC's restore drill (TesteRestauracao)
};

// What happened, typed: the step, the exit status and number (Falha), and what the step saw.
struct Resultado {
    Etapa etapa = Etapa::Nenhuma;
    Falha falha{CodigoSaida::Sucesso, 0, {}};
    std::vector<std::string> faltando{}; // Etapa::Ferramentas: the tools, in the order checked
    // In words (TextosResultado): the log's lines, the failure heartbeat's body, the error box
    // (none when empty).
    std::vector<std::string> linhas{};
    std::string aviso{}, caixa{};
    CodigoSaida codigo() const { return falha.codigo; }
};

// A run that stopped at `etapa` with `falha`.
inline Resultado Parada(Etapa etapa, Falha falha) {
    Resultado r;
    r.etapa = etapa;
    r.falha = std::move(falha);
    return r;
}

inline Resultado Parada(Etapa etapa, CodigoSaida codigo, std::string texto) {
    return Parada(etapa, Falha{codigo, 0, std::move(texto)});
}

// The runs' connect step: a session of `banco` for the record `c`, the attempt and its outcome told
// to `registrar`; otherwise the stop at Etapa::Conexao.
inline std::optional<Resultado> ConectarEtapa(Banco& banco, const Configuracao& c,
                                              const Registro& registrar,
                                              std::unique_ptr<SessaoBanco>& conexao) {
    std::optional<Falha> falha;
    conexao = banco.Conectar(c, registrar, falha);
    if (!conexao) {
        return Parada(Etapa::Conexao,
                      falha ? std::move(*falha) : Falha{CodigoSaida::ConexaoFalhou, 0, {}});
    }
    return std::nullopt;
}

} // namespace kelvane
