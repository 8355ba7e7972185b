// The activity log: one file per start in <program folder>/Log, one timestamped line per message.
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>

namespace kelvane {

// This run's log file name, without folder; Main sets it once.
extern std::string ArquivoLog;

// True while work started from the window runs: messages then also go to its message line,
// and the job reports failures in message boxes instead of ending the program.
extern std::atomic<bool> ModoJanela;

// "Log_" DDMMYY "_" HHMM ".Log"
std::string NomeArquivoLog(const std::tm& momento);

class ErroLog : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The window's message line; called from whatever thread logs, so the window must hand the text
// over to its own thread.
void DefinirLinhaMensagem(std::function<void(const std::string&)> linha);

// Shows the message on the window's line while ModoJanela is true, then appends
// "DD/MM/YYYY HH:MM:SS : <Mensagem>" to the log, opening and closing the file for this one line.
// Throws ErroLog when the line cannot be written.
void GravarLog(const std::string& Mensagem);

} // namespace kelvane
