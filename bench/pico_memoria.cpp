// Peak resident memory of one process itself, not of the programs it starts: runs the command
// under ptrace, stops it at its exit and reads VmHWM before the kernel frees its memory.
// (wait4's rusage would fold in the largest child, here the archiver.)
//
//   pico_memoria <command> [arguments...]
// prints "pico_kb=<VmHWM> codigo=<exit status> segundos=<wall time>" on stderr, exits with the
// command's status.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long LerKb(pid_t pid, const char* campo) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string linha;
    const std::string prefixo = std::string(campo) + ":";
    while (std::getline(status, linha)) {
        if (linha.rfind(prefixo, 0) == 0) {
            return std::strtol(linha.c_str() + prefixo.size(), nullptr, 10);
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "uso: %s <programa> [argumentos...]\n", argv[0]);
        return 64;
    }
    const auto inicio = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return 70;
    }
    if (pid == 0) {
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        ::execv(argv[1], argv + 1);
        std::perror("execv");
        ::_exit(127);
    }
    int estado = 0;
    // The first stop is the SIGTRAP that follows execv.
    if (::waitpid(pid, &estado, 0) != pid || !WIFSTOPPED(estado)) {
        std::fprintf(stderr, "pico_memoria: o programa não iniciou\n");
        return 70;
    }
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
    ::ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    long pico = -1;
    for (;;) {
        if (::waitpid(pid, &estado, 0) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("waitpid");
            return 70;
        }
        if (WIFEXITED(estado) || WIFSIGNALED(estado)) {
            break;
        }
        if (!WIFSTOPPED(estado)) {
            continue;
        }
        int sinal = WSTOPSIG(estado);
        if (sinal == SIGTRAP && (estado >> 16) == PTRACE_EVENT_EXIT) {
            pico = LerKb(pid, "VmHWM");
            sinal = 0;
        } else if (sinal == SIGTRAP) {
            sinal = 0;
        }
        // Every other signal is the program's own: pass it on.
        ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(sinal)));
    }
    const double segundos =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
    const int codigo = WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
    std::fprintf(stderr, "pico_kb=%ld codigo=%d segundos=%.3f\n", pico, codigo, segundos);
    return codigo;
}
