#include "retencao.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "../settings/nomes_arquivo.h"
#include "textos.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <tuple>

namespace kelvane {

Retencao ArquivosAntigos(const std::vector<std::string>& nomes, const std::string& codigo,
                         const std::string& nome, const std::string& atual,
                         unsigned long long manter, const std::tm& hoje) {
    const DataNome dataHoje{hoje.tm_year + 1900, hoje.tm_mon + 1, hoje.tm_mday};
    Retencao r;
    std::vector<std::pair<DataNome, std::string>> arquivos, baks;
    for (const auto& n : nomes) {
        for (const bool bak : {false, true}) {
            const auto data = DataDoNome(n, bak ? ".BAK" : ".7z", std::get<0>(dataHoje));
            if (!data) {
                continue;
            }
            const std::tm dia = DiaDe(*data);
            // Ours only if this folder's naming gives exactly this name for that day.
            const std::string nomeBackup = NomeArquivoBackup(codigo, nome, dia);
            if (n != (bak ? nomeBackup : NomeArquivoCompactado(nomeBackup)) || n == atual) {
                continue;
            }
            if (*data > dataHoje) {
                r.futuros.push_back(n);
            } else if (!bak) {
                arquivos.emplace_back(*data, n);
            } else if (*data < dataHoje) { // today's may be a backup still being written
                baks.emplace_back(*data, n);
            }
        }
    }
    std::sort(arquivos.begin(), arquivos.end());
    std::sort(baks.begin(), baks.end());
    // The archive just made is the newest; it fills one of the places kept.
    const auto ficam = std::min<unsigned long long>(manter - 1, arquivos.size());
    for (std::size_t i = 0; i < arquivos.size() - ficam; ++i) {
        r.antigos.push_back(arquivos[i].second);
    }
    for (const auto& [data, n] : baks) {
        r.baks.push_back(n);
    }
    return r;
}

void LimparArquivosAntigos(const std::filesystem::path& pasta, const std::filesystem::path& backups,
                           unsigned long long manter, const std::string& codigo,
                           const std::string& nome, const std::string& atual,
                           const std::string& servico, const std::tm& hoje,
                           const std::function<void(const std::string&)>& registrar) {
    std::error_code erro;
    // Regular files this account made, never through a link: another account's file, or one
    // copied in by hand, is not ours to delete nor to count.
    auto nomes = plataforma::ArquivosProprios(pasta, erro);
    auto pastaErro = pasta;
    if (!erro && backups != pasta) { // the archives here, the backups there
        const auto eBak = [](const std::string& n) {
            return n.size() >= 4 && n.compare(n.size() - 4, 4, ".BAK") == 0;
        };
        std::erase_if(nomes, eBak);
        // SQL Server's service owns the .BAK it wrote.
        for (auto& n : plataforma::ArquivosProprios(backups, erro, servico)) {
            if (eBak(n)) {
                nomes.push_back(std::move(n));
            }
        }
        pastaErro = backups;
    }
    if (erro) {
        registrar("Não foi possível listar " + plataforma::TextoCaminho(pastaErro) + ": " +
                  erro.message() + "; nenhum arquivo antigo foi excluído.");
        return;
    }
    const auto r = ArquivosAntigos(nomes, codigo, nome, atual, manter, hoje);
    if (!r.futuros.empty()) {
        std::string lista;
        for (const auto& f : r.futuros) {
            lista += (lista.empty() ? "" : ", ") + f;
        }
        registrar("Arquivos com data posterior a hoje não contam para ManterArquivos e não são "
                  "excluídos: " +
                  lista);
    }
    for (const auto* grupo : {&r.antigos, &r.baks}) {
        for (const auto& antigo : *grupo) {
            const auto& onde = grupo == &r.baks ? backups : pasta;
            if (const auto falha = plataforma::ApagarArquivo(onde / plataforma::Caminho(antigo));
                !falha) {
                registrar((grupo == &r.baks ? "Excluindo backup de uma execução interrompida...: "
                                            : "Excluindo arquivo antigo...: ") +
                          antigo);
            } else {
                registrar("Não foi possível excluir o arquivo antigo " + antigo + ": " +
                          TextoErroSistema(falha));
            }
        }
    }
}

} // namespace kelvane
