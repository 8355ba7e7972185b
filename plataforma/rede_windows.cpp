#include "comum_windows.h"
#include "erro_sistema.h"
#include "rede.h"
#include "rede_enderecos.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
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
FARPROC FuncaoIpHelper(const char* nome) {
    static HMODULE modulo = nullptr;
    static std::once_flag uma;
    std::call_once(uma, [] {
        modulo = LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    });
    FARPROC funcao = modulo != nullptr ? GetProcAddress(modulo, nome) : nullptr;
    if (funcao == nullptr) {
        const DWORD erro = GetLastError();
        throw ErroSistema(Operacao::CarregarBiblioteca, win::CodigoDe(erro), "iphlpapi.dll", erro);
    }
    return funcao;
}

template <typename Funcao> Funcao IpHelper(const char* nome) {
    return reinterpret_cast<Funcao>(reinterpret_cast<void*>(FuncaoIpHelper(nome)));
}

std::wstring Maiusculas(std::wstring texto) {
    for (auto& c : texto) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return texto;
}

// The processes of the running SQL Server services (MSSQLSERVER for the default instance,
// MSSQL$<name> for a named one) with the service of each. The service manager tells any account a
// service's process id (SERVICE_QUERY_STATUS, which Windows' default service security grants to
// authenticated users); a process's token, which would tell its service SID, may be opened by
// administrators only.
std::map<DWORD, std::wstring> ProcessosDoSqlServer() {
    SC_HANDLE gerente = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (gerente == nullptr) {
        const DWORD erro = GetLastError();
        throw ErroSistema(Operacao::ConsultarServicos, win::CodigoDe(erro), {}, erro);
    }
    std::map<DWORD, std::wstring> processos;
    std::vector<BYTE> dados;
    DWORD precisa = 0, quantos = 0, retomar = 0;
    for (;;) {
        const BOOL ok = EnumServicesStatusExW(
            gerente, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, dados.data(),
            static_cast<DWORD>(dados.size()), &precisa, &quantos, &retomar, nullptr);
        const DWORD erro = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && erro != ERROR_MORE_DATA) {
            CloseServiceHandle(gerente);
            throw ErroSistema(Operacao::ConsultarServicos, win::CodigoDe(erro), {}, erro);
        }
        const auto* servicos = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(dados.data());
        for (DWORD i = 0; i < quantos; ++i) {
            const std::wstring nome = Maiusculas(servicos[i].lpServiceName);
            if ((nome == L"MSSQLSERVER" || nome.starts_with(L"MSSQL$")) &&
                servicos[i].ServiceStatusProcess.dwProcessId != 0) {
                processos.emplace(servicos[i].ServiceStatusProcess.dwProcessId, nome);
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
    const auto obter = IpHelper<decltype(&GetExtendedTcpTable)>("GetExtendedTcpTable");
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
            throw ErroSistema(Operacao::LerOuvintes, win::CodigoDe(rc), {}, rc);
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
    // The service of the instance named; without one, the default instance's, as the driver's.
    const std::wstring servico = instancia.empty() || Maiusculas(Largo(instancia)) == L"MSSQLSERVER"
                                     ? L"MSSQLSERVER"
                                     : L"MSSQL$" + Maiusculas(Largo(instancia));
    const auto sql = ProcessosDoSqlServer();
    for (const auto& [endereco, pid] : achados) {
        Ouvinte o;
        o.endereco = endereco;
        // Windows names for every socket the process that bound it. 0 (the Idle process) binds
        // nothing and 4 is the System process, which holds the kernel's own (HTTP.sys, SMB):
        // both are the system. Wine shows 0 for a socket of a Linux process that is not Wine's.
        const auto de = sql.find(pid);
        o.doServidor = pid == 0 || pid == 4 || (de != sql.end() && de->second == servico);
        o.dono = pid == 0 || pid == 4 ? "sistema" : NomeProcesso(pid);
        if (de != sql.end() && !o.doServidor) { // another instance: the fix is to name this one
            o.dono += ", serviço " + win::Utf8(de->second);
        }
        ouvintes.push_back(std::move(o));
    }
    return ouvintes;
}

int EnderecosDe(const std::string& host, std::vector<EnderecoIp>& enderecos) {
    static std::once_flag uma;
    static int inicio = 0;
    std::call_once(uma, [] {
        WSADATA dados{};
        inicio = WSAStartup(MAKEWORD(2, 2), &dados);
    });
    if (inicio != 0) {
        return inicio;
    }
    ADDRINFOW dicas{};
    dicas.ai_family = AF_UNSPEC;
    dicas.ai_socktype = SOCK_STREAM;
    ADDRINFOW* lista = nullptr;
    if (const int rc = GetAddrInfoW(Largo(host).c_str(), nullptr, &dicas, &lista); rc != 0) {
        return rc;
    }
    enderecos = EnderecosDaLista(lista);
    FreeAddrInfoW(lista);
    return 0;
}

std::vector<EnderecoIp> EnderecosLocais() {
    const auto obter = IpHelper<decltype(&GetAdaptersAddresses)>("GetAdaptersAddresses");
    constexpr ULONG kOpcoes = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                              GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    std::vector<BYTE> dados(16 * 1024);
    for (;;) {
        ULONG tamanho = static_cast<ULONG>(dados.size());
        const ULONG rc = obter(AF_UNSPEC, kOpcoes, nullptr,
                               reinterpret_cast<IP_ADAPTER_ADDRESSES*>(dados.data()), &tamanho);
        if (rc == ERROR_NO_DATA) {
            return {};
        }
        if (rc == ERROR_BUFFER_OVERFLOW) {
            dados.resize(tamanho);
            continue;
        }
        if (rc != NO_ERROR) {
            throw ErroSistema(Operacao::LerInterfaces, win::CodigoDe(rc), {}, rc);
        }
        break;
    }
    std::vector<EnderecoIp> enderecos;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(dados.data()); a != nullptr;
         a = a->Next) {
        for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            if (EnderecoIp e; EnderecoDoSocket(u->Address.lpSockaddr, e)) {
                enderecos.push_back(e);
            }
        }
    }
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
