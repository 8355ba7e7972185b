// The window linked into the executable. A MinGW executable exports nothing a module could bind
// to, and Qt is linked statically, so the window comes with the program; its pages are only
// touched when the window opens.
#include "../window/janela.h"
#include "janela.h"

namespace kelvane::app {

int AbrirJanela(int argc, char** argv) {
    return kelvane::janela::AbrirJanela(argc, argv);
}

} // namespace kelvane::app
