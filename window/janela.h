// Window mode of the program: Main hands over to this when started without "EXEC".
#pragma once

namespace kelvane::janela {

// Opens Form1 and runs until it closes; returns the process exit status. Where no display can
// be opened it says so on stderr and returns CodigoSaida::JanelaIndisponivel, instead of
// letting the toolkit abort.
int AbrirJanela(int argc, char** argv);

// Whether a window could be shown in this environment.
bool TelaDisponivel();

} // namespace kelvane::janela
