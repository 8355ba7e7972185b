// The activity log: one file per start in <program folder>/Log, one timestamped line per message.
#pragma once

#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace kelvane {

// This run's log file name, without folder; Main sets it once.
extern std::string ArquivoLog;

// "Log_" DDMMYY "_" HHMM ".Log"
std::string NomeArquivoLog(const std::tm& momento);

class ErroLog : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ObservadorJob;

// Hands the message to the observer's message line, when there is one, then appends
// "DD/MM/YYYY HH:MM:SS : <Mensagem>" to the log, opening and closing the file for this one line.
// Throws ErroLog when the line cannot be written.
void GravarLog(const std::string& Mensagem, const ObservadorJob* observador = nullptr);
// The same line appended to the log file `caminho`, stamped with `momento`, without observer.
void GravarLinhaLog(const std::filesystem::path& caminho, const std::string& Mensagem,
                    const std::tm& momento);

} // namespace kelvane
