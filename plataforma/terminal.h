// What the user types in answer to a question: a password set by hand.
#pragma once

#include <optional>
#include <string>

namespace kelvane::plataforma {

// Writes `pergunta` to stderr and reads one line from stdin, without its line end. On a terminal
// (a console on Windows) what is typed is not echoed; from a pipe or a file the line is read as
// it comes, in UTF-8. nullopt when the input ends before a line.
std::optional<std::string> LerSemEco(const std::string& pergunta);

// Whether stdout is a terminal (a console on Windows): where a progress line may be redrawn.
bool SaidaEmTerminal();

} // namespace kelvane::plataforma
