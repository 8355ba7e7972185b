// The two connection tests: the values as typed in the window; from info.ini only whom the
// encrypted schemes trust, and an SFTP host key or a server's certificate the user accepts is
// kept there (the certificate in a file of the data folder that CertificadoFTP names).
#include "caixas.h"
#include "form1.h"
#include "job/backup.h"
#include "job/banco.h"
#include "job/programa.h"
#include "job/textos.h"
#include "mensagens.h"
#include "plataforma/arquivos.h"
#include "plataforma/nomes.h"
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

// The driver's words are the one text from outside that may hold the system's own.
std::string TextoFalhaBanco(Falha falha) {
    falha.descricao = TraduzirErrosSistema(std::move(falha.descricao));
    return TextoFalha(falha);
}

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
                *resposta =
                    Resposta{Icone::Critico, QString::fromStdString(TextoDescricao(*falha))};
                return;
            }
            *resposta =
                falha
                    ? Resposta{Icone::Critico, DicaConexaoBanco(falha->numero, falha->descricao) +
                                                   QStringLiteral("\r\n") +
                                                   QString::fromStdString(TextoFalhaBanco(*falha))}
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
    // Whom the encrypted schemes trust is kept in info.ini only, and checked by the job's own
    // steps: a test that passes is a send the night's run makes too.
    auto cfg = LerConfiguracao(ArquivoIni()).valores;
    const bool semChave = cfg.chaveHostFTP.empty(), semCertificado = cfg.certificadoFTP.empty();
    cfg.endereco = txtEnderecoFTP->text().toStdString();
    cfg.porta = porta->toStdString();
    cfg.usuario = txtUsuario->text().toStdString();
    cfg.passw = txtPassw->text().toStdString();
    cfg.diretorio = txtDiretorio->text().toStdString();
    std::erase_if(cfg.ilegiveis, [](const Configuracao::Ilegivel& i) { // typed: read as they are
        return i.chave == NomeChave(&Configuracao::usuario) ||
               i.chave == NomeChave(&Configuracao::passw);
    });
    auto resposta = std::make_shared<Resposta>();
    // What the server showed that nothing trusts yet, offered to the user below: never a key or
    // a certificate that takes the place of one already trusted.
    auto novo = std::make_shared<plataforma::FalhaTransferencia>();
    MostrarMensagem(
        QStringLiteral("Testando a conexão FTP com %1:%2...").arg(txtEnderecoFTP->text(), *porta));
    IniciarTarefa(
        kMotivoTeste,
        [=] {
            // What the session that checked the upload saw, and the test file gone through it.
            plataforma::DescricaoConexao descricao;
            std::string apagado;
            const auto apagar = [&](SessaoTransferencia& sessao, const std::string& nome) {
                descricao = sessao.Descrever();
                const auto f = sessao.Apagar(nome);
                apagado = f ? ", mas o arquivo de teste " + nome +
                                  " não pôde ser apagado e continua no servidor: " +
                                  OcultarSegredos(f->motivo, {cfg.passw})
                            : "! O arquivo de teste foi apagado do servidor.";
            };
            // The job's run with its FTP checks and send alone; the archiver's library is a file
            // every installation has to send.
            auto contexto = ContextoDoProcesso(nullptr);
            contexto.configuracao = cfg;
            contexto.testeFtp = TesteFtp{contexto.programa / plataforma::kNomeBiblioteca7z, apagar};
            const auto r = Execucao(std::move(contexto)).Executar();
            if (r.etapa != Etapa::Nenhuma) {
                // A setting or a file refused before any connection: its own line, as the
                // window's other refusals.
                const bool recusa = r.etapa == Etapa::Configuracao || r.etapa == Etapa::Permissoes;
                *resposta = Resposta{Icone::Critico,
                                     recusa ? QString::fromStdString(TextoDescricao(r.falha))
                                            : TextoFalhaFtp(r.falha)};
                if (const auto& visto = r.falha.transferencia) {
                    if (semChave) {
                        novo->chaveServidor = visto->chaveServidor;
                        novo->tipoChave = visto->tipoChave;
                    }
                    if (semCertificado) {
                        novo->certificado = visto->certificado;
                    }
                }
                return;
            }
            std::string checado = "Conexão FTP efetuada com sucesso" + apagado;
            checado += "\r\nProtocolo: " + descricao.protocolo;
            if (!descricao.tls.empty()) {
                checado += "\r\nTLS: " + descricao.tls;
            }
            if (const auto& c = descricao.certificado) {
                checado +=
                    "\r\nCertificado confiável " +
                    (semCertificado
                         ? std::string("pelo sistema")
                         : "por CertificadoFTP (" +
                               plataforma::TextoCaminho(plataforma::Caminho(cfg.certificadoFTP)) +
                               ")") +
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
