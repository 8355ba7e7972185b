#include "politica_permissoes.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "../plataforma/permissoes.h"
#include "../plataforma/sistema.h"
#include "../settings/configuracao.h"
#include "ferramentas.h"
#include "programa.h"

#include <utility>
#include <vector>

namespace kelvane {

std::optional<std::string> CaminhoInseguro(const std::filesystem::path& caminho) {
    return plataforma::ProblemaPermissao(std::filesystem::absolute(caminho),
                                         plataforma::Regra::Carregado, {});
}

std::optional<std::string> CertificadoInseguro(const std::filesystem::path& arquivo) {
    if (arquivo.empty()) {
        return std::nullopt;
    }
    return CaminhoInseguro(arquivo);
}

std::optional<std::string> ArquivoPastaDadosInseguro(const std::filesystem::path& pasta) {
    const auto programa = std::filesystem::absolute(pasta).lexically_normal();
    std::error_code erro;
    if (!std::filesystem::exists(
            std::filesystem::symlink_status(programa / kArquivoPastaDados, erro))) {
        return std::nullopt; // a portable copy: the whole check follows
    }
    return plataforma::ProblemaPermissao(programa / kArquivoPastaDados,
                                         plataforma::Regra::Carregado,
                                         {programa, programa, false, {}});
}

std::optional<std::string> PermissaoInsegura(const std::filesystem::path& pasta,
                                             const std::filesystem::path& dados, bool janela,
                                             LeituraConfiguracao* leitura,
                                             std::optional<bool> ncripto) {
    using plataforma::Regra;
    plataforma::ContextoPermissao ctx{std::filesystem::absolute(pasta).lexically_normal(),
                                      std::filesystem::absolute(dados).lexically_normal(),
                                      janela,
                                      {}};
    const bool separados = ctx.pasta != ctx.dados;
    // The data first: whoever runs us as another account than its owner hears that before
    // anything else.
    for (const auto& d : {ctx.dados, ctx.dados / "Log", ctx.dados / "info.ini"}) {
        if (auto problema = plataforma::ProblemaPermissao(d, Regra::Dados, ctx)) {
            return problema;
        }
    }
    // Read once, now that the file passed: the check and the run use what was read here.
    if (leitura || !plataforma::kSubpastaBackups.empty()) {
        auto lida = LerConfiguracao(ctx.dados / "info.ini", ncripto);
        ctx.servicoBanco = ContaServicoBanco(lida.valores.servidorDB);
        if (leitura) {
            *leitura = std::move(lida);
        }
    }
    if (!plataforma::kSubpastaBackups.empty()) {
        // Only an info.ini that passed may name the service trusted with the backups.
        if (auto problema = plataforma::ProblemaPermissao(
                ctx.dados / plataforma::Caminho(plataforma::kSubpastaBackups), Regra::Backup,
                ctx)) {
            return problema;
        }
    }
    std::vector<std::pair<std::filesystem::path, Regra>> caminhos;
    // The program apart from its data is the system's alone: whoever could swap it would have
    // root (or SYSTEM) run their code. A portable copy is its owner's, as its data.
    const Regra programa = separados ? Regra::Sistema : Regra::Carregado;
    caminhos.emplace_back(ctx.pasta, programa);
    // Every folder in it too: Qt, for one, loads plugins from platforms/ and styles/ there.
    std::error_code erroPasta;
    for (const auto& e : plataforma::EntradasDaPasta(ctx.pasta, erroPasta)) {
        if (std::filesystem::is_directory(e, erroPasta) &&
            !(!separados && e.filename() == plataforma::Caminho(plataforma::kSubpastaBackups))) {
            caminhos.emplace_back(e, programa);
        }
    }
    for (const auto nome :
         {plataforma::kNomeExecutavel, plataforma::kNomeExecutavelJob,
          plataforma::kNomeModuloJanela, plataforma::kNome7z, plataforma::kNomeBiblioteca7z,
          plataforma::kNomeEnviador, std::string_view(kArquivoPastaDados)}) {
        caminhos.emplace_back(ctx.pasta / nome, programa);
    }
    for (const char* sub : {"Codecs", "Formats"}) {
        const auto pastaCodecs = Programa7z(ctx.pasta).parent_path() / sub;
        caminhos.emplace_back(pastaCodecs, programa);
        std::error_code erro;
        for (const auto& e : plataforma::EntradasDaPasta(pastaCodecs, erro)) {
            caminhos.emplace_back(e, programa); // every file there is loaded
        }
    }
    // From the account's home: what the uploader and the driver manager read from there.
    if (const auto casa = plataforma::PastaPessoal(); !casa.empty()) {
        for (const auto nome : plataforma::kConfiguracoesDaConta) {
            caminhos.emplace_back(casa / nome, Regra::Carregado);
        }
    }
    for (const auto& [c, regra] : caminhos) {
        if (auto problema = plataforma::ProblemaPermissao(c, regra, ctx)) {
            return problema;
        }
    }
    return std::nullopt;
}

} // namespace kelvane
