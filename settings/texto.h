// Text and machine-name utilities.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Plain letters for the accented Portuguese ones and without the punctuation that has no place
// in a file name; every other character (spaces included) passes unchanged. UTF-8 in and out.
std::string RemoverAcentos(std::string_view texto);

// This computer's name: the host name up to its first ".", without surrounding spaces; empty
// when the system gives none.
std::string NomeComputador();

// "N percent processed." (the server's progress message during a backup) -> N; -1 for any other
// message.
int PercentualProcessado(std::string_view mensagem);

// `s` without the blanks and tabs around it.
std::string_view Aparar(std::string_view s);

// Replaces every occurrence of the secrets in `texto` with "***".
std::string OcultarSegredos(std::string texto, const std::vector<std::string>& segredos);

} // namespace kelvane
