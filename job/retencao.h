// Local retention (ManterArquivos): after a run that reached its end, only the N most recent
// archives this program folder's naming produced for the configured client stay on the disk.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

struct ObservadorJob;

// ManterArquivos as a count: blanks around one whole number from 1 to 100000. Anything else
// (empty included) keeps every archive.
std::optional<long> ManterArquivos(std::string_view valor);

// Of `nomes` (file names without folder), the archives named "KVLN_<code>_<name>_DDMMYY.7z" for
// this code and name, oldest first, beyond the `manter` most recent; `atual` (the archive just
// made) is never among them. Dates come from the names: "YY" is the year of this century, or of
// the last one when that would put it after `hoje`'s year; a name whose date does not exist is
// not one of ours.
std::vector<std::string> ArquivosAntigos(const std::vector<std::string>& nomes,
                                         const std::string& codigo, const std::string& nome,
                                         const std::string& atual, long manter,
                                         const std::tm& hoje);

// Applies ManterArquivos to the program folder after a successful run, logging each deletion,
// an invalid value, and a file that could not be deleted (which does not fail the run).
void LimparArquivosAntigos(const std::filesystem::path& pasta, const std::string& valor,
                           const std::string& codigo, const std::string& nome,
                           const std::string& atual, const ObservadorJob* observador = nullptr);

} // namespace kelvane
