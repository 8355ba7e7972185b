// What the system's ODBC driver manager loads for a driver name, found without loading it.
#pragma once

#include <optional>
#include <string>

namespace kelvane::plataforma {

// The library the driver manager would load for `driver` (a registered name; on Linux, where an
// unknown name is taken as a library, any name) and what names it, checked as the tools are:
// owned by the system or us, writable by no one else, every folder above likewise. Returns the
// one line that names what is at fault and the fix, or the reason it cannot be known for sure.
std::optional<std::string> ProblemaDriverOdbc(const std::string& driver);

} // namespace kelvane::plataforma
