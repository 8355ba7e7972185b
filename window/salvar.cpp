// "Salvar e Fechar": the tool warnings, the server-name check and the save sequence that the
// other buttons share.
#include "caixas.h"
#include "form1.h"
#include "job/backup.h"
#include "job/ferramentas.h"
#include "job/politica_permissoes.h"
#include "job/programa.h"
#include "job/textos.h"
#include "mensagens.h"
#include "plataforma/arquivos.h"
#include "settings/cripto.h"
#include "settings/ini.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <array>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvane::janela {

namespace {

// Names that always mean the machine the program runs on.
bool NomeDesteComputador(const QString& servidor) {
    const QString s = servidor.toUpper();
    return s == QLatin1String("LOCALHOST") || s == QLatin1String("127.0.0.1") ||
           s == QLatin1String(".") || s == QLatin1String("(LOCAL)");
}

} // namespace

void Form1::cmdSalvarFechar_Click() {
    const std::string nome = NomeComputadorJanela();
    // Only a warning: the settings can be prepared before the tools are laid in.
    for (const auto ferramenta : kFerramentas) {
        if (!FerramentaPresente(PastaPrograma(), ferramenta)) {
            MostrarCaixa(this, Icone::Critico,
                         QString::fromStdString(TextoCaixaFerramentaFaltando(ferramenta)));
        }
    }
    if (!ConferirServidorBD(nome) || !SalvarConfiguracao()) {
        return;
    }
    close();
}

bool Form1::ConferirServidorBD(const std::string& nomeComputador) {
    const QString servidor = txtServidorBD->text();
    const QString nome = QString::fromStdString(nomeComputador);
    if (servidor.isEmpty()) {
        // The job could not connect anywhere: every scheduled run would fail.
        Avisar(Icone::Critico,
               QStringLiteral("As configurações não foram gravadas: informe o Servidor de "
                              "Banco de Dados (este computador: %1, localhost ou "
                              "127.0.0.1).")
                   .arg(nome));
        return false;
    }
    bool confere = false;
    {
        // The host ends where an instance name ("\") or a port (",") begins.
        qsizetype fim = servidor.size();
        for (const QChar separador : {QLatin1Char('\\'), QLatin1Char(',')}) {
            if (const auto pos = servidor.indexOf(separador); pos >= 0 && pos < fim) {
                fim = pos;
            }
        }
        const QString host = servidor.left(fim);
        confere =
            !host.isEmpty() && (host.toUpper() == nome.toUpper() || NomeDesteComputador(host));
    }
    if (!confere) {
        Avisar(Icone::Critico,
               QStringLiteral("Este progama deve executado somente no Servidor de Banco de "
                              "Dados!\r\nInforme o nome do Servidor de Banco corretamente!"
                              "\r\nNome deste Servidor: ") +
                   nome);
    }
    return confere;
}

bool Form1::PastaSegura() {
    if (const auto inseguro = PermissaoInsegura(PastaPrograma(), PastaDados(), true)) {
        Avisar(Icone::Critico, QString::fromStdString(*inseguro));
        return false;
    }
    return true;
}

bool Form1::SalvarConfiguracao() {
    if (!PastaSegura()) {
        return false;
    }
    // ncftpput takes any text and dials port 21 instead: every night would fail.
    const auto porta = ConferirPorta(QStringLiteral("As configurações não foram gravadas"));
    if (!porta) {
        return false;
    }
    const bool ncripto = ValorCheck(chkNCripto) == 1;
    const std::array<std::pair<const QLineEdit*, const char*>, 4> credenciais = {{
        {txtLogin, "o login do banco"},
        {txtSenha, "a senha do banco"},
        {txtUsuario, "o usuário do FTP"},
        {txtPassw, "a senha do FTP"},
    }};
    // The server and 7z write the archive under this name; it must fit the file system, or
    // every run fails.
    const std::string arquivo =
        NomeArquivoBackup(txtCodigoCliente->text().toStdString(),
                          txtNomeCliente->text().toStdString(), AgoraLocal())
            .substr(1);
    const long maximo = plataforma::TamanhoMaximoNome(PastaDados());
    if (static_cast<long>(arquivo.size()) > maximo) {
        Avisar(Icone::Critico,
               QStringLiteral("As configurações não foram gravadas: com este código e este "
                              "nome de cliente o arquivo do backup teria um nome de %1 "
                              "bytes, e o sistema de arquivos aceita até %2.\r\nEncurte o "
                              "código ou o nome do cliente.")
                   .arg(arquivo.size())
                   .arg(maximo));
        return false;
    }
    // Every credential is scrambled before the first key is written, so a value that cannot
    // be leaves the file as it was instead of half rewritten.
    std::array<std::string, 4> valores;
    for (std::size_t i = 0; i < credenciais.size(); ++i) {
        const auto& [caixa, descricao] = credenciais[i];
        try {
            valores[i] = AplicarNCripto(caixa->text().toStdString(), ncripto);
            // A line of info.ini cannot hold a line break or NUL: a tab, scrambled, can become
            // one, and the file would keep another password than the one typed.
            if (valores[i].find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
                Avisar(Icone::Critico,
                       QStringLiteral("As configurações não foram gravadas: %1 contém um "
                                      "caractere de controle (tabulação ou quebra de "
                                      "linha) que não pode ser gravado.\r\nRedigite o "
                                      "texto sem ele.")
                           .arg(QString::fromUtf8(descricao)));
                return false;
            }
        } catch (const ErroCripto& e) {
            Avisar(Icone::Critico,
                   QStringLiteral("As configurações não foram gravadas: %1 tem %2 "
                                  "caracteres, e só é possível embaralhar até %3.\r\n"
                                  "Encurte o texto ou marque NCripto.")
                       .arg(QString::fromUtf8(descricao))
                       .arg(e.tamanho())
                       .arg(kTamanhoMaximoCripto));
            return false;
        }
    }

    const auto texto = [](const QLineEdit* caixa) {
        return caixa->text().toStdString();
    };
    std::vector<std::pair<const char*, std::string>> chaves = {
        {"CodigoCliente", texto(txtCodigoCliente)},
        {"NomeCliente", texto(txtNomeCliente)},
        {"ServidorDB", texto(txtServidorBD)},
        {"Banco", texto(txtBanco)},
        {"SSPI", std::to_string(ValorCheck(chkLoginIntegrado))},
    };
    // The file must say how the credentials below are stored, or the next unattended run
    // reads them the other way. A file that already agrees is left as it is.
    if (ncripto != NCriptoEmVigor(LerINI(kSecaoInfos, "NCripto", ArquivoIni()))) {
        chaves.emplace_back("NCripto", ncripto ? "1" : "0");
    }
    static constexpr const char* kChaves[] = {"Login", "Senha", "Usuario", "Passw"};
    for (std::size_t i = 0; i < credenciais.size(); ++i) {
        chaves.emplace_back(kChaves[i], valores[i]);
    }
    chaves.insert(chaves.end(), {{"ServidorFTP", std::to_string(cmbServidor->currentIndex())},
                                 {"Endereco", texto(txtEnderecoFTP)},
                                 {"Porta", porta->toStdString()},
                                 {"Diretorio", texto(txtDiretorio)}});
    for (const auto& [chave, valor] : chaves) {
        errno = 0; // the writer leaves the reason of a failure in errno
        if (!GravarValorINI(kSecaoInfos, chave, valor, ArquivoIni())) {
            const int erro = errno;
            Avisar(Icone::Critico,
                   QStringLiteral("As configurações não foram gravadas em %1: %2.\r\n"
                                  "O que foi digitado continua na janela.")
                       .arg(QString::fromStdString(ArquivoIni().string()),
                            erro != 0 ? TextoErroSistema(erro)
                                      : QStringLiteral("o arquivo não pôde ser escrito")));
            return false;
        }
    }
    ncriptoSalvo_ = ncripto;
    return true;
}

} // namespace kelvane::janela
