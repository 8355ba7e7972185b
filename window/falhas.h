// How the window words a failed tool run or test for its message boxes.
#pragma once

#include "job/ferramentas.h"

#include <string>

namespace kelvane::janela {

// "Erro: <number> - <etapa>: <ferramenta> terminou com código N (<meaning>): <last lines>"
std::string TextoFalhaFerramenta(const std::string& etapa, const std::string& ferramenta,
                                 const ResultadoProcesso& resultado,
                                 std::string (*significado)(int));

// "Erro: 0 - <etapa>: <motivo>", for a tool that could not even start.
std::string TextoFalhaEtapa(const std::string& etapa, const std::string& motivo);

} // namespace kelvane::janela
