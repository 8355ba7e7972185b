// The backup job: the server writes a full backup into the program folder, 7z packs and
// verifies it, ncftpput sends it, the .BAK goes, Executado records the run.
#pragma once

#include "codigos.h"

#include <ctime>
#include <string>

namespace kelvane {

// The BACKUP DATABASE statement, names quoted so that no value can change its meaning; with
// `checksum` the server checksums every page it writes.
std::string ComandoBackup(const std::string& banco, const std::string& caminho,
                          const std::string& nomeConjunto, bool compressao, bool checksum);
// The statement that has the server read the backup at `caminho` back and check it whole.
std::string ComandoVerificacao(const std::string& caminho);

struct ObservadorJob;

// The whole job, reported in the log (and to the observer, when a window started it); returns
// the exit status, with a failure's text for the system's event log in `evento` (when given): the
// step, the number and the exit status, without the details the job's log keeps. A termination
// request meanwhile logs TextoInterrupcao as the run's last line.
CodigoSaida ExecutarBackup(ObservadorJob* observador = nullptr, std::string* evento = nullptr);
// "Erro: 0 - Execução interrompida (<motivo>): o backup não foi concluído."
std::string TextoInterrupcao(const std::string& motivo);

} // namespace kelvane
