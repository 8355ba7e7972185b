#include "terminal.h"

#include <cerrno>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace kelvane::plataforma {

std::optional<std::string> LerSemEco(const std::string& pergunta) {
    std::fputs(pergunta.c_str(), stderr);
    std::fflush(stderr);
    termios antes{};
    bool semEco = false;
    if (::tcgetattr(STDIN_FILENO, &antes) == 0) {
        termios sem = antes;
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
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &antes);
        std::fputs("\n", stderr); // the Enter that was not echoed
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
