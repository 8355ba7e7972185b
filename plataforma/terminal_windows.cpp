#include "comum_windows.h"
#include "terminal_sistema.h"

#include <cstdio>
#include <string>

namespace kelvane::plataforma::interno {

struct EntradaSemEco::Estado {
    HANDLE entrada = GetStdHandle(STD_INPUT_HANDLE);
    bool console = false;
    DWORD modo = 0;
    std::string pendentes; // the rest of a character read from the console, in UTF-8
};

EntradaSemEco::EntradaSemEco() : estado_(std::make_unique<Estado>()) {
    auto& e = *estado_;
    if (e.entrada == INVALID_HANDLE_VALUE || e.entrada == nullptr) {
        e.entrada = nullptr;
        return;
    }
    e.console = GetConsoleMode(e.entrada, &e.modo);
    if (e.console) {
        // Characters as typed, whatever the console's code page.
        SetConsoleMode(e.entrada, (e.modo & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) |
                                      ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
    }
}

EntradaSemEco::~EntradaSemEco() {
    if (estado_->console) {
        SetConsoleMode(estado_->entrada, estado_->modo);
        std::fputs("\n", stderr);
    }
}

std::optional<char> EntradaSemEco::Ler() {
    auto& e = *estado_;
    if (e.entrada == nullptr) {
        return std::nullopt;
    }
    DWORD lidos = 0;
    if (!e.console) {
        char c = 0;
        if (ReadFile(e.entrada, &c, 1, &lidos, nullptr) && lidos == 1) {
            return c;
        }
        return std::nullopt;
    }
    if (e.pendentes.empty()) {
        wchar_t c[2] = {};
        if (!ReadConsoleW(e.entrada, &c[0], 1, &lidos, nullptr) || lidos != 1) {
            return std::nullopt;
        }
        // A character past U+FFFF comes as two halves: converted together.
        const bool par = IS_HIGH_SURROGATE(c[0]) &&
                         ReadConsoleW(e.entrada, &c[1], 1, &lidos, nullptr) && lidos == 1;
        e.pendentes = win::Utf8(std::wstring_view(c, par ? 2 : 1));
    }
    const char c = e.pendentes.front();
    e.pendentes.erase(0, 1);
    return c;
}

} // namespace kelvane::plataforma::interno

namespace kelvane::plataforma {

bool SaidaEmTerminal() {
    DWORD modo = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &modo) != 0;
}

} // namespace kelvane::plataforma
