#include "ambiente.h"
#include "erro_sistema.h"
#include "processo.h"
#include "sistema.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kelvane::plataforma {

std::vector<std::string> ArgumentosUtf8(int argc, char** argv) {
    return {argv, argv + argc};
}

void PrepararProcesso() {
    // First: nothing is loaded or read yet (ambiente.h says what goes and why).
    std::vector<std::string> removidas;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view variavel(*e);
        if (const auto nome = variavel.substr(0, variavel.find('=')); AmbienteRemovido(nome)) {
            removidas.emplace_back(nome);
        }
    }
    for (const auto& nome : removidas) {
        ::unsetenv(nome.c_str());
    }
    // A scheduler may start us with SIGCHLD ignored (the kernel then reaps the tools and their
    // status is lost), SIGPIPE ignored or signals blocked; all of that survives exec.
    for (const int sinal : {SIGCHLD, SIGPIPE}) {
        ::signal(sinal, SIG_DFL);
    }
    sigset_t nenhum;
    sigemptyset(&nenhum);
    ::sigprocmask(SIG_SETMASK, &nenhum, nullptr);
    // Archives and logs hold a whole database and its server's names: ours only. (The server
    // writes the .BAK with its own mask.)
    ::umask(077);
    TratarTerminacao();
}

void EncerrarProcesso(int codigo) {
    AguardarSeInterrompido();
    std::fflush(nullptr);
    std::_Exit(codigo);
}

int DesviarErroPadrao(std::FILE* rascunho) {
    std::fflush(stderr);
    const int real = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (real >= 0) {
        ::dup2(::fileno(rascunho), STDERR_FILENO);
    }
    return real;
}

void DevolverErroPadrao(int real) {
    ::dup2(real, STDERR_FILENO);
    ::close(real);
}

void EscreverDescritor(int descritor, std::string_view texto) {
    const auto escrito = ::write(descritor, texto.data(), texto.size());
    (void)escrito; // nowhere left to report a failure to
}

void MostrarCaixaSistema(const std::string& texto) {
    const auto definida = [](const char* nome) {
        const char* valor = std::getenv(nome);
        return valor != nullptr && *valor != '\0';
    };
    if (!definida("DISPLAY") && !definida("WAYLAND_DISPLAY")) {
        return; // no one to show it to: the line on stderr is all there is
    }
    if (const char* teste = std::getenv(kVariavelCaixaTeste); teste != nullptr && *teste != '\0') {
        const int d = ::open(teste, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (d >= 0) {
            EscreverDescritor(d, texto + "\n");
            ::close(d);
        }
        return;
    }
    // Named by full path in root's folder, never looked up in PATH, whose folders could be
    // anyone's: the reason to be shown may be exactly that the program folder is someone else's.
    // zenity and kdialog take the text as it is (no markup) and in UTF-8 on X11 and Wayland alike;
    // xmessage, X11 only, is in nearly every X installation.
    const std::vector<std::vector<std::string>> dialogos = {
        {"/usr/bin/zenity", "--error", "--no-markup", "--title=Kelvane", "--text=" + texto},
        {"/usr/bin/kdialog", "--title", "Kelvane", "--error", texto},
        {"/usr/bin/xmessage", "-center", "-title", "Kelvane", "-xrm", "*international: true",
         texto}};
    for (const auto& dialogo : dialogos) {
        if (::access(dialogo.front().c_str(), X_OK) == 0) {
            FimPrograma fim;
            ExecutarPrograma(
                dialogo, kSemDescritor, std::chrono::seconds(0), {},
                [](const char*, std::size_t) {}, fim);
            return;
        }
    }
}

bool ConsoleSoDesteProcesso() {
    return false;
}

std::filesystem::path PastaDoExecutavel() {
    std::error_code erro;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", erro);
    if (erro) {
        // Guessing (the working folder) would read another info.ini and run other tools.
        throw ErroSistema(Operacao::LocalizarPrograma, erro, "/proc/self/exe");
    }
    return exe.parent_path();
}

std::tm HoraLocal(std::time_t momento) {
    std::tm local{};
    ::localtime_r(&momento, &local);
    return local;
}

std::time_t NormalizarUtc(std::tm& data) {
    return ::timegm(&data);
}

std::string NomeMaquina() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        return {};
    }
    return buffer;
}

std::filesystem::path PastaPessoal() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
        return pw->pw_dir;
    }
    return {};
}

namespace {

// dlerror's text is the last failure's on this thread, and reading it clears it.
std::string TextoDlerror() {
    const char* texto = ::dlerror();
    return texto ? texto : "erro desconhecido";
}

} // namespace

void* CarregarBiblioteca(const std::filesystem::path& biblioteca, std::string& erro) {
    void* b = ::dlopen(biblioteca.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (b == nullptr) {
        erro = TextoDlerror();
    }
    return b;
}

void* ProcurarSimbolo(void* biblioteca, const char* nome, std::string& erro) {
    ::dlerror();
    void* simbolo = ::dlsym(biblioteca, nome);
    if (simbolo == nullptr) {
        erro = TextoDlerror();
    }
    return simbolo;
}

int ResolverNome(const std::string& host, std::string& enderecos) {
    addrinfo dicas{};
    dicas.ai_family = AF_UNSPEC;
    dicas.ai_socktype = SOCK_STREAM;
    dicas.ai_flags = AI_ADDRCONFIG;
    addrinfo* lista = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &dicas, &lista);
    for (const addrinfo* a = rc == 0 ? lista : nullptr; a != nullptr; a = a->ai_next) {
        char texto[INET6_ADDRSTRLEN] = {};
        const void* ip = a->ai_family == AF_INET6
                             ? static_cast<const void*>(
                                   &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr)
                             : &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) &&
            ::inet_ntop(a->ai_family, ip, texto, sizeof texto) != nullptr) {
            enderecos +=
                (enderecos.empty() ? "" : ",") +
                (a->ai_family == AF_INET6 ? "[" + std::string(texto) + "]" : std::string(texto));
        }
    }
    if (lista != nullptr) {
        ::freeaddrinfo(lista);
    }
    return rc;
}

std::string TextoErroResolucao(int erro) {
    return ::gai_strerror(erro);
}

bool EhEnderecoIpv4(const char* host) {
    in_addr ipv4{};
    return ::inet_pton(AF_INET, host, &ipv4) == 1;
}

} // namespace kelvane::plataforma
