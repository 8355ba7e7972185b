// Form1 as drawn: controls, texts, positions, focus order, input limits, presets.
#include "apoio_janela.h"
#include "window/janela.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QWheelEvent>
#include <filesystem>

using namespace kelvane;
using namespace kelvane::teste;

namespace {

struct Controle {
    const char* nome;
    const char* pai;
    const char* classe;
    const char* texto;
    int esquerda, topo, largura, altura; // twips
};

// The window as designed, in twips relative to the parent.
const Controle kControles[] = {
    {"Label9", "Form1", "QLabel", "Código Cliente:", 135, 180, 1065, 195},
    {"txtCodigoCliente", "Form1", "QLineEdit", "", 1290, 150, 1290, 300},
    {"Label10", "Form1", "QLabel", "Nome Cliente:", 2715, 210, 990, 195},
    {"txtNomeCliente", "Form1", "QLineEdit", "", 3765, 165, 2775, 300},
    {"Frame1", "Form1", "QGroupBox", "Banco de Dados", 75, 570, 6510, 1935},
    {"Frame2", "Form1", "QGroupBox", "Servidor FTP", 75, 2550, 6510, 2490},
    {"Frame3", "Form1", "QGroupBox", "Somente Enviar Arquivo", 75, 5070, 6510, 660},
    {"cmdExecutar", "Form1", "QPushButton", "Executar Agora >>", 90, 5790, 1845, 375},
    {"cmdSalvarFechar", "Form1", "QPushButton", "Salvar e Fechar", 4710, 5790, 1845, 375},
    {"Picture1", "Form1", "QFrame", "", 0, 6225, 6660, 330},
    {"Label1", "Frame1", "QLabel", "Servidor:", 300, 420, 630, 195},
    {"txtServidorBD", "Frame1", "QLineEdit", "", 1155, 375, 2625, 300},
    {"chkLoginIntegrado", "Frame1", "QCheckBox", "Login Integrado SSPI", 3900, 360, 2025, 345},
    {"Label2", "Frame1", "QLabel", "Banco:", 300, 750, 510, 195},
    {"txtBanco", "Frame1", "QLineEdit", "", 1155, 705, 2625, 300},
    {"Label3", "Frame1", "QLabel", "Login:", 300, 1080, 435, 195},
    {"txtLogin", "Frame1", "QLineEdit", "", 1155, 1035, 2625, 300},
    {"Label4", "Frame1", "QLabel", "Senha:", 300, 1410, 510, 195},
    {"txtSenha", "Frame1", "QLineEdit", "", 1155, 1365, 2625, 300},
    {"cmdTestarConexaoBanco", "Frame1", "QPushButton", "Testar Conexão Banco", 4200, 825, 1845,
     345},
    {"chkNCripto", "Frame1", "QCheckBox", "NCripto", 4245, 1440, 885, 195},
    {"Label11", "Frame2", "QLabel", "Servidor:", 330, 345, 630, 195},
    {"cmbServidor", "Frame2", "QComboBox", "", 1155, 285, 2625, 315},
    {"Label8", "Frame2", "QLabel", "Endereço:", 330, 735, 735, 195},
    {"txtEnderecoFTP", "Frame2", "QLineEdit", "", 1155, 690, 2625, 300},
    {"Label7", "Frame2", "QLabel", "Porta:", 330, 1065, 420, 195},
    {"txtPorta", "Frame2", "QLineEdit", "", 1155, 1020, 2625, 300},
    {"Label6", "Frame2", "QLabel", "Usuario:", 330, 1395, 585, 195},
    {"txtUsuario", "Frame2", "QLineEdit", "", 1155, 1350, 2625, 300},
    {"Label5", "Frame2", "QLabel", "Senha:", 330, 1725, 510, 195},
    {"txtPassw", "Frame2", "QLineEdit", "", 1155, 1680, 2625, 300},
    {"Label12", "Frame2", "QLabel", "Diretório:", 330, 2055, 630, 195},
    {"txtDiretorio", "Frame2", "QLineEdit", "", 1155, 2010, 2625, 300},
    {"cmdTestarFTP", "Frame2", "QPushButton", "Testar Conexão FTP", 4230, 1155, 1845, 345},
    {"txtArquivoEnviar", "Frame3", "QLineEdit", "", 60, 240, 4470, 315},
    {"cmdArquivo", "Frame3", "QPushButton", "...", 4140, 270, 360, 255},
    {"chkZipar", "Frame3", "QCheckBox", "Zipar 7z", 4560, 285, 870, 210},
    {"cmdEnviarArquivo", "Frame3", "QPushButton", "Enviar >>", 5460, 195, 990, 360},
    {"lblMensagem", "Picture1", "QLabel", "", 75, 30, 6480, 285},
};

QString Texto(const QWidget* w) {
    if (auto* l = qobject_cast<const QLabel*>(w)) {
        return l->text();
    }
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
        return b->text();
    }
    if (auto* g = qobject_cast<const QGroupBox*>(w)) {
        return g->title();
    }
    if (auto* e = qobject_cast<const QLineEdit*>(w)) {
        return e->text();
    }
    if (auto* c = qobject_cast<const QComboBox*>(w)) {
        return c->currentText();
    }
    return {};
}

using LayoutJanela = JanelaTeste;

TEST_F(LayoutJanela, CadaControleComNomeTextoEPosicao) {
    auto& f = Abrir(false);
    for (const auto& c : kControles) {
        SCOPED_TRACE(c.nome);
        auto* w = f.findChild<QWidget*>(QLatin1String(c.nome));
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.classe)) << w->metaObject()->className();
        EXPECT_EQ(w->parentWidget()->objectName(), QLatin1String(c.pai));
        EXPECT_EQ(Texto(w), QString::fromUtf8(c.texto));
        const QRect esperado(c.esquerda / 15, c.topo / 15, c.largura / 15, c.altura / 15);
        if (qobject_cast<QLabel*>(w) && w->objectName() != QLatin1String("lblMensagem")) {
            // Captions sit where drawn and are as wide as their text needs.
            EXPECT_EQ(w->pos(), esperado.topLeft());
            EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(Texto(w)));
        } else {
            EXPECT_EQ(w->geometry(), esperado);
        }
    }
    EXPECT_EQ(f.cmdArquivo->toolTip(), QStringLiteral("Selecionar arquivo"));
    EXPECT_EQ(f.cmbServidor->count(), 2);
    EXPECT_EQ(f.cmbServidor->itemText(0), QStringLiteral("Servidor Morvix"));
    EXPECT_EQ(f.cmbServidor->itemText(1), QStringLiteral("Novo Servidor"));
    EXPECT_FALSE(f.cmbServidor->isEditable());
}

TEST_F(LayoutJanela, JanelaFixaComTituloEIcone) {
    auto& f = Abrir();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Kelvane 2019/03 - [suporte@kelvane.example]"));
    EXPECT_EQ(f.size(), QSize(444, 437));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(f.windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    // Centred on the screen.
    const QPoint centro = f.screen()->availableGeometry().center();
    EXPECT_LE((f.frameGeometry().center() - centro).manhattanLength(), 2);
    EXPECT_EQ(QApplication::focusWidget(), f.txtCodigoCliente);
}

TEST_F(LayoutJanela, OrdemDeFocoComTab) {
    auto& f = Abrir();
    const std::vector<QString> esperado = {"txtNomeCliente",
                                           "txtServidorBD",
                                           "chkLoginIntegrado",
                                           "txtBanco",
                                           "txtLogin",
                                           "txtSenha",
                                           "cmdTestarConexaoBanco",
                                           "cmbServidor",
                                           "txtEnderecoFTP",
                                           "txtPorta",
                                           "txtUsuario",
                                           "txtPassw",
                                           "txtDiretorio",
                                           "cmdTestarFTP",
                                           "cmdExecutar",
                                           "cmdSalvarFechar",
                                           "txtArquivoEnviar",
                                           "chkZipar",
                                           "cmdArquivo",
                                           "cmdEnviarArquivo",
                                           "chkNCripto",
                                           "txtCodigoCliente"};
    std::vector<QString> visitados;
    ASSERT_EQ(QApplication::focusWidget(), f.txtCodigoCliente);
    for (std::size_t i = 0; i < esperado.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visitados.push_back(QApplication::focusWidget()->objectName());
    }
    EXPECT_EQ(visitados, esperado);
}

TEST_F(LayoutJanela, SenhasMascaradasELimiteDoNome) {
    auto& f = Abrir();
    for (QLineEdit* senha : {f.txtSenha, f.txtPassw}) {
        QTest::keyClicks(senha, QStringLiteral("segredo"));
        EXPECT_EQ(senha->text(), QStringLiteral("segredo"));
        EXPECT_EQ(senha->displayText(), QStringLiteral("*******"));
    }
    // The port takes any text; only the client name is limited.
    QTest::keyClicks(f.txtPorta, QStringLiteral("vinte e um"));
    EXPECT_EQ(f.txtPorta->text(), QStringLiteral("vinte e um"));
    QTest::keyClicks(f.txtNomeCliente, QStringLiteral("12345678901234567890X"));
    EXPECT_EQ(f.txtNomeCliente->text(), QStringLiteral("12345678901234567890"));
}

TEST_F(LayoutJanela, EnterEEscNaoFazemNada) {
    auto& f = Abrir();
    QTest::keyClicks(f.txtServidorBD, QStringLiteral("OUTRA"));
    for (QWidget* alvo : std::initializer_list<QWidget*>{f.txtCodigoCliente, f.cmdSalvarFechar,
                                                         f.cmdExecutar, f.cmdEnviarArquivo}) {
        alvo->setFocus();
        for (const auto tecla : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(alvo, tecla);
        }
    }
    QTest::qWait(50);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(Caixas().empty());
    EXPECT_FALSE(std::filesystem::exists(pasta->ini()));
    EXPECT_FALSE(f.tarefaEmAndamento());
}

TEST_F(LayoutJanela, PresetDoServidorFtp) {
    auto& f = Abrir();
    QLineEdit* campos[] = {f.txtEnderecoFTP, f.txtPorta, f.txtUsuario, f.txtPassw, f.txtDiretorio};
    const QString preset[] = {"ftp.kelvane.example", "21", "upload", "brim4417k", "/"};
    for (auto* c : campos) {
        c->setText(QStringLiteral("digitado"));
    }
    f.cmbServidor->setCurrentIndex(1); // another server: nothing changes
    for (auto* c : campos) {
        EXPECT_EQ(c->text(), QStringLiteral("digitado"));
    }
    f.cmbServidor->setCurrentIndex(0); // the maker's server overwrites what was typed
    for (std::size_t i = 0; i < std::size(campos); ++i) {
        EXPECT_EQ(campos[i]->text(), preset[i]);
    }
    f.cmbServidor->setCurrentIndex(1); // and back: the preset stays
    for (std::size_t i = 0; i < std::size(campos); ++i) {
        EXPECT_EQ(campos[i]->text(), preset[i]);
    }
}

TEST_F(LayoutJanela, ListaFtpSoMudaPorEscolha) {
    // The wheel passing over the list, and the keys after a connection test, leave it alone.
    Ini({{"ServidorFTP", "1"}, {"Endereco", "127.0.0.1"}});
    auto& f = Abrir();
    f.txtServidorBD->setText(QStringLiteral("127.0.0.1,%1").arg(portaLivreFechada()));
    f.txtEnderecoFTP->setFocus();
    const QPointF meio(f.cmbServidor->rect().center());
    QWheelEvent roda(meio, f.cmbServidor->mapToGlobal(meio), {}, {0, 120}, Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.cmbServidor, &roda);
    f.cmdTestarConexaoBanco->setFocus();
    Clicar(f.cmdTestarConexaoBanco);
    EXPECT_EQ(QApplication::focusWidget(), f.cmdTestarConexaoBanco);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(f.cmbServidor->currentIndex(), 1);
    EXPECT_EQ(f.txtEnderecoFTP->text(), QStringLiteral("127.0.0.1"));
}

TEST_F(LayoutJanela, TextosDoQtEmPortugues) {
    QTranslator* traducao = janela::CarregarTraducoesQt(*QCoreApplication::instance());
    ASSERT_NE(traducao, nullptr);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancelar"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:"),
              QStringLiteral("&Nome do arquivo:"));
    QCoreApplication::removeTranslator(traducao);
    delete traducao;
}

TEST_F(LayoutJanela, NomeDoClienteLimpoAoSairDoCampo) {
    const std::pair<QString, QString> casos[] = {
        {"São João Ltda.", "Sao Joao Ltda"},
        {"Nº 12", "No 12"},
        {"  Açaí & Cia  ", "  Acai  Cia  "}, // not trimmed, not upper-cased
    };
    auto& f = Abrir();
    for (const auto& [digitado, limpo] : casos) {
        f.txtNomeCliente->clear();
        f.txtNomeCliente->setFocus();
        Digitar(f.txtNomeCliente, digitado);
        EXPECT_EQ(f.txtNomeCliente->text(), digitado);
        QTest::keyClick(f.txtNomeCliente, Qt::Key_Tab);
        EXPECT_EQ(f.txtNomeCliente->text(), limpo);
    }
}

} // namespace
