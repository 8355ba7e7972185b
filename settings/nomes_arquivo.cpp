#include "nomes_arquivo.h"

#include "../plataforma/nomes.h"
#include "../plataforma/sistema.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace kelvane {

namespace {

bool Digitos(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Numero(std::string_view s) {
    int n = 0;
    std::from_chars(s.data(), s.data() + s.size(), n);
    return n;
}

} // namespace

std::optional<DataNome> DataDoNome(std::string_view nome, std::string_view sufixo, int anoHoje) {
    if (nome.size() < 6 + sufixo.size() || !nome.ends_with(sufixo)) {
        return std::nullopt;
    }
    const auto ddmmyy = nome.substr(nome.size() - sufixo.size() - 6, 6);
    if (!Digitos(ddmmyy)) {
        return std::nullopt;
    }
    const int dia = Numero(ddmmyy.substr(0, 2));
    const int mes = Numero(ddmmyy.substr(2, 2));
    int ano = anoHoje - anoHoje % 100 + Numero(ddmmyy.substr(4, 2));
    if (ano - anoHoje > 50) {
        ano -= 100;
    } else if (anoHoje - ano > 50) {
        ano += 100;
    }
    std::tm t{};
    t.tm_year = ano - 1900;
    t.tm_mon = mes - 1;
    t.tm_mday = dia;
    t.tm_hour = 12;
    std::tm normalizado = t;
    plataforma::NormalizarUtc(normalizado);
    if (mes < 1 || mes > 12 || normalizado.tm_mday != dia || normalizado.tm_mon != mes - 1) {
        return std::nullopt;
    }
    return DataNome{ano, mes, dia};
}

std::string Substituir(std::string texto, std::string_view de, std::string_view para) {
    for (auto pos = texto.find(de); pos != std::string::npos;
         pos = texto.find(de, pos + para.size())) {
        texto.replace(pos, de.size(), para);
    }
    return texto;
}

std::string NomeArquivoBackup(const std::string& codigo, const std::string& nome,
                              const std::tm& data) {
    std::string c;
    for (char ch : codigo) {
        if (ch != ' ') {
            c += ch;
        }
    }
    std::string n = Substituir(nome, " ", "_");
    // A separator or NUL would put the file outside the program folder or cut its name; on
    // Windows ":" would hide it in a stream of another file, and "*?<>|" make the server refuse it.
    for (std::string* s : {&c, &n}) {
        for (char& ch : *s) {
            const bool controle =
                plataforma::kControlesProibidosEmNomes && static_cast<unsigned char>(ch) < 0x20;
            if (ch == '/' || ch == '\0' || controle ||
                plataforma::kProibidosEmNomes.find(ch) != std::string_view::npos) {
                ch = '_';
            }
        }
    }
    char dia[40];
    std::snprintf(dia, sizeof dia, "%02d%02d%02d", data.tm_mday, data.tm_mon + 1,
                  (data.tm_year + 1900) % 100);
    return "KVLN_" + c + "_" + n + "_" + dia + ".BAK";
}

std::string NomeArquivoCompactado(const std::string& nomeBackup) {
    return Substituir(nomeBackup, ".BAK", ".7z");
}

std::tm DiaDe(const DataNome& data) {
    std::tm dia{};
    dia.tm_year = std::get<0>(data) - 1900;
    dia.tm_mon = std::get<1>(data) - 1;
    dia.tm_mday = std::get<2>(data);
    return dia;
}

} // namespace kelvane
