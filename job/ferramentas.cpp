#include "ferramentas.h"

#include "../plataforma/arquivos.h"

namespace kelvane {

bool FerramentaPresente(const std::filesystem::path& pasta, std::string_view nome) {
    return plataforma::EhArquivoRegular(pasta / nome);
}

std::optional<std::string> FerramentaFaltando(const std::filesystem::path& pasta) {
    for (auto nome : kFerramentas) {
        if (!FerramentaPresente(pasta, nome)) {
            return std::string(nome);
        }
    }
    return std::nullopt;
}

std::filesystem::path Programa7z(const std::filesystem::path& pasta) {
    return plataforma::ArquivoDaFerramenta(pasta / plataforma::kNome7z);
}

std::vector<std::string> LinhaCompactador(const std::filesystem::path& pasta,
                                          const std::filesystem::path& arquivo,
                                          const std::filesystem::path& origem) {
    // -spd: a "*" or "?" in a client's name is part of the file name, not a pattern that
    // would pack other backups along.
    return {plataforma::TextoCaminho(Programa7z(pasta)), "a", "-spd",
            plataforma::TextoCaminho(arquivo), plataforma::TextoCaminho(origem)};
}

std::vector<std::string> LinhaTesteArquivo(const std::filesystem::path& pasta,
                                           const std::filesystem::path& arquivo) {
    return {plataforma::TextoCaminho(Programa7z(pasta)), "t", "-spd",
            plataforma::TextoCaminho(arquivo)};
}

} // namespace kelvane
