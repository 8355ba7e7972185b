// Text and machine-name utilities.
#pragma once

#include <string>
#include <string_view>

namespace kelvane {

// Plain letters for the accented Portuguese ones and without the punctuation that has no place
// in a file name; every other character (spaces included) passes unchanged. UTF-8 in and out.
std::string RemoverAcentos(std::string_view texto);

// This computer's name: the host name up to its first ".", without surrounding spaces; empty
// when the system gives none.
std::string NomeComputador();

} // namespace kelvane
