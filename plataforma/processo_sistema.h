// What processo.cpp, written once for both systems, asks of each (processo_posix.cpp,
// processo_windows.cpp): start a tool, wait for it, kill it, and the steps of a termination
// request that touch the system. Included by those three files only.
#pragma once

#include "processo.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>

namespace kelvane::plataforma::interno {

using Saida = std::function<void(const char*, std::size_t)>;
using Instante = std::chrono::steady_clock::time_point;

// How a tool is started: what ExecutarPrograma was given, and on Linux the environment it gets
// and whether it runs as the adopted account (ExecutarComoDonoDosDados). Windows passes its own
// environment on.
struct Partida {
    const std::vector<std::string>& argumentos;
    Descritor herdar;
    const std::string& entrada;
    std::vector<std::string> ambiente;
    bool outraConta = false;
};

// One tool this system started; what it holds is closed on destruction.
class Ferramenta {
public:
    virtual ~Ferramenta() = default;
    virtual std::int64_t Id() const = 0;
    // Waits for its end, its output or `prazo` (max: none), whichever comes first, handing what
    // it wrote to `saida`. True once it has ended.
    virtual bool Aguardar(Instante prazo, const Saida& saida) = 0;
    // Whether the wait failed: its end cannot be known.
    virtual bool Falhou() const = 0;
    // It and whatever it started, killed: nothing may hold on.
    virtual void Matar() = 0;
    // Once it has ended: what it wrote before, and no more (something it started may hold the
    // output open and keep writing).
    virtual void Esvaziar(const Saida& saida) = 0;
    // Its end unknown: not left running unseen where the system allows.
    virtual void Abandonar() = 0;
    // How it ended into `fim`, or why that cannot be known.
    virtual std::optional<ErroSistema> Resultado(bool terminou, FimPrograma& fim) = 0;
};

// Starts the tool as `partida` says, registered (RegistrarFilho) under TravarInicio, or says why
// it could not be started.
std::optional<ErroSistema> Iniciar(const Partida& partida, std::unique_ptr<Ferramenta>& ferramenta);
// The environment ExecutarPrograma's tools get (Linux); empty on Windows.
std::vector<std::string> AmbienteFerramenta();
// ExecutarPrograma as `partida` says.
std::optional<ErroSistema> Executar(const Partida& partida, std::chrono::seconds limite,
                                    const std::function<void(std::int64_t)>& aoIniciar,
                                    const Saida& saida, FimPrograma& fim);

// Milliseconds from now until `prazo`, rounded up so that the wake-up finds it passed, at most
// `maximo`; -1 for no limit.
inline std::int64_t MilissegundosAte(Instante prazo, std::int64_t maximo) {
    using namespace std::chrono;
    if (prazo == Instante::max()) {
        return -1;
    }
    const auto resta = ceil<milliseconds>(prazo - steady_clock::now()).count();
    return std::clamp<std::int64_t>(resta, 0, maximo);
}

// The running tool as a termination request stops it: its process number, whose group is
// stopped too (Linux); its process handle (Windows). 0 when none runs.
using IdFilho = std::intptr_t;
// Held from a tool's start until RegistrarFilho names it; a termination request takes it for
// good, so that no tool starts unseen while the process ends.
std::unique_lock<std::mutex> TravarInicio();
void RegistrarFilho(IdFilho filho);
// The tool stopped and the login file deleted, when there are; async-signal-safe.
void Limpar();
// The first termination request is the one handled: `motivo` to the registered handler, the
// cleanup, and the process ends as `sinal` ends it. A second one, from another thread, waits for
// the first to end the process.
[[noreturn]] void Interromper(const char* motivo, int sinal);

// Each system's steps of those, async-signal-safe on Linux: stop the tool `filho` (0: none) and
// whatever it started; delete the login file and then its folder.
void PararFilho(IdFilho filho);
void ApagarLogin(const std::filesystem::path::value_type* arquivo,
                 const std::filesystem::path::value_type* pasta);
// Has a termination request clean up where nothing else handles it: the handlers of signals left
// at their default (Linux), the console's handler (Windows). Once.
void InstalarLimpezaAoTerminar();
// Ends this process as `sinal` ends it (Windows: with STATUS_CONTROL_C_EXIT).
[[noreturn]] void TerminarComo(int sinal);
// Blocks this thread until the process ends.
void Dormir();

} // namespace kelvane::plataforma::interno
