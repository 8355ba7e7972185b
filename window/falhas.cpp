#include "falhas.h"

namespace kelvane::janela {

std::string TextoFalhaFerramenta(const std::string& etapa, const std::string& ferramenta,
                                 const ResultadoProcesso& resultado,
                                 std::string (*significado)(int)) {
    // Numbered as the job numbers its failures: a signal counts as 128 + signal.
    const int numero = resultado.sinal ? 128 + resultado.sinal : resultado.codigo;
    std::string texto = "Erro: " + std::to_string(numero) + " - " + etapa + ": " + ferramenta;
    if (resultado.sinal != 0) {
        texto += " interrompido pelo sinal " + std::to_string(resultado.sinal);
    } else {
        texto += " terminou com código " + std::to_string(resultado.codigo) + " (" +
                 significado(resultado.codigo) + ")";
    }
    if (const auto ultimas = resultado.UltimasLinhas(); !ultimas.empty()) {
        texto += ": " + ultimas;
    }
    return texto;
}

std::string TextoFalhaEtapa(const std::string& etapa, const std::string& motivo) {
    return "Erro: 0 - " + etapa + ": " + motivo;
}

} // namespace kelvane::janela
