#include "servidores.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <locale>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

#ifndef KELVANE_SERVIDORES_DIR
#error "KELVANE_SERVIDORES_DIR must name the tests/servers folder"
#endif

namespace kelvane::teste {

namespace {

using Relogio = std::chrono::steady_clock;

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kEsperaInicio = std::chrono::seconds(10);
constexpr auto kEsperaFim = std::chrono::seconds(5);

std::system_error erroSistema(const std::string& oQue) {
    return std::system_error(errno, std::generic_category(), oQue);
}

std::string lerArquivo(const std::filesystem::path& caminho) {
    std::ifstream entrada(caminho, std::ios::binary);
    std::ostringstream texto;
    texto << entrada.rdbuf();
    return texto.str();
}

std::string scriptServidor(const char* nome) {
    auto caminho = std::filesystem::path(KELVANE_SERVIDORES_DIR) / nome;
    if (!std::filesystem::exists(caminho)) {
        throw std::runtime_error("test server script not found: " + caminho.string());
    }
    return caminho.string();
}

// Waits for "LISTENING <port>\n" on fd; returns 0 on EOF, timeout or anything else.
int lerPortaAnunciada(int fd) {
    const auto limite = Relogio::now() + kEsperaInicio;
    std::string linha;
    while (linha.find('\n') == std::string::npos) {
        auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(limite - Relogio::now());
        if (resta.count() <= 0) {
            return 0;
        }
        pollfd pfd{fd, POLLIN, 0};
        int pronto = ::poll(&pfd, 1, static_cast<int>(resta.count()));
        if (pronto < 0 && errno == EINTR) {
            continue;
        }
        if (pronto <= 0) {
            return 0;
        }
        char buffer[256];
        ssize_t lidos = ::read(fd, buffer, sizeof buffer);
        if (lidos < 0 && errno == EINTR) {
            continue;
        }
        if (lidos <= 0) {
            return 0;
        }
        linha.append(buffer, static_cast<std::size_t>(lidos));
    }
    const std::string prefixo = "LISTENING ";
    if (linha.rfind(prefixo, 0) != 0) {
        return 0;
    }
    return std::atoi(linha.c_str() + prefixo.size());
}

void anexarUtf8(std::string& saida, char32_t c) {
    if (c < 0x80) {
        saida += static_cast<char>(c);
    } else if (c < 0x800) {
        saida += static_cast<char>(0xC0 | (c >> 6));
        saida += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        saida += static_cast<char>(0xE0 | (c >> 12));
        saida += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        saida += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        saida += static_cast<char>(0xF0 | (c >> 18));
        saida += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        saida += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        saida += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Body of a JSON string as json.dumps(ensure_ascii=True) writes it: ASCII only, non-ASCII as
// \uXXXX with UTF-16 surrogate pairs above the BMP.
std::string decodificarTextoJson(std::string_view corpo) {
    auto falha = [&] {
        return std::runtime_error("malformed JSON string: " + std::string(corpo));
    };
    auto hex4 = [&](std::size_t i) {
        if (i + 4 > corpo.size()) {
            throw falha();
        }
        char32_t valor = 0;
        for (std::size_t k = i; k < i + 4; ++k) {
            char d = corpo[k];
            valor <<= 4;
            if (d >= '0' && d <= '9') {
                valor |= static_cast<char32_t>(d - '0');
            } else if (d >= 'a' && d <= 'f') {
                valor |= static_cast<char32_t>(d - 'a' + 10);
            } else if (d >= 'A' && d <= 'F') {
                valor |= static_cast<char32_t>(d - 'A' + 10);
            } else {
                throw falha();
            }
        }
        return valor;
    };

    std::string saida;
    for (std::size_t i = 0; i < corpo.size(); ++i) {
        char c = corpo[i];
        if (c != '\\') {
            saida += c;
            continue;
        }
        if (++i >= corpo.size()) {
            throw falha();
        }
        constexpr std::string_view escapes = "\"\\/bfnrt", valores = "\"\\/\b\f\n\r\t";
        if (auto k = escapes.find(corpo[i]); k != std::string_view::npos) {
            saida += valores[k];
            continue;
        }
        if (corpo[i] != 'u') {
            throw falha();
        }
        char32_t c1 = hex4(i + 1);
        i += 4;
        bool alto = c1 >= 0xD800 && c1 <= 0xDBFF;
        if (alto && i + 2 < corpo.size() && corpo.compare(i + 1, 2, "\\u") == 0) {
            char32_t c2 = hex4(i + 3);
            if (c2 >= 0xDC00 && c2 <= 0xDFFF) {
                c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
                i += 6;
            }
        }
        if (c1 >= 0xD800 && c1 <= 0xDFFF) {
            c1 = 0xFFFD; // unpaired surrogate
        }
        anexarUtf8(saida, c1);
    }
    return saida;
}

std::string numero(double valor) {
    std::ostringstream texto;
    texto.imbue(std::locale::classic());
    texto << valor;
    return texto.str();
}

std::vector<std::string> argumentosTds(const OpcoesTds& opcoes,
                                       const std::filesystem::path& pasta) {
    // "--opt=value" so values starting with '-' are not taken for options.
    std::vector<std::string> args = {
        kPython,
        "-I",
        scriptServidor("tds_server.py"),
        "--port=0",
        "--user=" + opcoes.usuario,
        "--password=" + opcoes.senha,
        "--backup-size=" + std::to_string(opcoes.tamanhoBackup),
        "--mode=" + opcoes.modo,
        "--step-delay=" + numero(opcoes.atrasoPasso),
        "--batches=" + (pasta / "lotes.jsonl").string(),
    };
    for (const auto& banco : opcoes.bancos) {
        args.push_back("--database=" + banco);
    }
    return args;
}

std::vector<std::string> argumentosFtp(const OpcoesFtp& opcoes) {
    std::vector<std::string> args = {
        kPython,
        "-I",
        scriptServidor("ftp_server.py"),
        "--port=0",
        "--root=" + opcoes.raiz.string(),
        "--user=" + opcoes.usuario,
        "--password=" + opcoes.senha,
        "--rate=" + std::to_string(opcoes.taxa),
    };
    if (!opcoes.renomear) {
        args.push_back("--no-rename");
    }
    return args;
}

} // namespace

// ---------------------------------------------------------------- detalhe

namespace detalhe {

ProcessoServidor::ProcessoServidor(const std::vector<std::string>& argumentos,
                                   const std::filesystem::path& arquivoErros) {
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0) {
        throw erroSistema("pipe2");
    }

    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&acoes, tubo[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&acoes, STDERR_FILENO, arquivoErros.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<char*> argv;
    for (const auto& a : argumentos) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    int erro = ::posix_spawn(&pid_, argv[0], &acoes, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&acoes);
    ::close(tubo[1]);
    if (erro != 0) {
        ::close(tubo[0]);
        pid_ = -1;
        throw std::system_error(erro, std::generic_category(), "posix_spawn " + argumentos[0]);
    }
    saida_ = tubo[0];

    porta_ = lerPortaAnunciada(saida_);
    if (porta_ <= 0) {
        parar();
        throw std::runtime_error("test server did not start (" + argumentos.at(2) +
                                 "): " + lerArquivo(arquivoErros));
    }
}

ProcessoServidor::~ProcessoServidor() {
    parar();
}

void ProcessoServidor::parar() noexcept {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        const auto limite = Relogio::now() + kEsperaFim;
        int estado = 0;
        pid_t r;
        while ((r = ::waitpid(pid_, &estado, WNOHANG)) == 0 && Relogio::now() < limite) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (r == 0) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &estado, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    if (saida_ >= 0) {
        ::close(saida_);
        saida_ = -1;
    }
}

PastaServidor::PastaServidor() {
    std::string modelo = (std::filesystem::temp_directory_path() / "kelvane-teste-XXXXXX").string();
    if (::mkdtemp(modelo.data()) == nullptr) {
        throw erroSistema("mkdtemp " + modelo);
    }
    caminho_ = modelo;
}

PastaServidor::~PastaServidor() {
    std::error_code ignorado;
    std::filesystem::remove_all(caminho_, ignorado);
}

} // namespace detalhe

// ---------------------------------------------------------------- servers

ServidorTds::ServidorTds(OpcoesTds opcoes)
    : processo_(argumentosTds(opcoes, pasta_.caminho()), pasta_.caminho() / "erros.txt") {}

std::vector<std::string> ServidorTds::lotes() const {
    std::ifstream entrada(pasta_.caminho() / "lotes.jsonl", std::ios::binary);
    std::vector<std::string> resultado;
    const std::string_view inicio = "{\"sql\": \"", fim = "\"}";
    std::string linha;
    while (std::getline(entrada, linha)) {
        std::string_view l = linha;
        if (l.size() < inicio.size() + fim.size() || l.substr(0, inicio.size()) != inicio ||
            l.substr(l.size() - fim.size()) != fim) {
            throw std::runtime_error("unexpected line in batches file: " + linha);
        }
        resultado.push_back(
            decodificarTextoJson(l.substr(inicio.size(), l.size() - inicio.size() - fim.size())));
    }
    return resultado;
}

ServidorFtp::ServidorFtp(OpcoesFtp opcoes)
    : processo_(argumentosFtp(opcoes), pasta_.caminho() / "erros.txt") {}

namespace {

// A socket bound to 127.0.0.1 on a port the kernel picks; returns the port.
int Vincular(int s) {
    sockaddr_in endereco{};
    endereco.sin_family = AF_INET;
    endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t tamanho = sizeof endereco;
    if (::bind(s, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&endereco), &tamanho) != 0) {
        auto erro = erroSistema("bind 127.0.0.1:0");
        ::close(s);
        throw erro;
    }
    return ntohs(endereco.sin_port);
}

} // namespace

ServidorMudo::ServidorMudo() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (socket_ < 0) {
        throw erroSistema("socket");
    }
    porta_ = Vincular(socket_);
    if (::listen(socket_, 64) != 0) {
        auto erro = erroSistema("listen");
        ::close(socket_);
        throw erro;
    }
}

ServidorMudo::~ServidorMudo() {
    ::close(socket_);
}

int portaLivreFechada() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        throw erroSistema("socket");
    }
    const int porta = Vincular(s);
    ::close(s);
    return porta;
}

} // namespace kelvane::teste
