// The user's words for a tool missing from the program folder.
#pragma once

#include <string>
#include <string_view>

namespace kelvane {

// "Está faltando o arquivo: <nome>"
std::string TextoFaltandoArquivo(std::string_view nome);
// The message box text: the missing-file text, CR LF, "O backup não será efetuado!"
std::string TextoCaixaFerramentaFaltando(std::string_view nome);

} // namespace kelvane
