// info.ini access with the private-profile rules of Windows: one value per call, read from or
// written to the file at the moment of use, nothing cached.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kelvane {

inline constexpr std::string_view kSecaoInfos = "infos";

// The value of `chave` in `secao`, whole (no length cut); empty when the file, the section or
// the key is missing or unreadable. Never throws.
std::string LerINI(std::string_view secao, std::string_view chave,
                   const std::filesystem::path& arquivo);

// Stores `valor` under `chave`; every other line of the file stays byte for byte as it was.
// The file is replaced atomically, so a crash leaves either the old or the new file whole.
// Returns whether the write reached the disk, and after a failure leaves its reason in errno
// (EACCES for a read-only file, EWOULDBLOCK when another process held the folder's lock for 10 s);
// GravarINI is the same write with the outcome ignored, for callers that go on regardless.
bool GravarValorINI(std::string_view secao, std::string_view chave, std::string_view valor,
                    const std::filesystem::path& arquivo);
void GravarINI(std::string_view secao, std::string_view chave, std::string_view valor,
               const std::filesystem::path& arquivo);
void GravarINI(std::string_view secao, std::string_view chave, long long valor,
               const std::filesystem::path& arquivo);

} // namespace kelvane
