// The backup job: the server writes a full backup into the program folder, 7z packs and
// verifies it, ncftpput sends it, the .BAK goes, Executado records the run.
#pragma once

#include "codigos.h"
#include "contexto.h"
#include "textos.h" // TextoInterrupcao

#include <memory>
#include <string>

namespace kelvane {

// The BACKUP DATABASE statement, names quoted so that no value can change its meaning; with
// `checksum` the server checksums every page it writes.
std::string ComandoBackup(const std::string& banco, const std::string& caminho,
                          const std::string& nomeConjunto, bool compressao, bool checksum);
// The statement that has the server read the backup at `caminho` back and check it whole.
std::string ComandoVerificacao(const std::string& caminho);

// One run of the job over what its context holds: the steps in order, each failure reported
// once (the log, the heartbeat, the window's box) and returned typed. A termination request
// meanwhile is ExecutarJob's.
class Execucao {
public:
    explicit Execucao(Contexto contexto);
    ~Execucao();
    Execucao(const Execucao&) = delete;
    Execucao& operator=(const Execucao&) = delete;
    Resultado Executar();

private:
    class Passos;
    std::unique_ptr<Passos> passos_;
};

// The context from the process's state (Main's folders and log name, the local time, the
// system's tools, transfer and database), info.ini not yet read.
Contexto ContextoDoProcesso(ObservadorJob* observador);

// The whole job, reported in the log (and to the observer, when a window started it); returns
// the exit status, with a failure's text for the system's event log in `evento` (when given): the
// step, the number and the exit status, without the details the job's log keeps. A termination
// request meanwhile logs TextoInterrupcao as the run's last line.
CodigoSaida ExecutarJob(Contexto contexto, std::string* evento = nullptr);
// ExecutarJob(ContextoDoProcesso(observador), evento).
CodigoSaida ExecutarBackup(ObservadorJob* observador = nullptr, std::string* evento = nullptr);

} // namespace kelvane
