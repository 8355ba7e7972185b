#include "programa.h"

#include <stdexcept>
#include <utility>

namespace kelvane {

namespace {

std::filesystem::path gPasta;
std::function<std::time_t()> gRelogio;

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

std::tm AgoraLocal() {
    const std::time_t agora = gRelogio ? gRelogio() : std::time(nullptr);
    std::tm local{};
    ::localtime_r(&agora, &local);
    return local;
}

void DefinirRelogio(std::function<std::time_t()> relogio) {
    gRelogio = std::move(relogio);
}

} // namespace kelvane
