// Exit statuses of the program and the failures that lead to them. An unattended run ends with 0
// only when the whole job (backup, archive verified, upload, cleanup) reached its end.
#pragma once

#include "../plataforma/transferencia.h"
#include "execucao.h"

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

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

// The step a failure happened in: its words name it ("<step> falhou: ...").
enum class PassoFalha {
    Nenhum, // no name: the words are the kind's alone
    Compactacao,
    TesteArquivo,
    Extracao,
    Envio,
    TesteFtp,
    Backup,
    Verificacao, // RESTORE VERIFYONLY
    Restauracao,
    Integridade, // DBCC CHECKDB
    Download,
    Listagem,
    Conexao, // the database server's
};

// What went wrong in the step.
enum class TipoFalha {
    Texto,              // `descricao` (a rule's words, a refusal's line, what a call threw)
    Ferramenta,         // the tool `nomeFerramenta` ended as `ferramenta` says
    NaoIniciou,         // the tool could not be started, or its end not known: `sistema`
    ArquivoLocal,       // `caminho` could not be read: `erro`
    PastaNaoCriada,     // the folder `caminho` could not be made: `erro`
    NaoExcluido,        // the file `caminho` could not be deleted: `erro`
    TravaNaoAberta,     // the lock file `caminho` could not be opened: `erro`
    Ocupada,            // another run holds the lock: this backup does not run
    RestauracaoOcupada, // likewise, for a restore
    OrigemInvalida,     // `caminho`, to be packed, is a link, a folder, not a file or unreadable
    SenhaIlegivel,      // SenhaArquivo could not be unscrambled: `descricao` why
    CredencialFtp,      // the FTP user or password could not be unscrambled: `descricao` why
    TamanhoIgnorado,    // the size of `remoto` on the server could not be asked: `descricao` why
    TamanhoDiferente,   // the server kept `bytesServidor` of the `bytesLocal` bytes of `remoto`
    ChegouMenos,        // `bytesLocal` of the `bytesServidor` bytes of `remoto` arrived
    Transferencia,      // the transfer unit's `transferencia` (on `remoto`, when named); past its
                        // deadline, `piso` (when set) tells the step's limit
    PastaNaoListada,    // the server's folder could not be listed: `transferencia`
    NenhumArquivo,      // no archive of this client in the server's folder
    AbreSemSenha,       // the archive opened without SenhaArquivo
    SemBakUnico,        // the archive `remoto` does not hold one backup file
    Servidor,           // the database server's `textoServidor`; `desfecho` what became of `banco`
    BancoExiste,        // `banco` is there already (`desfecho` Mantido: the drill's, not dropped)
    TesteNaoApagado,    // the drill's `banco` passed CHECKDB, but DROP failed: `textoServidor`
};

// What a failed restore left of the database `banco`.
enum class Desfecho {
    Nenhum,
    NadaRestaurado,
    Apagado,    // this run's, dropped
    NaoApagado, // this run's, the DROP refused: `textoDrop`
    Mantido,    // kept for inspection
};

// A failed step: the exit status it ends the job with, the number it is reported with (a tool's
// exit status, the server's error number, errno, or 0), the step and the kind of failure with the
// fields that kind names; then what the step saw, as it saw it. TextoDescricao (textos.h) words it.
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
    std::string caminho{};        // the local file or folder
    std::string remoto{};         // its name on the server
    // A short file on the server: the name what arrived was left under; `incompleto`, it kept
    // `remoto` because it could not be renamed.
    std::string ficouComo{};
    bool incompleto = false;
    std::uintmax_t bytesServidor = 0, bytesLocal = 0;
    std::int64_t piso = 0; // the step's LimiteEtapa, for a transfer past its deadline
    std::string banco{};   // the database a restore made or found
    Desfecho desfecho = Desfecho::Nenhum;
    std::string textoDrop{};                          // the server's words refusing DROP DATABASE
    std::optional<plataforma::ErroSistema> sistema{}; // the system's failure starting a tool
    // The restore drill's failure, worded after the drill's name.
    bool noTesteRestauracao = false;
};

// A failure of `tipo` in `passo`, ending the run with `codigo`; `texto` its `descricao`.
inline Falha FalhaDe(PassoFalha passo, TipoFalha tipo, CodigoSaida codigo, std::string texto = {}) {
    Falha falha{codigo, 0, std::move(texto)};
    falha.passo = passo;
    falha.tipo = tipo;
    return falha;
}

// The system's error `erro` on `caminho` (numbered as errno).
inline Falha FalhaSistema(PassoFalha passo, TipoFalha tipo, CodigoSaida codigo, std::string caminho,
                          std::error_code erro) {
    auto falha = FalhaDe(passo, tipo, codigo);
    falha.numero = erro.value();
    falha.erro = erro;
    falha.caminho = std::move(caminho);
    return falha;
}

// "Erro: <numero> - <words>", as the log, the heartbeat and the message boxes word a failure.
std::string TextoFalha(const Falha& falha);

} // namespace kelvane
