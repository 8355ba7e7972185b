// "Executar Agora >>": the job against the test servers, followed from the window.
#include "apoio_janela.h"
#include "job/backup.h"
#include "job/log.h"
#include "job/programa.h"
#include "settings/cripto.h"
#include "settings/ini.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

using namespace kelvane;
using namespace kelvane::teste;
namespace fs = std::filesystem;

namespace {

class ExecutarJanela : public JanelaComServidores {
protected:
    std::vector<QPushButton*> Botoes() const {
        return {form->cmdTestarConexaoBanco, form->cmdTestarFTP, form->cmdExecutar,
                form->cmdSalvarFechar,       form->cmdArquivo,   form->cmdEnviarArquivo};
    }
    bool AlgumHabilitado() const {
        for (auto* b : Botoes()) {
            if (b->isEnabled()) {
                return true;
            }
        }
        return false;
    }
    // Every text the message line showed, in order.
    void SeguirMensagens() {
        QObject::connect(form.get(), &janela::Form1::mensagemMostrada, form.get(),
                         [this](const QString& t) {
                             mensagens.push_back(t.toStdString());
                             botoesDuranteJob.push_back(AlgumHabilitado());
                         });
    }
    std::vector<std::string> MensagensSemProgresso() const {
        std::vector<std::string> m;
        for (const auto& t : mensagens) {
            if (t.find("% concluído") == std::string::npos) {
                m.push_back(t);
            }
        }
        return m;
    }

    std::vector<std::string> mensagens;
    std::vector<bool> botoesDuranteJob;
};

TEST_F(ExecutarJanela, JobCompletoSeguidoNaJanela) {
    OpcoesTds opcoes;
    opcoes.atrasoPasso = 0.05; // a backup long enough to watch
    Servidores(opcoes);
    auto& f = Abrir();
    Preencher(f);
    SeguirMensagens();

    // The window's own thread stays free: a timer keeps firing while the server works.
    int disparos = 0;
    int disparosNoBackup = -1;
    QTimer relogio;
    QObject::connect(&relogio, &QTimer::timeout, [&] { ++disparos; });
    relogio.start(5);
    QObject::connect(&f, &janela::Form1::mensagemMostrada, &f, [&](const QString& t) {
        if (t.startsWith(QStringLiteral("Backup...: Vendas"))) {
            disparosNoBackup = disparos;
        } else if (t.startsWith(QStringLiteral("Compactando"))) {
            disparosNoBackup = disparos - disparosNoBackup;
        }
    });

    QTest::mouseClick(f.cmdExecutar, Qt::LeftButton);
    ASSERT_TRUE(f.tarefaEmAndamento());
    // While it runs nothing can be started again and the window will not close.
    QTest::mouseClick(f.cmdExecutar, Qt::LeftButton);
    f.close();
    EXPECT_TRUE(f.isVisible());
    ASSERT_EQ(Caixas().size(), 1u);
    EXPECT_EQ(Caixas()[0].texto, QStringLiteral("Um backup está em execução. Aguarde o fim do "
                                                "processo para fechar a janela."));
    janela::LimparCaixas();
    ASSERT_TRUE(Esperar([&] { return !f.tarefaEmAndamento(); }));

    EXPECT_GT(disparosNoBackup, 1);
    const std::string bak = "/" + NomeBase() + ".BAK";
    const std::string arq = "/" + NomeBase() + ".7z";
    const std::string servidor = "127.0.0.1," + std::to_string(tds->porta());
    EXPECT_EQ(MensagensSemProgresso(),
              (std::vector<std::string>{
                  "Iniciando o processo...", "Inicio do Processo",
                  "Conectando ao Servidor de Banco: " + servidor, "Banco de dados conectado!",
                  "Backup...: Vendas > " + bak, "Compactando...: " + arq,
                  "Enviando...: " + arq + " > 127.0.0.1", "Excluindo...: " + bak, "Fim do Processo",
                  "Processo Finalizado!"}));
    EXPECT_NE(std::find(mensagens.begin(), mensagens.end(), "Backup...: 50% concluído"),
              mensagens.end());
    EXPECT_NE(std::find(mensagens.begin(), mensagens.end(), "Backup...: 100% concluído"),
              mensagens.end());
    // Disabled from the first message of the job to its last.
    ASSERT_GE(botoesDuranteJob.size(), 3u);
    for (std::size_t i = 0; i + 1 < botoesDuranteJob.size(); ++i) {
        EXPECT_FALSE(botoesDuranteJob[i]) << mensagens[i];
    }
    for (auto* b : Botoes()) {
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    }
    EXPECT_EQ(f.lblMensagem->text(), QStringLiteral("Processo Finalizado!"));
    ASSERT_EQ(Caixas().size(), 1u);
    EXPECT_EQ(Caixas()[0].icone, janela::Icone::Informacao);
    EXPECT_EQ(Caixas()[0].texto, QStringLiteral("Processo Finalizado!"));

    EXPECT_TRUE(fs::exists(RaizFtp() / "backups" / (NomeBase() + ".7z")));
    EXPECT_FALSE(fs::exists(pasta->caminho() / (NomeBase() + ".BAK")));
    EXPECT_NE(LerINI(kSecaoInfos, "Executado", ArquivoIni()), "");
    EXPECT_TRUE(f.isVisible());
}

TEST_F(ExecutarJanela, NCriptoSalvoValeParaOJobSemJanela) {
    // Run now from the window, then the unattended job from the file alone: both log in.
    Servidores();
    struct Caso {
        std::optional<std::string> ncriptoNoArquivo;
        bool marcada;
        std::optional<std::string> ncriptoDepois; // nullopt: the key stays absent
    } const casos[] = {{std::nullopt, true, "1"}, {"1", false, "0"}, {std::nullopt, false, {}}};
    for (const auto& c : casos) {
        SCOPED_TRACE(c.ncriptoNoArquivo.value_or("(ausente)") + (c.marcada ? " marcada" : ""));
        janela::LimparCaixas();
        Ini(c.ncriptoNoArquivo
                ? std::vector<std::pair<std::string, std::string>>{{"NCripto", *c.ncriptoNoArquivo}}
                : std::vector<std::pair<std::string, std::string>>{});
        auto& f = Abrir();
        Preencher(f);
        f.chkNCripto->setChecked(c.marcada);
        Clicar(f.cmdExecutar);
        EXPECT_EQ(TextosCaixas(), std::vector<QString>{QStringLiteral("Processo Finalizado!")});
        EXPECT_EQ(LerINI(kSecaoInfos, "Senha", ArquivoIni()), c.marcada ? kSenha : Cripto(kSenha));
        EXPECT_EQ(TextoIni().find("NCripto=") == std::string::npos, !c.ncriptoDepois);
        if (c.ncriptoDepois) {
            EXPECT_EQ(LerINI(kSecaoInfos, "NCripto", ArquivoIni()), *c.ncriptoDepois);
        }
        form.reset();
        EXPECT_EQ(ExecutarBackup(), CodigoSaida::Sucesso);
        auto& g = Abrir(false);
        EXPECT_EQ(g.txtLogin->text(), QString::fromUtf8(kLogin));
        EXPECT_EQ(g.txtSenha->text(), QString::fromUtf8(kSenha));
        EXPECT_EQ(g.txtPassw->text(), QString::fromUtf8(kSenhaFtp));
    }
}

TEST_F(ExecutarJanela, FalhaDoJobEmCaixaCriticaENaLinha) {
    // Exactly one critical box, the job's own or the window's, and the line keeps its first line.
    struct Caso {
        const char* nome;
        std::string modo; // database stand-in mode; empty: no server at all
        std::function<void(janela::Form1&)> preparar; // runs before the click
        QString caixa;                                // the box's text, as it starts
    };
    int trava = -1;
    const Caso casos[] = {
        {"backup falha no servidor", "fail30", [](janela::Form1&) {},
         QStringLiteral("Erro: 3202 - Backup do banco falhou: ")},
        {"7z faltando", "normal", [&](janela::Form1&) { fs::remove(pasta->caminho() / "7z"); },
         QStringLiteral("Está faltando o arquivo: 7z\r\nO backup não será efetuado!")},
        {"servidor de banco fora do ar", "",
         [](janela::Form1& f) {
             f.txtServidorBD->setText(QStringLiteral("127.0.0.1,%1").arg(portaLivreFechada()));
         },
         QStringLiteral("Erro ao conetar no banco: ")},
        {"senha errada", "normal",
         [](janela::Form1& f) { f.txtSenha->setText(QStringLiteral("errada")); },
         QStringLiteral("Erro ao conetar no banco: [FreeTDS][SQL Server]Login failed")},
        {"outro backup em andamento", "normal",
         [&](janela::Form1&) {
             trava = ::open((pasta->caminho() / "kelvane.lock").c_str(), O_RDWR | O_CREAT, 0644);
             ASSERT_EQ(::flock(trava, LOCK_EX), 0);
         },
         QStringLiteral("Outro backup já está em execução nesta pasta; este não será "
                        "executado.")},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        TearDown();
        SetUp();
        tds.reset();
        ftp.reset();
        if (!c.modo.empty()) {
            OpcoesTds opcoes;
            opcoes.modo = c.modo;
            Servidores(opcoes);
        }
        auto& f = Abrir();
        Preencher(f);
        c.preparar(f);
        Clicar(f.cmdExecutar);

        ASSERT_EQ(Caixas().size(), 1u) << TextosCaixas().back().toStdString();
        EXPECT_EQ(Caixas()[0].icone, janela::Icone::Critico);
        EXPECT_TRUE(Caixas()[0].texto.startsWith(c.caixa)) << Caixas()[0].texto.toStdString();
        EXPECT_EQ(f.lblMensagem->text(), Caixas()[0].texto.section(QStringLiteral("\r\n"), 0, 0));
        EXPECT_TRUE(f.cmdExecutar->isEnabled());
        EXPECT_TRUE(f.cmdSalvarFechar->isEnabled());
        // The settings were saved before the job ran, whatever it did.
        EXPECT_EQ(LerINI(kSecaoInfos, "Banco", ArquivoIni()), "Vendas");
        EXPECT_EQ(LerINI(kSecaoInfos, "Executado", ArquivoIni()), "");
        if (trava >= 0) {
            ::close(trava);
            trava = -1;
        }
    }
}

TEST_F(ExecutarJanela, NomeDeServidorRecusadoNadaRoda) {
    auto& f = Abrir();
    Preencher(f);
    f.txtServidorBD->setText(QStringLiteral("SRV02"));
    Clicar(f.cmdExecutar);
    ASSERT_EQ(Caixas().size(), 1u);
    EXPECT_TRUE(Caixas()[0].texto.endsWith(QStringLiteral("Nome deste Servidor: SERVIDOR01")));
    EXPECT_FALSE(fs::exists(pasta->ini()));
    EXPECT_TRUE(pasta->ArquivosLog().empty()); // the job never started
    EXPECT_TRUE(f.lblMensagem->text().isEmpty());
    EXPECT_TRUE(f.cmdExecutar->isEnabled());
}

} // namespace
