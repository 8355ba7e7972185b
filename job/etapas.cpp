#include "etapas.h"

#include "../plataforma/arquivos.h"
#include "../settings/cripto.h"
#include "../settings/texto.h"
#include "ferramentas.h"
#include "observador.h"
#include "programa.h"
#include "significados.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kelvane {

namespace {

// Every tool step ends: an FTP server that reads a few bytes a second never trips the uploader's
// idle time-outs and would hold the job, and its lock, for days. The floor covers starting,
// connecting and logging in; the rate, 512 kbit/s, is the slowest ADSL upstream and over a
// hundred times what such a server takes (see the README).
constexpr const char* kChaveLimite = "LimiteEtapa";
constexpr std::int64_t kPisoPadrao = 30 * 60;
constexpr std::uintmax_t kRitmoMinimo = 64 * 1024; // bytes per second

struct Limite {
    std::int64_t piso = kPisoPadrao;
    std::string invalido; // the value of LimiteEtapa, when it is set and not valid
};

Limite LerLimite() {
    Limite limite;
    if (std::string valor = LerInfo(kChaveLimite); !valor.empty()) {
        const char* fim = valor.data() + valor.size();
        if (const auto r = std::from_chars(valor.data(), fim, limite.piso);
            r.ec != std::errc() || r.ptr != fim || limite.piso < 1) {
            limite.piso = kPisoPadrao;
            limite.invalido = std::move(valor);
        }
    }
    return limite;
}

// The options with the limit for a step on `arquivo`; `explicacao` gets the words that name it.
OpcoesProcesso ComLimite(OpcoesProcesso opcoes, const std::filesystem::path& arquivo,
                         std::string& explicacao) {
    const std::int64_t piso = LerLimite().piso;
    std::error_code erro;
    const std::uintmax_t tamanho = std::filesystem::file_size(arquivo, erro);
    const auto porTamanho = static_cast<std::int64_t>(
        erro ? 0 : tamanho / kRitmoMinimo + (tamanho % kRitmoMinimo != 0));
    const std::int64_t maximo = std::numeric_limits<std::int64_t>::max();
    opcoes.limite = std::chrono::seconds(piso > maximo - porTamanho ? maximo : piso + porTamanho);
    explicacao = "limite da etapa: " + std::to_string(piso) + " s mais 1 s a cada " +
                 std::to_string(kRitmoMinimo / 1024) + " KiB do arquivo; para um link lento, " +
                 "aumente " + kChaveLimite + " no info.ini";
    return opcoes;
}

std::optional<Falha> Executar(const std::vector<std::string>& linha, const OpcoesProcesso& opcoes,
                              const std::filesystem::path& arquivo, CodigoSaida codigo,
                              const std::string& etapa, const std::string& ferramenta,
                              std::string (*significado)(int)) {
    std::string explicacao;
    const auto comLimite = ComLimite(opcoes, arquivo, explicacao);
    ResultadoProcesso r;
    try {
        r = ShellEspera(linha, comLimite);
    } catch (const ErroProcesso& e) {
        return Falha{codigo, 0, etapa + ": " + e.what()};
    }
    if (r.parado.count() > 0) {
        r.motivo = explicacao;
    }
    if (!r.sucesso()) {
        return Falha{codigo, NumeroFalha(r), DescricaoFalha(etapa, ferramenta, r, significado)};
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> LimiteEtapaInvalido() {
    const Limite limite = LerLimite();
    if (limite.invalido.empty()) {
        return std::nullopt;
    }
    return std::string(kChaveLimite) + " inválido (\"" + limite.invalido +
           "\"): use um número inteiro de segundos a partir de 1; vale o padrão de " +
           std::to_string(kPisoPadrao) + " s.";
}

bool ConsultarNCripto(const ObservadorJob* observador) {
    if (observador && observador->ncripto) {
        return observador->ncripto();
    }
    return NCriptoEmVigor(LerInfo("NCripto"));
}

std::optional<Falha> Excluir(const std::filesystem::path& arquivo) {
    if (const auto erro = plataforma::ApagarArquivo(arquivo);
        erro && erro != std::errc::no_such_file_or_directory) {
        return Falha{CodigoSaida::ErroOutro, erro.value(),
                     "não foi possível excluir " + plataforma::TextoCaminho(arquivo) + ": " +
                         std::strerror(erro.value())};
    }
    return std::nullopt;
}

std::optional<Falha> Compactar(const std::filesystem::path& pasta,
                               const std::filesystem::path& arquivo,
                               const std::filesystem::path& origem, const OpcoesProcesso& opcoes) {
    // 7z would add to an archive that is already there.
    if (auto falha = Excluir(arquivo)) {
        return falha;
    }
    return Executar(LinhaCompactador(pasta, arquivo, origem), opcoes, origem,
                    CodigoSaida::CompactacaoFalhou, "Compactação falhou", "7z",
                    SignificadoCompactador);
}

std::optional<Falha> TestarArquivo(const std::filesystem::path& pasta,
                                   const std::filesystem::path& arquivo,
                                   const OpcoesProcesso& opcoes) {
    return Executar(LinhaTesteArquivo(pasta, arquivo), opcoes, arquivo,
                    CodigoSaida::CompactacaoFalhou, "Teste do arquivo compactado falhou", "7z t",
                    SignificadoCompactador);
}

std::optional<Falha> ConferirPortaFtp(const std::string& valor, std::string& porta) {
    // The uploader would redial a port it cannot use for 40 s and then blame the connection.
    const auto ini = valor.find_first_not_of(" \t");
    porta = ini == std::string::npos ? "21"
                                     : valor.substr(ini, valor.find_last_not_of(" \t") - ini + 1);
    long numero = 0;
    const auto [fim, erro] = std::from_chars(porta.data(), porta.data() + porta.size(), numero);
    if (erro != std::errc() || fim != porta.data() + porta.size() || numero < 1 || numero > 65535) {
        return Falha{CodigoSaida::EnvioFalhou, 0,
                     "Envio falhou: a porta do FTP (Porta=" + valor +
                         ") não é um número de 1 a 65535; nada foi enviado."};
    }
    return std::nullopt;
}

std::optional<Falha> LerDadosFtp(bool ncripto, DadosFtp& dados) {
    try {
        dados.usuario = AplicarNCripto(LerInfo("Usuario"), ncripto);
        dados.senha = AplicarNCripto(LerInfo("Passw"), ncripto);
    } catch (const ErroCripto& e) {
        return Falha{CodigoSaida::EnvioFalhou, 0,
                     std::string("Envio falhou: usuário ou senha do FTP ilegível: ") + e.what()};
    }
    if (auto falha = ConferirPortaFtp(LerInfo("Porta"), dados.porta)) {
        return falha;
    }
    dados.endereco = LerInfo("Endereco");
    dados.diretorio = LerInfo("Diretorio");
    return std::nullopt;
}

std::optional<Falha> EnviarArquivo(const std::filesystem::path& pasta, const DadosFtp& dados,
                                   const std::filesystem::path& arquivo, const std::string& etapa,
                                   const OpcoesProcesso& opcoes) {
    std::optional<Falha> falha;
    try {
        std::string explicacao;
        auto r = EnviarArquivoFtp(pasta, dados, arquivo, ComLimite(opcoes, arquivo, explicacao));
        if (r.parado.count() > 0) {
            r.motivo = explicacao;
        }
        if (!r.sucesso()) {
            falha = Falha{CodigoSaida::EnvioFalhou, NumeroFalha(r),
                          DescricaoFalha(etapa, "ncftpput", r, SignificadoEnviador)};
        }
    } catch (const std::exception& e) {
        falha = Falha{CodigoSaida::EnvioFalhou, 0, etapa + ": " + e.what()};
    }
    if (falha) {
        falha->descricao = OcultarSegredos(falha->descricao, {dados.senha});
    }
    return falha;
}

} // namespace kelvane
