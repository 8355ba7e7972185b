// libFuzzer target over the credential scrambling, alone and on its way through info.ini.
// Beyond not crashing: same number of characters, self-inverse, the 506-character limit, and a
// scrambled credential reads back from the file as the one that was stored.
#include "apoio.h"
#include "settings/cripto.h"
#include "settings/ini.h"

#include <string>

using namespace kelvane;
using namespace kelvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t tamanho) {
    const std::string texto(reinterpret_cast<const char*>(bytes), tamanho);
    const std::size_t caracteres = DecodificarUtf8(texto).size();
    std::string embaralhado;
    try {
        embaralhado = Cripto(texto);
    } catch (const ErroCripto& e) {
        if (caracteres <= kTamanhoMaximoCripto || e.tamanho() != caracteres) {
            Falha("ErroCripto fora do limite");
        }
        return 0;
    }
    if (caracteres > kTamanhoMaximoCripto) {
        Falha("texto acima do limite embaralhado");
    }
    if (DecodificarUtf8(embaralhado).size() != caracteres) {
        Falha("o número de caracteres mudou");
    }
    const std::string normal = Cp1252ParaUtf8(Utf8ParaCp1252(texto));
    if (Cripto(embaralhado) != normal) {
        Falha("Cripto não é o próprio inverso");
    }

    // As the window stores it and the job reads it. A control character can come back as a
    // line break, which one line of the file cannot hold: that case is the window's to refuse.
    const auto arquivo = Rascunho() / "cripto.ini";
    if (!GravarValorINI("infos", "Passw", embaralhado, arquivo)) {
        Falha("gravação falhou");
    }
    const std::string lido = Cripto(LerINI("infos", "Passw", arquivo));
    if (!TemControle(normal) && lido != normal) {
        Falha("credencial embaralhada não volta igual do info.ini");
    }
    return 0;
}
