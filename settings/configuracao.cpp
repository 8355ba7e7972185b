#include "configuracao.h"

#include "../plataforma/arquivos.h"
#include "cripto.h"
#include "ini.h"

#include <algorithm>
#include <cstring>

namespace kelvane {

const Configuracao::Ilegivel* Configuracao::IlegivelEm(CampoConfiguracao campo) const {
    const auto nome = NomeChave(campo);
    for (const auto& i : ilegiveis) {
        if (i.chave == nome) {
            return &i;
        }
    }
    return nullptr;
}

std::string_view NomeChave(CampoConfiguracao campo) {
    for (const auto& d : kChaves) {
        if (d.campo == campo) {
            return d.nome;
        }
    }
    return {};
}

bool NCriptoEmVigor(const Configuracao& c) {
    return NCriptoEmVigor(c.ncripto);
}

LeituraConfiguracao LerConfiguracao(const std::filesystem::path& arquivo,
                                    std::optional<bool> ncripto) {
    LeituraConfiguracao r;
    const auto conteudo = plataforma::LerArquivoInteiro(arquivo, r.existe, r.erro);
    if (!conteudo) {
        return r;
    }
    auto& c = r.valores;
    for (const auto& d : kChaves) {
        c.*d.campo = ValorINI(*conteudo, kSecaoInfos, d.nome);
    }
    const bool claras = ncripto.value_or(NCriptoEmVigor(c));
    for (const auto& d : kChaves) {
        if (!d.embaralhada) {
            continue;
        }
        try {
            c.*d.campo = AplicarNCripto(c.*d.campo, claras);
        } catch (const ErroCripto& e) {
            (c.*d.campo).clear();
            c.ilegiveis.push_back({d.nome, e.what()});
        }
    }
    return r;
}

std::error_code GravarConfiguracao(const std::filesystem::path& arquivo,
                                   const std::vector<AlteracaoConfiguracao>& alteracoes) {
    bool invalida = false;
    const auto erro = EditarArquivoINI(arquivo, kSecaoInfos, [&](std::string_view atual) {
        const bool doArquivo =
            NCriptoEmVigor(ValorINI(atual, kSecaoInfos, NomeChave(&Configuracao::ncripto)));
        bool claras = doArquivo;
        for (const auto& a : alteracoes) {
            if (a.campo == &Configuracao::ncripto) {
                claras = NCriptoEmVigor(a.valor);
            }
        }
        AlteracoesINI lista;
        for (const auto& a : alteracoes) {
            // The file must say how the credentials are stored; a file that already agrees is
            // left as it is.
            if (a.campo == &Configuracao::ncripto && claras == doArquivo) {
                continue;
            }
            std::string valor = a.valor;
            for (const auto& d : kChaves) {
                if (d.campo == a.campo && d.embaralhada) {
                    try {
                        valor = AplicarNCripto(valor, claras);
                    } catch (const ErroCripto&) {
                        invalida = true;
                    }
                    // A line cannot hold a line break or NUL: the file would keep another
                    // credential than the one given.
                    invalida = invalida ||
                               valor.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
                }
            }
            lista.emplace_back(std::string(NomeChave(a.campo)), std::move(valor));
        }
        // A key the caller does not know of (a window that saves its own fields) would
        // otherwise be read back as another value: an archive password nobody knows.
        for (const auto& d : kChaves) {
            const bool alterada =
                std::any_of(alteracoes.begin(), alteracoes.end(),
                            [&](const AlteracaoConfiguracao& a) { return a.campo == d.campo; });
            const std::string antigo = ValorINI(atual, kSecaoInfos, d.nome);
            if (!d.embaralhada || alterada || claras == doArquivo || antigo.empty()) {
                continue;
            }
            try {
                lista.emplace_back(std::string(d.nome),
                                   AplicarNCripto(AplicarNCripto(antigo, doArquivo), claras));
            } catch (const ErroCripto&) {
                invalida = invalida || !claras; // too long to scramble now
            }
        }
        return invalida ? AlteracoesINI{} : lista;
    });
    if (erro) {
        return erro;
    }
    return invalida ? std::make_error_code(std::errc::invalid_argument) : std::error_code();
}

std::string MotivoGravacao(std::error_code erro) {
    if (erro == std::errc::operation_would_block) {
        return "outro processo manteve a pasta travada";
    }
    if (erro == std::errc::permission_denied) {
        return "arquivo somente leitura ou sem permissão de escrita";
    }
    return std::strerror(erro.value());
}

} // namespace kelvane
