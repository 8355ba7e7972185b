// Started without "EXEC" where no window can be shown, the program says so instead of letting
// the toolkit abort.
#include "job/codigos.h"
#include "support/pasta_programa.h"

#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelvane;

extern char** environ;

namespace {

// An X server that only lets in clients holding its cookie, on a display number it picks.
class XvfbComCookie {
public:
    explicit XvfbComCookie(const std::filesystem::path& pasta) : cookies_(pasta / "servidor") {
        const std::string cookie = "0123456789abcdef0123456789abcdef";
        // The server takes every cookie of its file, whatever display the entry names.
        teste::Rodar({"/usr/bin/xauth", "-f", cookies_.string(), "add", ":0", ".", cookie});
        int canal[2];
        if (::pipe(canal) != 0) {
            return;
        }
        const std::string fd = std::to_string(canal[1]);
        const char* argv[] = {"Xvfb",           "-displayfd", fd.c_str(), "-auth",
                              cookies_.c_str(), "-nolisten",  "tcp",      nullptr};
        if (::posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
        }
        ::close(canal[1]);
        char texto[16] = {};
        const auto n = ::read(canal[0], texto, sizeof texto - 1); // "N\n" once it listens
        ::close(canal[0]);
        if (n > 0) {
            numero_ = std::atoi(texto);
        }
        // What a client that has the cookie would hold.
        teste::Rodar({"/usr/bin/xauth", "-f", (pasta / "cliente").string(), "add",
                      ":" + std::to_string(numero_), ".", cookie});
    }
    ~XvfbComCookie() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    int numero() const { return numero_; }

private:
    std::filesystem::path cookies_;
    pid_t pid_ = -1;
    int numero_ = -1;
};

TEST(JanelaSemTela, UmaLinhaClaraESaida8) {
    teste::PastaTemporaria cookies;
    const XvfbComCookie x(cookies.caminho());
    ASSERT_GE(x.numero(), 0);
    const std::string display = ":" + std::to_string(x.numero());
    const std::string cliente = (cookies.caminho() / "cliente").string();
    const teste::PastaPrograma::Ambiente casos[] = {
        {},                                                     // no display at all
        {{"DISPLAY", ":4242"}},                                 // named, nothing answering
        {{"DISPLAY", "unix:4242.0"}},                           //
        {{"DISPLAY", display}, {"XAUTHORITY", "/dev/null"}},    // answers, refuses: no cookie
        {{"DISPLAY", display + ".7"}, {"XAUTHORITY", cliente}}, // let in, no such screen
        {{"WAYLAND_DISPLAY", "kelvane-nenhum"}, {"QT_QPA_PLATFORM", "wayland"}},
    };
    for (const auto& ambiente : casos) {
        SCOPED_TRACE(ambiente.empty() ? "" : ambiente[0].second);
        teste::PastaPrograma pasta(false);
        const auto r = pasta.ExecutarSemTela({}, ambiente);
        EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::JanelaIndisponivel));
        EXPECT_EQ(r.saida, "Kelvane: não há tela disponível para abrir a janela de configuração; "
                           "use o argumento EXEC para executar o backup.\n");
    }
}

} // namespace
