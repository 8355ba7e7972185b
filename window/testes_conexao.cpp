// The two connection tests: the values as typed in the window, nothing read from or written to
// info.ini.
#include "caixas.h"
#include "form1.h"
#include "job/banco.h"
#include "job/etapas.h"
#include "job/ferramentas.h"
#include "job/programa.h"
#include "job/textos.h"
#include "mensagens.h"

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
    DadosFtp dados;
    dados.endereco = txtEnderecoFTP->text().toStdString();
    dados.porta = porta->toStdString();
    dados.usuario = txtUsuario->text().toStdString();
    dados.senha = txtPassw->text().toStdString();
    dados.diretorio = txtDiretorio->text().toStdString();
    dados.teste = true;
    const auto pasta = PastaPrograma();
    const auto limite = ValidarConfiguracao(LerConfiguracao(ArquivoIni()).valores, Uso::Executar)
                            .valores.limiteEtapa;
    auto resposta = std::make_shared<Resposta>();
    MostrarMensagem(
        QStringLiteral("Testando a conexão FTP com %1:%2...").arg(txtEnderecoFTP->text(), *porta));
    IniciarTarefa(
        kMotivoTeste,
        [=] {
            const std::string etapa = "Teste de conexão FTP falhou";
            // The archiver's library is a file every installation has to send.
            const auto falha =
                FerramentaPresente(pasta, plataforma::kNomeEnviador)
                    ? EnviarArquivo(pasta, dados, pasta / plataforma::kNomeBiblioteca7z, etapa,
                                    limite)
                    : Falha{CodigoSaida::FerramentaFaltando, 0,
                            etapa + ": " + TextoFaltandoArquivo(plataforma::kNomeEnviador)};
            *resposta = falha ? Resposta{Icone::Critico, TextoFalhaFtp(*falha)}
                              : Resposta{Icone::Informacao,
                                         QStringLiteral("Conexão FTP efetuada com sucesso!")};
        },
        [this, resposta] { Avisar(resposta->icone, resposta->texto); });
}

} // namespace kelvane::janela
