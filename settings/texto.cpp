#include "texto.h"

#include "../plataforma/sistema.h"
#include "codificacao.h"

namespace kelvane {

namespace {

// 0 keeps the character, 1 removes it, anything else replaces it.
char32_t Substituto(char32_t c) {
    switch (c) {
    case U'Á':
    case U'À':
    case U'Â':
    case U'Ä':
    case U'Ã':
        return U'A';
    case U'É':
    case U'È':
    case U'Ê':
    case U'Ë':
        return U'E';
    case U'Í':
    case U'Ì':
    case U'Î':
    case U'Ï':
        return U'I';
    case U'Ó':
    case U'Ò':
    case U'Ô':
    case U'Ö':
    case U'Õ':
        return U'O';
    case U'Ú':
    case U'Ù':
    case U'Û':
    case U'Ü':
        return U'U';
    case U'Ç':
        return U'C';
    case U'Ñ':
        return U'N';
    case U'á':
    case U'à':
    case U'â':
    case U'ä':
    case U'ã':
    case U'ª':
        return U'a';
    case U'é':
    case U'è':
    case U'ê':
    case U'ë':
        return U'e';
    case U'í':
    case U'ì':
    case U'î':
    case U'ï':
        return U'i';
    case U'ó':
    case U'ò':
    case U'ô':
    case U'ö':
    case U'õ':
    case U'º':
        return U'o';
    case U'ú':
    case U'ù':
    case U'û':
    case U'ü':
        return U'u';
    case U'ç':
        return U'c';
    case U'ñ':
        return U'n';
    case U'\'':
    case U'-':
    case U'@':
    case U'#':
    case U'%':
    case U'&':
    case U'*':
    case U'(':
    case U')':
    case U'!':
    case U';':
    case U':':
    case U'\\':
    case U'[':
    case U']':
    case U'{':
    case U'}':
    case U'.':
    case U'|':
    case U'=':
    case U'/':
    case U'+':
        return 1;
    default:
        return 0;
    }
}

} // namespace

std::string RemoverAcentos(std::string_view texto) {
    std::string resultado;
    resultado.reserve(texto.size());
    for (char32_t c : DecodificarUtf8(texto)) {
        const char32_t s = Substituto(c);
        if (s == 0) {
            AcrescentarUtf8(resultado, c);
        } else if (s != 1) {
            AcrescentarUtf8(resultado, s);
        }
    }
    return resultado;
}

std::string NomeComputador() {
    std::string nome = plataforma::NomeMaquina();
    nome = nome.substr(0, nome.find('.'));
    const auto inicio = nome.find_first_not_of(' ');
    if (inicio == std::string::npos) {
        return {};
    }
    const auto fim = nome.find_last_not_of(' ');
    return nome.substr(inicio, fim - inicio + 1);
}

int PercentualProcessado(std::string_view mensagem) {
    const auto pos = mensagem.find(" percent processed.");
    if (pos == std::string_view::npos || pos == 0) {
        return -1;
    }
    std::size_t inicio = pos;
    while (inicio > 0 && mensagem[inicio - 1] >= '0' && mensagem[inicio - 1] <= '9') {
        --inicio;
    }
    if (inicio == pos || pos - inicio > 3) {
        return -1;
    }
    return std::stoi(std::string(mensagem.substr(inicio, pos - inicio)));
}

std::string OcultarSegredos(std::string texto, const std::vector<std::string>& segredos) {
    for (const auto& segredo : segredos) {
        if (segredo.size() < 3) {
            continue; // too short to tell from ordinary text
        }
        for (auto pos = texto.find(segredo); pos != std::string::npos;
             pos = texto.find(segredo, pos + 3)) {
            texto.replace(pos, segredo.size(), "***");
        }
    }
    return texto;
}

std::string_view Aparar(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

} // namespace kelvane
