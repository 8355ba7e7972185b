// The end of the user's session as the window system tells a window of it. Windows asks every
// top-level window (WM_QUERYENDSESSION) and then announces the end (WM_ENDSESSION), after which
// the process is ended; on Linux the session ends with SIGTERM or SIGHUP (TratarTerminacao), and
// nothing here reports anything. Built into the window only: a console program that loads the
// window system's library no longer gets the console's logoff and shutdown events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane::plataforma {

enum class AvisoSessao {
    Nenhum,
    Pergunta, // whether the session may end; the answer may refuse it
    Fim,      // it ends now
};

struct MensagemSessao {
    AvisoSessao aviso = AvisoSessao::Nenhum;
    // Who ends it, as the console's events name it ("logoff", "desligamento do Windows").
    const char* motivo = nullptr;
};

// What the toolkit's native message (`tipo` as the toolkit names its kind) says of the session's
// end. A question the system will not take no for (a forced end) is Nenhum.
MensagemSessao LerMensagemSessao(std::string_view tipo, const void* mensagem);
// How a refused question is answered.
inline constexpr std::intptr_t kRecusarFimSessao = 0;

// While work that must not be cut runs, `motivo` is what the system shows to whoever ends the
// session; `janela` is the window's native handle, on its own thread.
void BloquearFimSessao(std::uintptr_t janela, const std::string& motivo);
void LiberarFimSessao(std::uintptr_t janela);

} // namespace kelvane::plataforma
