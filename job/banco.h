// The job's database connection: the driver and credentials from info.ini, the attempt and its
// outcome in the log.
#pragma once

#include "../odbc/odbc.h"
#include "../settings/configuracao.h"
#include "codigos.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

// The DriverODBC key when set by hand, otherwise the first installed of plataforma::kDriversOdbc
// ("ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"...), or "FreeTDS".
std::string DriverOdbc(const std::string& definido);

// The library the chosen driver stands for passes the tools' permission check: a DriverODBC set
// by hand names a registered driver or such a library by full path, and a registered driver's
// library (as the driver manager finds it) passes too. Otherwise the line that says why it is
// not loaded.
std::optional<std::string> DriverOdbcInseguro(const std::string& definido);

// Opens a connection with the settings `c` and tells `registrar` the attempt and its outcome. A
// server on this machine gets the login only from a listener of SQL Server's or the system's. After
// a failure returns null and `falha` holds it (PassoFalha::Conexao, passwords masked), as logged.
std::unique_ptr<ConexaoOdbc> ConectarBanco(const Configuracao& c,
                                           const std::function<void(const std::string&)>& registrar,
                                           std::optional<Falha>& falha);

// The window's test: the server and login as typed, on master; the connection is closed again.
// Nothing on success, otherwise the failure with the password masked; a login kept from the
// listener found is told by the job's whole line (PassoFalha::Conexao, Falha::Origem::Ouvinte).
std::optional<Falha> TestarConexaoBanco(const std::string& driverODBC, const std::string& servidor,
                                        const std::string& login, const std::string& senha,
                                        bool integrado);

} // namespace kelvane
