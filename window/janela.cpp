#include "janela.h"

#include "form1.h"
#include "job/codigos.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kelvane::janela {

namespace {

bool Definida(const char* variavel) {
    const char* valor = std::getenv(variavel);
    return valor && *valor;
}

bool ConectarUnix(const std::string& caminho, bool abstrato) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un endereco{};
    endereco.sun_family = AF_UNIX;
    const std::size_t inicio = abstrato ? 1 : 0; // abstract names start with a NUL
    const std::size_t n = std::min(caminho.size(), sizeof endereco.sun_path - 1 - inicio);
    std::memcpy(endereco.sun_path + inicio, caminho.data(), n);
    const auto tamanho = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + inicio + n);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&endereco), tamanho) == 0;
    ::close(fd);
    return ok;
}

bool ConectarTcp(const std::string& host, int porta) {
    addrinfo dica{};
    dica.ai_socktype = SOCK_STREAM;
    addrinfo* lista = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(porta).c_str(), &dica, &lista) != 0) {
        return false;
    }
    bool ok = false;
    for (addrinfo* a = lista; a && !ok; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0) {
            ok = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
            ::close(fd);
        }
    }
    ::freeaddrinfo(lista);
    return ok;
}

// An X display named "[host]:N[.S]" answers on its socket; Qt would abort if it did not.
bool DisplayX11Responde(const std::string& display) {
    const auto doisPontos = display.rfind(':');
    if (doisPontos == std::string::npos) {
        return false;
    }
    const std::string host = display.substr(0, doisPontos);
    const int numero = std::atoi(display.c_str() + doisPontos + 1);
    if (host.empty() || host == "unix") {
        const std::string caminho = "/tmp/.X11-unix/X" + std::to_string(numero);
        return ConectarUnix(caminho, false) || ConectarUnix(caminho, true);
    }
    if (host.front() == '/') {
        return ConectarUnix(display, false); // launchd-style socket path
    }
    return ConectarTcp(host, 6000 + numero);
}

} // namespace

bool TelaDisponivel() {
    // A platform chosen explicitly (offscreen, vnc...) or a Wayland session: trust it.
    if (Definida("QT_QPA_PLATFORM") || Definida("WAYLAND_DISPLAY")) {
        return true;
    }
    return Definida("DISPLAY") && DisplayX11Responde(std::getenv("DISPLAY"));
}

int AbrirJanela(int argc, char** argv) {
    if (!TelaDisponivel()) {
        std::fprintf(stderr, "Kelvane: não há tela disponível para abrir a janela de "
                             "configuração; use o argumento EXEC para executar o backup.\n");
        return ComoInteiro(CodigoSaida::JanelaIndisponivel);
    }
    QApplication aplicacao(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kelvane/kelvane.png")));
    Form1 janela;
    janela.show();
    return aplicacao.exec();
}

} // namespace kelvane::janela
