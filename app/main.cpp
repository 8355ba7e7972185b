// The kelvane executable: wires the job and the window to the process. The window lives in a
// module beside the executable, loaded only in window mode: an unattended run starts without
// mapping the toolkit. The module uses this executable's core, which the executable exports.
#include "../job/main.h"

#include "../job/codigos.h"
#include "../job/programa.h"
#include "../plataforma/nomes.h"
#include "../plataforma/sistema.h"

#include <cstdio>
#include <cstdlib>

namespace {

int AbrirJanela(int argc, char** argv) {
    const auto modulo = kelvane::PastaPrograma() / kelvane::plataforma::kNomeModuloJanela;
    void* biblioteca = kelvane::plataforma::CarregarBiblioteca(modulo);
    using Entrada = int (*)(int, char**);
    Entrada entrada = nullptr;
    if (biblioteca != nullptr) {
        entrada = reinterpret_cast<Entrada>(
            kelvane::plataforma::ProcurarSimbolo(biblioteca, "kelvane_abrir_janela"));
    }
    if (entrada == nullptr) {
        std::fprintf(stderr, "Kelvane: a janela de configuração não pôde ser carregada: %s\n",
                     kelvane::plataforma::ErroBiblioteca());
        return kelvane::ComoInteiro(kelvane::CodigoSaida::JanelaIndisponivel);
    }
    return entrada(argc, argv);
}

} // namespace

int main(int argc, char** argv) {
    const int codigo = kelvane::Main(argc, argv, AbrirJanela);
    // A driver call given up on (a login that never ends) may still run on its own thread: the
    // process ends here without running the libraries' exit handlers under it.
    kelvane::plataforma::EncerrarProcesso(codigo);
}
