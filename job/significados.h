// What a tool's end means: the words for its exit status and how its failure is reported.
#pragma once

#include "execucao.h"

#include <string>

namespace kelvane {

// "<etapa>: <ferramenta> terminou com código N (<meaning or motivo>): <last lines of its output>",
// or "... não terminou em N s e foi interrompido (<motivo>): ..." for one stopped at its limit.
std::string DescricaoFalha(const std::string& etapa, const std::string& ferramenta,
                           const ResultadoProcesso& r, std::string (*significado)(int));
// The number a tool's failure is reported with: its exit status, 128 + the signal, or 0 when it
// was stopped at its limit.
long NumeroFalha(const ResultadoProcesso& r);

// What an exit status means, in the user's words.
std::string SignificadoCompactador(int codigo);
std::string SignificadoEnviador(int codigo);

} // namespace kelvane
