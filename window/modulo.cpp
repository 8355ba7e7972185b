// The window as a module that the executable loads only when it opens the window, so that an
// unattended run never maps Qt. The module carries its own copy of the core: the executable
// hands over the two facts its start-up established.
#include "job/log.h"
#include "job/programa.h"
#include "window/janela.h"

extern "C" __attribute__((visibility("default"))) int
kelvane_abrir_janela(int argc, char** argv, const char* pastaPrograma, const char* arquivoLog) {
    kelvane::DefinirPastaPrograma(pastaPrograma);
    kelvane::ArquivoLog = arquivoLog;
    return kelvane::janela::AbrirJanela(argc, argv);
}
