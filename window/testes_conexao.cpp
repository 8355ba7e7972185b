// The two connection tests: the values as typed in the window, nothing read from or written to
// info.ini.
#include "caixas.h"
#include "falhas.h"
#include "form1.h"
#include "job/banco.h"
#include "job/ferramentas.h"
#include "job/programa.h"

#include <QCheckBox>
#include <QLineEdit>
#include <filesystem>
#include <memory>

namespace kelvane::janela {

namespace {

struct Resposta {
    Icone icone = Icone::Critico;
    std::string texto;
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
    IniciarTarefa(
        kMotivoTeste,
        [=] {
            try {
                Conexao = std::make_unique<ConexaoOdbc>();
                const std::string driver = DriverOdbc();
                Conexao->Abrir(integrado ? TextoConexaoIntegrada(driver, servidor)
                                         : TextoConexao(driver, servidor, login, senha));
                Conexao->Fechar();
                Conexao.reset();
                *resposta = {Icone::Informacao, "Conexão efetuada com sucesso!"};
            } catch (const ErroBanco& e) {
                resposta->texto = "Erro: " + std::to_string(e.numero()) + " - " +
                                  OcultarSegredos(e.descricao(), {senha});
            } catch (const std::exception& e) {
                resposta->texto = "Erro: 0 - " + OcultarSegredos(e.what(), {senha});
            }
        },
        [this, resposta] {
            MostrarCaixa(this, resposta->icone, QString::fromStdString(resposta->texto));
        });
}

void Form1::cmdTestarFTP_Click() {
    DadosFtp dados;
    dados.endereco = txtEnderecoFTP->text().toStdString();
    dados.porta = txtPorta->text().toStdString();
    dados.usuario = txtUsuario->text().toStdString();
    dados.senha = txtPassw->text().toStdString();
    dados.diretorio = txtDiretorio->text().toStdString();
    const auto pasta = PastaPrograma();
    auto resposta = std::make_shared<Resposta>();
    IniciarTarefa(
        kMotivoTeste,
        [=] {
            const std::string etapa = "Teste de conexão FTP falhou";
            std::error_code erro;
            if (!std::filesystem::is_regular_file(pasta / "ncftpput", erro)) {
                resposta->texto = TextoFalhaEtapa(etapa, TextoFaltandoArquivo("ncftpput"));
                return;
            }
            // The archiver's library is a file every installation has to send.
            resposta->texto = EnviarOuFalha(pasta, dados, pasta / "7z.so", etapa, true);
            if (resposta->texto.empty()) {
                *resposta = {Icone::Informacao, "Conexão FTP efetuada com sucesso!"};
            }
        },
        [this, resposta] {
            MostrarCaixa(this, resposta->icone, QString::fromStdString(resposta->texto));
        });
}

} // namespace kelvane::janela
