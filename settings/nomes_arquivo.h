// The names the settings give the job's files: the backup and its archive, and the date such a
// name carries (which retention reads back).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

namespace kelvane {

// "KVLN_<code without blanks>_<name, blanks as _>_DDMMYY.BAK", the file's name alone.
std::string NomeArquivoBackup(const std::string& codigo, const std::string& nome,
                              const std::tm& data);
// The backup name with every ".BAK" turned into ".7z".
std::string NomeArquivoCompactado(const std::string& nomeBackup);

using DataNome = std::tuple<int, int, int>; // year, month, day

// The date of "..._DDMMYY<sufixo>" when it names a real day; the two-digit year is the one nearest
// `anoHoje`, so a clock set back across New Year or a name from the next century reads right.
std::optional<DataNome> DataDoNome(std::string_view nome, std::string_view sufixo, int anoHoje);
// That date as the calendar day NomeArquivoBackup takes.
std::tm DiaDe(const DataNome& data);

// Every `de` in `texto` replaced by `para`.
std::string Substituir(std::string texto, std::string_view de, std::string_view para);

} // namespace kelvane
