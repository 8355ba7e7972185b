// The external tools in the program folder: which are missing, the 7z to start and its argument
// vectors.
#pragma once

#include "../plataforma/nomes.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Whether the tool `nome` is in `pasta` as a regular file (a link to one counts).
bool FerramentaPresente(const std::filesystem::path& pasta, std::string_view nome);
// The tools a run with this Endereco needs, in the order they are checked: 7z and its library
// always, ncftpput for plain FTP only (ftpes://, ftps:// and sftp:// are sent by the program
// itself; an unknown scheme is refused with its own words before anything is sent).
std::vector<std::string_view> FerramentasNecessarias(std::string_view endereco);
// Those of FerramentasNecessarias(endereco) missing from `pasta`, in that order.
std::vector<std::string> FerramentasFaltando(const std::filesystem::path& pasta,
                                             std::string_view endereco);

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

// Programa7z x -spd -y -o<pasta destino> <arquivo>; `comSenha` adds -sccUTF-8, as for the test.
std::vector<std::string> LinhaExtracao(const std::filesystem::path& pasta,
                                       const std::filesystem::path& arquivo,
                                       const std::filesystem::path& destino, bool comSenha = false);

// What 7z prints when it asks for a password: a protected archive cannot be tested without it.
inline constexpr std::string_view kPedidoSenha7z = "Enter password";

} // namespace kelvane
