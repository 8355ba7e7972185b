// Running the external tools and what must not outlive them: the uploader's login file.
#pragma once

#include "arquivos.h"
#include "erro_sistema.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace kelvane::plataforma {

// How a program ended.
struct FimPrograma {
    int codigo = -1;     // exit status; -1 when ended by a signal
    int sinal = 0;       // the signal that ended it, 0 otherwise (always on Windows)
    bool parado = false; // stopped at its time limit: a failure, whatever the status says
};

// When a step given `limite` from now ends, on a monotonic clock: setting the wall clock neither
// ends it early nor lengthens it. Never, for zero or a limit past what the clock can count.
inline std::chrono::steady_clock::time_point Prazo(std::chrono::seconds limite) {
    using Relogio = std::chrono::steady_clock;
    const auto agora = Relogio::now();
    const auto resta =
        std::chrono::duration_cast<std::chrono::seconds>(Relogio::time_point::max() - agora);
    return limite.count() > 0 && limite < resta ? agora + limite : Relogio::time_point::max();
}

// Starts argumentos[0] (not empty) with exactly these arguments (no shell, no splitting; on
// Windows one command line the C runtime splits back into them, and an argument holding NUL is
// refused), stdin from the null device or, when `entrada` is not empty, a pipe that holds those
// bytes and then ends (never a file, the command line or the environment: a password), stdout
// and stderr together handed to `saida` as they come, default signal handling, file names in UTF-8,
// `herdar` (when not kSemDescritor) inherited and no other handle; `aoIniciar` gets its process
// number once it runs. It runs in a process group of its own on Linux, in a job object that ends it
// with this process on Windows. Once `limite` (when above zero) has passed on a monotonic clock, it
// and whatever it started (its group; the job object) are killed and `fim.parado` is set; a
// termination request meanwhile stops them too. Returns what went wrong when it cannot be started
// or its end cannot be known.
std::optional<ErroSistema>
ExecutarPrograma(const std::vector<std::string>& argumentos, Descritor herdar,
                 std::chrono::seconds limite, const std::function<void(std::int64_t)>& aoIniciar,
                 const std::function<void(const char*, std::size_t)>& saida, FimPrograma& fim,
                 const std::string& entrada = {});

// Root's window on the data of another account (the menu's launcher opens the window as root):
// that account stays their owner, and the job its run-now starts runs as it. Once adopted, the
// permission check takes that account for ours on the data, what a ComoDonoDosDados covers is
// written as it and ExecutarComoDonoDosDados starts programs as it. Adopted only by root, for a
// folder (not a link) of another account that has a name (any earlier one dropped); never on
// Windows.
bool AdotarDonoDosDados(const std::filesystem::path& dados);
bool DonoDosDadosAdotado();
// That account's number; -1 when none was adopted.
std::int64_t IdDonoDosDados();
// While it lives, this thread reaches files as the adopted account (Linux: its file system ids):
// what it creates is that account's, and a link the account planted leads nowhere it could not
// write itself. Nothing when no account was adopted.
class ComoDonoDosDados {
public:
    ComoDonoDosDados();
    ~ComoDonoDosDados();
    ComoDonoDosDados(const ComoDonoDosDados&) = delete;
    ComoDonoDosDados& operator=(const ComoDonoDosDados&) = delete;

private:
    long anterior_[2] = {-1, -1};
};
// ExecutarPrograma (no time limit, stdin from the null device) as the adopted account with its
// groups, in a session of its own with no controlling terminal, in the root folder, with no
// descriptor but the output's, and an environment of its own: PATH, that account's HOME, USER
// and LOGNAME, the locale, TZ and `variaveis` ("NOME=valor"), never the display's.
std::optional<ErroSistema> ExecutarComoDonoDosDados(
    const std::vector<std::string>& argumentos, const std::vector<std::string>& variaveis,
    const std::function<void(std::int64_t)>& aoIniciar,
    const std::function<void(const char*, std::size_t)>& saida, FimPrograma& fim);

// This process's number.
std::int64_t IdProcesso();
// Whether the process `pid` may still be running (false only once it is surely gone).
bool ProcessoVivo(std::int64_t pid);

// Where temporary files go (TMPDIR, or the system's).
std::filesystem::path PastaTemporaria();
// A new folder in `pasta` only this account can enter, named `inicio` and a unique ending;
// nullopt with `erro` on failure.
std::optional<std::filesystem::path> CriarPastaPrivada(const std::filesystem::path& pasta,
                                                       const std::string& inicio,
                                                       std::error_code& erro);
// Whether `pasta` is a folder (not a link to one) this account owns.
bool PastaPropria(const std::filesystem::path& pasta);
// Creates `arquivo`, which must not exist, readable by this account only, holding `conteudo`, and
// keeps an exclusive lock on it (on a byte far past its end, so readers are not stopped) for as
// long as the returned descriptor is open: ArquivoPrivadoAbandonado in any process that shares
// the folder sees its owner alive, whatever process number it has from there (another PID
// namespace; Wine's own numbers). Locked before a byte is written. kSemDescritor with `erro` on
// failure.
Descritor CriarArquivoPrivado(const std::filesystem::path& arquivo, const std::string& conteudo,
                              std::error_code& erro);
// Whether `arquivo`, made by CriarArquivoPrivado, holds something and nobody holds its lock any
// more: its owner is gone. False while it is empty (still being made) or cannot be opened.
bool ArquivoPrivadoAbandonado(const std::filesystem::path& arquivo);

// Has a termination request (SIGTERM, SIGINT, SIGHUP where the program does not handle them
// itself; Windows' console close, Ctrl+C, logoff and shutdown) stop the running tool and delete
// `arquivo` and then the folder `pasta` before the process ends; until EsquecerAoTerminar.
void ApagarAoTerminar(const std::filesystem::path& arquivo, const std::filesystem::path& pasta);
void EsquecerAoTerminar();

// From the start, before any other thread: a termination request is taken on a thread of its own
// (Linux: the signals are blocked everywhere else and waited for; Windows: the console's handler),
// where ordinary code may run. A signal the process was started with ignored stays ignored.
void TratarTerminacao();
// While set, a termination request hands its name ("SIGTERM", "console fechado"...) to
// `registrar`, on that thread, before the tool is stopped; then the process ends as the request
// ends it (by the signal; on Windows with STATUS_CONTROL_C_EXIT), never with another status.
void AoInterromper(std::function<void(const std::string& motivo)> registrar);
void EsquecerInterrupcao();
// A termination request made by this process (the window told that the session ends): the same
// line, the tool stopped, the login file deleted, and the process ends as SIGTERM ends it (on
// Windows with STATUS_CONTROL_C_EXIT). A request already being handled ends it instead.
[[noreturn]] void InterromperAgora(const std::string& motivo);
// Returns at once unless a termination request is being handled; then waits for it to end the
// process, so that nothing ends it with a status of its own meanwhile.
void AguardarSeInterrompido();

} // namespace kelvane::plataforma
