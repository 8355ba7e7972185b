#include "terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace kelvane::plataforma {

namespace {

// The terminal as it was, put back by a signal that ends us while the echo is off.
termios gAntes{};

void DevolverTerminal(int sinal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gAntes);
    ::write(STDERR_FILENO, "\n", 1);
    ::signal(sinal, SIG_DFL);
    ::raise(sinal);
}

constexpr int kSinais[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

} // namespace

std::optional<std::string> LerSemEco(const std::string& pergunta) {
    std::fputs(pergunta.c_str(), stderr);
    std::fflush(stderr);
    bool semEco = false;
    bool terminal = false;
    struct sigaction anteriores[std::size(kSinais)] = {};
    if (::tcgetattr(STDIN_FILENO, &gAntes) == 0) {
        terminal = true;
        struct sigaction devolver {};
        devolver.sa_handler = DevolverTerminal;
        sigemptyset(&devolver.sa_mask);
        for (std::size_t i = 0; i < std::size(kSinais); ++i) {
            ::sigaction(kSinais[i], &devolver, &anteriores[i]);
        }
        termios sem = gAntes;
        sem.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        semEco = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &sem) == 0;
    }
    // A byte at a time, past stdio's buffer: the next question reads the next line.
    std::string linha;
    bool lida = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        lida = true;
        if (c == '\n') {
            break;
        }
        linha += c;
    }
    if (semEco) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gAntes);
        std::fputs("\n", stderr); // the Enter that was not echoed
    }
    if (terminal) {
        for (std::size_t i = 0; i < std::size(kSinais); ++i) {
            ::sigaction(kSinais[i], &anteriores[i], nullptr);
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
