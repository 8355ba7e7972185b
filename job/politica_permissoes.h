// Who may change what we run and read: the permission policy over the program, its data and the
// account's settings, checked before anything is opened, read, run or sent.
#pragma once

#include "../settings/configuracao.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kelvane {

// Before anything is opened, read, run or sent: whether an account other than root and this
// process's own could make us run its code, write where it chooses or read the data. The data
// folder, its Log and info.ini are ours alone, readable by no one else; the program (`kelvane`,
// the window module, each tool (the link and what it leads to), 7z's codecs, the file that names
// the data folder, every folder in it and above) belongs to root alone when it lies apart from
// its data, to root or us in a portable copy, and no one else can write it (a folder above only
// with the sticky bit); ncftpput's and the driver manager's settings in the account's home
// likewise. On Windows the backups' folder as the data, with SQL Server's service (named by
// ServidorDB in info.ini, once that passed) allowed to write it. Returns the one line that names
// the first path at fault and the fix; `janela` words the fix for opening the window. info.ini is
// read at most once, once it passed, and handed out in `leitura` when given (credentials
// unscrambled as `ncripto` says, the file's NCripto when empty).
std::optional<std::string> PermissaoInsegura(const std::filesystem::path& pasta,
                                             const std::filesystem::path& dados,
                                             bool janela = false,
                                             LeituraConfiguracao* leitura = nullptr,
                                             std::optional<bool> ncripto = std::nullopt);
// The file that names the data folder, before it is read.
std::optional<std::string> ArquivoPastaDadosInseguro(const std::filesystem::path& pasta);
// The certificate an encrypted upload trusts (CertificadoFTP; none when empty): public, as a CA's
// is, but changed by no one but root and us, as what we load.
std::optional<std::string> CertificadoInseguro(const std::filesystem::path& arquivo);
// The same check for one more file we load (an ODBC driver named by path).
std::optional<std::string> CaminhoInseguro(const std::filesystem::path& caminho);

} // namespace kelvane
