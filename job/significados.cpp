#include "significados.h"

namespace kelvane {

std::string DescricaoFalha(const std::string& etapa, const std::string& ferramenta,
                           const ResultadoProcesso& r, std::string (*significado)(int)) {
    std::string texto = etapa + ": " + ferramenta;
    if (r.parado.count() > 0) {
        texto += " não terminou em " + std::to_string(r.parado.count()) + " s e foi interrompido";
        if (!r.motivo.empty()) {
            texto += " (" + r.motivo + ")";
        }
    } else if (r.sinal != 0) {
        texto += " interrompido pelo sinal " + std::to_string(r.sinal);
    } else {
        texto += " terminou com código " + std::to_string(r.codigo) + " (" +
                 (r.motivo.empty() ? significado(r.codigo) : r.motivo) + ")";
    }
    if (const auto ultimas = r.UltimasLinhas(); !ultimas.empty()) {
        texto += ": " + ultimas;
    }
    return texto;
}

long NumeroFalha(const ResultadoProcesso& r) {
    if (r.parado.count() > 0) {
        return 0; // its status is ours, not the tool's
    }
    return r.sinal ? 128 + r.sinal : r.codigo;
}

std::string SignificadoCompactador(int codigo) {
    switch (codigo) {
    case 0:
        return "sucesso";
    case 1:
        return "aviso: arquivos que não puderam ser lidos";
    case 2:
        return "erro fatal";
    case 7:
        return "erro na linha de comando";
    case 8:
        return "memória insuficiente";
    case 255:
        return "processo interrompido";
    default:
        return "código desconhecido";
    }
}

std::string SignificadoEnviador(int codigo) {
    switch (codigo) {
    case 0:
        return "sucesso";
    case 1:
        return "não foi possível conectar ou entrar no servidor";
    case 2:
        return "não foi possível conectar ao servidor (tempo esgotado)";
    case 3:
        return "falha na transferência";
    case 4:
        return "falha na transferência (tempo esgotado)";
    case 5:
        return "falha ao mudar para o diretório remoto";
    case 6:
        return "falha ao mudar para o diretório remoto (tempo esgotado)";
    case 7:
        return "URL malformada";
    case 8:
        return "erro de uso da linha de comando";
    case 9:
        return "erro no arquivo de login";
    case 10:
        return "falha ao iniciar a biblioteca de FTP";
    case 11:
        return "falha ao iniciar a sessão FTP";
    default:
        return "código desconhecido";
    }
}

} // namespace kelvane
