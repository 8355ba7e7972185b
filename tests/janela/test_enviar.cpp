// "Somente Enviar Arquivo": choosing, packing and sending one file.
#include "apoio_janela.h"
#include "job/log.h"
#include "job/programa.h"
#include "settings/cripto.h"
#include "settings/ini.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

using namespace kelvane;
using namespace kelvane::teste;
namespace fs = std::filesystem;

namespace {

class EnviarJanela : public JanelaComServidores {
protected:
    void SetUp() override {
        JanelaComServidores::SetUp();
        ASSERT_TRUE(arquivos.isValid());
    }
    fs::path Arquivo(const std::string& nome, const std::string& conteudo = "dados do relatório") {
        const fs::path p = fs::path(arquivos.path().toStdString()) / nome;
        GravarArquivo(p, conteudo);
        return p;
    }
    static bool Negrito(const QPushButton* b) { return b->font().bold(); }

    QTemporaryDir arquivos;
};

TEST_F(EnviarJanela, EscolherOuCancelarOArquivo) {
    auto& f = Abrir();
    f.txtArquivoEnviar->setText(QStringLiteral("/digitado"));
    janela::ProximoArquivo(std::nullopt);
    Clicar(f.cmdArquivo);
    EXPECT_EQ(janela::UltimoFiltro(), QStringLiteral("Todos Arquivos (*)"));
    // Cancelled: nothing changes.
    EXPECT_EQ(f.txtArquivoEnviar->text(), QStringLiteral("/digitado"));
    EXPECT_FALSE(Negrito(f.cmdEnviarArquivo));
    EXPECT_TRUE(f.cmdExecutar->isEnabled());

    janela::ProximoArquivo(QStringLiteral("/tmp/relatorio.pdf"));
    Clicar(f.cmdArquivo);
    EXPECT_EQ(f.txtArquivoEnviar->text(), QStringLiteral("/tmp/relatorio.pdf"));
    EXPECT_TRUE(Negrito(f.cmdEnviarArquivo));
    EXPECT_FALSE(f.cmdExecutar->isEnabled());
    EXPECT_TRUE(Caixas().empty());
}

TEST_F(EnviarJanela, EnviaComESemCompactar) {
    Servidores();
    struct Caso {
        const char* nome;
        bool zipar;
        bool digitado; // typed relative to the current folder instead of chosen
    } const casos[] = {{"relatório de maio.pdf", false, false},
                       {"relatório de maio.pdf", true, false},
                       {"@lista", true, true}}; // a name, never 7z's list file
    const auto pastaAntes = fs::current_path();
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        janela::LimparCaixas();
        // Blanks and accents reach both tools intact.
        Arquivo("segredo.txt");
        const auto origem = Arquivo(c.nome, "segredo.txt\n");
        auto& f = Abrir();
        Preencher(f);
        f.chkZipar->setChecked(c.zipar);
        std::vector<QString> linha;
        QObject::connect(&f, &janela::Form1::mensagemMostrada,
                         [&](const QString& t) { linha.push_back(t); });
        if (c.digitado) {
            fs::current_path(origem.parent_path());
            f.txtArquivoEnviar->setText(QString::fromUtf8(c.nome));
        } else {
            janela::ProximoArquivo(Q(origem.string()));
            Clicar(f.cmdArquivo);
        }
        Clicar(f.cmdEnviarArquivo);
        fs::current_path(pastaAntes);

        ASSERT_EQ(Caixas().size(), 1u) << Caixas()[0].texto.toStdString();
        EXPECT_EQ(Caixas()[0].icone, janela::Icone::Informacao);
        EXPECT_EQ(Caixas()[0].texto, QStringLiteral("Processo Finalizado"));
        const std::string enviado = origem.string() + (c.zipar ? ".7z" : "");
        std::vector<QString> esperado{Q("Enviando...: " + enviado + " > 127.0.0.1"),
                                      QStringLiteral("Processo Finalizado")};
        if (c.zipar) {
            esperado.insert(esperado.begin(), Q("Compactando...: " + enviado));
        }
        EXPECT_EQ(linha, esperado);
        const std::string nome = origem.filename().string() + (c.zipar ? ".7z" : "");
        ASSERT_TRUE(fs::exists(RaizFtp() / "backups" / nome));
        EXPECT_EQ(LerArquivo(RaizFtp() / "backups" / nome), LerArquivo(enviado));
        if (c.zipar) {
            // The archive stays beside the file, holds that file alone and is what was sent.
            EXPECT_EQ(Rodar({(pasta->caminho() / "7z").string(), "t", enviado}).codigo, 0);
            const auto lista = Rodar({(pasta->caminho() / "7z").string(), "l", enviado}).saida;
            EXPECT_EQ(lista.find("segredo"), std::string::npos) << lista;
        }
        fs::remove(RaizFtp() / "backups" / nome);
        // Buttons back as they were before the file was chosen.
        EXPECT_TRUE(f.cmdEnviarArquivo->isEnabled());
        EXPECT_FALSE(Negrito(f.cmdEnviarArquivo));
        EXPECT_TRUE(f.cmdExecutar->isEnabled());
        EXPECT_TRUE(f.cmdSalvarFechar->isEnabled());
        // Saved first, credentials scrambled since NCripto is not ticked.
        EXPECT_EQ(LerINI(kSecaoInfos, "Passw", ArquivoIni()), Cripto(kSenhaFtp));
        EXPECT_EQ(LerINI(kSecaoInfos, "CodigoCliente", ArquivoIni()), "00 42");
        EXPECT_TRUE(pasta->ArquivosLog().empty()); // a send is not logged
        EXPECT_EQ(f.txtArquivoEnviar->text(),
                  c.digitado ? QString::fromUtf8(c.nome) : Q(origem.string()));
    }
}

TEST_F(EnviarJanela, RecusadoAntesDeSalvar) {
    struct Caso {
        const char* nome;
        std::function<QString()> preparar; // returns the path to type
        QString texto;
    } const casos[] = {
        {"caminho vazio", [] { return QString(); },
         QStringLiteral("Informe o arquivo a enviar: escolha-o com o botão \"...\" ou digite o "
                        "seu caminho completo.")},
        {"arquivo inexistente", [] { return QStringLiteral("/nao/existe.pdf"); },
         QStringLiteral("O arquivo a enviar não foi encontrado:\r\n/nao/existe.pdf")},
        {"pasta no lugar do arquivo", [&] { return Q(arquivos.path().toStdString()); },
         QStringLiteral("O arquivo a enviar não foi encontrado:\r\n") + arquivos.path()},
        {"ferramenta faltando",
         [&] {
             fs::remove(pasta->caminho() / "7z.so");
             return Q(Arquivo("a.txt").string());
         },
         QStringLiteral("Está faltando o arquivo: 7z.so\r\nO backup não será efetuado!")},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        janela::LimparCaixas();
        auto& f = Abrir();
        Preencher(f);
        const QString caminho = c.preparar();
        janela::ProximoArquivo(caminho);
        Clicar(f.cmdArquivo);
        Clicar(f.cmdEnviarArquivo);
        ASSERT_EQ(Caixas().size(), 1u);
        EXPECT_EQ(Caixas()[0].icone, janela::Icone::Critico);
        EXPECT_EQ(Caixas()[0].texto, c.texto);
        EXPECT_FALSE(fs::exists(pasta->ini()));
        // The chosen file still waits: the buttons keep their states.
        EXPECT_TRUE(f.cmdEnviarArquivo->isEnabled());
        EXPECT_TRUE(Negrito(f.cmdEnviarArquivo));
        EXPECT_FALSE(f.cmdExecutar->isEnabled());
    }
}

TEST_F(EnviarJanela, FalhaDeFerramentaNomeiaAEtapa) {
    Servidores();
    struct Caso {
        const char* nome;
        bool zipar;
        std::function<void(janela::Form1&)> preparar;
        QString inicio;
    } const casos[] = {
        {"compactador falha", true,
         [&](janela::Form1&) {
             pasta->FerramentaFalsa("7z", {"stderr disco cheio", "sair 2"});
         },
         QStringLiteral("Erro: 2 - Compactação falhou: 7z terminou com código 2 (erro fatal): "
                        "disco cheio")},
        {"senha do FTP errada", false,
         [](janela::Form1& f) { f.txtPassw->setText(QStringLiteral("errada")); },
         QStringLiteral("Erro: 1 - Envio falhou: ncftpput terminou com código 1")},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        janela::LimparCaixas();
        const auto origem = Arquivo("b.txt");
        auto& f = Abrir();
        Preencher(f);
        c.preparar(f);
        f.chkZipar->setChecked(c.zipar);
        janela::ProximoArquivo(Q(origem.string()));
        Clicar(f.cmdArquivo);
        Clicar(f.cmdEnviarArquivo);
        ASSERT_EQ(Caixas().size(), 1u);
        EXPECT_EQ(Caixas()[0].icone, janela::Icone::Critico);
        EXPECT_TRUE(Caixas()[0].texto.startsWith(c.inicio)) << Caixas()[0].texto.toStdString();
        EXPECT_FALSE(Caixas()[0].texto.contains(QStringLiteral("errada")));
        EXPECT_TRUE(fs::is_empty(RaizFtp() / "backups"));
        // Saved anyway, and the buttons are back.
        EXPECT_TRUE(fs::exists(pasta->ini()));
        EXPECT_TRUE(f.cmdEnviarArquivo->isEnabled());
        EXPECT_FALSE(Negrito(f.cmdEnviarArquivo));
        EXPECT_TRUE(f.cmdExecutar->isEnabled());
    }
}

} // namespace
