// How the window words a failed tool run or test for its message boxes.
#pragma once

#include "job/ferramentas.h"

#include <filesystem>
#include <string>

namespace kelvane::janela {

// "Erro: <number> - <etapa>: <ferramenta> terminou com código N (<meaning>): <last lines>"
std::string TextoFalhaFerramenta(const std::string& etapa, const std::string& ferramenta,
                                 const ResultadoProcesso& resultado,
                                 std::string (*significado)(int));

// "Erro: 0 - <etapa>: <motivo>", for a tool that could not even start.
std::string TextoFalhaEtapa(const std::string& etapa, const std::string& motivo);

// Sends one file with the uploader; empty on success, otherwise the text of the error box, with
// the password masked. `teste`: one connection attempt, and a server silent for 20 s fails,
// so that a connection test answers at once.
std::string EnviarOuFalha(const std::filesystem::path& pasta, const DadosFtp& dados,
                          const std::filesystem::path& arquivo, const std::string& etapa,
                          bool teste = false);

} // namespace kelvane::janela
