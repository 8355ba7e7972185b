#pragma once

#include "codigos.h"

#include <functional>

namespace kelvane {

// Opens the configuration window and runs until it closes; returns the process exit status.
using AbrirJanela = std::function<int(int argc, char** argv)>;

// The program's start: names this run's log, makes sure the Log folder exists, then runs the
// job unattended when the arguments are "EXEC" (any case) or opens the window otherwise.
int Main(int argc, char** argv, const AbrirJanela& abrirJanela);

} // namespace kelvane
