// The window as a module that the executable loads only when it opens the window, so that an
// unattended run never maps Qt. The core is the executable's: what its start-up established (the
// program folder, the log's name) is already in place.
#include "window/janela.h"

extern "C" __attribute__((visibility("default"))) int kelvane_abrir_janela(int argc, char** argv) {
    return kelvane::janela::AbrirJanela(argc, argv);
}
