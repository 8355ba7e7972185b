#include "aviso.h"

#include <algorithm>
#include <cctype>
#include <curl/curl.h>
#include <dlfcn.h>
#include <mutex>

namespace kelvane {

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
    std::string erro;
};

template <typename F> bool Simbolo(void* biblioteca, const char* nome, F& destino) {
    destino = reinterpret_cast<F>(::dlsym(biblioteca, nome));
    return destino != nullptr;
}

const Curl& CarregarCurl() {
    static Curl curl;
    static std::once_flag uma;
    std::call_once(uma, [] {
        void* b = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (b == nullptr) {
            curl.erro = std::string("libcurl não pôde ser carregada: ") + ::dlerror();
            return;
        }
        if (!Simbolo(b, "curl_easy_init", curl.easy_init) ||
            !Simbolo(b, "curl_easy_setopt", curl.easy_setopt) ||
            !Simbolo(b, "curl_easy_perform", curl.easy_perform) ||
            !Simbolo(b, "curl_easy_getinfo", curl.easy_getinfo) ||
            !Simbolo(b, "curl_easy_strerror", curl.easy_strerror) ||
            !Simbolo(b, "curl_easy_cleanup", curl.easy_cleanup) ||
            !Simbolo(b, "curl_global_init", curl.global_init)) {
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

} // namespace

bool EnderecoAvisoValido(std::string_view base) {
    const auto comeca = [&](std::string_view esquema) {
        if (base.size() < esquema.size()) {
            return false;
        }
        for (std::size_t i = 0; i < esquema.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(base[i])) != esquema[i]) {
                return false;
            }
        }
        return true;
    };
    return comeca("http://") || comeca("https://");
}

std::string EnderecoAviso(std::string_view base, TipoAviso tipo) {
    // The suffix ends the path, before any query or fragment the monitor gave.
    const auto fimCaminho = std::min(base.find_first_of("?#"), base.size());
    std::string endereco(base.substr(0, fimCaminho));
    while (!endereco.empty() && endereco.back() == '/') {
        endereco.pop_back();
    }
    endereco += tipo == TipoAviso::Inicio ? "/start" : tipo == TipoAviso::Falha ? "/fail" : "";
    return endereco + std::string(base.substr(fimCaminho));
}

std::string DestinoAviso(std::string_view endereco) {
    const auto esquema = endereco.find("://");
    const std::size_t inicio = esquema == std::string_view::npos ? 0 : esquema + 3;
    std::string_view autoridade =
        endereco.substr(inicio, endereco.find_first_of("/?#\\", inicio) - inicio);
    if (const auto arroba = autoridade.rfind('@'); arroba != std::string_view::npos) {
        autoridade.remove_prefix(arroba + 1);
    }
    // The host and port only: whatever else follows may be part of a secret.
    std::size_t n = 0;
    if (autoridade.starts_with('[')) {
        n = std::min(autoridade.find(']'), autoridade.size() - 1) + 1;
    }
    while (n < autoridade.size() && (std::isalnum(static_cast<unsigned char>(autoridade[n])) ||
                                     autoridade[n] == '.' || autoridade[n] == '-')) {
        ++n;
    }
    if (n < autoridade.size() && autoridade[n] == ':') {
        ++n;
        while (n < autoridade.size() && std::isdigit(static_cast<unsigned char>(autoridade[n]))) {
            ++n;
        }
    }
    return std::string(endereco.substr(0, inicio)) + std::string(autoridade.substr(0, n));
}

std::optional<std::string> EnviarAviso(const std::string& endereco, const std::string& corpo) {
    const Curl& curl = CarregarCurl();
    if (curl.easy_init == nullptr) {
        return curl.erro;
    }
    CURL* c = curl.easy_init();
    if (c == nullptr) {
        return std::string("libcurl não iniciou");
    }
    curl.easy_setopt(c, CURLOPT_URL, endereco.c_str());
    // Only the web: a "file:" or "ldap:" address must not turn a heartbeat into something else.
    curl.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(c, CURLOPT_POST, 1L);
    curl.easy_setopt(c, CURLOPT_POSTFIELDS, corpo.c_str());
    curl.easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(corpo.size()));
    curl.easy_setopt(c, CURLOPT_TIMEOUT_MS, kTempoAvisoMs);
    curl.easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, kTempoAvisoMs);
    curl.easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // may run on the window's worker thread
    curl.easy_setopt(c, CURLOPT_WRITEFUNCTION, Descartar);
    curl.easy_setopt(c, CURLOPT_USERAGENT, "Kelvane");
    // Certificates and host names are verified: libcurl's defaults, stated so they stay.
    curl.easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl.easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    std::optional<std::string> falha;
    const CURLcode rc = curl.easy_perform(c);
    if (rc != CURLE_OK) {
        falha = curl.easy_strerror(rc);
    } else {
        long status = 0;
        curl.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400) {
            falha = "o servidor respondeu HTTP " + std::to_string(status);
        }
    }
    curl.easy_cleanup(c);
    return falha;
}

} // namespace kelvane
