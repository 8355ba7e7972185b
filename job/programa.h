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

// The file beside the executable that names the data folder (info.ini, Log, the lock, the .BAK,
// the archive), one absolute path in UTF-8 on its first line. Absent in a portable copy, whose
// data lies beside the executable.
inline constexpr const char* kArquivoPastaDados = "pasta-dados";

// The data folder `programa` names (see kArquivoPastaDados), or `programa` itself. Read only
// after the file passed the permission check. Throws std::runtime_error with the reason when the
// file exists but cannot be read or does not name an absolute folder.
std::filesystem::path LocalizarPastaDados(const std::filesystem::path& programa);

// The data folder in use; Main sets it once at start, after the program folder.
const std::filesystem::path& PastaDados();
void DefinirPastaDados(std::filesystem::path pasta);
// Where the server writes the .BAK: the data folder, or on Windows its subfolder that SQL
// Server's service account may write.
std::filesystem::path PastaBackups();

// The instance ServidorDB names ("host\instance", a ",port" after it aside), blanks trimmed;
// empty for the default instance.
std::string InstanciaServidor(const std::string& servidorDB);
// The account of the SQL Server service that writes the .BAK, from ServidorDB: on Windows
// NT SERVICE\MSSQL$<instance> for "host\instance" (a port after a comma aside), otherwise
// NT SERVICE\MSSQLSERVER; empty where the job's own account writes it (Linux).
std::string ContaServicoBanco(const std::string& servidorDB);

// PastaDados() / "info.ini".
std::filesystem::path ArquivoIni();

// The local time now.
std::tm AgoraLocal();

} // namespace kelvane
