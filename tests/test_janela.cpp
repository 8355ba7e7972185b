// Form1 driven as a user drives it, on Qt's offscreen platform, with message boxes recorded and
// the machine name fixed; the job and the tools run for real against the test servers.
#include "apoio.h"
#include "job/log.h"
#include "job/programa.h"
#include "plataforma/arquivos.h"
#include "plataforma/nomes.h"
#include "settings/cripto.h"
#include "settings/ini.h"
#include "window/caixas.h"
#include "window/form1.h"
#include "window/janela.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QWheelEvent>
#ifndef _WIN32
#include <sys/fsuid.h>
#endif

using namespace kelvane;
using namespace kelvane::teste;
using Chaves = std::vector<std::pair<std::string, std::string>>;

namespace {

class Janela : public ::testing::Test {
protected:
    void SetUp() override {
        DefinirPastaPrograma(p.dir);
        fs::create_directory(p.dir / "Log");
        Privado(p.dir / "Log"); // as Main makes it, with umask 077
        ArquivoLog = "Log_janela.Log";
        janela::CapturarCaixas(true);
        janela::DefinirFonteNomeComputador([] { return std::string("SERVIDOR01"); });
        p.cfg["NCripto"] = "1";
        // The uploader's login folder goes below this test's own folder (TMPDIR on Linux, TMP
        // on Windows), away from the runs of other suites.
        for (const char* nome : {"TMPDIR", "TMP"}) {
            qputenv(nome, QByteArray::fromStdString(plataforma::TextoCaminho(p.tmp)));
        }
    }
    // Opens the window on an info.ini with these keys, or on the file as it is.
    janela::Form1& Abrir(const Chaves& ini = {}, bool comoEsta = false) {
        form.reset();
        if (!comoEsta) {
            fs::remove(p.dir / "info.ini");
        }
        for (const auto& [chave, valor] : ini) {
            GravarINI(kSecaoInfos, chave, valor, p.dir / "info.ini");
        }
        janela::LimparCaixas();
        form = std::make_unique<janela::Form1>();
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        return *form;
    }
    // Clicks and waits for the work the click started off the window's thread.
    void Clicar(QWidget* botao) {
        QTest::mouseClick(botao, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([this] { return !form->tarefaEmAndamento(); }, 120000));
    }
    // The window filled for the test servers (loaded from a file that is then removed).
    janela::Form1& Preenchida() {
        if (!p.tds) {
            p.Servidores();
        }
        auto& f = Abrir(Chaves(p.cfg.begin(), p.cfg.end()));
        fs::remove(p.dir / "info.ini");
        f.cmbServidor->setCurrentIndex(1);
        return f;
    }
    std::string Ini(const char* chave) { return LerINI(kSecaoInfos, chave, p.dir / "info.ini"); }
    std::vector<std::string> Caixas() {
        std::vector<std::string> textos;
        for (const auto& c : janela::CaixasMostradas()) {
            textos.push_back(std::string(c.fechada ? "fechada " : "") +
                             (c.icone == janela::Icone::Critico ? "X " : "i ") +
                             c.texto.toStdString());
        }
        return textos;
    }

    Programa p;
    std::unique_ptr<janela::Form1> form;
};

QString Texto(const QWidget* w) {
    return w->property(w->inherits("QGroupBox") ? "title" : "text").toString();
}

// What a user sees: every control inside the window and its frame, none over another, no text
// cut, Tab in reading order; and the few exact facts the settings depend on.
TEST_F(Janela, LayoutComoOUsuarioVe) {
    auto& f = Abrir();
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    for (auto* w : f.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&f) || w->objectName().isEmpty() || w->objectName().startsWith("qt_")) {
            continue;
        }
        const QString nome = w->objectName();
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << nome.toStdString();
        if (!Texto(w).isEmpty()) {
            const int precisa = w->inherits("QCheckBox") // the box, then its text
                                    ? w->sizeHint().width()
                                    : w->fontMetrics().horizontalAdvance(Texto(w));
            EXPECT_GE(w->width() + 1, precisa) // a pixel of margin for the last glyph
                << nome.toStdString() << " corta \"" << Texto(w).toStdString() << "\"";
        }
        for (auto* outro : w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            // The "..." button sits at the right end of the file's field, as designed.
            const bool permitido = (w == f.txtArquivoEnviar && outro == f.cmdArquivo) ||
                                   (w == f.cmdArquivo && outro == f.txtArquivoEnviar);
            if (outro != w && outro->isVisibleTo(&f) && !outro->objectName().isEmpty() &&
                !permitido) {
                EXPECT_FALSE(w->geometry()
                                 .adjusted(0, 0, -1, 0)
                                 .intersects(outro->geometry().adjusted(0, 0, -1, 0)))
                    << nome.toStdString() << " sobre " << outro->objectName().toStdString();
            }
        }
    }
    const QWidget* ordem[] = {
        f.txtCodigoCliente, f.txtNomeCliente,   f.txtServidorBD,   f.chkLoginIntegrado,
        f.txtBanco,         f.txtLogin,         f.txtSenha,        f.cmdTestarConexaoBanco,
        f.cmbServidor,      f.txtEnderecoFTP,   f.txtPorta,        f.txtUsuario,
        f.txtPassw,         f.txtDiretorio,     f.cmdTestarFTP,    f.cmdExecutar,
        f.cmdSalvarFechar,  f.txtArquivoEnviar, f.chkZipar,        f.cmdArquivo,
        f.cmdEnviarArquivo, f.chkNCripto,       f.txtCodigoCliente};
    for (std::size_t i = 0; i + 1 < std::size(ordem); ++i) {
        EXPECT_EQ(QApplication::focusWidget(), ordem[i]) << i;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_TRUE(f.txtSenha->echoMode() == QLineEdit::Password &&
                f.txtPassw->echoMode() == QLineEdit::Password);
    // Client name: at most 20 characters, cleaned of accents and symbols on leaving the field.
    f.txtNomeCliente->setFocus();
    f.txtNomeCliente->setText(QStringLiteral("São João & Cia."));
    QTest::keyClick(f.txtNomeCliente, Qt::Key_Tab);
    EXPECT_EQ(f.txtNomeCliente->text(), QStringLiteral("Sao Joao  Cia"));
    f.txtNomeCliente->clear();
    QTest::keyClicks(f.txtNomeCliente, QStringLiteral("12345678901234567890X"));
    EXPECT_EQ(f.txtNomeCliente->text().size(), 20);
    // The maker's server fills the FTP fields; another server leaves what was typed.
    f.txtUsuario->setText(QStringLiteral("digitado"));
    f.cmbServidor->setCurrentIndex(1);
    EXPECT_EQ(f.txtUsuario->text(), QStringLiteral("digitado"));
    f.cmbServidor->setCurrentIndex(0);
    EXPECT_EQ(f.cmbServidor->currentText() + " " + f.txtEnderecoFTP->text() + " " +
                  f.txtUsuario->text(),
              "Servidor Morvix ftp.kelvane.example upload");
    // Only a choice changes the list: not the wheel passing over it, nor keys after a test.
    f.cmbServidor->setCurrentIndex(1);
    f.txtServidorBD->setText("127.0.0.1,1");
    f.txtEnderecoFTP->setFocus();
    const QPointF meio(f.cmbServidor->rect().center());
    QWheelEvent roda(meio, f.cmbServidor->mapToGlobal(meio), {}, {0, 120}, Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.cmbServidor, &roda);
    Clicar(f.cmdTestarConexaoBanco);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(f.cmbServidor->currentIndex(), 1);
    // Qt's own texts (the file dialog's) in Portuguese.
    std::unique_ptr<QTranslator> traducao(
        janela::CarregarTraducoesQt(*QCoreApplication::instance()));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:"), "&Nome do arquivo:");
    QCoreApplication::removeTranslator(traducao.get());
}

TEST_F(Janela, CarregaCadaValorNoSeuControle) {
    // info.ini; then NCripto, SSPI (0 clear, 1 greyed, 2 ticked), the FTP list, user and port
    const std::pair<Chaves, const char*> casos[] = {
        {{{"NCripto", "1"}, {"Usuario", "claro"}, {"SSPI", "1"}, {"ServidorFTP", "1"}},
         "2 2 1 claro "},
        {{{"Usuario", Cripto("embaralhado")}, {"SSPI", "0.5"}, {"ServidorFTP", "7"}},
         "0 0 -1 embaralhado "},
        {{{"NCripto", "2"}, {"Usuario", Cripto("cinza")}, {"SSPI", "1.5"}, {"ServidorFTP", "x"}},
         "1 1 -1 cinza "},
        // The preset's user replaces the stored one; the stored port stays.
        {{{"NCripto", "1.0"}, {"Usuario", "x"}, {"ServidorFTP", "0"}, {"Porta", "2121"}},
         "2 0 0 upload 2121"},
        // A value too long to unscramble is left out; the rest still loads.
        {{{"Senha", std::string(507, 'x')}, {"Usuario", Cripto("depois")}}, "0 0 -1 depois "},
    };
    const QString longo = "Padaria e Confeitaria São João"; // longer than typing allows
    EXPECT_EQ(Abrir({{"NomeCliente", longo.toStdString()}}).txtNomeCliente->text(), longo);
    for (const auto& [ini, esperado] : casos) {
        auto& f = Abrir(ini);
        EXPECT_EQ(QString("%1 %2 %3 %4 %5")
                      .arg(f.chkNCripto->checkState())
                      .arg(f.chkLoginIntegrado->checkState())
                      .arg(f.cmbServidor->currentIndex())
                      .arg(f.txtUsuario->text(), f.txtPorta->text()),
                  esperado);
        EXPECT_TRUE(Caixas().empty());
    }
}

TEST_F(Janela, SalvarGravaAsChavesEFecha) {
    // NCripto in the file; the box as saved (0 clear, 1 greyed, 2 ticked); NCripto after ("-":
    // absent). Only a ticked box stores the credentials in clear.
    for (const std::string caso : {"1 2 1", "0 0 0", "0 2 1", "1 0 0", "- 0 -", "1 1 0"}) {
        const std::string antes = caso.substr(0, 1), depois = caso.substr(4);
        const bool marcada = caso[2] == '2';
        auto& f = Preenchida();
        Gravar(p.dir / "info.ini", std::string("[infos]\n") +
                                       (antes == "-" ? "" : "NCripto=" + antes + "\n") +
                                       "; à mão\nExtra=1\n[outra]\nx=1\n");
        Privado(p.dir / "info.ini");
        f.chkNCripto->setCheckState(Qt::CheckState(caso[2] - '0'));
        f.chkLoginIntegrado->setChecked(true);
        Clicar(f.cmdSalvarFechar);
        EXPECT_TRUE(Caixas().empty());
        EXPECT_FALSE(f.isVisible());
        for (const std::string chave : {"Login", "Senha", "Usuario", "Passw"}) {
            EXPECT_EQ(Ini(chave.c_str()), marcada ? p.cfg[chave] : Cripto(p.cfg[chave])) << chave;
        }
        EXPECT_EQ(Ini("SSPI") + Ini("ServidorFTP") + "|" + Ini("NCripto"),
                  "11|" + (depois == "-" ? "" : depois));
        const auto texto = Ler(p.dir / "info.ini");
        EXPECT_NE(texto.find("; à mão\nExtra=1\nCodigoCliente=00 42\nNomeCliente=Casa Azul\n"),
                  std::string::npos)
            << texto;
        EXPECT_TRUE(texto.ends_with("\nDiretorio=/backups\n[outra]\nx=1\n")) << texto;
    }
}

TEST_F(Janela, SalvarRecusaOQueOJobNaoPoderiaUsar) {
    const std::string nomeErrado = "X Este progama deve executado somente no Servidor de Banco de "
                                   "Dados!\r\nInforme o nome do Servidor de Banco corretamente!\r\n"
                                   "Nome deste Servidor: SERVIDOR01";
    const auto cliente = [](int n) {
        return [n](janela::Form1& f) {
            f.txtCodigoCliente->setText("1");
            f.txtNomeCliente->setMaxLength(300);
            f.txtNomeCliente->setText(QString(n, 'n'));
        };
    };
    // Only this machine (the server writes the .BAK into this folder): the first five.
    const QStringList nomes =
        QString("servidor01\\SQLEXPRESS|SERVIDOR01,1433|127.0.0.1,1433|.\\SQL|"
                "(LOCAL)|SRV02| SERVIDOR01|servidor01.empresa.local|127.0.0.2")
            .split('|');
    for (const auto& nome : nomes) {
        Abrir({{"Porta", "21"}}).txtServidorBD->setText(nome);
        Clicar(form->cmdSalvarFechar);
        const bool aceito = nomes.indexOf(nome) < 5;
        EXPECT_EQ(Caixas(), aceito ? std::vector<std::string>{} : std::vector{nomeErrado})
            << nome.toStdString();
        EXPECT_EQ(Ini("ServidorDB"), aceito ? nome.toStdString() : "");
    }
    const std::tuple<std::function<void(janela::Form1&)>, std::string, bool> casos[] = {
        // what is done; the box (part of its text); whether it saves
        {[](auto& f) { f.txtServidorBD->clear(); }, "informe o Servidor de Banco de Dados", false},
        {[](auto& f) { f.txtUsuario->setText(QString(507, 'u')); },
         "o usuário do FTP tem 507 caracteres", false},
        {[](auto& f) { f.txtPassw->setText("ab\tcd"); }, "a senha do FTP contém um caractere",
         false}, // scrambled, the tab would become a line break
        {[](auto& f) {
             f.txtUsuario->setText(QString(507, 'u'));
             f.chkNCripto->setChecked(true);
         },
         "", true},
        {[](auto& f) { f.txtPorta->setText("65536"); }, "a Porta do FTP deve ser um número", false},
        // "KVLN_1_<name>_DDMMYY.BAK": 18 bytes besides the name, and a file name holds 255.
        {cliente(238), "o arquivo do backup teria um nome de 256 bytes", false},
        {cliente(237), "", true},
    };
    for (const auto& [preparar, caixa, salva] : casos) {
        auto& f = Abrir({{"Banco", "antes"}, {"Porta", " 2121 "}}); // blanks allowed
        f.txtBanco->setText("depois");
        f.txtServidorBD->setText("localhost");
        preparar(f);
        Clicar(f.cmdSalvarFechar);
        p.Ferramentas();
        ASSERT_EQ(Caixas().size(), caixa.empty() ? 0u : 1u) << caixa;
        EXPECT_TRUE(caixa.empty() || Caixas()[0].find(caixa) != std::string::npos) << Caixas()[0];
        EXPECT_EQ(Ini("Banco"), salva ? "depois" : "antes");
        EXPECT_EQ(f.isVisible(), !salva);
    }
}

// As an ordinary user (file access checked as "nobody" while the tests run as root): a file that
// cannot be read is said so on opening, and a save that cannot be written keeps what was typed.
TEST_F(Janela, ArquivoQueNaoSeLeOuNaoSeGrava) {
    KELVANE_SO_LINUX("Wine's drive Z: has no ACLs to refuse a read or a write with");
#ifndef _WIN32
    ::chmod(p.raiz.p.c_str(), 0711);
    // A file others may read is refused by the permission check before any write.
    for (const auto& [arquivo, pasta] : {std::pair{0000, 0700}}) {
        Gravar(p.dir / "info.ini", "[infos]\nBanco=Antigo\n");
        ::chmod((p.dir / "info.ini").c_str(), arquivo);
        ::chmod(p.dir.c_str(), pasta);
        ::setfsuid(65534);
        Abrir({}, true);
        EXPECT_TRUE(QTest::qWaitFor([&] { return Caixas().size() == (arquivo ? 0u : 1u); }));
        EXPECT_EQ(form->txtBanco->text(), arquivo ? "Antigo" : "");
        form->txtServidorBD->setText("localhost");
        form->txtBanco->setText("Novo");
        form->txtPorta->setText("21");
        Clicar(form->cmdSalvarFechar);
        ::setfsuid(0);
        EXPECT_EQ(Caixas().back(),
                  "X As configurações não foram gravadas em " + (p.dir / "info.ini").string() +
                      ": permissão negada.\r\nO que foi digitado continua na janela.");
        EXPECT_TRUE(form->isVisible());
        ::chmod(p.dir.c_str(), 0700);
        EXPECT_EQ(Ler(p.dir / "info.ini"), "[infos]\nBanco=Antigo\n");
    }
#endif
}

TEST_F(Janela, ExecutarAgoraSegueOJob) {
    p.Servidores("slow");
    auto& f = Preenchida();
    std::vector<std::string> linhas;
    std::vector<bool> botoes;
    QObject::connect(&f, &janela::Form1::mensagemMostrada, &f, [&](const QString& t) {
        linhas.push_back(t.toStdString());
        botoes.push_back(f.cmdSalvarFechar->isEnabled() || f.cmdTestarFTP->isEnabled() ||
                         f.cmdEnviarArquivo->isEnabled() || f.cmdExecutar->isEnabled());
    });
    QTest::mouseClick(f.cmdExecutar, Qt::LeftButton);
    ASSERT_TRUE(f.tarefaEmAndamento());
    f.close(); // refused while the job runs
    EXPECT_TRUE(f.isVisible());
    const std::string recusa =
        "X Um backup está em execução. Aguarde o fim do processo para fechar a janela.";
    EXPECT_EQ(Caixas(), std::vector{recusa});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.tarefaEmAndamento(); }, 120000));
    EXPECT_EQ(linhas.front() + " " + linhas.back(), "Iniciando o processo... Processo Finalizado!");
    for (const char* linha : {"Backup...: 50% concluído", "Fim do Processo"}) {
        EXPECT_NE(std::find(linhas.begin(), linhas.end(), linha), linhas.end()) << linha;
    }
    EXPECT_EQ(std::count(botoes.begin(), botoes.end() - 1, true), 0);
    // The refusal closes itself before the outcome shows.
    EXPECT_EQ(Caixas(),
              (std::vector<std::string>{recusa, "fechada " + recusa, "i Processo Finalizado!"}));
    EXPECT_EQ(p.Enviados().size(), 1u);
}

// Each task button answers with one box, never holding a password, and the status line keeps
// its first line: the connection tests say what they try, use the values typed and save
// nothing; a run now saves first; a file that was not found still waits to be sent.
TEST_F(Janela, CadaTarefaRespondeComUmaCaixa) {
    using F = janela::Form1;
    const Servidor servidorMudo("tds_server.py", {"--mode=mute"});
    const auto mudo = QString("127.0.0.1,%1").arg(servidorMudo.porta);
    const auto arquivo = p.raiz.p / plataforma::Caminho("relatório de maio.pdf");
    Gravar(arquivo, "dados");
    Gravar(p.raiz.p / "@lista", "segredo.txt\n");
    Gravar(p.raiz.p / "segredo.txt", "segredo");
    const auto ecoaLogin = [this](F&) {
        p.Falsa("ncftpput", "while [ \"$1\" != -f ]; do shift; done; cat \"$2\" >&2; exit 3");
    };
    const std::string banco = "Testando a conexão com o banco 127.0.0.1,",
                      ftp = "Testando a conexão FTP com 127.0.0.1:";
    struct Caso {
        QPushButton* F::*botao;
        std::function<void(F&)> preparar;
        std::string caixa;
        std::string linha = ""; // how the status line begins
        std::string chega = ""; // on the FTP server
        const char* modo = "normal";
        const char* soLinux = nullptr; // why the row cannot exist on Windows
    } const casos[] = {
        {&F::cmdTestarConexaoBanco, [](F& f) { f.txtBanco->setText("NaoExiste"); },
         "i Conexão efetuada com sucesso!", banco},
        {&F::cmdTestarConexaoBanco, [](F& f) { f.txtSenha->setText("errada"); },
         "X O servidor recusou a entrada: confira o Login e a Senha.\r\nErro: 18456 - ", banco},
        // Nothing on this machine's port: the job's line, and no login sent.
        {&F::cmdTestarConexaoBanco, [](F& f) { f.txtServidorBD->setText("127.0.0.1,1"); },
         "X Erro ao conetar no banco: nenhum programa aguarda conexões na porta 1 deste "
         "computador; o login não foi enviado. Inicie o SQL Server",
         banco},
        // A server that accepts and never answers: given up on, not waited for.
        {&F::cmdTestarConexaoBanco, [&](F& f) { f.txtServidorBD->setText(mudo); },
         "X O servidor não respondeu a tempo: confira se o SQL Server está em execução neste "
         "endereço e nesta porta.\r\nErro: ",
         banco},
        {&F::cmdTestarFTP, [](F&) {}, "i Conexão FTP efetuada", ftp,
         std::string(plataforma::kNomeBiblioteca7z)},
        {&F::cmdTestarFTP, [](F& f) { f.txtPorta->setText("1"); },
         "X Erro: 1 - Teste de conexão FTP falhou: ncftpput terminou com código 1", ftp},
        {&F::cmdTestarFTP, [](F& f) { f.txtPorta->setText("abc"); },
         "X A conexão FTP não foi testada: a Porta do FTP deve ser um número inteiro de 1 a 65535."
         "\r\nDigite na Porta o número da porta do servidor FTP (normalmente 21)."},
        {&F::cmdTestarFTP, ecoaLogin, "X Erro: 3 - Teste de conexão FTP falhou: ", ftp},
        // An uploader another account could have replaced is never run.
        {&F::cmdTestarFTP,
         [this](F&) {
             p.Falsa("ncftpput", "exit 0");
#ifndef _WIN32
             ::chown((p.dir / "ncftpput").c_str(), 65534, 0);
#endif
         },
         "X Permissões inseguras: " + (p.dir / "ncftpput").string() +
             " pertence a outra conta (nobody)",
         "", "", "normal", "Wine gives every file on drive Z: the running account as owner"},
        {&F::cmdEnviarArquivo, ecoaLogin,
         "X Erro: 3 - Envio falhou: ncftpput terminou com código 3"},
        {&F::cmdEnviarArquivo, [](F&) {}, "i Processo Finalizado", "", "relatório de maio.pdf"},
        {&F::cmdEnviarArquivo, [](F& f) { f.chkZipar->setChecked(true); }, "i Processo Finalizado",
         "", "relatório de maio.pdf.7z"},
        // Typed relative to the current folder: a name, never 7z's list file.
        {&F::cmdEnviarArquivo,
         [](F& f) {
             f.chkZipar->setChecked(true);
             f.txtArquivoEnviar->setText("@lista");
         },
         "i Processo Finalizado", "", "@lista.7z"},
        {&F::cmdEnviarArquivo, [](F& f) { f.txtPassw->setText("errada"); },
         "X Erro: 1 - Envio falhou: ncftpput terminou com código 1"},
        {&F::cmdEnviarArquivo, [](F& f) { f.txtArquivoEnviar->setText("/nao/existe.pdf"); },
         "X O arquivo a enviar não foi encontrado:\r\n/nao/existe.pdf"},
        {&F::cmdExecutar, [](F&) {}, "X Erro: 3202 - Backup do banco falhou: ", "", "", "fail"},
        {&F::cmdExecutar, [this](F&) { fs::remove(p.dir / plataforma::kNome7z); },
         "X Está faltando o arquivo: " + std::string(plataforma::kNome7z) +
             "\r\nO backup não será efetuado!"},
        {&F::cmdExecutar, [](F& f) { f.txtSenha->setText("errada"); },
         "X Erro ao conetar no banco: [FreeTDS][SQL Server]Login failed"},
    };
    for (const auto& c : casos) {
        if (c.soLinux && Sistema().windows) {
            std::cout << "pulado (" << c.caixa << "): " << c.soLinux << "\n";
            continue;
        }
        fs::remove_all(p.ftp / "backups");
        fs::create_directory(p.ftp / "backups");
        p.Servidores(c.modo);
        auto& f = Preenchida();
        if (c.botao == &F::cmdEnviarArquivo) {
            janela::ProximoArquivo(QString::fromStdString(plataforma::TextoCaminho(arquivo)));
            Clicar(f.cmdArquivo);
            EXPECT_FALSE(f.cmdExecutar->isEnabled()); // a chosen file waits to be sent
        }
        c.preparar(f);
        std::vector<std::string> linhas;
        QObject::connect(&f, &F::mensagemMostrada,
                         [&](const QString& t) { linhas.push_back(t.toStdString()); });
        fs::current_path(p.raiz.p);
        Clicar(f.*c.botao);
        fs::current_path("/");
        ASSERT_EQ(Caixas().size(), 1u) << c.caixa;
        const std::string caixa = Caixas()[0];
        EXPECT_EQ(caixa.rfind(c.caixa, 0), 0u) << caixa;
        // One dial: the uploader's own redials took 40 s against a closed port.
        EXPECT_EQ(caixa.find("Could not"), caixa.rfind("Could not"));
        EXPECT_EQ(caixa.substr(2, caixa.find('\r') - 2), f.lblMensagem->text().toStdString());
        EXPECT_EQ(linhas.at(0).rfind(c.linha, 0), 0u) << linhas.at(0);
        for (const auto* senha : {f.txtSenha, f.txtPassw}) {
            EXPECT_EQ(caixa.find(senha->text().toStdString()), std::string::npos);
        }
        if (c.botao != &F::cmdEnviarArquivo) { // a test saves nothing, a run saves first
            EXPECT_EQ(Ini("Banco"), c.botao == &F::cmdExecutar ? "Vendas" : "");
        }
        EXPECT_EQ(f.cmdExecutar->isEnabled(), c.caixa.find("/nao/existe") == std::string::npos);
        const auto chegou = p.ftp / "backups" / plataforma::Caminho(c.chega);
        if (c.botao == &F::cmdEnviarArquivo && !c.chega.empty()) {
            const auto lista = Rodar({"/usr/lib/p7zip/7z", "l", plataforma::TextoCaminho(chegou)});
            EXPECT_EQ(lista.codigo, chegou.extension() == ".7z" ? 0 : 2); // packed, or as it is
            EXPECT_EQ(lista.saida.find("segredo"), std::string::npos);
            EXPECT_EQ(linhas.at(linhas.size() - 2),
                      "Enviando...: " +
                          plataforma::TextoCaminho(p.raiz.p / plataforma::Caminho(c.chega)) +
                          " > 127.0.0.1");
        } else {
            EXPECT_EQ(fs::is_empty(p.ftp / "backups"), c.chega.empty()); // the FTP test sends one
        }
        p.Ferramentas();
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!Sistema().windows) { // Windows' own platform, drawing with Wine's null driver
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication aplicacao(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
