// The kelvane executable: wires the job and the window to the process.
#include "../job/main.h"

#include "../window/janela.h"

int main(int argc, char** argv) {
    return kelvane::Main(argc, argv, kelvane::janela::AbrirJanela);
}
