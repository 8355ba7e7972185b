#include "ferramentas.h"

#include "../plataforma/arquivos.h"
#include "../settings/regras.h"

namespace kelvane {

bool FerramentaPresente(const std::filesystem::path& pasta, std::string_view nome) {
    return plataforma::EhArquivoRegular(pasta / nome);
}

std::vector<std::string_view> FerramentasNecessarias(std::string_view endereco) {
    std::vector<std::string_view> nomes = {plataforma::kNome7z, plataforma::kNomeBiblioteca7z};
    const auto lido = LerEnderecoFtp(endereco);
    if (lido && lido->esquema == plataforma::Esquema::Ftp) {
        nomes.push_back(plataforma::kNomeEnviador);
    }
    return nomes;
}

std::vector<std::string> FerramentasFaltando(const std::filesystem::path& pasta,
                                             std::string_view endereco) {
    std::vector<std::string> faltando;
    for (const auto nome : FerramentasNecessarias(endereco)) {
        if (!FerramentaPresente(pasta, nome)) {
            faltando.emplace_back(nome);
        }
    }
    return faltando;
}

std::filesystem::path Programa7z(const std::filesystem::path& pasta) {
    return plataforma::ArquivoDaFerramenta(pasta / plataforma::kNome7z);
}

std::vector<std::string> LinhaCompactador(const std::filesystem::path& pasta,
                                          const std::filesystem::path& arquivo,
                                          const std::filesystem::path& origem, bool comSenha) {
    // -spd: a "*" or "?" in a client's name is part of the file name, not a pattern that
    // would pack other backups along.
    std::vector<std::string> linha = {plataforma::TextoCaminho(Programa7z(pasta)), "a", "-spd"};
    if (comSenha) {
        // -p without a value: asked for on stdin, never on the command line. -sccUTF-8: the
        // same key from the same characters on Linux and Windows (7z.exe would read the
        // console's code page).
        linha.insert(linha.end(), {"-p", "-mhe=on", "-sccUTF-8"});
    }
    linha.push_back(plataforma::TextoCaminho(arquivo));
    linha.push_back(plataforma::TextoCaminho(origem));
    return linha;
}

std::vector<std::string> LinhaTesteArquivo(const std::filesystem::path& pasta,
                                           const std::filesystem::path& arquivo, bool comSenha) {
    std::vector<std::string> linha = {plataforma::TextoCaminho(Programa7z(pasta)), "t", "-spd"};
    if (comSenha) {
        linha.push_back("-sccUTF-8");
    }
    linha.push_back(plataforma::TextoCaminho(arquivo));
    return linha;
}

std::vector<std::string> LinhaExtracao(const std::filesystem::path& pasta,
                                       const std::filesystem::path& arquivo,
                                       const std::filesystem::path& destino, bool comSenha) {
    std::vector<std::string> linha = {plataforma::TextoCaminho(Programa7z(pasta)), "x", "-spd",
                                      "-y", "-o" + plataforma::TextoCaminho(destino)};
    if (comSenha) {
        linha.push_back("-sccUTF-8");
    }
    linha.push_back(plataforma::TextoCaminho(arquivo));
    return linha;
}

} // namespace kelvane
