// Where the program lives and what time it is: the two facts every part of the job needs,
// behind small seams so tests can fix them.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>

namespace kelvane {

// The folder of the running executable (resolved /proc/self/exe); throws std::runtime_error
// when it cannot be known (no /proc).
std::filesystem::path LocalizarPastaPrograma();

// The program folder in use; Main sets it once at start.
const std::filesystem::path& PastaPrograma();
void DefinirPastaPrograma(std::filesystem::path pasta);

// PastaPrograma() / "info.ini".
std::filesystem::path ArquivoIni();

// The local time now, from the clock seam (the system clock unless a test set another).
std::tm AgoraLocal();
void DefinirRelogio(std::function<std::time_t()> relogio);

} // namespace kelvane
