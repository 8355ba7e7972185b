#include "aviso.h"

#include "../plataforma/http.h"
#include "../plataforma/sistema.h"
#include "../settings/regras.h"
#include "prazo.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <system_error>

namespace kelvane {

namespace {

using Relogio = std::chrono::steady_clock;

// The addresses of `host` ("a,[b]"), looked up before `limite` (a resolver that never answers
// keeps its own thread, not the heartbeat). Otherwise nothing, and `falha` says why.
std::optional<std::string> Resolver(const std::string& host, Relogio::time_point limite,
                                    std::string& falha) {
    struct Busca {
        int rc = 0;
        std::string enderecos;
    };
    std::optional<Busca> busca;
    try {
        busca = AntesDe(limite, [host] {
            Busca b;
            b.rc = plataforma::ResolverNome(host, b.enderecos);
            return b;
        });
    } catch (const std::system_error& e) {
        falha = std::string("o nome não pôde ser resolvido: ") + e.what();
        return std::nullopt;
    }
    if (!busca) {
        falha = "o nome não foi resolvido em " + std::to_string(kTempoAvisoMs / 1000) + " s";
        return std::nullopt;
    }
    if (busca->rc != 0 || busca->enderecos.empty()) {
        falha = std::string("o nome não foi resolvido: ") +
                (busca->rc != 0 ? plataforma::TextoErroResolucao(busca->rc) : "nenhum endereço IP");
        return std::nullopt;
    }
    return busca->enderecos;
}

} // namespace

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
    const auto limite = Relogio::now() + std::chrono::milliseconds(kTempoAvisoMs);
    return plataforma::EnviarPost(endereco, corpo, limite,
                                  [limite](const std::string& host, std::string& falha) {
                                      return Resolver(host, limite, falha);
                                  });
}

} // namespace kelvane
