// The question and its answer, once for both systems over terminal_sistema.h.
#include "terminal.h"

#include "terminal_sistema.h"

#include <cstdio>

namespace kelvane::plataforma {

std::optional<std::string> LerSemEco(const std::string& pergunta) {
    std::fputs(pergunta.c_str(), stderr);
    std::fflush(stderr);
    std::string linha;
    bool lida = false;
    {
        interno::EntradaSemEco entrada;
        while (const auto c = entrada.Ler()) {
            lida = true;
            if (*c == '\n') {
                break;
            }
            linha += *c;
        }
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
