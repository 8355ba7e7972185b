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

// Every tool step ends: an FTP server that reads a few bytes a second never trips the uploader's
// idle time-outs and would hold the job, and its lock, for days. The floor covers starting,
// connecting and logging in; the rate, 512 kbit/s, is the slowest ADSL upstream and over a
// hundred times what such a server takes (see the README).
constexpr std::uintmax_t kRitmoMinimo = 64 * 1024; // bytes per second

// The options with the limit for a step on `arquivo`; `explicacao` gets the words that name it.
OpcoesProcesso ComLimite(OpcoesProcesso opcoes, const std::filesystem::path& arquivo,
                         std::int64_t piso, std::string& explicacao) {
    std::error_code erro;
    const std::uintmax_t tamanho = std::filesystem::file_size(arquivo, erro);
    const auto porTamanho = static_cast<std::int64_t>(
        erro ? 0 : tamanho / kRitmoMinimo + (tamanho % kRitmoMinimo != 0));
    const std::int64_t maximo = std::numeric_limits<std::int64_t>::max();
    opcoes.limite = std::chrono::seconds(piso > maximo - porTamanho ? maximo : piso + porTamanho);
    explicacao = "limite da etapa: " + std::to_string(piso) + " s mais 1 s a cada " +
                 std::to_string(kRitmoMinimo / 1024) + " KiB do arquivo; para um link lento, " +
                 "aumente " + std::string(NomeChave(&Configuracao::limiteEtapa)) + " no info.ini";
    return opcoes;
}

std::optional<Falha> Executar(const std::vector<std::string>& linha, const OpcoesProcesso& opcoes,
                              std::int64_t piso, const std::filesystem::path& arquivo,
                              CodigoSaida codigo, const std::string& etapa,
                              const std::string& ferramenta, std::string (*significado)(int),
                              Programas& programas, ResultadoProcesso* resultado = nullptr) {
    std::string explicacao;
    const auto comLimite = ComLimite(opcoes, arquivo, piso, explicacao);
    ResultadoProcesso r;
    try {
        r = programas.Executar(linha, comLimite);
    } catch (const ErroProcesso& e) {
        return Falha{codigo, 0, etapa + ": " + e.what()};
    }
    if (r.parado.count() > 0) {
        r.motivo = explicacao;
    }
    if (!r.sucesso()) {
        Falha falha{codigo, NumeroFalha(r), DescricaoFalha(etapa, ferramenta, r, significado)};
        falha.ferramenta = std::move(r);
        return falha;
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
        return Falha{CodigoSaida::ErroOutro, erro.value(),
                     "não foi possível excluir " + plataforma::TextoCaminho(arquivo) + ": " +
                         TextoErroSistema(erro),
                     erro};
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
                    ComSenha(opcoes, senha), piso, origem, CodigoSaida::CompactacaoFalhou,
                    "Compactação falhou", "7z", SignificadoCompactador, *meios.programas);
}

std::optional<Falha> TestarArquivo(const std::filesystem::path& pasta,
                                   const std::filesystem::path& arquivo, std::int64_t piso,
                                   const OpcoesProcesso& opcoes, const std::string& senha,
                                   const Meios& meios) {
    const std::string etapa = "Teste do arquivo compactado falhou";
    ResultadoProcesso r;
    if (auto falha =
            Executar(LinhaTesteArquivo(pasta, arquivo, !senha.empty()), ComSenha(opcoes, senha),
                     piso, arquivo, CodigoSaida::CompactacaoFalhou, etapa, "7z t",
                     SignificadoCompactador, *meios.programas, &r)) {
        return falha;
    }
    // An archive 7z opens without asking would go out readable by whoever holds it.
    if (!senha.empty() && r.saida.find(kPedidoSenha7z) == std::string::npos) {
        return Falha{CodigoSaida::CompactacaoFalhou, 0,
                     etapa + ": o arquivo se abre sem a senha (" +
                         std::string(NomeChave(&Configuracao::senhaArquivo)) +
                         "); ele não foi enviado."};
    }
    return std::nullopt;
}

std::optional<Falha> Extrair(const std::filesystem::path& pasta,
                             const std::filesystem::path& arquivo,
                             const std::filesystem::path& destino, std::int64_t piso,
                             const OpcoesProcesso& opcoes, const std::string& senha,
                             const Meios& meios) {
    if (auto falha = Executar(LinhaTesteArquivo(pasta, arquivo, !senha.empty()),
                              ComSenha(opcoes, senha), piso, arquivo,
                              CodigoSaida::CompactacaoFalhou, "Teste do arquivo compactado falhou",
                              "7z t", SignificadoCompactador, *meios.programas)) {
        return falha;
    }
    return Executar(LinhaExtracao(pasta, arquivo, destino, !senha.empty()), ComSenha(opcoes, senha),
                    piso, arquivo, CodigoSaida::CompactacaoFalhou, "Extração falhou", "7z x",
                    SignificadoCompactador, *meios.programas);
}

std::optional<Falha> SenhaArquivoIlegivel(const Configuracao& c) {
    // Packed without its password the archive would leave readable: nothing is packed.
    if (const auto* ilegivel = c.IlegivelEm(&Configuracao::senhaArquivo)) {
        return Falha{CodigoSaida::CompactacaoFalhou, 0,
                     "Compactação falhou: a senha do arquivo (" + std::string(ilegivel->chave) +
                         ") está ilegível: " + ilegivel->motivo +
                         "; nada foi compactado nem enviado."};
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
                                     const std::string& remoto, const std::string& etapa,
                                     bool& curto) {
    curto = false;
    std::error_code erro;
    const std::uintmax_t local = std::filesystem::file_size(arquivo, erro);
    if (erro) {
        return Falha{CodigoSaida::EnvioFalhou, erro.value(),
                     etapa + ": " + plataforma::TextoCaminho(arquivo) + ": " +
                         TextoErroSistema(erro)};
    }
    plataforma::TamanhoRemoto tamanho;
    if (const auto f = t.Tamanho(remoto, tamanho)) {
        return Falha{CodigoSaida::EnvioFalhou, 0,
                     etapa + ": o tamanho de " + remoto +
                         " no servidor não pôde ser conferido: " + f->motivo};
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
        return Falha{CodigoSaida::EnvioFalhou, 0,
                     etapa + ": o servidor guardou " + std::to_string(*tamanho.bytes) + " de " +
                         std::to_string(local) + " bytes de " + remoto};
    }
    return std::nullopt;
}

// The encrypted schemes: upload under the temporary name, its size, then its own name.
std::optional<Falha> EnviarCifrado(const DadosFtp& dados, const std::filesystem::path& arquivo,
                                   const std::string& etapa, std::chrono::seconds limite,
                                   const std::string& explicacao, const AposEnvio& apos,
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
        Falha falha{CodigoSaida::EnvioFalhou, 0,
                    etapa + ": " + f.motivo + (f.tempoEsgotado ? " (" + explicacao + ")" : "")};
        falha.transferencia = f;
        return falha;
    };
    if (const auto f = t.Enviar(arquivo, temporario)) {
        return falhou(*f);
    }
    bool curto = false;
    if (auto falha = ConferirTamanho(t, dados, arquivo, temporario, etapa, curto)) {
        if (curto) {
            falha->descricao += "; o que chegou ficou no servidor como " + temporario;
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
            return Falha{CodigoSaida::EnvioFalhou, 0,
                         "Envio falhou: usuário ou senha do FTP ilegível: " + ilegivel->motivo};
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
                                   const std::filesystem::path& arquivo, const std::string& etapa,
                                   std::int64_t piso, const OpcoesProcesso& opcoes,
                                   const AposEnvio& apos,
                                   plataforma::FalhaTransferencia* transferencia,
                                   const Meios& meios) {
    std::optional<Falha> falha;
    try {
        std::string explicacao;
        const auto comLimite = ComLimite(opcoes, arquivo, piso, explicacao);
        if (dados.esquema != plataforma::Esquema::Ftp) {
            falha = EnviarCifrado(dados, arquivo, etapa, comLimite.limite, explicacao, apos,
                                  transferencia, *meios.transferencias);
        } else {
            auto r = EnviarArquivoFtp(pasta, dados, arquivo, comLimite, *meios.programas);
            if (r.parado.count() > 0) {
                r.motivo = explicacao;
            }
            if (!r.sucesso()) {
                falha = Falha{CodigoSaida::EnvioFalhou, NumeroFalha(r),
                              DescricaoFalha(etapa, "ncftpput", r, SignificadoEnviador)};
                falha->origem = Falha::Origem::Enviador;
                falha->ferramenta = std::move(r);
            } else {
                // The uploader renamed the file itself once its server said 226, which FTP's
                // stream mode says of a cut connection too: what arrived is asked now.
                const auto sessao = meios.transferencias->Abrir(
                    DestinoDe(dados, std::chrono::seconds(std::max<std::int64_t>(piso, 60))));
                auto& t = *sessao;
                const std::string nome = plataforma::TextoCaminho(arquivo.filename());
                bool curto = false;
                falha = ConferirTamanho(t, dados, arquivo, nome, etapa, curto);
                // A short file must not pass for the night's archive under its name.
                if (curto) {
                    const std::string temporario = nome + std::string(kSufixoEnvio);
                    falha->descricao +=
                        t.Renomear(nome, temporario)
                            ? "; o arquivo incompleto ficou no servidor como " + nome
                            : "; o que chegou ficou no servidor como " + temporario;
                } else if (!falha && apos) {
                    apos(t, nome);
                }
            }
        }
    } catch (const std::exception& e) {
        falha = Falha{CodigoSaida::EnvioFalhou, 0, etapa + ": " + e.what()};
    }
    if (falha) {
        falha->descricao = OcultarSegredos(falha->descricao, {dados.senha});
        if (falha->ferramenta) {
            falha->ferramenta->saida = OcultarSegredos(falha->ferramenta->saida, {dados.senha});
        }
    }
    return falha;
}

} // namespace kelvane
