#include "textos.h"

#include "../plataforma/nomes.h"

#include <algorithm>

namespace kelvane {

std::string TextoFaltandoArquivo(std::string_view nome) {
    return "Está faltando o arquivo: " + std::string(nome);
}

std::string TextoCaixaFerramentasFaltando(const std::vector<std::string>& nomes,
                                          const std::string& pasta) {
    std::string texto;
    for (const auto& nome : nomes) {
        texto += TextoFaltandoArquivo(nome) + "\r\n";
    }
    texto += (nomes.size() > 1 ? "Coloque-os" : "Coloque-o") +
             std::string(" na pasta do programa: ") + pasta + "\r\n";
    if (std::find(nomes.begin(), nomes.end(), plataforma::kNomeEnviador) != nomes.end()) {
        texto += std::string(plataforma::kOrigemEnviador) + "\r\n";
    }
    return texto + "O backup não será efetuado!";
}

} // namespace kelvane
