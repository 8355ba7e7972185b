#include "mensagens.h"

#include "job/etapas.h"
#include "job/textos.h"
#include "plataforma/arquivos.h"
#include "settings/configuracao.h"
#include "settings/regras.h"

#include <string>
#include <utility>

namespace kelvane::janela {

namespace {

bool Contem(const QString& texto, std::initializer_list<const char*> trechos) {
    for (const char* trecho : trechos) {
        if (texto.contains(QLatin1String(trecho), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

} // namespace

QString TextoErroSistema(int erro) {
    return QString::fromStdString(
        kelvane::TextoErroSistema(std::error_code(erro, std::generic_category())));
}

QString DicaConexaoBanco(long numero, const std::string& texto) {
    const QString t = QString::fromStdString(texto);
    // 18456: login failed; 18452, 18470, 18486 to 18488: the login cannot be used as it is.
    if (numero == 18456 || numero == 18452 || numero == 18470 ||
        (numero >= 18486 && numero <= 18488) || Contem(t, {"login failed"})) {
        return QStringLiteral("O servidor recusou a entrada: confira o Login e a Senha.");
    }
    // HYT00 comes with the words "timeout expired"; the connection itself was made.
    if (Contem(t, {"timeout", "timed out", "time-out"})) {
        return QStringLiteral("O servidor não respondeu a tempo: confira se o SQL Server está em "
                              "execução neste endereço e nesta porta.");
    }
    // 08001 and FreeTDS's 20009: nothing answers at that name, instance or port.
    if (numero == 20009 ||
        Contem(t, {"unavailable", "does not exist", "unable to connect", "not found",
                   "network-related", "could not open a connection"})) {
        return QStringLiteral("O servidor não foi encontrado: confira o nome do servidor, a "
                              "instância ou a porta (servidor,porta).");
    }
    return QStringLiteral("A conexão com o banco falhou: veja abaixo a resposta do driver.");
}

QString TextoFalhaFtp(const Falha& falha) {
    const QString texto = QString::fromStdString(TextoFalha(falha));
    // The uploader did not run, or the transfer unit failed with its reason in Portuguese
    // already: its exit statuses below would only mislead.
    if (falha.origem != Falha::Origem::Enviador) {
        return texto;
    }
    QString dica;
    // ncftpput's exit statuses; 0 here is one stopped at its time limit.
    switch (falha.numero) {
    case 1:
        // Both a refused connection and a refused login end with 1: its own words tell which.
        dica =
            falha.ferramenta && Contem(QString::fromStdString(falha.ferramenta->saida),
                                       {"not accepted", "login incorrect", "530 "})
                ? QStringLiteral("O servidor FTP recusou a entrada: confira o Usuario e a Senha.")
                : QStringLiteral("O servidor FTP não foi encontrado ou recusou a conexão: "
                                 "confira o Endereço e a Porta.");
        break;
    case 0:
    case 2:
        dica = QStringLiteral("O servidor FTP não respondeu a tempo: confira o Endereço e a Porta, "
                              "e se um firewall bloqueia a conexão.");
        break;
    case 3:
    case 4:
        dica = QStringLiteral("O arquivo não pôde ser gravado no servidor FTP: confira se o "
                              "Usuario pode gravar no Diretório e se há espaço no servidor.");
        break;
    case 5:
    case 6:
        dica = QStringLiteral("O Diretório não pôde ser aberto no servidor FTP: confira se ele "
                              "existe e se o Usuario pode entrar nele.");
        break;
    default:
        dica = QStringLiteral("O teste FTP falhou: veja abaixo a resposta do ncftpput.");
    }
    return dica + QStringLiteral("\r\n") + texto;
}

std::optional<QString> PortaFtp(const QString& digitada, const QString& endereco) {
    Configuracao c;
    c.porta = digitada.trimmed().toStdString();
    c.endereco = endereco.toStdString();
    const auto v = ValidarConfiguracao(c, Uso::Gravar);
    if (ProblemaEm(v, &Configuracao::porta)) {
        return std::nullopt;
    }
    const auto esquema = LerEnderecoFtp(c.endereco);
    return QString::fromStdString(v.valores.porta.empty()
                                      ? std::string(esquema ? esquema->portaPadrao : "21")
                                      : v.valores.porta);
}

} // namespace kelvane::janela
