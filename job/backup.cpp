#include "backup.h"

#include "../settings/cripto.h"
#include "../settings/ini.h"
#include "ferramentas.h"
#include "log.h"
#include "programa.h"

#include <cstdio>
#include <mutex>

namespace kelvane {

namespace {

std::mutex gMutexGanchos;
GanchosJanela gGanchos;

GanchosJanela Ganchos() {
    std::lock_guard trava(gMutexGanchos);
    return gGanchos;
}

void CaixaErro(const std::string& texto) {
    if (auto g = Ganchos(); ModoJanela && g.caixaErro) {
        g.caixaErro(texto);
    }
}

} // namespace

void DefinirGanchosJanela(GanchosJanela ganchos) {
    std::lock_guard trava(gMutexGanchos);
    gGanchos = std::move(ganchos);
}

bool ConsultarNCripto() {
    if (auto g = Ganchos(); ModoJanela && g.ncripto) {
        return g.ncripto();
    }
    return NCriptoEmVigor(LerINI(kSecaoInfos, "NCripto", ArquivoIni()));
}

CodigoSaida ExecutarBackup() {
    try {
        GravarLog("Inicio do Processo");
        if (const auto faltando = FerramentaFaltando(PastaPrograma())) {
            GravarLog(TextoFaltandoArquivo(*faltando));
            CaixaErro(TextoCaixaFerramentaFaltando(*faltando));
            return CodigoSaida::FerramentaFaltando;
        }
        return CodigoSaida::ErroOutro;
    } catch (const ErroLog& e) {
        std::fprintf(stderr, "Kelvane: %s\n", e.what());
        CaixaErro(std::string("Erro: ") + e.what());
        return CodigoSaida::ErroOutro;
    }
}

} // namespace kelvane
