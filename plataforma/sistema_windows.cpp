#include "ambiente.h"
#include "arquivos.h"
#include "comum_windows.h"
#include "erro_sistema.h"
#include "processo.h"
#include "sistema.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <io.h>
#include <mutex>
#include <shellapi.h>
#include <string>
#include <vector>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace kelvane::plataforma {

namespace {

UINT paginaConsole = 0; // the console's code page before ours, when we changed it

bool EhConsole(DWORD qual) {
    DWORD modo = 0;
    return GetConsoleMode(GetStdHandle(qual), &modo) != 0;
}

// ambiente.h's list, and HOME: NcFTP for Windows takes its settings folder from NCFTPDIR, then
// HOME (which Windows itself never sets), then a folder beside its own program. Names compare
// without regard to case, as Windows' do.
void LimparAmbiente() {
    std::vector<std::wstring> removidas;
    if (wchar_t* bloco = GetEnvironmentStringsW()) {
        for (const wchar_t* e = bloco; *e != L'\0'; e += std::wcslen(e) + 1) {
            const std::wstring_view variavel(e);
            const auto nome = variavel.substr(0, variavel.find(L'=', 1)); // "=C:" names a drive
            std::string maiusculo = win::Utf8(nome);
            for (char& c : maiusculo) {
                c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
            }
            if (AmbienteRemovido(maiusculo) || maiusculo == "HOME") {
                removidas.emplace_back(nome);
            }
        }
        FreeEnvironmentStringsW(bloco);
    }
    for (const auto& nome : removidas) {
        SetEnvironmentVariableW(nome.c_str(), nullptr); // what the tools inherit
        _wputenv((nome + L"=").c_str());                // the C runtime's copy, which Qt reads
    }
}

} // namespace

std::vector<std::string> ArgumentosUtf8(int argc, char** argv) {
    int n = 0;
    LPWSTR* largos = CommandLineToArgvW(GetCommandLineW(), &n);
    if (largos == nullptr || n != argc) {
        if (largos != nullptr) {
            LocalFree(largos);
        }
        std::vector<std::string> r;
        for (int i = 0; i < argc; ++i) {
            r.push_back(win::Utf8DeAnsi(argv[i]));
        }
        return r;
    }
    std::vector<std::string> r;
    for (int i = 0; i < n; ++i) {
        r.push_back(win::Utf8(largos[i]));
    }
    LocalFree(largos);
    return r;
}

void PrepararProcesso() {
    // First: nothing is loaded or read yet (ambiente.h says what goes and why).
    LimparAmbiente();
    // Libraries we load come from System32 (or beside a library named by full path), never from
    // the working folder; the tools get their own search order.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A scheduled run has no one to close a "disk not ready" or crash dialog; the tools inherit
    // the mode.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    win::IniciarJobFerramentas();
    TratarTerminacao();
    // The program's texts are UTF-8: a console is told so; a redirected output gets the bytes.
    if (EhConsole(STD_OUTPUT_HANDLE) || EhConsole(STD_ERROR_HANDLE)) {
        paginaConsole = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
    }
}

void EncerrarProcesso(int codigo) {
    AguardarSeInterrompido();
    std::fflush(nullptr);
    if (paginaConsole != 0) { // the console is shared with whoever started us
        SetConsoleOutputCP(paginaConsole);
    }
    std::_Exit(codigo);
}

int DesviarErroPadrao(std::FILE* rascunho) {
    std::fflush(stderr);
    const int real = _dup(kErroPadrao);
    if (real >= 0) {
        // Not inherited: the tools are started with handles of their own.
        SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(real)), HANDLE_FLAG_INHERIT,
                             0);
        _dup2(_fileno(rascunho), kErroPadrao);
    }
    return real;
}

void DevolverErroPadrao(int real) {
    _dup2(real, kErroPadrao);
    _close(real);
}

void EscreverDescritor(int descritor, std::string_view texto) {
    _write(descritor, texto.data(), static_cast<unsigned>(texto.size()));
}

void MostrarCaixaSistema(const std::string& texto) {
    if (const wchar_t* teste = _wgetenv(win::Largo(kVariavelCaixaTeste).c_str());
        teste != nullptr && *teste != L'\0') {
        const HANDLE h = CreateFileW(teste, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            const std::string linha = texto + "\r\n";
            DWORD escrito = 0;
            WriteFile(h, linha.data(), static_cast<DWORD>(linha.size()), &escrito, nullptr);
            CloseHandle(h);
        }
        return;
    }
    // user32 is one of the system's known DLLs: nothing comes from the program folder.
    MessageBoxW(nullptr, win::Largo(texto).c_str(), L"Kelvane",
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

bool ConsoleSoDesteProcesso() {
    DWORD processos[2];
    return GetConsoleProcessList(processos, 2) == 1;
}

std::filesystem::path PastaDoExecutavel() {
    std::wstring nome(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, nome.data(), static_cast<DWORD>(nome.size()));
        if (n == 0) {
            // Guessing (the working folder) would read another info.ini and run other tools.
            const DWORD erro = GetLastError();
            throw ErroSistema(Operacao::LocalizarPrograma, win::CodigoDe(erro), {}, erro);
        }
        if (n < nome.size()) {
            nome.resize(n);
            break;
        }
        nome.resize(nome.size() * 2);
    }
    return std::filesystem::path(nome).parent_path();
}

std::tm HoraLocal(std::time_t momento) {
    std::tm local{};
    localtime_s(&local, &momento);
    return local;
}

std::time_t NormalizarUtc(std::tm& data) {
    return _mkgmtime(&data);
}

std::string NomeMaquina() {
    char nome[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD tamanho = sizeof nome;
    if (!GetComputerNameA(nome, &tamanho)) {
        return {};
    }
    return win::Utf8DeAnsi(std::string_view(nome, tamanho));
}

std::filesystem::path PastaPessoal() {
    // Where the tools look for the account's settings (NcFTP reads USERPROFILE).
    wchar_t pasta[32768];
    const DWORD n = GetEnvironmentVariableW(L"USERPROFILE", pasta, std::size(pasta));
    if (n == 0 || n >= std::size(pasta)) {
        return {};
    }
    std::filesystem::path caminho(std::wstring(pasta, n));
    return caminho.is_absolute() ? caminho : std::filesystem::path();
}

void* CarregarBiblioteca(const std::filesystem::path& biblioteca, std::string& erro) {
    // By full path: what it needs from beside it or System32; by name: System32 only.
    const DWORD busca = biblioteca.is_absolute()
                            ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                            : LOAD_LIBRARY_SEARCH_SYSTEM32;
    HMODULE modulo = LoadLibraryExW(biblioteca.c_str(), nullptr, busca);
    if (modulo == nullptr) {
        erro = TextoCaminho(biblioteca) + ": " + win::TextoErro(GetLastError());
    }
    return reinterpret_cast<void*>(modulo);
}

void* ProcurarSimbolo(void* biblioteca, const char* nome, std::string& erro) {
    auto simbolo = GetProcAddress(static_cast<HMODULE>(biblioteca), nome);
    if (simbolo == nullptr) {
        erro = std::string(nome) + ": " + win::TextoErro(GetLastError());
    }
    return reinterpret_cast<void*>(simbolo);
}

int ResolverNome(const std::string& host, std::string& enderecos) {
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
    dicas.ai_flags = AI_ADDRCONFIG;
    ADDRINFOW* lista = nullptr;
    const int rc = GetAddrInfoW(win::Largo(host).c_str(), nullptr, &dicas, &lista);
    for (const ADDRINFOW* a = rc == 0 ? lista : nullptr; a != nullptr; a = a->ai_next) {
        wchar_t texto[INET6_ADDRSTRLEN] = {};
        const void* ip = a->ai_family == AF_INET6
                             ? static_cast<const void*>(
                                   &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr)
                             : &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) &&
            InetNtopW(a->ai_family, const_cast<void*>(ip), texto, std::size(texto)) != nullptr) {
            const std::string endereco = win::Utf8(texto);
            enderecos += (enderecos.empty() ? "" : ",") +
                         (a->ai_family == AF_INET6 ? "[" + endereco + "]" : endereco);
        }
    }
    if (lista != nullptr) {
        FreeAddrInfoW(lista);
    }
    return rc;
}

std::string TextoErroResolucao(int erro) {
    return win::TextoErro(static_cast<DWORD>(erro));
}

bool EhEnderecoIpv4(const char* host) {
    in_addr ipv4{};
    return InetPtonA(AF_INET, host, &ipv4) == 1;
}

} // namespace kelvane::plataforma
