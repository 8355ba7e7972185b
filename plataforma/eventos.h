// The system's own record of each unattended run's end, where monitoring tools read it.
#pragma once

#include <string>

namespace kelvane::plataforma {

// Windows: one event in the Application log under the source "Kelvane", with `codigo` (the exit
// status) as its ID, information for 0 and error otherwise, `texto` as its one string. Linux:
// nothing (the scheduler keeps the status and stderr).
void RegistrarEvento(int codigo, const std::string& texto);

} // namespace kelvane::plataforma
