#include "execucao.h"

#include "../plataforma/nomes.h"
#include "../plataforma/processo.h"
#include "../settings/codificacao.h"

namespace kelvane {

namespace {

// Enough for the last lines of any tool's complaint, small enough to keep the job's memory flat
// however much a tool prints.
constexpr std::size_t kLimiteSaida = 64 * 1024;

void Acrescentar(std::string& saida, const char* dados, std::size_t n) {
    saida.append(dados, n);
    if (saida.size() > 2 * kLimiteSaida) {
        saida.erase(0, saida.size() - kLimiteSaida);
    }
}

} // namespace

std::string ResultadoProcesso::UltimasLinhas(std::size_t n) const {
    std::vector<std::string> linhas;
    std::string atual;
    auto fechar = [&] {
        // Progress displays redraw a line with CR or backspaces: keep what was drawn last.
        const auto cr = atual.find_last_of('\r');
        if (cr != std::string::npos) {
            atual.erase(0, cr + 1);
        }
        std::string limpa;
        for (char c : atual) {
            if (c == '\b') {
                if (!limpa.empty()) {
                    limpa.pop_back();
                }
            } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
                limpa += c;
            }
        }
        const auto ini = limpa.find_first_not_of(" \t");
        if (ini != std::string::npos) {
            linhas.push_back(limpa.substr(ini, limpa.find_last_not_of(" \t") - ini + 1));
        }
        atual.clear();
    };
    for (char c : saida) {
        if (c == '\n') {
            fechar();
        } else {
            atual += c;
        }
    }
    fechar();
    std::string resultado;
    const std::size_t inicio = linhas.size() > n ? linhas.size() - n : 0;
    for (std::size_t i = inicio; i < linhas.size(); ++i) {
        if (!resultado.empty()) {
            resultado += " | ";
        }
        resultado += linhas[i];
    }
    return resultado;
}

ResultadoProcesso ShellEspera(const std::vector<std::string>& argumentos,
                              const OpcoesProcesso& opcoes) {
    if (argumentos.empty()) {
        throw ErroProcesso({plataforma::Operacao::NenhumPrograma, {}});
    }
    ResultadoProcesso resultado;
    plataforma::FimPrograma fim;
    if (auto erro = plataforma::ExecutarPrograma(
            argumentos, opcoes.herdar, opcoes.limite, opcoes.aoIniciar,
            [&](const char* dados, std::size_t n) { Acrescentar(resultado.saida, dados, n); }, fim,
            opcoes.entrada)) {
        throw ErroProcesso(*erro);
    }
    if (resultado.saida.size() > kLimiteSaida) {
        resultado.saida.erase(0, resultado.saida.size() - kLimiteSaida);
    }
    if constexpr (plataforma::kTextoEmCp1252) { // what the tools print, as we write to them
        resultado.saida = Cp1252ParaUtf8(resultado.saida);
    }
    resultado.codigo = fim.codigo;
    resultado.sinal = fim.sinal;
    if (fim.parado) {
        resultado.parado = opcoes.limite;
    }
    return resultado;
}

} // namespace kelvane
