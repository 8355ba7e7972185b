#include "erro_sistema.h"
#include "rede.h"
#include "rede_enderecos.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <ifaddrs.h>
#include <netdb.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace kelvane::plataforma {

namespace {

// The kernel prints each 32-bit word of an address as the number its bytes make in this
// machine's order: read back the same way, the bytes come out as they were.
bool LerEndereco(const std::string& hexa, EnderecoIp& endereco) {
    if (hexa.size() != 8 && hexa.size() != 32) {
        return false;
    }
    EnderecoIp e{};
    const std::size_t palavras = hexa.size() / 8;
    unsigned char* destino = e.data() + (palavras == 1 ? 12 : 0);
    for (std::size_t i = 0; i < palavras; ++i) {
        char* fim = nullptr;
        const std::uint32_t valor =
            static_cast<std::uint32_t>(std::strtoul(hexa.substr(i * 8, 8).c_str(), &fim, 16));
        if (fim == nullptr || *fim != '\0') {
            return false;
        }
        std::memcpy(destino + i * 4, &valor, 4);
    }
    if (palavras == 1) {
        e[10] = e[11] = 0xff;
    }
    endereco = e;
    return true;
}

std::string NomeConta(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? pw->pw_name : "uid " + std::to_string(uid);
}

// Lines of /proc/net/tcp or tcp6 in the LISTEN state (0A) on `porta`.
void LerTabela(const char* arquivo, int porta, std::vector<Ouvinte>& ouvintes) {
    std::ifstream tabela(arquivo);
    if (!tabela) {
        if (errno == ENOENT && std::strcmp(arquivo, "/proc/net/tcp6") == 0) {
            return; // IPv6 turned off: nothing listens there
        }
        throw ErroSistema(Operacao::LerOuvintes, std::error_code(errno, std::generic_category()),
                          arquivo);
    }
    const passwd* mssql = ::getpwnam("mssql");
    std::string linha;
    std::getline(tabela, linha); // the header
    while (std::getline(tabela, linha)) {
        std::istringstream campos(linha);
        std::string numero, local, remoto, estado, filas, relogio, repeticoes;
        unsigned long uid = 0;
        if (!(campos >> numero >> local >> remoto >> estado >> filas >> relogio >> repeticoes >>
              uid) ||
            estado != "0A") {
            continue;
        }
        const auto doisPontos = local.find(':');
        Ouvinte o;
        if (doisPontos == std::string::npos ||
            std::strtol(local.c_str() + doisPontos + 1, nullptr, 16) != porta ||
            !LerEndereco(local.substr(0, doisPontos), o.endereco)) {
            continue;
        }
        const auto conta = static_cast<uid_t>(uid);
        o.doServidor = conta == 0 || conta == ::geteuid() || (mssql && conta == mssql->pw_uid);
        o.dono = "conta " + NomeConta(conta);
        ouvintes.push_back(std::move(o));
    }
}

} // namespace

std::vector<Ouvinte> OuvintesTcp(int porta, const std::string&) {
    std::vector<Ouvinte> ouvintes;
    LerTabela("/proc/net/tcp", porta, ouvintes);
    LerTabela("/proc/net/tcp6", porta, ouvintes);
    return ouvintes;
}

int EnderecosDe(const std::string& host, std::vector<EnderecoIp>& enderecos) {
    addrinfo dicas{};
    dicas.ai_family = AF_UNSPEC;
    dicas.ai_socktype = SOCK_STREAM;
    addrinfo* lista = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), nullptr, &dicas, &lista); rc != 0) {
        return rc;
    }
    enderecos = EnderecosDaLista(lista);
    ::freeaddrinfo(lista);
    return 0;
}

std::vector<EnderecoIp> EnderecosLocais() {
    ifaddrs* lista = nullptr;
    if (::getifaddrs(&lista) != 0) {
        throw ErroSistema(Operacao::LerInterfaces, std::error_code(errno, std::generic_category()));
    }
    std::vector<EnderecoIp> enderecos;
    for (const ifaddrs* i = lista; i != nullptr; i = i->ifa_next) {
        if (EnderecoIp e; EnderecoDoSocket(i->ifa_addr, e)) {
            enderecos.push_back(e);
        }
    }
    ::freeifaddrs(lista);
    return enderecos;
}

int PortaDaInstancia(const std::string&) {
    return 0;
}

} // namespace kelvane::plataforma
