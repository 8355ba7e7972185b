#include "resumo.h"

#include <algorithm>
#include <cstdint>

namespace kelvane {

namespace {

constexpr std::uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::string_view kAlfabeto =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::uint32_t Girar(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void Bloco(std::uint32_t h[8], const unsigned char* b) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = std::uint32_t{b[4 * i]} << 24 | std::uint32_t{b[4 * i + 1]} << 16 |
               std::uint32_t{b[4 * i + 2]} << 8 | std::uint32_t{b[4 * i + 3]};
    }
    for (int i = 16; i < 64; ++i) {
        const auto s0 = Girar(w[i - 15], 7) ^ Girar(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const auto s1 = Girar(w[i - 2], 17) ^ Girar(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t v[8];
    for (int i = 0; i < 8; ++i) {
        v[i] = h[i];
    }
    for (int i = 0; i < 64; ++i) {
        const auto s1 = Girar(v[4], 6) ^ Girar(v[4], 11) ^ Girar(v[4], 25);
        const auto t1 = v[7] + s1 + ((v[4] & v[5]) ^ (~v[4] & v[6])) + kK[i] + w[i];
        const auto s0 = Girar(v[0], 2) ^ Girar(v[0], 13) ^ Girar(v[0], 22);
        const auto t2 = s0 + ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
        for (int j = 7; j > 0; --j) {
            v[j] = v[j - 1];
        }
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i) {
        h[i] += v[i];
    }
}

} // namespace

std::array<unsigned char, 32> Sha256(std::string_view dados) {
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::string resto(dados.substr(dados.size() / 64 * 64));
    for (size_t i = 0; i + 64 <= dados.size(); i += 64) {
        Bloco(h, reinterpret_cast<const unsigned char*>(dados.data() + i));
    }
    resto += '\x80';
    resto.append((resto.size() <= 56 ? 56 : 120) - resto.size(), '\0');
    const std::uint64_t bits = static_cast<std::uint64_t>(dados.size()) * 8;
    for (int i = 7; i >= 0; --i) {
        resto += static_cast<char>(bits >> (8 * i));
    }
    for (size_t i = 0; i < resto.size(); i += 64) {
        Bloco(h, reinterpret_cast<const unsigned char*>(resto.data() + i));
    }
    std::array<unsigned char, 32> r{};
    for (int i = 0; i < 32; ++i) {
        r[i] = static_cast<unsigned char>(h[i / 4] >> (24 - 8 * (i % 4)));
    }
    return r;
}

std::string Base64(std::string_view dados, bool preencher) {
    std::string r;
    for (size_t i = 0; i < dados.size(); i += 3) {
        std::uint32_t n = std::uint32_t{static_cast<unsigned char>(dados[i])} << 16;
        if (i + 1 < dados.size()) {
            n |= std::uint32_t{static_cast<unsigned char>(dados[i + 1])} << 8;
        }
        if (i + 2 < dados.size()) {
            n |= static_cast<unsigned char>(dados[i + 2]);
        }
        const size_t letras = std::min<size_t>(4, (dados.size() - i) * 4 / 3 + 1);
        for (size_t j = 0; j < 4; ++j) {
            if (j < letras) {
                r += kAlfabeto[(n >> (18 - 6 * j)) & 63];
            } else if (preencher) {
                r += '=';
            }
        }
    }
    return r;
}

std::optional<std::string> DeBase64(std::string_view texto) {
    std::string r;
    std::uint32_t n = 0;
    int bits = 0;
    bool fim = false;
    for (const char c : texto) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') {
            continue;
        }
        if (c == '=') {
            fim = true;
            continue;
        }
        const auto v = kAlfabeto.find(c);
        if (v == std::string_view::npos || fim) {
            return std::nullopt;
        }
        n = (n << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            r += static_cast<char>((n >> bits) & 0xff);
        }
    }
    return r;
}

std::string HexadecimalComDoisPontos(const std::array<unsigned char, 32>& bytes) {
    static constexpr char kDigitos[] = "0123456789ABCDEF";
    std::string r;
    for (const unsigned char b : bytes) {
        if (!r.empty()) {
            r += ':';
        }
        r += kDigitos[b >> 4];
        r += kDigitos[b & 15];
    }
    return r;
}

} // namespace kelvane
