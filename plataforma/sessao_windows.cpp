#include "comum_windows.h"
#include "sessao.h"

namespace kelvane::plataforma {

MensagemSessao LerMensagemSessao(std::string_view tipo, const void* mensagem) {
    if (tipo != "windows_generic_MSG" || mensagem == nullptr) {
        return {};
    }
    const MSG& m = *static_cast<const MSG*>(mensagem);
    const auto logoff = (static_cast<DWORD>(m.lParam) & ENDSESSION_LOGOFF) != 0;
    const char* motivo = logoff ? "logoff" : "desligamento do Windows";
    // A critical end happens whatever we answer; WM_ENDSESSION with FALSE: the session goes on.
    if (m.message == WM_QUERYENDSESSION && (m.lParam & ENDSESSION_CRITICAL) == 0) {
        return {AvisoSessao::Pergunta, motivo};
    }
    if (m.message == WM_ENDSESSION && m.wParam != FALSE) {
        return {AvisoSessao::Fim, motivo};
    }
    return {};
}

void BloquearFimSessao(std::uintptr_t janela, const std::string& motivo) {
    ShutdownBlockReasonCreate(reinterpret_cast<HWND>(janela), win::Largo(motivo).c_str());
}

void LiberarFimSessao(std::uintptr_t janela) {
    ShutdownBlockReasonDestroy(reinterpret_cast<HWND>(janela));
}

} // namespace kelvane::plataforma
