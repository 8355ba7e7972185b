#include "comum_windows.h"
#include "terminal.h"

#include <cstdio>

namespace kelvane::plataforma {

std::optional<std::string> LerSemEco(const std::string& pergunta) {
    std::fputs(pergunta.c_str(), stderr);
    std::fflush(stderr);
    const HANDLE entrada = GetStdHandle(STD_INPUT_HANDLE);
    if (entrada == INVALID_HANDLE_VALUE || entrada == nullptr) {
        return std::nullopt;
    }
    bool lida = false;
    DWORD modo = 0;
    if (GetConsoleMode(entrada, &modo)) {
        // Characters as typed, whatever the console's code page.
        SetConsoleMode(entrada, (modo & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) |
                                    ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
        std::wstring linha;
        wchar_t c = 0;
        DWORD lidos = 0;
        while (ReadConsoleW(entrada, &c, 1, &lidos, nullptr) && lidos == 1) {
            lida = true;
            if (c == L'\n') {
                break;
            }
            if (c != L'\r') {
                linha += c;
            }
        }
        SetConsoleMode(entrada, modo);
        std::fputs("\n", stderr);
        return lida ? std::optional(win::Utf8(linha)) : std::nullopt;
    }
    std::string linha;
    char c = 0;
    DWORD lidos = 0;
    while (ReadFile(entrada, &c, 1, &lidos, nullptr) && lidos == 1) {
        lida = true;
        if (c == '\n') {
            break;
        }
        linha += c;
    }
    if (!lida) {
        return std::nullopt;
    }
    if (!linha.empty() && linha.back() == '\r') {
        linha.pop_back();
    }
    return linha;
}

} // namespace kelvane::plataforma
