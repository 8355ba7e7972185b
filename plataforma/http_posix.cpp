#include "http.h"
#include "sistema.h"

#include <algorithm>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace kelvane::plataforma {

namespace {

// libcurl and what it brings (TLS, LDAP, Kerberos, SSH...) cost several MB and milliseconds at
// every start; it is loaded only when a heartbeat is configured.
struct Curl {
    CURL* (*easy_init)() = nullptr;
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...) = nullptr;
    CURLcode (*easy_perform)(CURL*) = nullptr;
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...) = nullptr;
    const char* (*easy_strerror)(CURLcode) = nullptr;
    void (*easy_cleanup)(CURL*) = nullptr;
    CURLcode (*global_init)(long) = nullptr;
    CURLU* (*url)() = nullptr;
    CURLUcode (*url_set)(CURLU*, CURLUPart, const char*, unsigned int) = nullptr;
    CURLUcode (*url_get)(const CURLU*, CURLUPart, char**, unsigned int) = nullptr;
    void (*url_cleanup)(CURLU*) = nullptr;
    void (*free)(void*) = nullptr;
    curl_slist* (*slist_append)(curl_slist*, const char*) = nullptr;
    void (*slist_free_all)(curl_slist*) = nullptr;
    std::string erro;
};

template <typename F> bool Simbolo(void* biblioteca, const char* nome, F& destino) {
    std::string ignorado; // incomplete is all that is said
    destino = reinterpret_cast<F>(ProcurarSimbolo(biblioteca, nome, ignorado));
    return destino != nullptr;
}

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
        if (!Simbolo(b, "curl_easy_init", curl.easy_init) ||
            !Simbolo(b, "curl_easy_setopt", curl.easy_setopt) ||
            !Simbolo(b, "curl_easy_perform", curl.easy_perform) ||
            !Simbolo(b, "curl_easy_getinfo", curl.easy_getinfo) ||
            !Simbolo(b, "curl_easy_strerror", curl.easy_strerror) ||
            !Simbolo(b, "curl_easy_cleanup", curl.easy_cleanup) ||
            !Simbolo(b, "curl_global_init", curl.global_init) ||
            !Simbolo(b, "curl_url", curl.url) || !Simbolo(b, "curl_url_set", curl.url_set) ||
            !Simbolo(b, "curl_url_get", curl.url_get) ||
            !Simbolo(b, "curl_url_cleanup", curl.url_cleanup) ||
            !Simbolo(b, "curl_free", curl.free) ||
            !Simbolo(b, "curl_slist_append", curl.slist_append) ||
            !Simbolo(b, "curl_slist_free_all", curl.slist_free_all)) {
            curl.erro = "libcurl incompleta";
            curl.easy_init = nullptr;
            return;
        }
        curl.global_init(CURL_GLOBAL_DEFAULT);
    });
    return curl;
}

size_t Descartar(char*, size_t tamanho, size_t n, void*) {
    return tamanho * n;
}

// The CURLOPT_RESOLVE entry ("host:port:addresses") for an address, so that libcurl, whose own
// resolver is not bounded by its time-out in every build (a synchronous one with
// CURLOPT_NOSIGNAL; the threaded one waits for its thread at cleanup), never resolves. Empty for
// a host written as an IP address, which needs no resolving.
std::optional<std::string> Resolucao(const Curl& curl, const std::string& endereco,
                                     const ResolverHost& resolver, std::string& falha) {
    const std::unique_ptr<CURLU, void (*)(CURLU*)> url(curl.url(), curl.url_cleanup);
    char* host = nullptr;
    char* porta = nullptr;
    std::optional<std::string> entrada;
    if (url && curl.url_set(url.get(), CURLUPART_URL, endereco.c_str(), 0) == CURLUE_OK &&
        curl.url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl.url_get(url.get(), CURLUPART_PORT, &porta, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        if (host[0] == '[' || EhEnderecoIpv4(host)) {
            entrada = std::string();
        } else if (const auto enderecos = resolver(host, falha)) {
            entrada = std::string(host) + ":" + porta + ":" + *enderecos;
        }
    } else {
        falha = "endereço inválido";
    }
    curl.free(host);
    curl.free(porta);
    return entrada;
}

} // namespace

std::optional<std::string> EnviarPost(const std::string& endereco, const std::string& corpo,
                                      std::chrono::steady_clock::time_point limite,
                                      const ResolverHost& resolver) {
    const Curl& curl = CarregarCurl();
    if (curl.easy_init == nullptr) {
        return curl.erro;
    }
    std::string falha;
    const auto entrada = Resolucao(curl, endereco, resolver, falha);
    if (!entrada) {
        return falha;
    }
    const std::unique_ptr<curl_slist, void (*)(curl_slist*)> resolvidos(
        entrada->empty() ? nullptr : curl.slist_append(nullptr, entrada->c_str()),
        curl.slist_free_all);
    if (!entrada->empty() && !resolvidos) {
        return std::string("libcurl sem memória");
    }
    CURL* c = curl.easy_init();
    if (c == nullptr) {
        return std::string("libcurl não iniciou");
    }
    // What is left of the heartbeat's time after the name was resolved.
    const long restante =
        std::max<long>(1, static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                limite - std::chrono::steady_clock::now())
                                                .count()));
    curl.easy_setopt(c, CURLOPT_URL, endereco.c_str());
    curl.easy_setopt(c, CURLOPT_RESOLVE, resolvidos.get());
    // A proxy from the environment would be a name libcurl resolves itself: straight to the
    // monitor. (The URL keeps the host's name, so certificates are checked against it.)
    curl.easy_setopt(c, CURLOPT_PROXY, "");
    // Only the web: a "file:" or "ldap:" address must not turn a heartbeat into something else.
    curl.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(c, CURLOPT_POST, 1L);
    curl.easy_setopt(c, CURLOPT_POSTFIELDS, corpo.c_str());
    curl.easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(corpo.size()));
    curl.easy_setopt(c, CURLOPT_TIMEOUT_MS, restante);
    curl.easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, restante);
    curl.easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // may run on the window's worker thread
    curl.easy_setopt(c, CURLOPT_WRITEFUNCTION, Descartar);
    curl.easy_setopt(c, CURLOPT_USERAGENT, "Kelvane");
    // Certificates and host names are verified: libcurl's defaults, stated so they stay.
    curl.easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl.easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    std::optional<std::string> resultado;
    const CURLcode rc = curl.easy_perform(c);
    if (rc != CURLE_OK) {
        resultado = curl.easy_strerror(rc);
    } else {
        long status = 0;
        curl.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400) {
            resultado = "o servidor respondeu HTTP " + std::to_string(status);
        }
    }
    curl.easy_cleanup(c);
    return resultado;
}

} // namespace kelvane::plataforma
