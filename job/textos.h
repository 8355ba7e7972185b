// The user's words for the tools missing from the program folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// "Está faltando o arquivo: <nome>"
std::string TextoFaltandoArquivo(std::string_view nome);
// The one message box for the tools `nomes` missing from the program folder `pasta`: each one's
// missing-file text, where to put them, where ncftpput comes from when it is one of them, and
// "O backup não será efetuado!", lines joined with CR LF.
std::string TextoCaixaFerramentasFaltando(const std::vector<std::string>& nomes,
                                          const std::string& pasta);

} // namespace kelvane
