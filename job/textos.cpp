#include "textos.h"

namespace kelvane {

std::string TextoFaltandoArquivo(std::string_view nome) {
    return "Está faltando o arquivo: " + std::string(nome);
}

std::string TextoCaixaFerramentaFaltando(std::string_view nome) {
    return TextoFaltandoArquivo(nome) + "\r\nO backup não será efetuado!";
}

} // namespace kelvane
