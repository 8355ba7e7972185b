// Number and date conversions of settings text, as the window's load does them.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

// Whole-number conversion: the text must be one decimal number as a whole (blanks around it
// allowed); the number is rounded half to even. Empty, non-numeric or out-of-range text fails.
std::optional<long long> ConversaoInteira(std::string_view texto);

// Numeric value of the text: the number at its start, anything after it ignored; empty or
// non-numeric text gives 0.
double ValorNumerico(std::string_view texto);

// Rounds half to even (2.5 -> 2, 3.5 -> 4).
long long ArredondarPar(double valor);

// "DD/MM/YYYY HH:MM:SS", the Brazilian Portuguese default whatever the process locale.
std::string TextoDataHora(const std::tm& momento);
// The general date form used for Executado: the time is left out at exactly midnight.
std::string TextoDataGeral(const std::tm& momento);

} // namespace kelvane
