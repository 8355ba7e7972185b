#include "eventos.h"

namespace kelvane::plataforma {

void RegistrarEvento(int, const std::string&) {}

} // namespace kelvane::plataforma
