// Local retention (ManterArquivos): after a run that reached its end, only the N most recent
// archives this program folder's naming produced for the configured client stay on the disk, and
// this client's backups left by interrupted runs of earlier days go.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// What retention does with the files of the folder.
struct Retencao {
    std::vector<std::string> antigos; // archives beyond the `manter` most recent, oldest first
    std::vector<std::string> futuros; // dated after today: never counted, never deleted
    std::vector<std::string> baks;    // backups of earlier days, oldest first
};

// Of `nomes` (file names without folder), the archives "KVLN_<code>_<name>_DDMMYY.7z" and backups
// "..._DDMMYY.BAK" this folder's naming gives for this code and name; `atual` (the archive just
// made) counts as the newest and is never among them. Dates come from the names: "YY" is the year
// nearest `hoje`; a name whose date does not exist is not one of ours.
Retencao ArquivosAntigos(const std::vector<std::string>& nomes, const std::string& codigo,
                         const std::string& nome, const std::string& atual,
                         unsigned long long manter, const std::tm& hoje);

// Keeps the `manter` most recent archives in the data folder after a successful run (the archives
// in `pasta`, the backups in `backups`, which SQL Server's `servico` may own): only regular files
// owned by this account count; each deletion, names dated in the future and a file that could not
// be deleted (which does not fail the run) are told to `registrar`; `hoje` dates the names.
void LimparArquivosAntigos(const std::filesystem::path& pasta, const std::filesystem::path& backups,
                           unsigned long long manter, const std::string& codigo,
                           const std::string& nome, const std::string& atual,
                           const std::string& servico, const std::tm& hoje,
                           const std::function<void(const std::string&)>& registrar);

} // namespace kelvane
