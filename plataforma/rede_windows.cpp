#include "comum_windows.h"
#include "rede.h"
#include "rede_enderecos.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format off
#include <iphlpapi.h> // after the socket headers it builds on
// clang-format on

namespace kelvane::plataforma {

namespace {

using win::Largo;

// IP Helper is not one of the system's known DLLs: loaded from System32 when first needed, so a
// DLL beside the executable never stands in for it.
decltype(&GetExtendedTcpTable) CarregarTabelaTcp() {
    static decltype(&GetExtendedTcpTable) funcao = nullptr;
    static std::once_flag uma;
    std::call_once(uma, [] {
        if (HMODULE m = LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            funcao = reinterpret_cast<decltype(&GetExtendedTcpTable)>(
                reinterpret_cast<void*>(GetProcAddress(m, "GetExtendedTcpTable")));
        }
    });
    return funcao;
}

std::wstring Maiusculas(std::wstring texto) {
    for (auto& c : texto) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return texto;
}

// The processes of the running SQL Server services: MSSQLSERVER for the default instance,
// MSSQL$<name> for a named one. The service manager tells any account a service's process id
// (SERVICE_QUERY_STATUS, which Windows' default service security grants to authenticated users);
// a process's token, which would tell its service SID, may be opened by administrators only.
std::set<DWORD> ProcessosDoSqlServer(const std::string& instancia) {
    const std::wstring procurado = instancia.empty() ? L""
                                   : Maiusculas(Largo(instancia)) == L"MSSQLSERVER"
                                       ? L"MSSQLSERVER"
                                       : L"MSSQL$" + Maiusculas(Largo(instancia));
    SC_HANDLE gerente = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (gerente == nullptr) {
        throw std::runtime_error("os serviços não puderam ser consultados: " +
                                 win::TextoErro(GetLastError()));
    }
    std::set<DWORD> processos;
    std::vector<BYTE> dados;
    DWORD precisa = 0, quantos = 0, retomar = 0;
    for (;;) {
        const BOOL ok = EnumServicesStatusExW(
            gerente, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, dados.data(),
            static_cast<DWORD>(dados.size()), &precisa, &quantos, &retomar, nullptr);
        const DWORD erro = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && erro != ERROR_MORE_DATA) {
            CloseServiceHandle(gerente);
            throw std::runtime_error("os serviços não puderam ser consultados: " +
                                     win::TextoErro(erro));
        }
        const auto* servicos = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(dados.data());
        for (DWORD i = 0; i < quantos; ++i) {
            const std::wstring nome = Maiusculas(servicos[i].lpServiceName);
            const bool doSql = procurado.empty()
                                   ? nome == L"MSSQLSERVER" || nome.starts_with(L"MSSQL$")
                                   : nome == procurado;
            if (doSql && servicos[i].ServiceStatusProcess.dwProcessId != 0) {
                processos.insert(servicos[i].ServiceStatusProcess.dwProcessId);
            }
        }
        if (ok) {
            break;
        }
        dados.resize(std::max<std::size_t>(dados.size(), precisa)); // the rest from `retomar`
    }
    CloseServiceHandle(gerente);
    return processos;
}

std::string NomeProcesso(DWORD pid) {
    std::string nome = "processo " + std::to_string(pid);
    if (HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
        wchar_t caminho[MAX_PATH * 2];
        DWORD n = static_cast<DWORD>(std::size(caminho));
        if (QueryFullProcessImageNameW(h, 0, caminho, &n)) {
            std::wstring_view c(caminho, n);
            nome += ", " + win::Utf8(c.substr(c.find_last_of(L'\\') + 1));
        }
        CloseHandle(h);
    }
    return nome;
}

// One table (IPv4 or IPv6) of listening sockets with the process that bound each.
template <typename Tabela> std::vector<BYTE> LerTabela(ULONG familia) {
    const auto obter = CarregarTabelaTcp();
    if (obter == nullptr) {
        throw std::runtime_error("iphlpapi.dll não pôde ser carregada: " +
                                 win::TextoErro(GetLastError()));
    }
    std::vector<BYTE> dados(sizeof(Tabela));
    for (;;) {
        DWORD tamanho = static_cast<DWORD>(dados.size());
        const DWORD rc =
            obter(dados.data(), &tamanho, FALSE, familia, TCP_TABLE_OWNER_PID_LISTENER, 0);
        if (rc == NO_ERROR) {
            return dados;
        }
        if (rc == ERROR_NOT_SUPPORTED && familia == AF_INET6) {
            return {}; // no IPv6 on this machine
        }
        if (rc != ERROR_INSUFFICIENT_BUFFER) {
            throw std::runtime_error("a tabela de conexões TCP não pôde ser lida: " +
                                     win::TextoErro(rc));
        }
        dados.resize(tamanho);
    }
}

} // namespace

std::vector<Ouvinte> OuvintesTcp(int porta, const std::string& instancia) {
    std::vector<std::pair<EnderecoIp, DWORD>> achados;
    const auto v4 = LerTabela<MIB_TCPTABLE_OWNER_PID>(AF_INET);
    if (!v4.empty()) {
        const auto* t = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(v4.data());
        for (DWORD i = 0; i < t->dwNumEntries; ++i) {
            const auto& l = t->table[i];
            if (ntohs(static_cast<u_short>(l.dwLocalPort)) == porta) {
                EnderecoIp e{};
                e[10] = e[11] = 0xff;
                std::memcpy(e.data() + 12, &l.dwLocalAddr, 4); // in network order
                achados.emplace_back(e, l.dwOwningPid);
            }
        }
    }
    const auto v6 = LerTabela<MIB_TCP6TABLE_OWNER_PID>(AF_INET6);
    if (!v6.empty()) {
        const auto* t = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(v6.data());
        for (DWORD i = 0; i < t->dwNumEntries; ++i) {
            const auto& l = t->table[i];
            if (ntohs(static_cast<u_short>(l.dwLocalPort)) == porta) {
                EnderecoIp e{};
                std::memcpy(e.data(), l.ucLocalAddr, 16);
                achados.emplace_back(e, l.dwOwningPid);
            }
        }
    }
    std::vector<Ouvinte> ouvintes;
    if (achados.empty()) {
        return ouvintes;
    }
    const auto sql = ProcessosDoSqlServer(instancia);
    for (const auto& [endereco, pid] : achados) {
        Ouvinte o;
        o.endereco = endereco;
        // Windows names for every socket the process that bound it. 0 (the Idle process) binds
        // nothing and 4 is the System process, which holds the kernel's own (HTTP.sys, SMB):
        // both are the system. Wine shows 0 for a socket of a Linux process that is not Wine's.
        o.doServidor = pid == 0 || pid == 4 || sql.count(pid) != 0;
        o.dono = pid == 0 || pid == 4 ? "sistema" : NomeProcesso(pid);
        ouvintes.push_back(std::move(o));
    }
    return ouvintes;
}

std::vector<EnderecoIp> EnderecosDe(const std::string& host) {
    static std::once_flag uma;
    std::call_once(uma, [] {
        WSADATA dados{};
        WSAStartup(MAKEWORD(2, 2), &dados);
    });
    ADDRINFOW dicas{};
    dicas.ai_family = AF_UNSPEC;
    dicas.ai_socktype = SOCK_STREAM;
    ADDRINFOW* lista = nullptr;
    if (GetAddrInfoW(Largo(host).c_str(), nullptr, &dicas, &lista) != 0) {
        return {};
    }
    auto enderecos = EnderecosDaLista(lista);
    FreeAddrInfoW(lista);
    return enderecos;
}

int PortaDaInstancia(const std::string& instancia) {
    const auto ler = [](const std::wstring& chave, const wchar_t* valor, DWORD tipo, void* dados,
                        DWORD tamanho) {
        return RegGetValueW(HKEY_LOCAL_MACHINE, chave.c_str(), valor, tipo, nullptr, dados,
                            &tamanho) == ERROR_SUCCESS;
    };
    const std::wstring raiz = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\";
    wchar_t id[256] = {};
    if (!ler(raiz + L"Instance Names\\SQL", Largo(instancia).c_str(), RRF_RT_REG_SZ, id,
             sizeof id)) {
        return 0;
    }
    const std::wstring tcp = raiz + id + L"\\MSSQLServer\\SuperSocketNetLib\\Tcp";
    DWORD ligado = 1, todos = 1;
    ler(tcp, L"Enabled", RRF_RT_REG_DWORD, &ligado, sizeof ligado);
    ler(tcp, L"ListenOnAllIPs", RRF_RT_REG_DWORD, &todos, sizeof todos);
    if (ligado == 0 || todos == 0) {
        return 0; // no TCP, or a port per address: which one the driver would take is not ours
    }
    // IPAll's TcpPort is the fixed port (a list: the first); without one, TcpDynamicPorts holds
    // the port the server took when it started.
    for (const wchar_t* valor : {L"TcpPort", L"TcpDynamicPorts"}) {
        wchar_t texto[64] = {};
        if (ler(tcp + L"\\IPAll", valor, RRF_RT_REG_SZ, texto, sizeof texto)) {
            const int porta = _wtoi(texto);
            if (porta > 0 && porta <= 65535) {
                return porta;
            }
        }
    }
    return 0;
}

} // namespace kelvane::plataforma
