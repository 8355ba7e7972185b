#include "codificacao.h"

#include <array>

namespace kelvane {

namespace {

// 0x80..0x9F; zero marks the codes 1252 leaves undefined.
constexpr std::array<char32_t, 32> kFaixa80 = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

std::vector<char32_t> DecodificarUtf8(std::string_view texto) {
    std::vector<char32_t> pontos;
    pontos.reserve(texto.size());
    std::size_t i = 0;
    while (i < texto.size()) {
        const auto b0 = static_cast<unsigned char>(texto[i]);
        int extras = 0;
        char32_t ponto = 0;
        char32_t minimo = 0;
        if (b0 < 0x80) {
            pontos.push_back(b0);
            ++i;
            continue;
        } else if ((b0 & 0xE0) == 0xC0) {
            extras = 1, ponto = b0 & 0x1F, minimo = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            extras = 2, ponto = b0 & 0x0F, minimo = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            extras = 3, ponto = b0 & 0x07, minimo = 0x10000;
        } else {
            pontos.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool valido = i + static_cast<std::size_t>(extras) < texto.size();
        for (int k = 1; valido && k <= extras; ++k) {
            const auto b = static_cast<unsigned char>(texto[i + static_cast<std::size_t>(k)]);
            if ((b & 0xC0) != 0x80) {
                valido = false;
            } else {
                ponto = (ponto << 6) | (b & 0x3F);
            }
        }
        if (!valido || ponto < minimo || ponto > 0x10FFFF || (ponto >= 0xD800 && ponto <= 0xDFFF)) {
            pontos.push_back(0xFFFD);
            ++i;
            continue;
        }
        pontos.push_back(ponto);
        i += static_cast<std::size_t>(extras) + 1;
    }
    return pontos;
}

void AcrescentarUtf8(std::string& destino, char32_t ponto) {
    if (ponto < 0x80) {
        destino += static_cast<char>(ponto);
    } else if (ponto < 0x800) {
        destino += static_cast<char>(0xC0 | (ponto >> 6));
        destino += static_cast<char>(0x80 | (ponto & 0x3F));
    } else if (ponto < 0x10000) {
        destino += static_cast<char>(0xE0 | (ponto >> 12));
        destino += static_cast<char>(0x80 | ((ponto >> 6) & 0x3F));
        destino += static_cast<char>(0x80 | (ponto & 0x3F));
    } else {
        destino += static_cast<char>(0xF0 | (ponto >> 18));
        destino += static_cast<char>(0x80 | ((ponto >> 12) & 0x3F));
        destino += static_cast<char>(0x80 | ((ponto >> 6) & 0x3F));
        destino += static_cast<char>(0x80 | (ponto & 0x3F));
    }
}

std::string CodificarUtf8(const std::vector<char32_t>& pontos) {
    std::string texto;
    texto.reserve(pontos.size());
    for (char32_t p : pontos) {
        AcrescentarUtf8(texto, p);
    }
    return texto;
}

std::uint8_t CodigoCp1252(char32_t ponto) {
    if (ponto < 0x80 || (ponto >= 0xA0 && ponto <= 0xFF)) {
        return static_cast<std::uint8_t>(ponto);
    }
    for (std::size_t i = 0; i < kFaixa80.size(); ++i) {
        const char32_t definido = kFaixa80[i];
        if (definido == ponto || (definido == 0 && ponto == 0x80 + i)) {
            return static_cast<std::uint8_t>(0x80 + i);
        }
    }
    return '?';
}

char32_t PontoCp1252(std::uint8_t codigo) {
    if (codigo >= 0x80 && codigo <= 0x9F) {
        const char32_t definido = kFaixa80[codigo - 0x80u];
        return definido != 0 ? definido : codigo;
    }
    return codigo;
}

std::string Utf8ParaCp1252(std::string_view texto) {
    std::string bytes;
    bytes.reserve(texto.size());
    for (char32_t p : DecodificarUtf8(texto)) {
        bytes += static_cast<char>(CodigoCp1252(p));
    }
    return bytes;
}

std::string Cp1252ParaUtf8(std::string_view bytes) {
    std::string texto;
    texto.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes) {
        AcrescentarUtf8(texto, PontoCp1252(static_cast<std::uint8_t>(c)));
    }
    return texto;
}

} // namespace kelvane
