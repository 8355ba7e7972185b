#include "ini.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "../plataforma/processo.h"
#include "codificacao.h"
#include "texto.h"

#include <cerrno>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace kelvane {

namespace {

// How long a write waits for another process to release the folder's lock: a write takes
// milliseconds, so only a holder that never lets go waits that long.
constexpr auto kEsperaTrava = std::chrono::seconds(10);

struct Linha {
    std::string texto; // without its line ending
    std::string fim;   // "\r\n", "\n" or "" for a last line without ending
};

bool EhBranco(char c) {
    return c == ' ' || c == '\t';
}

bool IguaisSemCaixa(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') {
            ca = static_cast<unsigned char>(ca - 32);
        }
        if (cb >= 'a' && cb <= 'z') {
            cb = static_cast<unsigned char>(cb - 32);
        }
        if (ca != cb) {
            return false;
        }
    }
    return true;
}

std::optional<std::string_view> NomeSecao(std::string_view linha) {
    linha = Aparar(linha);
    if (linha.empty() || linha.front() != '[') {
        return std::nullopt;
    }
    linha.remove_prefix(1);
    const auto fecha = linha.find(']');
    return Aparar(linha.substr(0, fecha));
}

struct Par {
    std::string_view chave;
    std::string_view valor;
};

std::optional<Par> ParChaveValor(std::string_view linha) {
    const auto aparada = Aparar(linha);
    if (aparada.empty() || aparada.front() == ';') {
        return std::nullopt;
    }
    const auto igual = aparada.find('=');
    if (igual == std::string_view::npos) {
        return std::nullopt;
    }
    return Par{Aparar(aparada.substr(0, igual)), Aparar(aparada.substr(igual + 1))};
}

std::string_view SemAspas(std::string_view valor) {
    if (valor.size() >= 2 && (valor.front() == '"' || valor.front() == '\'') &&
        valor.back() == valor.front()) {
        return valor.substr(1, valor.size() - 2);
    }
    return valor;
}

// Notepad saves UTF-8 with a byte-order mark; it is not part of the first line.
constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::vector<Linha> DividirLinhas(const std::string& conteudo) {
    std::vector<Linha> linhas;
    std::size_t inicio = conteudo.rfind(kBom, 0) == 0 ? kBom.size() : 0;
    while (inicio < conteudo.size()) {
        const auto lf = conteudo.find('\n', inicio);
        if (lf == std::string::npos) {
            // A CR that ends the file is half of a line break: the line reads the same before
            // and after a write completes it.
            const bool cr = conteudo.back() == '\r';
            linhas.push_back(
                {conteudo.substr(inicio, conteudo.size() - inicio - (cr ? 1 : 0)), cr ? "\r" : ""});
            break;
        }
        const bool crlf = lf > inicio && conteudo[lf - 1] == '\r';
        const std::size_t fimTexto = crlf ? lf - 1 : lf;
        linhas.push_back({conteudo.substr(inicio, fimTexto - inicio), crlf ? "\r\n" : "\n"});
        inicio = lf + 1;
    }
    return linhas;
}

// A value that begins or ends with a blank or a quote goes inside double quotes, so that the
// reader's trimming and unquoting give it back exactly. Line breaks and NUL cannot live inside
// one line of the file: they become blanks instead of starting a new line (or a new key).
std::string ValorParaGravar(std::string_view valor) {
    std::string v(valor);
    for (char& c : v) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    if (!v.empty()) {
        const char a = v.front();
        const char z = v.back();
        if (EhBranco(a) || EhBranco(z) || a == '"' || a == '\'' || z == '"' || z == '\'') {
            return '"' + v + '"';
        }
    }
    return v;
}

// The position of each line of `linhas` in the first section named `secao` (case ignored):
// [inicio, fim) with inicio the header line; nullopt when the section is not there.
std::optional<std::pair<std::size_t, std::size_t>> LocalizarSecao(const std::vector<Linha>& linhas,
                                                                  std::string_view secao1252) {
    std::optional<std::size_t> inicio;
    for (std::size_t i = 0; i < linhas.size(); ++i) {
        if (const auto nome = NomeSecao(linhas[i].texto)) {
            if (inicio) {
                return std::pair{*inicio, i};
            }
            if (IguaisSemCaixa(*nome, secao1252)) {
                inicio = i;
            }
        }
    }
    if (inicio) {
        return std::pair{*inicio, linhas.size()};
    }
    return std::nullopt;
}

void Alterar(std::vector<Linha>& linhas, const std::string& fimPadrao, std::string_view secao1252,
             const std::string& chave1252, const std::string& valor1252) {
    auto garantirFim = [&](std::size_t i) {
        if (linhas[i].fim.empty()) {
            linhas[i].fim = fimPadrao;
        } else if (linhas[i].fim == "\r") {
            linhas[i].fim = "\r\n";
        }
    };
    if (const auto secao = LocalizarSecao(linhas, secao1252)) {
        std::size_t ultimaOcupada = secao->first;
        for (std::size_t i = secao->first + 1; i < secao->second; ++i) {
            if (!Aparar(linhas[i].texto).empty()) {
                ultimaOcupada = i;
            }
            if (const auto par = ParChaveValor(linhas[i].texto);
                par && IguaisSemCaixa(par->chave, chave1252)) {
                linhas[i].texto = std::string(par->chave) + "=" + valor1252;
                return;
            }
        }
        garantirFim(ultimaOcupada);
        linhas.insert(linhas.begin() + static_cast<std::ptrdiff_t>(ultimaOcupada) + 1,
                      Linha{chave1252 + "=" + valor1252, fimPadrao});
        return;
    }
    if (!linhas.empty()) {
        garantirFim(linhas.size() - 1);
    }
    linhas.push_back({"[" + std::string(secao1252) + "]", fimPadrao});
    linhas.push_back({chave1252 + "=" + valor1252, fimPadrao});
}

} // namespace

std::string ValorINI(std::string_view conteudo, std::string_view secao, std::string_view chave) {
    const std::string secao1252 = Utf8ParaCp1252(secao);
    const std::string chave1252 = Utf8ParaCp1252(chave);
    const auto linhas = DividirLinhas(std::string(conteudo));
    const auto posicao = LocalizarSecao(linhas, secao1252);
    if (!posicao) {
        return {};
    }
    for (std::size_t i = posicao->first + 1; i < posicao->second; ++i) {
        if (const auto par = ParChaveValor(linhas[i].texto);
            par && IguaisSemCaixa(par->chave, chave1252)) {
            return Cp1252ParaUtf8(SemAspas(par->valor));
        }
    }
    return {};
}

std::string EditarINI(std::string_view conteudo, std::string_view secao,
                      const AlteracoesINI& alteracoes) {
    auto linhas = DividirLinhas(std::string(conteudo));
    const std::string secao1252 = Utf8ParaCp1252(secao);
    for (const auto& [chave, valor] : alteracoes) {
        // New lines end as the first line that has an ending; asked again after each key, as a
        // key at a time would find it (completing a final CR can set the style). A file with no
        // ending yet takes the system's, as its other programs would write it.
        std::string fimPadrao(plataforma::kFimDeLinha);
        for (const auto& l : linhas) {
            if (l.fim == "\n" || l.fim == "\r\n") { // a CR ending the file sets no style
                fimPadrao = l.fim;
                break;
            }
        }
        Alterar(linhas, fimPadrao, secao1252, Utf8ParaCp1252(chave),
                ValorParaGravar(Utf8ParaCp1252(valor)));
    }
    std::string novo;
    novo.reserve(conteudo.size() + 64 * alteracoes.size());
    // The mark stays where it was.
    if (conteudo.rfind(kBom, 0) == 0) {
        novo = kBom;
    }
    for (const auto& l : linhas) {
        novo += l.texto;
        novo += l.fim;
    }
    return novo;
}

std::string LerINI(std::string_view secao, std::string_view chave,
                   const std::filesystem::path& arquivo) {
    bool existe = false;
    std::error_code erro;
    const auto conteudo = plataforma::LerArquivoInteiro(arquivo, existe, erro);
    return conteudo ? ValorINI(*conteudo, secao, chave) : std::string();
}

std::error_code EditarArquivoINI(const std::filesystem::path& caminho, std::string_view secao,
                                 const std::function<AlteracoesINI(std::string_view)>& alteracoes) {
    // Root's window writes the settings as the data's owner: the file stays that account's, and
    // a link it planted leads nowhere it could not write itself.
    const plataforma::ComoDonoDosDados comoDono;
    // A link is written through: its target is the file replaced.
    std::filesystem::path arquivo = caminho;
    if (plataforma::EhLink(caminho)) {
        std::error_code erro;
        arquivo = std::filesystem::canonical(caminho, erro);
        if (erro) {
            return erro;
        }
    }
    // Held across the read and the replace; the folder survives the rename, the file does not.
    const plataforma::TravaPasta trava(arquivo.parent_path().empty() ? std::filesystem::path(".")
                                                                     : arquivo.parent_path(),
                                       kEsperaTrava);
    if (!trava.obtida()) {
        return trava.erro();
    }
    bool existe = false;
    std::error_code erro;
    const auto conteudo = plataforma::LerArquivoInteiro(arquivo, existe, erro);
    if (!conteudo) {
        return erro; // never replace a file we could not read
    }
    std::optional<plataforma::Propriedades> anterior;
    if (existe) {
        // A read-only file is refused, as Windows refuses it.
        plataforma::Propriedades atuais;
        if (const auto recusa = plataforma::PodeSubstituir(arquivo, atuais)) {
            return recusa;
        }
        anterior = atuais;
    }
    const AlteracoesINI lista = alteracoes(*conteudo);
    if (lista.empty()) {
        return {};
    }
    return plataforma::SubstituirArquivo(arquivo, EditarINI(*conteudo, secao, lista), anterior);
}

std::error_code GravarINI(std::string_view secao, std::string_view chave, std::string_view valor,
                          const std::filesystem::path& arquivo) {
    return EditarArquivoINI(arquivo, secao, [&](std::string_view) {
        return AlteracoesINI{{std::string(chave), std::string(valor)}};
    });
}

std::error_code GravarINI(std::string_view secao, std::string_view chave, long long valor,
                          const std::filesystem::path& arquivo) {
    return GravarINI(secao, chave, std::to_string(valor), arquivo);
}

} // namespace kelvane
