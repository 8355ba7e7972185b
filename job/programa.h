// Where the program lives, its settings file and what time it is: the facts every part of the
// job needs.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

namespace kelvane {

// The folder of the running executable (resolved /proc/self/exe, or GetModuleFileNameW); throws
// std::runtime_error when it cannot be known (no /proc).
std::filesystem::path LocalizarPastaPrograma();

// The program folder in use; Main sets it once at start.
const std::filesystem::path& PastaPrograma();
void DefinirPastaPrograma(std::filesystem::path pasta);

// PastaPrograma() / "info.ini".
std::filesystem::path ArquivoIni();

// One key of the [infos] section of info.ini; empty when it is not there.
std::string LerInfo(const char* chave);

// The local time now.
std::tm AgoraLocal();

} // namespace kelvane
