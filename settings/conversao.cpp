#include "conversao.h"

#include <cmath>
#include <cstdio>

namespace kelvane {

namespace {

bool EhBranco(char c) {
    return c == ' ' || c == '\t';
}
bool EhDigito(char c) {
    return c >= '0' && c <= '9';
}

// Parses [sign] digits [. digits] [E [sign] digits] from `i`; returns the number of characters
// used (0 when there is no number).
std::size_t LerNumero(std::string_view s, double& valor) {
    std::size_t i = 0;
    std::string texto;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        texto += s[i++];
    }
    std::size_t digitos = 0;
    while (i < s.size() && EhDigito(s[i])) {
        texto += s[i++];
        ++digitos;
    }
    if (i < s.size() && s[i] == '.') {
        texto += s[i++];
        while (i < s.size() && EhDigito(s[i])) {
            texto += s[i++];
            ++digitos;
        }
    }
    if (digitos == 0) {
        return 0;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        std::string expoente = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            expoente += s[j++];
        }
        std::size_t digitosExp = 0;
        while (j < s.size() && EhDigito(s[j])) {
            expoente += s[j++];
            ++digitosExp;
        }
        if (digitosExp > 0) {
            texto += expoente;
            i = j;
        }
    }
    valor = std::strtod(texto.c_str(), nullptr);
    return i;
}

} // namespace

long long ArredondarPar(double valor) {
    const double inteiro = std::floor(valor);
    const double resto = valor - inteiro;
    double r = inteiro;
    if (resto > 0.5 || (resto == 0.5 && std::fmod(inteiro, 2.0) != 0.0)) {
        r = inteiro + 1.0;
    }
    return static_cast<long long>(r);
}

std::optional<long long> ConversaoInteira(std::string_view texto) {
    while (!texto.empty() && EhBranco(texto.front())) {
        texto.remove_prefix(1);
    }
    while (!texto.empty() && EhBranco(texto.back())) {
        texto.remove_suffix(1);
    }
    double valor = 0;
    const std::size_t usados = LerNumero(texto, valor);
    if (usados == 0 || usados != texto.size() || !std::isfinite(valor) ||
        std::fabs(valor) > 2147483647.0) {
        return std::nullopt;
    }
    return ArredondarPar(valor);
}

double ValorNumerico(std::string_view texto) {
    while (!texto.empty() && (EhBranco(texto.front()) || texto.front() == '\n')) {
        texto.remove_prefix(1);
    }
    double valor = 0;
    if (LerNumero(texto, valor) == 0 || !std::isfinite(valor)) {
        return 0;
    }
    return valor;
}

std::string TextoDataHora(const std::tm& m) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", m.tm_mday, m.tm_mon + 1,
                  m.tm_year + 1900, m.tm_hour, m.tm_min, m.tm_sec);
    return buf;
}

std::string TextoDataGeral(const std::tm& m) {
    if (m.tm_hour == 0 && m.tm_min == 0 && m.tm_sec == 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", m.tm_mday, m.tm_mon + 1, m.tm_year + 1900);
        return buf;
    }
    return TextoDataHora(m);
}

} // namespace kelvane
