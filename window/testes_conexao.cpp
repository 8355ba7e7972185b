// The two connection tests: the values as typed in the window; from info.ini only whom the
// encrypted schemes trust, and an SFTP host key the user accepts is written there.
#include "caixas.h"
#include "form1.h"
#include "job/banco.h"
#include "job/etapas.h"
#include "job/ferramentas.h"
#include "job/programa.h"
#include "job/textos.h"
#include "mensagens.h"
#include "settings/texto.h"

#include <QCheckBox>
#include <QLineEdit>
#include <filesystem>
#include <memory>

namespace kelvane::janela {

namespace {

struct Resposta {
    Icone icone = Icone::Critico;
    QString texto; // empty when the work threw
};

const QString kMotivoTeste = QStringLiteral(
    "Um teste de conexão está em andamento. Aguarde o resultado para fechar a janela.");

} // namespace

void Form1::cmdTestarConexaoBanco_Click() {
    const bool integrado = ValorCheck(chkLoginIntegrado) == 1;
    const std::string servidor = txtServidorBD->text().toStdString();
    const std::string login = txtLogin->text().toStdString();
    const std::string senha = txtSenha->text().toStdString();
    auto resposta = std::make_shared<Resposta>();
    // A server that never answers holds the test for the whole login time-out.
    MostrarMensagem(
        QStringLiteral("Testando a conexão com o banco %1...").arg(txtServidorBD->text()));
    IniciarTarefa(
        kMotivoTeste,
        [=] {
            const auto falha = TestarConexaoBanco(LerConfiguracao(ArquivoIni()).valores.driverODBC,
                                                  servidor, login, senha, integrado);
            // What to check first, in Portuguese; then the driver's own words.
            // DriverODBC, or a listener the login was kept from: the job's line as it is.
            if (falha && (falha->codigo == CodigoSaida::PermissoesInseguras ||
                          falha->descricao.starts_with(kErroConexao))) {
                *resposta = Resposta{Icone::Critico, QString::fromStdString(falha->descricao)};
                return;
            }
            *resposta =
                falha
                    ? Resposta{Icone::Critico, DicaConexaoBanco(falha->numero, falha->descricao) +
                                                   QStringLiteral("\r\n") +
                                                   QString::fromStdString(TextoFalha(*falha))}
                    : Resposta{Icone::Informacao, QStringLiteral("Conexão efetuada com sucesso!")};
        },
        [this, resposta] { Avisar(resposta->icone, resposta->texto); });
}

void Form1::cmdTestarFTP_Click() {
    if (!PastaSegura()) {
        return;
    }
    const auto porta = ConferirPorta(QStringLiteral("A conexão FTP não foi testada"));
    if (!porta) {
        return;
    }
    const auto endereco = LerEnderecoFtp(txtEnderecoFTP->text().toStdString());
    if (!endereco) {
        Avisar(Icone::Critico, QStringLiteral("A conexão FTP não foi testada: o endereço começa "
                                              "com um protocolo desconhecido; use ftp://, "
                                              "ftpes://, ftps:// ou sftp://, ou nenhum."));
        return;
    }
    // Whom the encrypted schemes trust is kept in info.ini only.
    const auto salvo = LerConfiguracao(ArquivoIni()).valores;
    DadosFtp dados;
    dados.esquema = endereco->esquema;
    dados.endereco = endereco->host;
    dados.porta = porta->toStdString();
    dados.usuario = txtUsuario->text().toStdString();
    dados.senha = txtPassw->text().toStdString();
    dados.diretorio = txtDiretorio->text().toStdString();
    dados.teste = true;
    dados.certificado = plataforma::Caminho(salvo.certificadoFTP);
    dados.chaveHost = salvo.chaveHostFTP;
    const auto pasta = PastaPrograma();
    const auto limite = ValidarConfiguracao(salvo, Uso::Executar).valores.limiteEtapa;
    auto resposta = std::make_shared<Resposta>();
    auto chave = std::make_shared<std::string>();
    MostrarMensagem(
        QStringLiteral("Testando a conexão FTP com %1:%2...").arg(txtEnderecoFTP->text(), *porta));
    IniciarTarefa(
        kMotivoTeste,
        [=] {
            const std::string etapa = "Teste de conexão FTP falhou";
            // What the session that checked the upload saw, and the test file gone through it.
            plataforma::DescricaoConexao descricao;
            std::string apagado;
            const auto apagar = [&](plataforma::Transferencia& sessao, const std::string& nome) {
                descricao = sessao.Descrever();
                const auto f = sessao.Apagar(nome);
                apagado = f ? ", mas o arquivo de teste " + nome +
                                  " não pôde ser apagado e continua no servidor: " +
                                  OcultarSegredos(f->motivo, {dados.senha})
                            : "! O arquivo de teste foi apagado do servidor.";
            };
            // The archiver's library is a file every installation has to send; only plain FTP
            // goes through the uploader.
            const auto falha =
                dados.esquema != plataforma::Esquema::Ftp ||
                        FerramentaPresente(pasta, plataforma::kNomeEnviador)
                    ? EnviarArquivo(pasta, dados, pasta / plataforma::kNomeBiblioteca7z, etapa,
                                    limite, {}, apagar)
                    : Falha{CodigoSaida::FerramentaFaltando, 0,
                            etapa + ": " + TextoFaltandoArquivo(plataforma::kNomeEnviador)};
            if (falha) {
                *resposta = Resposta{Icone::Critico, TextoFalhaFtp(*falha)};
                // An SFTP server whose key is not pinned yet: offered to the user below.
                const auto i = falha->descricao.find("não está registrada em ChaveHostFTP");
                const auto k = falha->descricao.rfind("ChaveHostFTP=SHA256:");
                if (i != std::string::npos && k != std::string::npos) {
                    *chave = falha->descricao.substr(k + 13);
                }
                return;
            }
            std::string checado = "Conexão FTP efetuada com sucesso" + apagado;
            checado += "\r\nProtocolo: " + descricao.protocolo;
            if (!descricao.tls.empty()) {
                checado += "\r\nTLS: " + descricao.tls;
            }
            if (!descricao.titular.empty()) {
                checado += "\r\nCertificado: " + descricao.titular + ", emitido por " +
                           descricao.emissor + ", válido até " + descricao.validade;
            }
            if (!descricao.chaveHost.empty()) {
                checado += "\r\nChave do servidor: " + descricao.chaveHost;
            }
            *resposta = Resposta{Icone::Informacao, QString::fromStdString(checado)};
        },
        [this, resposta, chave] {
            if (chave->empty()) {
                Avisar(resposta->icone, resposta->texto);
                return;
            }
            if (!Perguntar(this, QStringLiteral(
                                     "O servidor SFTP apresentou a chave\r\n%1\r\nque ainda não é "
                                     "confiável. Confira com o administrador do servidor se é a "
                                     "chave dele. Confiar nesta chave e gravá-la em ChaveHostFTP?")
                                     .arg(QString::fromStdString(*chave)))) {
                return;
            }
            if (const auto erro =
                    GravarConfiguracao(ArquivoIni(), {{&Configuracao::chaveHostFTP, *chave}})) {
                Avisar(Icone::Critico, QStringLiteral("ChaveHostFTP não foi gravada em %1: %2.")
                                           .arg(QString::fromStdString(ArquivoIni().string()),
                                                TextoErroSistema(erro.value())));
            }
        });
}

} // namespace kelvane::janela
