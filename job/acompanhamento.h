// Run-now from root's window on another account's data: the job runs as that account, in a
// process of its own, and reports to the window through its standard output, one line per event
// the window's observer would have been handed in-process.
#pragma once

#include "codigos.h"
#include "observador.h"

#include <string>

namespace kelvane {

// Whether this process is such a job (the window set KELVANE_ACOMPANHAR=1 for it).
bool JobAcompanhado();
// What such a job reports through: each event one line on stdout. A box does not wait.
ObservadorJob ObservadorPelaSaida();

// The window's end: `<program folder>/kelvane EXEC` as the data's owner (plataforma's
// ExecutarComoDonoDosDados), its events handed to `destino` as they come, and its exit status.
// What it prints besides (the program's own lines on stderr) is kept in `outras`. Throws
// std::runtime_error when it cannot be started or its end cannot be known.
CodigoSaida ExecutarJobComoDonoDosDados(const ObservadorJob& destino, std::string& outras);

} // namespace kelvane
