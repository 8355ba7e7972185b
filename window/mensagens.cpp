#include "mensagens.h"

#include "job/etapas.h"
#include "job/regras.h"
#include "plataforma/arquivos.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace kelvane::janela {

namespace {

// The errors a save, a load or a send meets in practice (a number 0 is one the system lacks).
const std::pair<int, const char*> kErrosSistema[] = {
    {EACCES, "permissão negada"},
    {EPERM, "operação não permitida"},
    {EROFS, "o sistema de arquivos é somente leitura"},
    {ENOSPC, "não há espaço livre no disco"},
    {plataforma::kErroCotaExcedida, "a cota de disco foi excedida"},
    {ENOENT, "arquivo ou pasta inexistente"},
    {ENOTDIR, "uma parte do caminho não é uma pasta"},
    {EISDIR, "é uma pasta, não um arquivo"},
    {EEXIST, "o arquivo já existe"},
    {EIO, "erro de leitura ou gravação no disco"},
    {ENAMETOOLONG, "nome de arquivo longo demais"},
    {ELOOP, "links simbólicos demais no caminho"},
    {ECONNREFUSED, "conexão recusada"},
    {ETIMEDOUT, "a conexão esgotou o tempo de espera"},
};

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
    for (const auto& [numero, texto] : kErrosSistema) {
        if (numero == erro && numero != 0) {
            return QString::fromUtf8(texto);
        }
    }
    return QString::fromLocal8Bit(std::strerror(erro));
}

QString TraduzirErrosSistema(QString texto) {
    for (const auto& [numero, traducao] : kErrosSistema) {
        if (numero == 0) {
            continue;
        }
        texto.replace(QString::fromLocal8Bit(std::strerror(numero)), QString::fromUtf8(traducao));
    }
    return texto;
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

std::optional<QString> PortaFtp(const QString& digitada) {
    Configuracao c;
    c.porta = digitada.trimmed().toStdString();
    const auto v = ValidarConfiguracao(c, Uso::Gravar);
    if (ProblemaEm(v, &Configuracao::porta)) {
        return std::nullopt;
    }
    return QString::fromStdString(v.valores.porta);
}

} // namespace kelvane::janela
