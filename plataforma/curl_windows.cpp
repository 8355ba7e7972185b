#include "comum_windows.h"
#include "curl.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#define SECURITY_WIN32
// clang-format off
#include <security.h> // before schannel.h, which builds on it
#include <schannel.h>
// clang-format on

namespace kelvane::plataforma {

// libcurl is linked in (Schannel, and OpenSSL's libcrypto for SSH: only Windows' own DLLs, which
// are delay-loaded from System32), so nothing beside the executable can stand in for it.
const Curl& CarregarCurl() {
    static Curl curl;
    static std::once_flag uma;
    std::call_once(uma, [] {
        curl.easy_init = curl_easy_init;
        curl.easy_setopt = curl_easy_setopt;
        curl.easy_perform = curl_easy_perform;
        curl.easy_getinfo = curl_easy_getinfo;
        curl.easy_strerror = curl_easy_strerror;
        curl.easy_cleanup = curl_easy_cleanup;
        curl.url = curl_url;
        curl.url_set = curl_url_set;
        curl.url_get = curl_url_get;
        curl.url_cleanup = curl_url_cleanup;
        curl.free = curl_free;
        curl.easy_escape = curl_easy_escape;
        curl.slist_append = curl_slist_append;
        curl.slist_free_all = curl_slist_free_all;
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            curl.erro = "libcurl não iniciou";
            curl.easy_init = nullptr;
        }
    });
    return curl;
}

// libcurl's Schannel says nothing of what it negotiated: Schannel is asked. secur32 is already
// loaded by libcurl (from System32); it is looked up there, never beside the executable.
std::string TlsDaConexao(const Curl& curl, CURL* c) {
    static QUERY_CONTEXT_ATTRIBUTES_FN_W consultar = nullptr;
    static std::once_flag uma;
    std::call_once(uma, [] {
        if (HMODULE m = LoadLibraryExW(L"secur32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            consultar = reinterpret_cast<QUERY_CONTEXT_ATTRIBUTES_FN_W>(
                reinterpret_cast<void*>(GetProcAddress(m, "QueryContextAttributesW")));
        }
    });
    curl_tlssessioninfo* sessao = nullptr;
    if (consultar == nullptr || curl.easy_getinfo(c, CURLINFO_TLS_SSL_PTR, &sessao) != CURLE_OK ||
        sessao == nullptr || sessao->backend != CURLSSLBACKEND_SCHANNEL ||
        sessao->internals == nullptr) {
        return {};
    }
    auto* contexto = static_cast<CtxtHandle*>(sessao->internals);
    SecPkgContext_ConnectionInfo conexao{};
    if (consultar(contexto, SECPKG_ATTR_CONNECTION_INFO, &conexao) != SEC_E_OK) {
        return {}; // the handshake has not ended
    }
    const DWORD p = conexao.dwProtocol;
    std::string tls = (p & SP_PROT_TLS1_3_CLIENT)   ? "TLSv1.3"
                      : (p & SP_PROT_TLS1_2_CLIENT) ? "TLSv1.2"
                      : (p & SP_PROT_TLS1_1_CLIENT) ? "TLSv1.1"
                      : (p & SP_PROT_TLS1_0_CLIENT) ? "TLSv1"
                                                    : "protocolo " + std::to_string(p);
    SecPkgContext_CipherInfo cifra{};
    cifra.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (consultar(contexto, SECPKG_ATTR_CIPHER_INFO, &cifra) == SEC_E_OK &&
        cifra.szCipherSuite[0] != L'\0') {
        tls += " / " + win::Utf8(cifra.szCipherSuite);
    } else { // a Schannel that does not name it: its strength
        tls += " / " + std::to_string(conexao.dwCipherStrength) + " bits";
    }
    return tls;
}

namespace {

// Whether `s` has something to read, or its end, before `prazo` (a minute at most at a time).
bool Legivel(curl_socket_t s, std::chrono::steady_clock::time_point prazo) {
    const auto resta =
        std::chrono::ceil<std::chrono::microseconds>(prazo - std::chrono::steady_clock::now());
    const auto us = std::clamp<std::int64_t>(resta.count(), 0, 60000000);
    timeval espera{static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
    fd_set leitura;
    FD_ZERO(&leitura);
    FD_SET(s, &leitura);
    return ::select(0, &leitura, nullptr, nullptr, &espera) > 0;
}

} // namespace

void FecharConexao(curl_socket_t s, std::chrono::steady_clock::time_point prazo) {
    if (::shutdown(s, SD_SEND) == 0) {
        char descarte[4096];
        while (Legivel(s, prazo)) { // until the time is up
            const int n = ::recv(s, descarte, sizeof descarte, 0);
            if (n == 0 || (n < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK)) {
                break; // the peer's end, or a reset
            }
        }
    }
    ::closesocket(s);
}

std::string EspiarInicio(curl_socket_t s, std::chrono::milliseconds espera) {
    if (!Legivel(s, std::chrono::steady_clock::now() + espera)) {
        return {};
    }
    char inicio[64];
    const int n = ::recv(s, inicio, sizeof inicio, MSG_PEEK);
    return n > 0 ? std::string(inicio, static_cast<std::size_t>(n)) : std::string();
}

void InterromperConexao(curl_socket_t s) {
    ::shutdown(s, SD_BOTH);
}

} // namespace kelvane::plataforma
