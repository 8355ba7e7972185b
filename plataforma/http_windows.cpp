#include "comum_windows.h"
#include "http.h"
#include "sistema.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <winhttp.h>

namespace kelvane::plataforma {

namespace {

using win::Largo;

// WinHTTP is loaded from System32 when a heartbeat is first sent: a DLL beside the executable
// must never stand in for it, and a run without heartbeats does without it.
struct WinHttp {
    HMODULE modulo = nullptr;
    decltype(&WinHttpOpen) Open = nullptr;
    decltype(&WinHttpConnect) Connect = nullptr;
    decltype(&WinHttpOpenRequest) OpenRequest = nullptr;
    decltype(&WinHttpSetOption) SetOption = nullptr;
    decltype(&WinHttpSetTimeouts) SetTimeouts = nullptr;
    decltype(&WinHttpAddRequestHeaders) AddRequestHeaders = nullptr;
    decltype(&WinHttpSendRequest) SendRequest = nullptr;
    decltype(&WinHttpReceiveResponse) ReceiveResponse = nullptr;
    decltype(&WinHttpQueryHeaders) QueryHeaders = nullptr;
    decltype(&WinHttpCrackUrl) CrackUrl = nullptr;
    decltype(&WinHttpCloseHandle) CloseHandle = nullptr;
    std::string erro;
};

template <typename F> bool Simbolo(HMODULE modulo, const char* nome, F& destino) {
    destino = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(modulo, nome)));
    return destino != nullptr;
}

const WinHttp& CarregarWinHttp() {
    static WinHttp w;
    static std::once_flag uma;
    std::call_once(uma, [] {
        w.modulo = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (w.modulo == nullptr) {
            w.erro = "WinHTTP não pôde ser carregada: " + win::TextoErro(GetLastError());
            return;
        }
        if (!Simbolo(w.modulo, "WinHttpOpen", w.Open) ||
            !Simbolo(w.modulo, "WinHttpConnect", w.Connect) ||
            !Simbolo(w.modulo, "WinHttpOpenRequest", w.OpenRequest) ||
            !Simbolo(w.modulo, "WinHttpSetOption", w.SetOption) ||
            !Simbolo(w.modulo, "WinHttpSetTimeouts", w.SetTimeouts) ||
            !Simbolo(w.modulo, "WinHttpAddRequestHeaders", w.AddRequestHeaders) ||
            !Simbolo(w.modulo, "WinHttpSendRequest", w.SendRequest) ||
            !Simbolo(w.modulo, "WinHttpReceiveResponse", w.ReceiveResponse) ||
            !Simbolo(w.modulo, "WinHttpQueryHeaders", w.QueryHeaders) ||
            !Simbolo(w.modulo, "WinHttpCrackUrl", w.CrackUrl) ||
            !Simbolo(w.modulo, "WinHttpCloseHandle", w.CloseHandle)) {
            w.erro = "WinHTTP incompleta";
            w.Open = nullptr;
        }
    });
    return w;
}

// The common failures in our words: WinHTTP's own table is not everywhere (Wine has none).
std::string Falha(const WinHttp& w, DWORD erro) {
    const char* texto = nullptr;
    switch (erro) {
    case ERROR_WINHTTP_TIMEOUT:
        texto = "tempo esgotado";
        break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        texto = "o nome não foi resolvido";
        break;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        texto = "não foi possível conectar ao servidor";
        break;
    case ERROR_WINHTTP_CONNECTION_ERROR:
        texto = "a conexão foi interrompida";
        break;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        texto = "resposta inválida do servidor";
        break;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_FAILURE:
        texto = "falha na conexão segura (TLS)";
        break;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
        texto = "o certificado do servidor não foi aceito";
        break;
    default:
        return win::TextoErro(erro, w.modulo);
    }
    return std::string(texto) + " (" + std::to_string(erro) + ")";
}

// "%41" -> "A", as the address's user and password are written.
std::string Decodificar(std::string_view texto) {
    std::string s;
    for (std::size_t i = 0; i < texto.size(); ++i) {
        const auto hex = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (texto[i] == '%' && i + 2 < texto.size() && hex(texto[i + 1]) >= 0 &&
            hex(texto[i + 2]) >= 0) {
            s += static_cast<char>(hex(texto[i + 1]) * 16 + hex(texto[i + 2]));
            i += 2;
        } else {
            s += texto[i];
        }
    }
    return s;
}

std::string Base64(std::string_view dados) {
    static constexpr char kTabela[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    for (std::size_t i = 0; i < dados.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, dados.size() - i);
        std::uint32_t bloco = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            bloco = (bloco << 8) | (j < n ? static_cast<unsigned char>(dados[i + j]) : 0u);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            s += j <= n ? kTabela[(bloco >> (18 - 6 * j)) & 63] : '=';
        }
    }
    return s;
}

// One request, start to end, on the calling thread.
std::optional<std::string> Requisicao(const WinHttp& w, const std::string& endereco,
                                      const std::string& corpo, DWORD tempoMs) {
    std::wstring url = Largo(endereco);
    URL_COMPONENTS partes{};
    partes.dwStructSize = sizeof partes;
    partes.dwHostNameLength = partes.dwUrlPathLength = partes.dwExtraInfoLength =
        partes.dwUserNameLength = partes.dwPasswordLength = static_cast<DWORD>(-1);
    if (!w.CrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &partes)) {
        return "endereço inválido";
    }
    // Only the web: nothing else is ever sent.
    if (partes.nScheme != INTERNET_SCHEME_HTTP && partes.nScheme != INTERNET_SCHEME_HTTPS) {
        return std::string("protocolo não suportado");
    }
    const std::wstring host(partes.lpszHostName, partes.dwHostNameLength);
    std::wstring caminho(partes.lpszUrlPath, partes.dwUrlPathLength);
    caminho.append(partes.lpszExtraInfo, partes.dwExtraInfoLength);
    if (caminho.empty()) {
        caminho = L"/";
    }
    // The fragment is the browser's, never sent.
    if (const auto cerquilha = caminho.find(L'#'); cerquilha != std::wstring::npos) {
        caminho.resize(cerquilha);
    }
    std::wstring cabecalhos = L"Content-Type: application/x-www-form-urlencoded\r\n";
    if (partes.dwUserNameLength > 0) {
        const std::string usuario =
            win::Utf8(std::wstring_view(partes.lpszUserName, partes.dwUserNameLength));
        const std::string senha =
            win::Utf8(std::wstring_view(partes.lpszPassword, partes.dwPasswordLength));
        cabecalhos += L"Authorization: Basic " +
                      Largo(Base64(Decodificar(usuario) + ":" + Decodificar(senha))) + L"\r\n";
    }

    std::optional<std::string> resultado;
    // Straight to the monitor: no proxy from the system's settings.
    HINTERNET sessao = w.Open(L"Kelvane", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET conexao = nullptr;
    HINTERNET pedido = nullptr;
    const auto falhou = [&] {
        resultado = Falha(w, GetLastError());
        return false;
    };
    const int t = static_cast<int>(tempoMs);
    const bool ok =
        (sessao != nullptr || falhou()) && (w.SetTimeouts(sessao, t, t, t, t) || falhou()) &&
        ((conexao = w.Connect(sessao, host.c_str(), partes.nPort, 0)) != nullptr || falhou()) &&
        ((pedido = w.OpenRequest(conexao, L"POST", caminho.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 partes.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE
                                                                         : 0)) != nullptr ||
         falhou());
    if (ok) {
        // A redirect is answered as it stands, never followed; certificates and host names
        // are verified (WinHTTP's defaults, no flag lowers them).
        DWORD politica = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        w.SetOption(pedido, WINHTTP_OPTION_REDIRECT_POLICY, &politica, sizeof politica);
        DWORD status = 0;
        DWORD tamanho = sizeof status;
        if (!w.SendRequest(pedido, cabecalhos.c_str(), static_cast<DWORD>(cabecalhos.size()),
                           const_cast<char*>(corpo.data()), static_cast<DWORD>(corpo.size()),
                           static_cast<DWORD>(corpo.size()), 0) ||
            !w.ReceiveResponse(pedido, nullptr) ||
            !w.QueryHeaders(pedido, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &tamanho,
                            WINHTTP_NO_HEADER_INDEX)) {
            resultado = Falha(w, GetLastError());
        } else if (status >= 400) {
            resultado = "o servidor respondeu HTTP " + std::to_string(status);
        }
    }
    for (HINTERNET h : {pedido, conexao, sessao}) {
        if (h != nullptr) {
            w.CloseHandle(h);
        }
    }
    return resultado;
}

} // namespace

std::optional<std::string> EnviarPost(const std::string& endereco, const std::string& corpo,
                                      std::chrono::steady_clock::time_point limite,
                                      const ResolverHost& resolver) {
    const WinHttp& w = CarregarWinHttp();
    if (w.Open == nullptr) {
        return w.erro;
    }
    // The name is looked up apart, within the limit, so that a resolver that never answers is
    // reported as on Linux; WinHTTP then finds it in the system's cache.
    {
        std::wstring url = Largo(endereco);
        URL_COMPONENTS partes{};
        partes.dwStructSize = sizeof partes;
        partes.dwHostNameLength = static_cast<DWORD>(-1);
        if (!w.CrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &partes)) {
            return std::string("endereço inválido");
        }
        const std::string host =
            win::Utf8(std::wstring_view(partes.lpszHostName, partes.dwHostNameLength));
        std::string falha;
        if (!host.empty() && host.front() != '[' && !EhEnderecoIpv4(host.c_str()) &&
            !resolver(host, falha)) {
            return falha;
        }
    }
    // WinHTTP's limits count each wait apart (a server that answers a byte at a time never
    // reaches them): the request runs on a thread of its own, left to end by itself past
    // `limite`.
    struct Estado {
        std::mutex m;
        std::condition_variable cv;
        bool fim = false;
        std::optional<std::string> resultado;
    };
    const auto estado = std::make_shared<Estado>();
    const auto restante = std::chrono::duration_cast<std::chrono::milliseconds>(
        limite - std::chrono::steady_clock::now());
    const DWORD tempoMs = static_cast<DWORD>(std::max<long long>(1, restante.count()));
    try {
        std::thread([estado, &w, endereco, corpo, tempoMs] {
            auto resultado = Requisicao(w, endereco, corpo, tempoMs);
            const std::lock_guard trava(estado->m);
            estado->resultado = std::move(resultado);
            estado->fim = true;
            estado->cv.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        return std::string("o aviso não pôde ser enviado: ") + e.what();
    }
    std::unique_lock trava(estado->m);
    if (!estado->cv.wait_until(trava, limite, [&] { return estado->fim; })) {
        return std::string("o servidor não respondeu a tempo");
    }
    return estado->resultado;
}

} // namespace kelvane::plataforma
