// info.ini with the private-profile rules of Windows: keys found without regard to case, only
// the first section and the first key of a name count, values unquoted, Windows-1252 on disk.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace kelvane {

inline constexpr std::string_view kSecaoInfos = "infos";

// Keys and the values they take, in the order they are applied.
using AlteracoesINI = std::vector<std::pair<std::string, std::string>>;

// The value of `chave` in `secao` of the file's text `conteudo`, whole; empty when the section
// or the key is missing.
std::string ValorINI(std::string_view conteudo, std::string_view secao, std::string_view chave);

// `conteudo` with each key of `alteracoes` set in `secao`, one after the other: a key that is
// there keeps its line and its spelling, a new one goes after the section's last line that is
// not blank, a missing section goes at the end. Every other byte stays as it was: comments, the
// byte-order mark, each line's ending (new lines take the file's first one), other sections.
std::string EditarINI(std::string_view conteudo, std::string_view secao,
                      const AlteracoesINI& alteracoes);

// ValorINI of the file; empty when it cannot be read. Never throws.
std::string LerINI(std::string_view secao, std::string_view chave,
                   const std::filesystem::path& arquivo);

// The one way the file is written: the folder's lock, one read, `alteracoes` computed from what
// was read, one edit and one atomic replace, so either every key is stored or none is, and a
// crash leaves the old or the new file whole. A link is written through. The error is EACCES for
// a read-only file and EWOULDBLOCK when another process held the folder's lock for 10 s.
std::error_code EditarArquivoINI(const std::filesystem::path& arquivo, std::string_view secao,
                                 const std::function<AlteracoesINI(std::string_view)>& alteracoes);

// One key: EditarArquivoINI with that key alone.
std::error_code GravarINI(std::string_view secao, std::string_view chave, std::string_view valor,
                          const std::filesystem::path& arquivo);
std::error_code GravarINI(std::string_view secao, std::string_view chave, long long valor,
                          const std::filesystem::path& arquivo);

} // namespace kelvane
