#include "acompanhamento.h"

#include "../plataforma/nomes.h"
#include "../plataforma/processo.h"
#include "programa.h"
#include "textos.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kelvane {

namespace {

constexpr char kVariavel[] = "KELVANE_ACOMPANHAR";
// An event's line begins with this byte and its kind; the text follows with "\", CR and LF
// escaped, so that one event is one line whatever it holds.
constexpr char kInicio = '\x01';
enum Tipo : char { kMensagem = 'M', kProgresso = 'P', kCaixa = 'C', kFalha = 'F' };

void Emitir(Tipo tipo, const std::string& texto) {
    std::string linha{kInicio, tipo};
    for (const char c : texto) {
        switch (c) {
        case '\\':
            linha += "\\\\";
            break;
        case '\r':
            linha += "\\r";
            break;
        case '\n':
            linha += "\\n";
            break;
        default:
            linha += c;
        }
    }
    linha += '\n';
    std::fwrite(linha.data(), 1, linha.size(), stdout); // stdio keeps each call whole
    std::fflush(stdout);
}

std::string Desfazer(const std::string& texto) {
    std::string s;
    for (std::size_t i = 0; i < texto.size(); ++i) {
        if (texto[i] == '\\' && i + 1 < texto.size()) {
            const char c = texto[++i];
            s += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            s += texto[i];
        }
    }
    return s;
}

void Entregar(const std::string& linha, const ObservadorJob& destino, std::string& outras) {
    if (linha.size() < 2 || linha[0] != kInicio) {
        outras += (outras.empty() ? "" : "\r\n") + linha;
        return;
    }
    const std::string texto = Desfazer(linha.substr(2));
    switch (linha[1]) {
    case kMensagem:
        if (destino.mensagem) {
            destino.mensagem(texto);
        }
        break;
    case kProgresso:
        if (destino.progresso) {
            destino.progresso(std::atoi(texto.c_str()));
        }
        break;
    case kCaixa:
        if (destino.caixaErro) {
            destino.caixaErro(texto);
        }
        break;
    case kFalha:
        if (destino.falha) {
            destino.falha(texto);
        }
        break;
    default:
        break;
    }
}

} // namespace

bool JobAcompanhado() {
    const char* valor = std::getenv(kVariavel);
    return valor != nullptr && std::strcmp(valor, "1") == 0;
}

ObservadorJob ObservadorPelaSaida() {
    ObservadorJob o;
    o.mensagem = [](const std::string& t) {
        Emitir(kMensagem, t);
    };
    o.progresso = [](int p) {
        Emitir(kProgresso, std::to_string(p));
    };
    o.caixaErro = [](const std::string& t) {
        Emitir(kCaixa, t);
    };
    o.falha = [](const std::string& t) {
        Emitir(kFalha, t);
    };
    return o;
}

CodigoSaida ExecutarJobComoDonoDosDados(const ObservadorJob& destino, std::string& outras) {
    std::string resto;
    const auto saida = [&](const char* dados, std::size_t n) {
        resto.append(dados, n);
        for (std::size_t fim; (fim = resto.find('\n')) != std::string::npos;) {
            const std::string linha = resto.substr(0, fim);
            resto.erase(0, fim + 1);
            Entregar(linha, destino, outras);
        }
    };
    plataforma::FimPrograma fim;
    const auto erro = plataforma::ExecutarComoDonoDosDados(
        {(PastaPrograma() / plataforma::kNomeExecutavelJob).string(), "EXEC"},
        {std::string(kVariavel) + "=1"}, {}, saida, fim);
    if (erro) {
        throw std::runtime_error(TextoErroSistema(*erro));
    }
    if (!resto.empty()) {
        Entregar(resto, destino, outras);
    }
    return fim.codigo >= 0 && fim.codigo <= ComoInteiro(CodigoSaida::PermissoesInseguras)
               ? static_cast<CodigoSaida>(fim.codigo)
               : CodigoSaida::ErroOutro;
}

} // namespace kelvane
