#include "curl.h"
#include "http.h"
#include "sistema.h"

#include <algorithm>
#include <memory>

namespace kelvane::plataforma {

namespace {

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
