#include "etapas.h"

#include "../plataforma/arquivos.h"
#include "../settings/cripto.h"
#include "../settings/texto.h"
#include "observador.h"
#include "programa.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace kelvane {

namespace {

std::optional<Falha> Executar(const std::vector<std::string>& linha, const OpcoesProcesso& opcoes,
                              CodigoSaida codigo, const std::string& etapa,
                              const std::string& ferramenta, std::string (*significado)(int)) {
    ResultadoProcesso r;
    try {
        r = ShellEspera(linha, opcoes);
    } catch (const ErroProcesso& e) {
        return Falha{codigo, 0, etapa + ": " + e.what()};
    }
    if (!r.sucesso()) {
        return Falha{codigo, NumeroFalha(r), DescricaoFalha(etapa, ferramenta, r, significado)};
    }
    return std::nullopt;
}

} // namespace

bool ConsultarNCripto(const ObservadorJob* observador) {
    if (observador && observador->ncripto) {
        return observador->ncripto();
    }
    return NCriptoEmVigor(LerInfo("NCripto"));
}

std::optional<Falha> Excluir(const std::filesystem::path& arquivo) {
    if (const int erro = plataforma::ApagarArquivo(arquivo); erro != 0 && erro != ENOENT) {
        return Falha{CodigoSaida::ErroOutro, erro,
                     "não foi possível excluir " + plataforma::TextoCaminho(arquivo) + ": " +
                         std::strerror(erro)};
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
    return Executar(LinhaCompactador(pasta, arquivo, origem), opcoes,
                    CodigoSaida::CompactacaoFalhou, "Compactação falhou", "7z",
                    SignificadoCompactador);
}

std::optional<Falha> TestarArquivo(const std::filesystem::path& pasta,
                                   const std::filesystem::path& arquivo,
                                   const OpcoesProcesso& opcoes) {
    return Executar(LinhaTesteArquivo(pasta, arquivo), opcoes, CodigoSaida::CompactacaoFalhou,
                    "Teste do arquivo compactado falhou", "7z t", SignificadoCompactador);
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
        const auto r = EnviarArquivoFtp(pasta, dados, arquivo, opcoes);
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
