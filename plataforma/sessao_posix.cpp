#include "sessao.h"

namespace kelvane::plataforma {

// The session's end arrives as a signal (processo.h); the desktop's own logout inhibitors are
// not asked for.
MensagemSessao LerMensagemSessao(std::string_view, const void*) {
    return {};
}

void BloquearFimSessao(std::uintptr_t, const std::string&) {}

void LiberarFimSessao(std::uintptr_t) {}

} // namespace kelvane::plataforma
