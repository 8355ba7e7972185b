#include "falhas.h"

namespace kelvane::janela {

std::string TextoFalhaFerramenta(const std::string& etapa, const std::string& ferramenta,
                                 const ResultadoProcesso& resultado,
                                 std::string (*significado)(int)) {
    // Numbered and worded as the job reports its own failures.
    return "Erro: " + std::to_string(NumeroFalha(resultado)) + " - " +
           DescricaoFalha(etapa, ferramenta, resultado, significado);
}

std::string TextoFalhaEtapa(const std::string& etapa, const std::string& motivo) {
    return "Erro: 0 - " + etapa + ": " + motivo;
}

} // namespace kelvane::janela
