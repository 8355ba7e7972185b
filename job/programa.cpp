#include "programa.h"

#include "../settings/ini.h"

#include <stdexcept>
#include <utility>

namespace kelvane {

namespace {

std::filesystem::path gPasta;

} // namespace

std::filesystem::path LocalizarPastaPrograma() {
    std::error_code erro;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", erro);
    if (erro) {
        // Guessing (the working folder) would read another info.ini and run other tools.
        throw std::runtime_error(
            "não foi possível localizar a pasta do programa: /proc/self/exe: " + erro.message() +
            " (o sistema de arquivos /proc está montado?)");
    }
    return exe.parent_path();
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
    const std::time_t agora = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&agora, &local);
    return local;
}

} // namespace kelvane
