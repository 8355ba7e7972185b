// The window lives in a module beside the executable, loaded only in window mode: an unattended
// run starts without mapping the toolkit. The module uses this executable's core, which the
// executable exports.
#include "../job/codigos.h"
#include "../job/programa.h"
#include "../plataforma/nomes.h"
#include "../plataforma/sistema.h"
#include "janela.h"

#include <cstdio>
#include <string>

namespace kelvane::app {

int AbrirJanela(int argc, char** argv) {
    const auto modulo = PastaPrograma() / plataforma::kNomeModuloJanela;
    std::string erro;
    void* biblioteca = plataforma::CarregarBiblioteca(modulo, erro);
    using Entrada = int (*)(int, char**);
    Entrada entrada = nullptr;
    if (biblioteca != nullptr) {
        entrada = reinterpret_cast<Entrada>(
            plataforma::ProcurarSimbolo(biblioteca, "kelvane_abrir_janela", erro));
    }
    if (entrada == nullptr) {
        const std::string texto = "a janela de configuração não pôde ser carregada: " + erro;
        std::fprintf(stderr, "Kelvane: %s\n", texto.c_str());
        std::fflush(stderr);
        plataforma::MostrarCaixaSistema(texto);
        return ComoInteiro(CodigoSaida::JanelaIndisponivel);
    }
    return entrada(argc, argv);
}

} // namespace kelvane::app
