#include "cripto.h"

#include "codificacao.h"
#include "conversao.h"

#include <array>

namespace kelvane {

namespace {

constexpr std::string_view kFrase = "backupseguronanuvemhoje";
static_assert(kFrase.size() == 23);

constexpr std::array<char, kTamanhoMaximoCripto> MontarChave() {
    std::array<char, kTamanhoMaximoCripto> chave{};
    for (std::size_t i = 0; i < chave.size(); ++i) {
        chave[i] = kFrase[i % kFrase.size()];
    }
    return chave;
}

constexpr auto kChave = MontarChave();

} // namespace

ErroCripto::ErroCripto(std::size_t tamanho)
    : std::invalid_argument("texto de " + std::to_string(tamanho) +
                            " caracteres excede o limite de 506 da criptografia"),
      tamanho_(tamanho) {}

std::string Cripto(std::string_view texto) {
    const auto pontos = DecodificarUtf8(texto);
    if (pontos.size() > kTamanhoMaximoCripto) {
        throw ErroCripto(pontos.size());
    }
    std::string resultado;
    resultado.reserve(texto.size());
    for (std::size_t i = 0; i < pontos.size(); ++i) {
        const std::uint8_t c = CodigoCp1252(pontos[i]);
        const auto k = static_cast<std::uint8_t>(kChave[i]);
        AcrescentarUtf8(resultado, PontoCp1252(static_cast<std::uint8_t>(c ^ (k & 15))));
    }
    return resultado;
}

bool NCriptoEmVigor(std::string_view valorNCripto) {
    const auto n = ConversaoInteira(valorNCripto);
    return n && *n == 1;
}

std::string AplicarNCripto(std::string_view credencial, bool ncripto) {
    return ncripto ? std::string(credencial) : Cripto(credencial);
}

} // namespace kelvane
