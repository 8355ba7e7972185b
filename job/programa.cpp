#include "programa.h"

#include "../plataforma/sistema.h"
#include "../settings/ini.h"

#include <utility>

namespace kelvane {

namespace {

std::filesystem::path gPasta;

} // namespace

std::filesystem::path LocalizarPastaPrograma() {
    return plataforma::PastaDoExecutavel();
}

const std::filesystem::path& PastaPrograma() {
    return gPasta;
}

void DefinirPastaPrograma(std::filesystem::path pasta) {
    gPasta = std::move(pasta);
}

std::filesystem::path ArquivoIni() {
    return gPasta / "info.ini";
}

std::string LerInfo(const char* chave) {
    return LerINI(kSecaoInfos, chave, ArquivoIni());
}

std::tm AgoraLocal() {
    return plataforma::HoraLocal(std::time(nullptr));
}

} // namespace kelvane
