// Exit statuses of the program and the failures that lead to them. An unattended run ends with 0
// only when the whole job (backup, archive verified, upload, cleanup) reached its end.
#pragma once

#include "../plataforma/transferencia.h"
#include "execucao.h"

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace kelvane {

enum class CodigoSaida : int {
    Sucesso = 0,
    ErroOutro = 1,               // log not writable, file not deletable, unexpected failure
    FerramentaFaltando = 2,      // 7z, 7z.so or ncftpput missing from the program folder
    ConexaoFalhou = 3,           // the database server could not be reached or refused the login
    BackupFalhou = 4,            // the server refused or aborted the BACKUP statement
    CompactacaoFalhou = 5,       // 7z failed or its archive did not pass the test
    EnvioFalhou = 6,             // ncftpput failed
    JobEmExecucao = 7,           // another job holds this program folder
    JanelaIndisponivel = 8,      // started without EXEC where no window can be shown
    PermissoesInseguras = 9,     // another account could replace the program folder or a tool
    TesteRestauracaoFalhou = 10, // the archive was sent, but the drill could not restore it
};

inline int ComoInteiro(CodigoSaida c) {
    return static_cast<int>(c);
}

// The tool step a failure happened in: its words name it.
enum class PassoFalha {
    Nenhum, // `descricao` holds all the words
    Compactacao,
    TesteArquivo,
    Extracao,
    Envio,
    TesteFtp,
};

// What went wrong in the step.
enum class TipoFalha {
    Texto,            // `descricao`, after the step's name (a rule's words, what a call threw)
    Ferramenta,       // the tool `nomeFerramenta` ended as `ferramenta` says
    ArquivoLocal,     // `caminho` could not be read: `erro`
    TamanhoIgnorado,  // the size of `remoto` on the server could not be asked: `descricao` why
    TamanhoDiferente, // the server kept `bytesServidor` of the `bytesLocal` bytes of `remoto`
    Transferencia,    // the transfer unit's `transferencia`; past its deadline, `piso` tells it
    AbreSemSenha,     // the archive opened without SenhaArquivo
};

// A failed step: the exit status it ends the job with, the number it is reported with (a tool's
// exit status, the server's error number, errno, or 0) and, where the failure is not typed (or is
// typed as TipoFalha::Texto), its words; then what the step saw, as it saw it. TextoDescricao
// (textos.h) words it.
struct Falha {
    CodigoSaida codigo = CodigoSaida::ErroOutro;
    long numero = 0;
    std::string descricao;
    std::error_code erro{};                        // the system's, when one of its calls failed
    std::optional<ResultadoProcesso> ferramenta{}; // the tool's end: status, signal, output tail
    std::string textoServidor{};                   // the database server's words (`numero` its)
    // The transfer unit's failure: the SFTP host key or the certificate the server showed.
    std::optional<plataforma::FalhaTransferencia> transferencia{};
    // Where it came from, where its reader words it apart: the uploader (`numero` is ncftpput's
    // exit status, with meanings of its own), or a listener on this machine the login was kept from
    // (the job's line says all).
    enum class Origem { Programa, Enviador, Ouvinte } origem = Origem::Programa;
    PassoFalha passo = PassoFalha::Nenhum;
    TipoFalha tipo = TipoFalha::Texto;
    std::string nomeFerramenta{}; // "7z", "7z t", "ncftpput"
    std::string caminho{};        // the local file
    std::string remoto{};         // its name on the server
    // A short file on the server: the name what arrived was left under; `incompleto`, it kept
    // `remoto` because it could not be renamed.
    std::string ficouComo{};
    bool incompleto = false;
    std::uintmax_t bytesServidor = 0, bytesLocal = 0;
    std::int64_t piso = 0; // the step's LimiteEtapa, for a transfer past its deadline
    // The restore drill's failure, worded after the drill's name.
    bool noTesteRestauracao = false;
};

// "Erro: <numero> - <words>", as the log, the heartbeat and the message boxes word a failure.
std::string TextoFalha(const Falha& falha);

} // namespace kelvane
