// Started without "EXEC" where no window can be shown, the program says so instead of letting
// the toolkit abort.
#include "job/codigos.h"
#include "support/pasta_programa.h"

#include <gtest/gtest.h>

using namespace kelvane;

namespace {

TEST(JanelaSemTela, UmaLinhaClaraESaida8) {
    // No display at all, and one named but not answering (nothing listens on :4242).
    for (const std::string display : {"", ":4242", "unix:4242.0"}) {
        SCOPED_TRACE(display);
        teste::PastaPrograma pasta(false);
        const auto r = pasta.ExecutarSemTela({}, display);
        EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::JanelaIndisponivel));
        EXPECT_EQ(r.saida, "Kelvane: não há tela disponível para abrir a janela de configuração; "
                           "use o argumento EXEC para executar o backup.\n");
    }
}

} // namespace
