// Running an external tool: ShellEspera starts a program without a shell and waits for it.
#pragma once

#include "../plataforma/arquivos.h"
#include "../plataforma/erro_sistema.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvane {

struct ResultadoProcesso {
    int codigo = -1;               // exit status; -1 when ended by a signal
    int sinal = 0;                 // the signal that ended it, 0 otherwise
    std::chrono::seconds parado{}; // the time limit it was stopped at; zero when it ended itself
    std::string saida;             // the tail of stdout and stderr together
    std::string motivo;            // what went wrong, where the exit status alone does not tell

    bool sucesso() const { return parado.count() == 0 && sinal == 0 && codigo == 0; }
    // The last `n` non-empty lines of the output, joined with " | ".
    std::string UltimasLinhas(std::size_t n = 5) const;
};

// The program could not be started at all (missing, not executable...), or its end not known:
// what was being done and the system's error (TextoErroSistema words it).
class ErroProcesso : public plataforma::ErroSistema {
public:
    explicit ErroProcesso(plataforma::ErroSistema erro) : ErroSistema(std::move(erro)) {}
};

struct OpcoesProcesso {
    // Called with the child's pid once it runs (tests and the window use it).
    std::function<void(std::int64_t)> aoIniciar;
    // A handle the program inherits (the job's lock: held while the tool runs).
    plataforma::Descritor herdar = plataforma::kSemDescritor;
    // Past this the program and what it started are killed; zero: no limit.
    std::chrono::seconds limite{};
    // What the program reads on stdin (a password it asks for), then end of input; empty: the
    // null device.
    std::string entrada;
};

// Starts argumentos[0] with exactly these arguments (no shell, no splitting), stdin from
// opcoes.entrada or /dev/null, stdout and stderr captured, default signal handling; waits for it at
// most opcoes.limite. Throws ErroProcesso when the program cannot be started or its end cannot be
// known.
ResultadoProcesso ShellEspera(const std::vector<std::string>& argumentos,
                              const OpcoesProcesso& opcoes = {});

} // namespace kelvane
