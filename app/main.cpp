// The kelvane executable: wires the job and the window to the process.
#include "../job/main.h"

#include "../plataforma/sistema.h"
#include "janela.h"

int main(int argc, char** argv) {
    const int codigo = kelvane::Main(argc, argv, kelvane::app::AbrirJanela);
    // A driver call given up on (a login that never ends) may still run on its own thread: the
    // process ends here without running the libraries' exit handlers under it.
    kelvane::plataforma::EncerrarProcesso(codigo);
}
