#include "terminal_sistema.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace kelvane::plataforma::interno {

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

struct EntradaSemEco::Estado {
    bool terminal = false;
    bool semEco = false;
    struct sigaction anteriores[std::size(kSinais)] = {};
};

EntradaSemEco::EntradaSemEco() : estado_(std::make_unique<Estado>()) {
    if (::tcgetattr(STDIN_FILENO, &gAntes) != 0) {
        return;
    }
    estado_->terminal = true;
    struct sigaction devolver {};
    devolver.sa_handler = DevolverTerminal;
    sigemptyset(&devolver.sa_mask);
    for (std::size_t i = 0; i < std::size(kSinais); ++i) {
        ::sigaction(kSinais[i], &devolver, &estado_->anteriores[i]);
    }
    termios sem = gAntes;
    sem.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    estado_->semEco = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &sem) == 0;
}

EntradaSemEco::~EntradaSemEco() {
    if (estado_->semEco) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gAntes);
        std::fputs("\n", stderr); // the Enter that was not echoed
    }
    if (estado_->terminal) {
        for (std::size_t i = 0; i < std::size(kSinais); ++i) {
            ::sigaction(kSinais[i], &estado_->anteriores[i], nullptr);
        }
    }
}

std::optional<char> EntradaSemEco::Ler() {
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n == 1) {
            return c;
        }
        if (n == 0 || errno != EINTR) {
            return std::nullopt;
        }
    }
}

} // namespace kelvane::plataforma::interno

namespace kelvane::plataforma {

bool SaidaEmTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

} // namespace kelvane::plataforma
