#include "curl.h"
#include "sistema.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kelvane::plataforma {

namespace {

template <typename F> bool Simbolo(void* biblioteca, const char* nome, F& destino) {
    std::string ignorado; // incomplete is all that is said
    destino = reinterpret_cast<F>(ProcurarSimbolo(biblioteca, nome, ignorado));
    return destino != nullptr;
}

} // namespace

// libcurl and what it brings (TLS, LDAP, Kerberos, SSH...) cost several MB and milliseconds at
// every start; it is loaded only when a heartbeat or a transfer needs it. The system's copy,
// from the loader's own folders, which only root can change.
const Curl& CarregarCurl() {
    static Curl curl;
    static std::once_flag uma;
    std::call_once(uma, [] {
        std::string erro;
        void* b = CarregarBiblioteca("libcurl.so.4", erro);
        if (b == nullptr) {
            curl.erro = "libcurl não pôde ser carregada: " + erro;
            return;
        }
        CURLcode (*global_init)(long) = nullptr;
        if (!Simbolo(b, "curl_easy_init", curl.easy_init) ||
            !Simbolo(b, "curl_easy_setopt", curl.easy_setopt) ||
            !Simbolo(b, "curl_easy_perform", curl.easy_perform) ||
            !Simbolo(b, "curl_easy_getinfo", curl.easy_getinfo) ||
            !Simbolo(b, "curl_easy_strerror", curl.easy_strerror) ||
            !Simbolo(b, "curl_easy_cleanup", curl.easy_cleanup) ||
            !Simbolo(b, "curl_global_init", global_init) || !Simbolo(b, "curl_url", curl.url) ||
            !Simbolo(b, "curl_url_set", curl.url_set) ||
            !Simbolo(b, "curl_url_get", curl.url_get) ||
            !Simbolo(b, "curl_url_cleanup", curl.url_cleanup) ||
            !Simbolo(b, "curl_free", curl.free) ||
            !Simbolo(b, "curl_easy_escape", curl.easy_escape) ||
            !Simbolo(b, "curl_slist_append", curl.slist_append) ||
            !Simbolo(b, "curl_slist_free_all", curl.slist_free_all)) {
            curl.erro = "libcurl incompleta";
            curl.easy_init = nullptr;
            return;
        }
        global_init(CURL_GLOBAL_DEFAULT);
    });
    return curl;
}

std::string TlsDaConexao(const Curl&, CURL*) {
    return {};
}

namespace {

// Whether `s` has something to read, or its end, before `prazo`.
bool Legivel(curl_socket_t s, std::chrono::steady_clock::time_point prazo) {
    for (;;) {
        const auto resta =
            std::chrono::ceil<std::chrono::milliseconds>(prazo - std::chrono::steady_clock::now());
        pollfd p{s, POLLIN, 0};
        const int pr =
            ::poll(&p, 1, static_cast<int>(std::clamp<std::int64_t>(resta.count(), 0, 60000)));
        if (pr >= 0 || errno != EINTR) {
            return pr > 0;
        }
    }
}

} // namespace

void FecharConexao(curl_socket_t s, std::chrono::steady_clock::time_point prazo) {
    if (::shutdown(s, SHUT_WR) == 0) {
        char descarte[4096];
        while (Legivel(s, prazo)) { // until the time is up
            const ssize_t n = ::recv(s, descarte, sizeof descarte, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                break; // the peer's end, or a reset
            }
        }
    }
    ::close(s);
}

std::string EspiarInicio(curl_socket_t s, std::chrono::milliseconds espera) {
    char inicio[64];
    ssize_t n = -1;
    if (Legivel(s, std::chrono::steady_clock::now() + espera)) {
        do {
            n = ::recv(s, inicio, sizeof inicio, MSG_PEEK | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
    }
    return n > 0 ? std::string(inicio, static_cast<std::size_t>(n)) : std::string();
}

void InterromperConexao(curl_socket_t s) {
    ::shutdown(s, SHUT_RDWR);
}

} // namespace kelvane::plataforma
