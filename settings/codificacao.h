// Conversions between the program's UTF-8 strings and the single-byte Windows-1252 code page
// used by info.ini and by the credential scrambling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Decodes UTF-8 into code points. Invalid sequences become U+FFFD, one per bad byte.
std::vector<char32_t> DecodificarUtf8(std::string_view texto);
std::string CodificarUtf8(const std::vector<char32_t>& pontos);
void AcrescentarUtf8(std::string& destino, char32_t ponto);

// The code of one code point in Windows-1252; '?' when the code page has no such character.
// The five codes that 1252 leaves undefined stand for U+0081, U+008D, U+008F, U+0090, U+009D,
// so every byte value has exactly one code point.
std::uint8_t CodigoCp1252(char32_t ponto);
char32_t PontoCp1252(std::uint8_t codigo);

std::string Utf8ParaCp1252(std::string_view texto);
std::string Cp1252ParaUtf8(std::string_view bytes);

} // namespace kelvane
