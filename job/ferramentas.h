// The external tools in the program folder: which are missing, the 7z to start and its argument
// vectors.
#pragma once

#include "../plataforma/nomes.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Checked in this order; the first one missing is reported.
inline constexpr std::array<std::string_view, 3> kFerramentas = {
    plataforma::kNome7z, plataforma::kNomeBiblioteca7z, plataforma::kNomeEnviador};

// Whether the tool `nome` is in `pasta` as a regular file (a link to one counts).
bool FerramentaPresente(const std::filesystem::path& pasta, std::string_view nome);
// The first of kFerramentas missing from `pasta`.
std::optional<std::string> FerramentaFaltando(const std::filesystem::path& pasta);

// The 7z to start: the file the link in the program folder leads to.
std::filesystem::path Programa7z(const std::filesystem::path& pasta);

// Programa7z a -spd <arquivo> <origem> (names taken literally, never as wildcards); `comSenha`
// adds -p -mhe=on -sccUTF-8: AES-256 with the names hidden, the password asked for on stdin,
// where it is written in UTF-8.
std::vector<std::string> LinhaCompactador(const std::filesystem::path& pasta,
                                          const std::filesystem::path& arquivo,
                                          const std::filesystem::path& origem,
                                          bool comSenha = false);
// Programa7z t -spd <arquivo>; `comSenha` adds -sccUTF-8 (7z asks for the password when it meets
// the encrypted headers: a bare -p would make it try an empty one).
std::vector<std::string> LinhaTesteArquivo(const std::filesystem::path& pasta,
                                           const std::filesystem::path& arquivo,
                                           bool comSenha = false);

// What 7z prints when it asks for a password: a protected archive cannot be tested without it.
inline constexpr std::string_view kPedidoSenha7z = "Enter password";

} // namespace kelvane
