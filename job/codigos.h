// Exit statuses of the program. An unattended run ends with 0 only when the whole job (backup,
// archive verified, upload, cleanup) reached its end.
#pragma once

namespace kelvane {

enum class CodigoSaida : int {
    Sucesso = 0,
    ErroOutro = 1,           // log not writable, file not deletable, unexpected failure
    FerramentaFaltando = 2,  // 7z, 7z.so or ncftpput missing from the program folder
    ConexaoFalhou = 3,       // the database server could not be reached or refused the login
    BackupFalhou = 4,        // the server refused or aborted the BACKUP statement
    CompactacaoFalhou = 5,   // 7z failed or its archive did not pass the test
    EnvioFalhou = 6,         // ncftpput failed
    JobEmExecucao = 7,       // another job holds this program folder
    JanelaIndisponivel = 8,  // started without EXEC where no window can be shown
    PermissoesInseguras = 9, // another account could replace the program folder or a tool
};

inline int ComoInteiro(CodigoSaida c) {
    return static_cast<int>(c);
}

} // namespace kelvane
