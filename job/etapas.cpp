#include "etapas.h"

#include "../plataforma/arquivos.h"
#include "../settings/texto.h"
#include "ferramentas.h"
#include "politica_permissoes.h"
#include "significados.h"
#include "textos.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kelvane {

namespace {

// The options with the limit for a step on `arquivo`.
OpcoesProcesso ComLimite(OpcoesProcesso opcoes, const std::filesystem::path& arquivo,
                         std::int64_t piso) {
    std::error_code erro;
    const std::uintmax_t tamanho = std::filesystem::file_size(arquivo, erro);
    const auto porTamanho = static_cast<std::int64_t>(
        erro ? 0 : tamanho / kRitmoMinimo + (tamanho % kRitmoMinimo != 0));
    const std::int64_t maximo = std::numeric_limits<std::int64_t>::max();
    opcoes.limite = std::chrono::seconds(piso > maximo - porTamanho ? maximo : piso + porTamanho);
    return opcoes;
}

// A tool that ended otherwise than well.
Falha FalhaFerramenta(PassoFalha passo, CodigoSaida codigo, const std::string& ferramenta,
                      ResultadoProcesso r, std::int64_t piso) {
    auto falha = FalhaDe(passo, TipoFalha::Ferramenta, codigo);
    falha.numero = NumeroFalha(r);
    falha.nomeFerramenta = ferramenta;
    falha.piso = piso;
    falha.ferramenta = std::move(r);
    return falha;
}

std::optional<Falha> Executar(const std::vector<std::string>& linha, const OpcoesProcesso& opcoes,
                              std::int64_t piso, const std::filesystem::path& arquivo,
                              PassoFalha passo, const std::string& ferramenta, Programas& programas,
                              ResultadoProcesso* resultado = nullptr) {
    const auto comLimite = ComLimite(opcoes, arquivo, piso);
    ResultadoProcesso r;
    try {
        r = programas.Executar(linha, comLimite);
    } catch (const ErroProcesso& e) {
        auto falha = FalhaDe(passo, TipoFalha::NaoIniciou, CodigoSaida::CompactacaoFalhou);
        falha.sistema = e;
        return falha;
    }
    if (!r.sucesso()) {
        return FalhaFerramenta(passo, CodigoSaida::CompactacaoFalhou, ferramenta, std::move(r),
                               piso);
    }
    if (resultado) {
        *resultado = std::move(r);
    }
    return std::nullopt;
}

// The password as 7z reads it: one line.
OpcoesProcesso ComSenha(OpcoesProcesso opcoes, const std::string& senha) {
    if (!senha.empty()) {
        opcoes.entrada = senha + "\n";
    }
    return opcoes;
}

} // namespace

std::optional<Falha> Excluir(const std::filesystem::path& arquivo) {
    if (const auto erro = plataforma::ApagarArquivo(arquivo);
        erro && erro != std::errc::no_such_file_or_directory) {
        return FalhaSistema(PassoFalha::Nenhum, TipoFalha::NaoExcluido, CodigoSaida::ErroOutro,
                            plataforma::TextoCaminho(arquivo), erro);
    }
    return std::nullopt;
}

std::optional<Falha> Compactar(const std::filesystem::path& pasta,
                               const std::filesystem::path& arquivo,
                               const std::filesystem::path& origem, std::int64_t piso,
                               const OpcoesProcesso& opcoes, const std::string& senha,
                               const Meios& meios) {
    // 7z would add to an archive that is already there.
    if (auto falha = Excluir(arquivo)) {
        return falha;
    }
    return Executar(LinhaCompactador(pasta, arquivo, origem, !senha.empty()),
                    ComSenha(opcoes, senha), piso, origem, PassoFalha::Compactacao, "7z",
                    *meios.programas);
}

std::optional<Falha> TestarArquivo(const std::filesystem::path& pasta,
                                   const std::filesystem::path& arquivo, std::int64_t piso,
                                   const OpcoesProcesso& opcoes, const std::string& senha,
                                   const Meios& meios) {
    ResultadoProcesso r;
    if (auto falha =
            Executar(LinhaTesteArquivo(pasta, arquivo, !senha.empty()), ComSenha(opcoes, senha),
                     piso, arquivo, PassoFalha::TesteArquivo, "7z t", *meios.programas, &r)) {
        return falha;
    }
    // An archive 7z opens without asking would go out readable by whoever holds it.
    if (!senha.empty() && r.saida.find(kPedidoSenha7z) == std::string::npos) {
        return FalhaDe(PassoFalha::TesteArquivo, TipoFalha::AbreSemSenha,
                       CodigoSaida::CompactacaoFalhou);
    }
    return std::nullopt;
}

std::optional<Falha> Extrair(const std::filesystem::path& pasta,
                             const std::filesystem::path& arquivo,
                             const std::filesystem::path& destino, std::int64_t piso,
                             const OpcoesProcesso& opcoes, const std::string& senha,
                             const Meios& meios) {
    if (auto falha =
            Executar(LinhaTesteArquivo(pasta, arquivo, !senha.empty()), ComSenha(opcoes, senha),
                     piso, arquivo, PassoFalha::TesteArquivo, "7z t", *meios.programas)) {
        return falha;
    }
    return Executar(LinhaExtracao(pasta, arquivo, destino, !senha.empty()), ComSenha(opcoes, senha),
                    piso, arquivo, PassoFalha::Extracao, "7z x", *meios.programas);
}

std::optional<Falha> SenhaArquivoIlegivel(const Configuracao& c) {
    // Packed without its password the archive would leave readable: nothing is packed.
    if (const auto* ilegivel = c.IlegivelEm(&Configuracao::senhaArquivo)) {
        return FalhaDe(PassoFalha::Compactacao, TipoFalha::SenhaIlegivel,
                       CodigoSaida::CompactacaoFalhou, ilegivel->motivo);
    }
    return std::nullopt;
}

plataforma::DestinoTransferencia DestinoDe(const DadosFtp& dados, std::chrono::seconds limite) {
    plataforma::DestinoTransferencia d;
    d.esquema = dados.esquema;
    d.host = dados.endereco;
    d.porta = dados.porta;
    d.usuario = dados.usuario;
    d.senha = dados.senha;
    d.diretorio = dados.diretorio;
    d.certificado = dados.certificado;
    d.chaveHost = dados.chaveHost;
    d.limite = limite;
    d.conexao = std::chrono::seconds(dados.teste ? 20 : 60);
    d.sondar = dados.teste;
    return d;
}

namespace {

// Whether the server kept all of `arquivo` as `remoto`.
std::optional<Falha> ConferirTamanho(SessaoTransferencia& t, const DadosFtp& dados,
                                     const std::filesystem::path& arquivo,
                                     const std::string& remoto, PassoFalha passo, bool& curto) {
    curto = false;
    std::error_code erro;
    const std::uintmax_t local = std::filesystem::file_size(arquivo, erro);
    if (erro) {
        return FalhaSistema(passo, TipoFalha::ArquivoLocal, CodigoSaida::EnvioFalhou,
                            plataforma::TextoCaminho(arquivo), erro);
    }
    plataforma::TamanhoRemoto tamanho;
    if (const auto f = t.Tamanho(remoto, tamanho)) {
        auto falha = FalhaDe(passo, TipoFalha::TamanhoIgnorado, CodigoSaida::EnvioFalhou);
        falha.remoto = remoto;
        falha.descricao = f->motivo;
        return falha;
    }
    if (!tamanho.bytes) {
        if (dados.registrar) {
            dados.registrar("O servidor não informou o tamanho de " + remoto + " (" +
                            tamanho.semResposta +
                            "); não foi possível conferir se o arquivo chegou inteiro.");
        }
        return std::nullopt;
    }
    if (*tamanho.bytes != local) {
        curto = true;
        auto falha = FalhaDe(passo, TipoFalha::TamanhoDiferente, CodigoSaida::EnvioFalhou);
        falha.remoto = remoto;
        falha.bytesServidor = *tamanho.bytes;
        falha.bytesLocal = local;
        return falha;
    }
    return std::nullopt;
}

// The encrypted schemes: upload under the temporary name, its size, then its own name.
std::optional<Falha> EnviarCifrado(const DadosFtp& dados, const std::filesystem::path& arquivo,
                                   PassoFalha passo, std::chrono::seconds limite, std::int64_t piso,
                                   const AposEnvio& apos,
                                   plataforma::FalhaTransferencia* transferencia,
                                   Transferencias& transferencias) {
    if (const auto inseguro = CertificadoInseguro(dados.certificado)) {
        return Falha{CodigoSaida::PermissoesInseguras, 0, *inseguro};
    }
    const auto sessao = transferencias.Abrir(DestinoDe(dados, limite));
    auto& t = *sessao;
    const std::string nome = plataforma::TextoCaminho(arquivo.filename());
    const std::string temporario = nome + std::string(kSufixoEnvio);
    const auto falhou = [&](const plataforma::FalhaTransferencia& f) {
        if (transferencia) {
            *transferencia = f;
        }
        auto falha = FalhaDe(passo, TipoFalha::Transferencia, CodigoSaida::EnvioFalhou);
        falha.piso = piso;
        falha.transferencia = f;
        return falha;
    };
    if (const auto f = t.Enviar(arquivo, temporario)) {
        return falhou(*f);
    }
    bool curto = false;
    if (auto falha = ConferirTamanho(t, dados, arquivo, temporario, passo, curto)) {
        if (curto) {
            falha->ficouComo = temporario;
        }
        return falha;
    }
    if (const auto f = t.Renomear(temporario, nome)) {
        return falhou(*f);
    }
    if (apos) {
        apos(t, nome);
    }
    return std::nullopt;
}

} // namespace

std::optional<Falha> DadosFtpDe(const Configuracao& c, const Validacao& v, DadosFtp& dados) {
    for (const auto campo : {&Configuracao::usuario, &Configuracao::passw}) {
        if (const auto* ilegivel = c.IlegivelEm(campo)) {
            return FalhaDe(PassoFalha::Envio, TipoFalha::CredencialFtp, CodigoSaida::EnvioFalhou,
                           ilegivel->motivo);
        }
    }
    for (const auto campo :
         {&Configuracao::endereco, &Configuracao::porta, &Configuracao::chaveHostFTP}) {
        if (const auto* problema = ProblemaEm(v, campo)) {
            return Falha{CodigoSaida::EnvioFalhou, 0, problema->texto};
        }
    }
    dados.usuario = c.usuario;
    dados.senha = c.passw;
    dados.porta = v.valores.porta;
    dados.esquema = v.valores.esquema;
    dados.endereco = v.valores.host;
    dados.diretorio = c.diretorio;
    dados.certificado = plataforma::Caminho(c.certificadoFTP);
    dados.chaveHost = c.chaveHostFTP;
    return std::nullopt;
}

std::optional<Falha> EnviarArquivo(const std::filesystem::path& pasta, const DadosFtp& dados,
                                   const std::filesystem::path& arquivo, PassoFalha passo,
                                   std::int64_t piso, const OpcoesProcesso& opcoes,
                                   const AposEnvio& apos,
                                   plataforma::FalhaTransferencia* transferencia,
                                   const Meios& meios) {
    std::optional<Falha> falha;
    try {
        const auto comLimite = ComLimite(opcoes, arquivo, piso);
        if (dados.esquema != plataforma::Esquema::Ftp) {
            falha = EnviarCifrado(dados, arquivo, passo, comLimite.limite, piso, apos,
                                  transferencia, *meios.transferencias);
        } else {
            auto r = EnviarArquivoFtp(pasta, dados, arquivo, comLimite, *meios.programas);
            if (!r.sucesso()) {
                falha = FalhaFerramenta(passo, CodigoSaida::EnvioFalhou, "ncftpput", std::move(r),
                                        piso);
                falha->origem = Falha::Origem::Enviador;
            } else {
                // The uploader renamed the file itself once its server said 226, which FTP's
                // stream mode says of a cut connection too: what arrived is asked now.
                const auto sessao = meios.transferencias->Abrir(
                    DestinoDe(dados, std::chrono::seconds(std::max<std::int64_t>(piso, 60))));
                auto& t = *sessao;
                const std::string nome = plataforma::TextoCaminho(arquivo.filename());
                bool curto = false;
                falha = ConferirTamanho(t, dados, arquivo, nome, passo, curto);
                // A short file must not pass for the night's archive under its name.
                if (curto) {
                    const std::string temporario = nome + std::string(kSufixoEnvio);
                    falha->incompleto = t.Renomear(nome, temporario).has_value();
                    falha->ficouComo = falha->incompleto ? nome : temporario;
                } else if (!falha && apos) {
                    apos(t, nome);
                }
            }
        }
    } catch (const ErroProcesso& e) {
        falha = FalhaDe(passo, TipoFalha::NaoIniciou, CodigoSaida::EnvioFalhou);
        falha->sistema = e;
    } catch (const std::exception& e) {
        falha = FalhaDe(passo, TipoFalha::Texto, CodigoSaida::EnvioFalhou, e.what());
    }
    if (falha) {
        // What the server, the tool or a library said may hold the password.
        falha->descricao = OcultarSegredos(falha->descricao, {dados.senha});
        if (falha->ferramenta) {
            falha->ferramenta->saida = OcultarSegredos(falha->ferramenta->saida, {dados.senha});
        }
        if (falha->transferencia) {
            falha->transferencia->motivo =
                OcultarSegredos(falha->transferencia->motivo, {dados.senha});
        }
    }
    return falha;
}

} // namespace kelvane
