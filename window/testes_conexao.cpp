// The two connection tests: the values as typed in the window; from info.ini only whom the
// encrypted schemes trust, and an SFTP host key or a server's certificate the user accepts is
// kept there (the certificate in a file of the data folder that CertificadoFTP names).
#include "caixas.h"
#include "form1.h"
#include "job/banco.h"
#include "job/etapas.h"
#include "job/ferramentas.h"
#include "job/politica_permissoes.h"
#include "job/programa.h"
#include "job/textos.h"
#include "mensagens.h"
#include "plataforma/arquivos.h"
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

// The file a certificate the user trusted from the FTP test is kept in.
constexpr const char* kArquivoCertificadoFtp = "CertificadoFTP.pem";

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
                          falha->origem == Falha::Origem::Ouvinte)) {
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
    // Whom the encrypted schemes trust is kept in info.ini only, and checked as the job checks
    // it: a test that passes is a send the night's run makes too.
    const auto salvo = LerConfiguracao(ArquivoIni()).valores;
    const auto regras = ValidarConfiguracao(salvo, Uso::Executar);
    if (const auto* problema = ProblemaEm(regras, &Configuracao::chaveHostFTP)) {
        Avisar(Icone::Critico, QString::fromStdString(problema->texto));
        return;
    }
    const auto pasta = PastaPrograma();
    if (!salvo.certificadoFTP.empty()) {
        if (const auto inseguro = CertificadoInseguro(plataforma::Caminho(salvo.certificadoFTP))) {
            Avisar(Icone::Critico, QString::fromStdString(*inseguro));
            return;
        }
    }
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
    const auto limite = regras.valores.limiteEtapa;
    auto resposta = std::make_shared<Resposta>();
    // What the server showed that nothing trusts yet, offered to the user below: never a key or
    // a certificate that takes the place of one already trusted.
    auto novo = std::make_shared<plataforma::FalhaTransferencia>();
    MostrarMensagem(
        QStringLiteral("Testando a conexão FTP com %1:%2...").arg(txtEnderecoFTP->text(), *porta));
    IniciarTarefa(
        kMotivoTeste,
        [=] {
            const std::string etapa = "Teste de conexão FTP falhou";
            // What the session that checked the upload saw, and the test file gone through it.
            plataforma::DescricaoConexao descricao;
            std::string apagado;
            const auto apagar = [&](SessaoTransferencia& sessao, const std::string& nome) {
                descricao = sessao.Descrever();
                const auto f = sessao.Apagar(nome);
                apagado = f ? ", mas o arquivo de teste " + nome +
                                  " não pôde ser apagado e continua no servidor: " +
                                  OcultarSegredos(f->motivo, {dados.senha})
                            : "! O arquivo de teste foi apagado do servidor.";
            };
            plataforma::FalhaTransferencia transferencia;
            // The archiver's library is a file every installation has to send; only plain FTP
            // goes through the uploader.
            const auto falha =
                dados.esquema != plataforma::Esquema::Ftp ||
                        FerramentaPresente(pasta, plataforma::kNomeEnviador)
                    ? EnviarArquivo(pasta, dados, pasta / plataforma::kNomeBiblioteca7z, etapa,
                                    limite, {}, apagar, &transferencia)
                    : Falha{CodigoSaida::FerramentaFaltando, 0,
                            etapa + ": " + TextoFaltandoArquivo(plataforma::kNomeEnviador)};
            if (falha) {
                *resposta = Resposta{Icone::Critico, TextoFalhaFtp(*falha)};
                if (dados.chaveHost.empty()) {
                    novo->chaveServidor = transferencia.chaveServidor;
                    novo->tipoChave = transferencia.tipoChave;
                }
                if (dados.certificado.empty()) {
                    novo->certificado = transferencia.certificado;
                }
                return;
            }
            std::string checado = "Conexão FTP efetuada com sucesso" + apagado;
            checado += "\r\nProtocolo: " + descricao.protocolo;
            if (!descricao.tls.empty()) {
                checado += "\r\nTLS: " + descricao.tls;
            }
            if (const auto& c = descricao.certificado) {
                checado += "\r\nCertificado confiável " +
                           (dados.certificado.empty()
                                ? std::string("pelo sistema")
                                : "por CertificadoFTP (" +
                                      plataforma::TextoCaminho(dados.certificado) + ")") +
                           ": " + c->titular + ", emitido por " + c->emissor + ", válido até " +
                           c->validade;
            }
            if (!descricao.chaveHost.empty()) {
                checado +=
                    "\r\nChave do servidor: " + descricao.tipoChave + " " + descricao.chaveHost;
            }
            *resposta = Resposta{Icone::Informacao, QString::fromStdString(checado)};
        },
        [this, resposta, novo] {
            if (novo->chaveServidor.empty() && !novo->certificado) {
                Avisar(resposta->icone, resposta->texto);
            } else if (!novo->chaveServidor.empty()) {
                ConfiarChave(novo->tipoChave, novo->chaveServidor);
            } else {
                ConfiarCertificado(*novo->certificado);
            }
        });
}

void Form1::ConfiarChave(const std::string& tipo, const std::string& chave) {
    const auto texto = QString::fromStdString(tipo + " " + chave);
    if (!Perguntar(this, QStringLiteral(
                             "O servidor SFTP apresentou a chave %1\r\nque ainda não é confiável. "
                             "Confira com o administrador do servidor se é a chave dele. Confiar "
                             "nesta chave e gravá-la em ChaveHostFTP?")
                             .arg(QString::fromStdString(tipo) + QStringLiteral("\r\n") +
                                  QString::fromStdString(chave))) ||
        !PastaSegura()) {
        return;
    }
    if (const auto erro =
            GravarConfiguracao(ArquivoIni(), {{&Configuracao::chaveHostFTP, chave}})) {
        Avisar(Icone::Critico, QStringLiteral("ChaveHostFTP não foi gravada em %1: %2.")
                                   .arg(QString::fromStdString(ArquivoIni().string()),
                                        TextoErroSistema(erro.value())));
        return;
    }
    Avisar(Icone::Informacao,
           QStringLiteral("A chave %1 do servidor SFTP foi gravada em ChaveHostFTP (%2); o "
                          "próximo teste e o backup confiam nela.")
               .arg(texto, QString::fromStdString(ArquivoIni().string())));
}

void Form1::ConfiarCertificado(const plataforma::CertificadoServidor& certificado) {
    if (!Perguntar(
            this,
            QString::fromStdString(
                "O servidor FTP apresentou um certificado em que nada confia ainda:\r\n"
                "Titular: " +
                certificado.titular + "\r\nEmitido por: " + certificado.emissor +
                "\r\nImpressão digital SHA-256: " + certificado.impressao +
                "\r\nVálido até: " + certificado.validade +
                "\r\nConfira com o administrador do servidor se é o certificado dele. Confiar "
                "neste certificado e gravá-lo em CertificadoFTP?")) ||
        !PastaSegura()) {
        return;
    }
    // In the data folder, written as info.ini is: whole or not at all, ours alone.
    const auto arquivo = std::filesystem::absolute(PastaDados() / kArquivoCertificadoFtp);
    std::string pem = certificado.pem;
    if (!pem.ends_with('\n')) {
        pem += '\n';
    }
    auto erro = plataforma::SubstituirArquivo(arquivo, pem, std::nullopt);
    if (!erro) {
        erro = GravarConfiguracao(
            ArquivoIni(), {{&Configuracao::certificadoFTP, plataforma::TextoCaminho(arquivo)}});
    }
    if (erro) {
        Avisar(Icone::Critico, QStringLiteral("O certificado não foi gravado em CertificadoFTP "
                                              "(%1): %2.")
                                   .arg(QString::fromStdString(plataforma::TextoCaminho(arquivo)),
                                        TextoErroSistema(erro.value())));
        return;
    }
    Avisar(Icone::Informacao,
           QString::fromStdString("O certificado de " + certificado.titular + " (SHA-256 " +
                                  certificado.impressao + ") foi gravado em " +
                                  plataforma::TextoCaminho(arquivo) +
                                  " e CertificadoFTP aponta para ele; o próximo teste e o backup "
                                  "confiam nele."));
}

} // namespace kelvane::janela
