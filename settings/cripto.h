// Scrambling of the credentials stored in info.ini. It is obfuscation with a key that every
// installation shares, not encryption: it keeps passwords out of plain sight, nothing more.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvane {

inline constexpr std::size_t kTamanhoMaximoCripto = 506;

// A text longer than the key: there is no key letter for its 507th character.
class ErroCripto : public std::invalid_argument {
public:
    explicit ErroCripto(std::size_t tamanho);
    std::size_t tamanho() const { return tamanho_; }

private:
    std::size_t tamanho_;
};

// Self-inverse: XORs the low four bits of each Windows-1252 code with the key letter at the
// same position. UTF-8 in, UTF-8 out, same number of characters; a character that 1252 cannot
// represent counts as '?'. Throws ErroCripto past kTamanhoMaximoCripto characters.
std::string Cripto(std::string_view texto);

// The whole-number reading of the NCripto key: credentials are kept in clear only when it
// converts to exactly 1.
bool NCriptoEmVigor(std::string_view valorNCripto);

// The one rule for every credential that is written to or read from info.ini: in clear while
// NCripto is in force, through Cripto otherwise. Throws ErroCripto as Cripto does.
std::string AplicarNCripto(std::string_view credencial, bool ncripto);

} // namespace kelvane
