// The digests and encodings by which a server's certificate or host key is told and pinned:
// SHA-256 (FIPS 180-4) and base64 (RFC 4648), without any library.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

std::array<unsigned char, 32> Sha256(std::string_view dados);

// Base64 of `dados`, with its "=" padding or (as OpenSSH shows a fingerprint) without.
std::string Base64(std::string_view dados, bool preencher = true);
// The bytes of a base64 text (line breaks and blanks skipped); nullopt when it is not one.
std::optional<std::string> DeBase64(std::string_view texto);

// "AB:CD:..." as certificates' fingerprints are shown.
std::string HexadecimalComDoisPontos(const std::array<unsigned char, 32>& bytes);

} // namespace kelvane
