#include "comum_windows.h"
#include "eventos.h"

namespace kelvane::plataforma {

void RegistrarEvento(int codigo, const std::string& texto) {
    // Without the installer's registration the event is still written; the viewer then shows
    // the text without our message file's wording around it.
    const HANDLE fonte = RegisterEventSourceW(nullptr, L"Kelvane");
    if (fonte == nullptr) {
        return;
    }
    const std::wstring largo = win::Largo(texto);
    LPCWSTR textos[] = {largo.c_str()};
    ReportEventW(fonte, codigo == 0 ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, 0,
                 static_cast<DWORD>(codigo), nullptr, 1, 0, textos, nullptr);
    DeregisterEventSource(fonte);
}

} // namespace kelvane::plataforma
