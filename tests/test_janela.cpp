// Form1 driven as a user drives it, on Qt's offscreen platform, with message boxes recorded and
// the machine name fixed; the job and the tools run for real against the test servers.
#include "apoio.h"
#include "job/log.h"
#include "job/programa.h"
#include "plataforma/arquivos.h"
#include "plataforma/nomes.h"
#include "plataforma/processo.h"
#include "plataforma/sistema.h"
#include "settings/cripto.h"
#include "settings/ini.h"
#include "window/caixas.h"
#include "window/form1.h"
#include "window/janela.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>
#include <QTranslator>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string_view>
#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kelvane;
using namespace kelvane::teste;
using Chaves = std::vector<std::pair<std::string, std::string>>;

namespace {

// A control of the window by its object name, as the type the test uses it as.
template <typename W> W* Controle(const QWidget& janela, const char* nome) {
    auto* w = janela.findChild<W*>(QLatin1String(nome));
    if (!w) { // thrown, so the test fails instead of the whole program
        throw std::runtime_error(std::string("a janela não tem ") +
                                 W::staticMetaObject.className() + " " + nome);
    }
    return w;
}
const auto Campo = Controle<QLineEdit>;
const auto Botao = Controle<QPushButton>;
const auto Marca = Controle<QCheckBox>;
const auto Lista = Controle<QComboBox>;

KELVANE_LINHA_PELO_NOME

class Janela : public ::testing::Test {
public:
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
            antes_.emplace_back(nome, qgetenv(nome), qEnvironmentVariableIsSet(nome));
            qputenv(nome, QByteArray::fromStdString(plataforma::TextoCaminho(p.tmp)));
        }
    }
    // The next test of this process makes its folders where this one found them.
    void TearDown() override {
        for (const auto& [nome, valor, definida] : antes_) {
            definida ? qputenv(nome, valor) : qunsetenv(nome);
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
    void Clicar(const char* botao) {
        QTest::mouseClick(Botao(*form, botao), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([this] { return !form->tarefaEmAndamento(); }, 120000));
    }
    // The window filled for the test servers, once started (loaded from a file then removed).
    janela::Form1& Preenchida() {
        auto& f = Abrir(Chaves(p.cfg.begin(), p.cfg.end()));
        fs::remove(p.dir / "info.ini");
        Lista(f, "cmbServidor")->setCurrentIndex(1);
        return f;
    }
    std::string Ini(const char* chave) { return LerINI(kSecaoInfos, chave, p.dir / "info.ini"); }
    std::vector<std::string> Caixas() {
        std::vector<std::string> textos;
        for (const auto& c : janela::CaixasMostradas()) {
            textos.push_back(std::string(c.fechada ? "fechada " : "") +
                             (c.icone == janela::Icone::Critico    ? "X "
                              : c.icone == janela::Icone::Pergunta ? "? "
                                                                   : "i ") +
                             c.texto.toStdString());
        }
        return textos;
    }

    Programa p;
    std::unique_ptr<janela::Form1> form;

private:
    std::vector<std::tuple<const char*, QByteArray, bool>> antes_;
};

QString Texto(const QWidget* w) {
    return w->property(w->inherits("QGroupBox") ? "title" : "text").toString();
}
// What a user sees: every control inside the window and its frame, none over another, no text
// cut, Tab in reading order; and the few exact facts the settings depend on.
TEST_F(Janela, LayoutComoOUsuarioVe) {
    auto& f = Abrir();
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    const auto* arquivo = Campo(f, "txtArquivoEnviar");
    const auto* escolher = Botao(f, "cmdArquivo");
    for (auto* w : f.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&f) || w->objectName().isEmpty() || w->objectName().startsWith("qt_")) {
            continue;
        }
        const QString nome = w->objectName();
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << nome.toStdString();
        // Whatever the captions are drawn with, what was typed or reported is never narrowed.
        if (w->inherits("QLineEdit") || nome == "lblMensagem") {
            EXPECT_TRUE(w->font().stretch() == QFont::AnyStretch ||
                        w->font().stretch() == QFont::Unstretched)
                << nome.toStdString();
        }
        if (!Texto(w).isEmpty()) {
            const int precisa = w->inherits("QCheckBox") // the box, then its text
                                    ? w->sizeHint().width()
                                    : w->fontMetrics().horizontalAdvance(Texto(w));
            EXPECT_GE(w->width() + 1, precisa) // a pixel of margin for the last glyph
                << nome.toStdString() << " corta \"" << Texto(w).toStdString() << "\"";
        }
        for (auto* outro : w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            // The "..." button sits at the right end of the file's field, as designed.
            const bool permitido =
                (w == arquivo && outro == escolher) || (w == escolher && outro == arquivo);
            if (outro != w && outro->isVisibleTo(&f) && !outro->objectName().isEmpty() &&
                !permitido) {
                EXPECT_FALSE(w->geometry()
                                 .adjusted(0, 0, -1, 0)
                                 .intersects(outro->geometry().adjusted(0, 0, -1, 0)))
                    << nome.toStdString() << " sobre " << outro->objectName().toStdString();
            }
        }
    }
    const char* ordem[] = {
        "txtCodigoCliente", "txtNomeCliente",   "txtServidorBD",   "chkLoginIntegrado",
        "txtBanco",         "txtLogin",         "txtSenha",        "cmdTestarConexaoBanco",
        "cmbServidor",      "txtEnderecoFTP",   "txtPorta",        "txtUsuario",
        "txtPassw",         "txtDiretorio",     "cmdTestarFTP",    "cmdExecutar",
        "cmdSalvarFechar",  "txtArquivoEnviar", "chkZipar",        "cmdArquivo",
        "cmdEnviarArquivo", "chkNCripto",       "txtCodigoCliente"};
    for (const char* nome : ordem) {
        EXPECT_EQ(QApplication::focusWidget(), Controle<QWidget>(f, nome)) << nome;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_TRUE(Campo(f, "txtSenha")->echoMode() == QLineEdit::Password &&
                Campo(f, "txtPassw")->echoMode() == QLineEdit::Password);
    // Client name: at most 20 characters, cleaned of accents and symbols on leaving the field.
    auto* nomeCliente = Campo(f, "txtNomeCliente");
    nomeCliente->setFocus();
    nomeCliente->setText(QStringLiteral("São João & Cia."));
    QTest::keyClick(nomeCliente, Qt::Key_Tab);
    EXPECT_EQ(nomeCliente->text(), QStringLiteral("Sao Joao  Cia"));
    nomeCliente->clear();
    QTest::keyClicks(nomeCliente, QStringLiteral("12345678901234567890X"));
    EXPECT_EQ(nomeCliente->text().size(), 20);
    // The maker's server fills the FTP fields; another server leaves what was typed.
    auto* lista = Lista(f, "cmbServidor");
    Campo(f, "txtUsuario")->setText(QStringLiteral("digitado"));
    lista->setCurrentIndex(1);
    EXPECT_EQ(Campo(f, "txtUsuario")->text(), QStringLiteral("digitado"));
    lista->setCurrentIndex(0);
    EXPECT_EQ(lista->currentText() + " " + Campo(f, "txtEnderecoFTP")->text() + " " +
                  Campo(f, "txtUsuario")->text(),
              "Servidor Morvix ftp.kelvane.example upload");
    // Only a choice changes the list: not the wheel passing over it, nor keys after a test.
    lista->setCurrentIndex(1);
    Campo(f, "txtServidorBD")->setText("127.0.0.1,1");
    Campo(f, "txtEnderecoFTP")->setFocus();
    const QPointF meio(lista->rect().center());
    QWheelEvent roda(meio, lista->mapToGlobal(meio), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(lista, &roda);
    Clicar("cmdTestarConexaoBanco");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(lista->currentIndex(), 1);
    // Qt's own texts (the file dialog's) in Portuguese.
    std::unique_ptr<QTranslator> traducao(
        janela::CarregarTraducoesQt(*QCoreApplication::instance()));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:"), "&Nome do arquivo:");
    QCoreApplication::removeTranslator(traducao.get());
}

// The window drawn at a whole device pixel ratio: its size, every framed control whole inside it,
// and the message line's panel ending with its light edge on the window's last row and column.
void ConferirDesenho(QWidget& f, int inteira, QSize tamanho, qreal escala) {
    QImage imagem(f.size() * inteira, QImage::Format_RGB32);
    imagem.setDevicePixelRatio(inteira);
    f.render(&imagem);
    ASSERT_EQ(imagem.size(), tamanho) << escala;
    const QRgb claro = Controle<QFrame>(f, "Picture1")->palette().color(QPalette::Light).rgb();
    const int x = imagem.width() - 1, y = imagem.height() - 1;
    EXPECT_EQ(imagem.pixel(x / 2, y), claro) << escala;
    EXPECT_EQ(imagem.pixel(x, y - 5), claro) << escala;
    for (const QWidget* c : f.findChildren<QWidget*>()) {
        if ((!c->inherits("QLineEdit") && !c->inherits("QPushButton") &&
             !c->inherits("QComboBox") && !c->inherits("QGroupBox"))) {
            continue;
        }
        const QRect r(c->mapTo(&f, QPoint()) * inteira, c->size() * inteira);
        const int dentro = 3 * inteira, meio = r.top() + r.height() / 2;
        const std::string nome = std::to_string(escala) + " " + c->objectName().toStdString();
        EXPECT_TRUE(imagem.rect().contains(r)) << nome;
        // The frame's right and bottom lines differ from what they enclose (the file's field
        // ends under the "..." button).
        EXPECT_TRUE(c->objectName() == "txtArquivoEnviar" ||
                    imagem.pixel(r.right(), meio) != imagem.pixel(r.right() - dentro, meio))
            << nome;
        EXPECT_NE(imagem.pixel(r.left() + dentro, r.bottom()),
                  imagem.pixel(r.left() + dentro, r.bottom() - dentro))
            << nome;
    }
}

// At 100, 125, 150 and 200 % nothing is cut: Qt takes the whole part of the scale and the window
// the rest (at a device pixel ratio of 1.5 a style left the fields' right borders outside them).
// The sizes are those of the pictures in docs/.
TEST_F(Janela, NadaCortadoEmCadaEscala) {
    const std::pair<qreal, QSize> casos[] = {
        {1.0, {444, 437}}, {1.25, {555, 546}}, {1.5, {666, 656}}, {2.0, {888, 874}}};
    // The window as this screen opens it, at a whole device pixel ratio (CTest runs this at 120,
    // 144 and 192 dpi too); at 96 dpi also the window made for each scale.
    auto& aberta = Abrir();
    const qreal dpr = aberta.devicePixelRatioF();
    const qreal naTela = aberta.screen()->logicalDotsPerInchX() / 96 * dpr;
    ASSERT_EQ(dpr, std::floor(dpr));
    const auto caso = std::find_if(std::begin(casos), std::end(casos),
                                   [&](const auto& c) { return qFuzzyCompare(c.first, naTela); });
    ASSERT_NE(caso, std::end(casos)) << naTela;
    ConferirDesenho(aberta, static_cast<int>(dpr), caso->second, naTela);
    for (const auto& [escala, tamanho] : casos) {
        if (naTela == 1 && escala != 1) {
            const int inteira = static_cast<int>(escala); // Qt's part
            janela::Form1 f(nullptr, escala / inteira);
            ConferirDesenho(f, inteira, tamanho, escala);
        }
    }
}

struct CasoCarga {
    const char* nome;
    Chaves ini;
    // NCripto and SSPI (0 clear, 1 greyed, 2 ticked), the FTP list, user, port, client name
    std::string esperado;
    bool salvar = false; // then "Salvar e Fechar" untouched keeps every stored value as it was
};
class Carga : public Janela, public ::testing::WithParamInterface<CasoCarga> {};
TEST_P(Carga, CadaValorNoSeuControle) {
    auto& f = Abrir(GetParam().ini);
    EXPECT_EQ(QString("%1|%2|%3|%4|%5|%6")
                  .arg(Marca(f, "chkNCripto")->checkState())
                  .arg(Marca(f, "chkLoginIntegrado")->checkState())
                  .arg(Lista(f, "cmbServidor")->currentIndex())
                  .arg(Campo(f, "txtUsuario")->text(), Campo(f, "txtPorta")->text(),
                       Campo(f, "txtNomeCliente")->text())
                  .toStdString(),
              GetParam().esperado);
    EXPECT_TRUE(Caixas().empty());
    if (GetParam().salvar) {
        Clicar("cmdSalvarFechar");
        EXPECT_TRUE(Caixas().empty());
        for (const auto& [chave, valor] : GetParam().ini) {
            EXPECT_EQ(Ini(chave.c_str()), valor) << chave;
        }
        // A file this program began ends its lines as the system's own programs do.
        const auto texto = Ler(p.dir / "info.ini");
        EXPECT_EQ(
            std::regex_replace(texto, std::regex("\r?\n"), std::string(plataforma::kFimDeLinha)),
            texto);
    }
}

// Built when the tests are registered, after main has started: Cripto is another unit's.
std::vector<CasoCarga> Cargas() {
    return {
        {"NCriptoEmClaro", Pares("NCripto=1\nUsuario=claro\nSSPI=1\nServidorFTP=1"),
         "2|2|1|claro||"},
        {"Embaralhado", Pares("Usuario=" + Cripto("embaralhado") + "\nSSPI=0.5\nServidorFTP=7"),
         "0|0|-1|embaralhado||"},
        {"NCriptoCinza",
         Pares("NCripto=2\nUsuario=" + Cripto("cinza") + "\nSSPI=1.5\nServidorFTP=x"),
         "1|1|-1|cinza||"},
        // The preset as stored: its choice shows, the administrator's own login stays.
        {"ServidorDoFabricante", Pares("NCripto=1.0\nUsuario=x\nServidorFTP=0\nPorta=2121"),
         "2|0|0|x|2121|"},
        {"ServidorDoFabricanteSalvoSemMudar",
         Pares("NCripto=1\nServidorDB=localhost\nServidorFTP=0\nEndereco=ftp.meu.example\n"
               "Porta=2121\nUsuario=admin\nPassw=minha senha\nDiretorio=/meus"),
         "2|0|0|admin|2121|", true},
        // A value too long to unscramble is left out; the rest still loads.
        {"LongoDemaisParaDesembaralhar",
         Pares("Senha=" + std::string(507, 'x') + "\nUsuario=" + Cripto("depois")),
         "0|0|-1|depois||"},
        {"NomeMaiorQueADigitacao", Pares("NomeCliente=Padaria e Confeitaria São João"),
         "0|0|-1|||Padaria e Confeitaria São João"},
    };
}
INSTANTIATE_TEST_SUITE_P(Janela, Carga, ::testing::ValuesIn(Cargas()), PeloNome());

struct CasoGravacao {
    const char* nome;
    const char* antes; // NCripto in the file ("": absent)
    Qt::CheckState caixa;
    const char* depois; // NCripto after the save ("": absent)
};
class Gravacao : public Janela, public ::testing::WithParamInterface<CasoGravacao> {};

// Only a ticked box stores the credentials in clear; the rest of the file stays as it was.
TEST_P(Gravacao, SalvarGravaAsChavesEFecha) {
    const auto& c = GetParam();
    p.Servidores();
    auto& f = Preenchida();
    Gravar(p.dir / "info.ini", std::string("[infos]\n") +
                                   (*c.antes ? std::string("NCripto=") + c.antes + "\n" : "") +
                                   "; à mão\nExtra=1\n[outra]\nx=1\n");
    Privado(p.dir / "info.ini");
    Marca(f, "chkNCripto")->setCheckState(c.caixa);
    Marca(f, "chkLoginIntegrado")->setChecked(true);
    Clicar("cmdSalvarFechar");
    EXPECT_TRUE(Caixas().empty());
    EXPECT_FALSE(f.isVisible());
    for (const std::string chave : {"Login", "Senha", "Usuario", "Passw"}) {
        EXPECT_EQ(Ini(chave.c_str()), c.caixa == Qt::Checked ? p.cfg[chave] : Cripto(p.cfg[chave]))
            << chave;
    }
    EXPECT_EQ(Ini("SSPI") + Ini("ServidorFTP") + "|" + Ini("NCripto"),
              std::string("11|") + c.depois);
    const auto texto = Ler(p.dir / "info.ini");
    EXPECT_NE(texto.find("; à mão\nExtra=1\nCodigoCliente=00 42\nNomeCliente=Casa Azul\n"),
              std::string::npos)
        << texto;
    EXPECT_TRUE(texto.ends_with("\nDiretorio=/backups\n[outra]\nx=1\n")) << texto;
}

const CasoGravacao kGravacoes[] = {
    {"MarcadaComoOArquivo", "1", Qt::Checked, "1"},
    {"DesmarcadaComoOArquivo", "0", Qt::Unchecked, "0"},
    {"MarcadaMudaAChave", "0", Qt::Checked, "1"},
    {"DesmarcadaMudaAChave", "1", Qt::Unchecked, "0"},
    {"SemAChaveDesmarcada", "", Qt::Unchecked, ""},
    {"CinzaEmbaralha", "1", Qt::PartiallyChecked, "0"},
};
INSTANTIATE_TEST_SUITE_P(Janela, Gravacao, ::testing::ValuesIn(kGravacoes), PeloNome());

struct CasoRecusa {
    const char* nome;
    std::function<void(Janela&, QWidget&)> preparar;
    std::string caixa;  // part of its text; none when it saves
    bool aviso = false; // the box only warns: saved all the same
};
class Salvar : public Janela, public ::testing::WithParamInterface<CasoRecusa> {};
TEST_P(Salvar, RecusaOQueOJobNaoPoderiaUsar) {
    const auto& c = GetParam();
    auto& f = Abrir({{"Banco", "antes"}, {"Porta", " 2121 "}}); // blanks allowed
    Campo(f, "txtBanco")->setText("depois");
    Campo(f, "txtServidorBD")->setText("localhost");
    c.preparar(*this, f);
    Clicar("cmdSalvarFechar");
    const bool salva = c.caixa.empty() || c.aviso;
    ASSERT_EQ(Caixas().size(), c.caixa.empty() ? 0u : 1u);
    const auto caixa = Trocar(c.caixa, {{"{pasta}", plataforma::TextoCaminho(p.dir)}});
    EXPECT_TRUE(c.caixa.empty() || Caixas()[0].find(caixa) != std::string::npos) << Caixas()[0];
    EXPECT_EQ(Ini("Banco"), salva ? "depois" : "antes");
    EXPECT_EQ(Ini("ServidorDB"), salva ? Campo(f, "txtServidorBD")->text().toStdString() : "");
    EXPECT_EQ(f.isVisible(), !salva);
}

// Types `texto` into the field before the click.
auto Em(const char* campo, QString texto) {
    return [campo, texto](auto&, QWidget& f) {
        Campo(f, campo)->setText(texto);
    };
}
std::function<void(Janela&, QWidget&)> Cliente(int tamanho) {
    return [tamanho](Janela&, QWidget& f) {
        Campo(f, "txtCodigoCliente")->setText("1");
        Campo(f, "txtNomeCliente")->setMaxLength(300);
        Campo(f, "txtNomeCliente")->setText(QString(tamanho, 'n'));
    };
}
// The uploader gone, and 7z too for plain FTP; `endereco` typed.
std::function<void(Janela&, QWidget&)> SemFerramentas(QString endereco) {
    return [endereco](Janela&, QWidget& f) {
        fs::remove(PastaPrograma() / plataforma::kNomeEnviador);
        if (endereco.startsWith("ftp:")) {
            fs::remove(PastaPrograma() / plataforma::kNome7z);
        }
        Campo(f, "txtEnderecoFTP")->setText(endereco);
    };
}
// The server writes the .BAK into this machine's folder: only this machine's names are taken.
const std::string kOutroComputador = "X Este progama deve executado somente no Servidor de Banco "
                                     "de Dados!\r\nInforme o nome do Servidor de Banco "
                                     "corretamente!\r\nNome deste Servidor: SERVIDOR01";
std::vector<CasoRecusa> Recusas() {
    return {
        // The rules themselves are the core's (ValidarConfiguracao); here, that the window
        // gives them what was typed and shows what they say.
        {"OutroComputador", Em("txtServidorBD", "SRV02"), kOutroComputador},
        {"UsuarioLongoEmClaro",
         [](Janela&, QWidget& f) {
             Campo(f, "txtUsuario")->setText(QString(507, 'u'));
             Marca(f, "chkNCripto")->setChecked(true);
         },
         ""},
        {"PortaForaDaFaixa", Em("txtPorta", "65536"), "a Porta do FTP deve ser um número"},
        // "KVLN_1_<name>_DDMMYY.BAK": 18 bytes besides the name, and a file name holds 255.
        {"NomeDoArquivoLongoDemais", Cliente(238),
         "o arquivo do backup teria um nome de 256 bytes"},
        {"NomeDoArquivoNoLimite", Cliente(237), ""},
        // Every tool missing in one box; the uploader only for plain FTP.
        {"FaltamO7zEOEnviador", SemFerramentas("ftp://h"),
         "X Está faltando o arquivo: " + std::string(plataforma::kNome7z) +
             "\r\nEstá faltando o arquivo: " + std::string(plataforma::kNomeEnviador) +
             "\r\nColoque-os na pasta do programa: {pasta}\r\n" +
             std::string(plataforma::kOrigemEnviador) + "\r\nO backup não será efetuado!",
         true},
        {"SftpSemOEnviador", SemFerramentas("sftp://h"), ""},
    };
}
INSTANTIATE_TEST_SUITE_P(Janela, Salvar, ::testing::ValuesIn(Recusas()), PeloNome());

// As an ordinary user (file access checked as "nobody" while the tests run as root): a file that
// cannot be read is said so on opening, and a save that cannot be written keeps what was typed.
TEST_F(Janela, ArquivoQueNaoSeLeOuNaoSeGrava) {
    KELVANE_SO_LINUX("Wine's drive Z: has no ACLs to refuse a read or a write with");
#ifndef _WIN32
    ::chmod(p.raiz.p.c_str(), 0711);
    // A file others may read is refused by the permission check before any write.
    Gravar(p.dir / "info.ini", "[infos]\nBanco=Antigo\n");
    ::chmod((p.dir / "info.ini").c_str(), 0000);
    ::chmod(p.dir.c_str(), 0700);
    ::setfsuid(65534);
    auto& f = Abrir({}, true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Caixas().size() == 1u; }));
    EXPECT_EQ(Campo(f, "txtBanco")->text(), "");
    Campo(f, "txtServidorBD")->setText("localhost");
    Campo(f, "txtBanco")->setText("Novo");
    Campo(f, "txtPorta")->setText("21");
    Clicar("cmdSalvarFechar");
    ::setfsuid(0);
    EXPECT_EQ(Caixas().back(), "X As configurações não foram gravadas em " +
                                   (p.dir / "info.ini").string() +
                                   ": permissão negada.\r\nO que foi digitado continua na janela.");
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(Ler(p.dir / "info.ini"), "[infos]\nBanco=Antigo\n");
#endif
}

// Run-now is EXEC's run, restore drill included: the archive just sent is restored, checked and
// dropped, and the drill's date recorded.
TEST_F(Janela, ExecutarAgoraSegueOJob) {
    p.Servidores("slow");
    auto& f = Preenchida();
    GravarINI(kSecaoInfos, "TesteRestauracao", "1", p.dir / "info.ini");
    std::vector<std::string> linhas;
    std::vector<bool> botoes;
    const QPushButton* acoes[] = {Botao(f, "cmdSalvarFechar"), Botao(f, "cmdTestarFTP"),
                                  Botao(f, "cmdEnviarArquivo"), Botao(f, "cmdExecutar")};
    QObject::connect(&f, &janela::Form1::mensagemMostrada, &f, [&](const QString& t) {
        linhas.push_back(t.toStdString());
        botoes.push_back(std::any_of(std::begin(acoes), std::end(acoes),
                                     [](const QPushButton* b) { return b->isEnabled(); }));
    });
    QTest::mouseClick(Botao(f, "cmdExecutar"), Qt::LeftButton);
    ASSERT_TRUE(f.tarefaEmAndamento());
    f.close(); // refused while the job runs
    EXPECT_TRUE(f.isVisible());
    const std::string recusa =
        "i Um backup está em execução. Aguarde o fim do processo para fechar a janela.";
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
    EXPECT_TRUE(std::regex_search(
        p.LogTexto(), std::regex(R"(\nRestauração testada: KVLN_\w+\.7z > )"
                                 R"(\[Vendas_KelvaneTeste\]: íntegro\nFim do Processo\n$)")))
        << p.LogTexto();
    EXPECT_EQ(Ini("UltimoTesteRestauracao").substr(0, 10), Hoje());
}

// Root's window (the menu's launcher) on the data of another account: run-now runs the job as
// that account, in a session of its own with no terminal and without the display, so what it
// writes is that account's; the success box only when that process ends with 0.
TEST_F(Janela, ExecutarAgoraDeRootComoDonoDosDados) {
    KELVANE_SO_LINUX("a janela no Windows roda como a conta dona dos dados");
#ifndef _WIN32
    KELVANE_SO_ROOT("a conta nobody só pode ser adotada por root");
    p.Servidores();
    p.Separar();
    ::chmod(p.raiz.p.c_str(), 0711);
    // The 7z the job starts says who it runs as, where it may type and what display it sees.
    p.Falsa("7z", "{ id -un; cut -d' ' -f7 /proc/$$/stat; echo ${DISPLAY-}${XAUTHORITY-}; "
                  "[ $(cut -d' ' -f6 /proc/$$/stat) = " +
                      std::to_string(::getsid(0)) +
                      " ] || echo sessao-nova; } | xargs >>\"$(dirname \"$3\")/sonda\"; "
                      "exec /usr/lib/p7zip/7z \"$@\"");
    p.Falsa("ncftpput", "exit 3");
    ::chmod((p.dir / "7z").c_str(), 0755);
    ::chmod((p.dir / "ncftpput").c_str(), 0755);
    for (const auto& e : fs::recursive_directory_iterator(p.dados)) {
        ::lchown(e.path().c_str(), 65534, 65534);
    }
    ::lchown(p.dados.c_str(), 65534, 65534);
    DefinirPastaDados(p.dados);
    ASSERT_TRUE(plataforma::AdotarDonoDosDados(p.dados));
    qputenv("DISPLAY", ":7");
    auto& f = Abrir({}, true);
    Lista(f, "cmbServidor")->setCurrentIndex(1);
    fs::remove(p.dados / "info.ini"); // the save before the run makes it anew
    const QString senha = Campo(f, "txtSenha")->text();
    Campo(f, "txtSenha")->setText("errada"); // a failure the job puts in no box of its own
    Clicar("cmdExecutar");
    Campo(f, "txtSenha")->setText(senha);
    Clicar("cmdExecutar");
    ASSERT_EQ(Caixas().size(), 2u);
    EXPECT_EQ(Caixas()[0].rfind("X Erro ao conetar no banco: [FreeTDS]", 0), 0u) << Caixas()[0];
    EXPECT_EQ(Caixas()[1].rfind("X Erro: 3 - ", 0), 0u) << Caixas()[1];
    fs::remove(p.dir / "ncftpput");
    p.Ferramentas();
    Clicar("cmdExecutar");
    EXPECT_EQ(Caixas().back(), "i Processo Finalizado!");
    EXPECT_EQ(Linhas(p.dados / "sonda"), std::vector<std::string>(2, "nobody 0 sessao-nova"));
    ASSERT_EQ(p.Enviados().size(), 1u);
    for (const auto& e : fs::recursive_directory_iterator(p.dados)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        EXPECT_EQ(st.st_uid, 65534u) << e.path();
    }
    plataforma::AdotarDonoDosDados(p.dir); // root's: none adopted for the next test
    DefinirPastaDados(p.dir);
    qunsetenv("DISPLAY");
#endif
}

// The session ends under a backup started from the window (Linux: SIGTERM; Windows: the question,
// refused while it runs, then the end announced anyway): the run's last line says it was cut and
// the process ends as interrupted, whatever the job was blocked in.
struct CasoFimSessao {
    const char* nome;
    const char* tds;              // the TDS stand-in's mode
    const char* sete;             // the archiver's script ("": the real one)
    const char* durante;          // how the status line begins once the step runs
    const char* motivo = nullptr; // the display gone instead (Linux: Qt then calls exit)
};
void AcabarSessao(QWidget& f, bool tela) {
    if (tela) {
        std::exit(1);
    }
#ifdef _WIN32
    const auto janela = reinterpret_cast<HWND>(f.winId());
    if (SendMessageW(janela, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) != 0) {
        std::_Exit(3);
    }
    SendMessageW(janela, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
#else
    (void)f;
    ::kill(::getpid(), SIGTERM);
#endif
}
#ifdef _WIN32
const auto kInterrompido = ::testing::ExitedWithCode(static_cast<int>(STATUS_CONTROL_C_EXIT));
#else
const auto kInterrompido = ::testing::KilledBySignal(SIGTERM);
#endif

class FimSessao : public Janela, public ::testing::WithParamInterface<CasoFimSessao> {};
TEST_P(FimSessao, OLogTerminaInterrompido) {
    const auto& c = GetParam();
    if (c.motivo) {
        KELVANE_SO_LINUX("Qt's Windows platform never ends the program when the display goes");
    }
    // A death test's child runs the test again from its start (in folders of its own, on
    // Windows): it logs where this process reads.
    constexpr const char* kLog = "KELVANE_TESTE_LOG";
    if (!qEnvironmentVariableIsSet(kLog)) {
        qputenv(kLog, QByteArray::fromStdString(
                          plataforma::TextoCaminho(p.dir / "Log" / "Log_janela.Log")));
    }
    ArquivoLog = qgetenv(kLog).toStdString();
    p.Servidores(c.tds);
    if (*c.sete) {
        p.Falsa("7z", c.sete);
    }
    auto& f = Preenchida();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool chegou = false;
            QObject::connect(&f, &janela::Form1::mensagemMostrada, [&](const QString& t) {
                chegou = chegou || t.startsWith(QLatin1String(c.durante));
            });
            QTest::mouseClick(Botao(f, "cmdExecutar"), Qt::LeftButton);
            if (!QTest::qWaitFor([&] { return chegou; }, 60000)) {
                std::_Exit(2);
            }
            AcabarSessao(f, c.motivo != nullptr);
            QTest::qWait(60000);
            std::_Exit(4);
        },
        kInterrompido, "");
    qunsetenv(kLog);
    EXPECT_EQ(p.Ultima(), "Erro: 0 - Execução interrompida (" +
                              std::string(c.motivo            ? c.motivo
                                          : Sistema().windows ? "logoff"
                                                              : "SIGTERM") +
                              "): o backup não foi concluído.");
}

const CasoFimSessao kFinsSessao[] = {
    {"NoServidor", "silent", "", "Backup...: 10%"},
    {"NaCompactacao", "normal", "exec sleep 300", "Compactando...: "},
    {"TelaPerdida", "silent", "", "Backup...: 10%", "conexão com a tela perdida"},
};
INSTANTIATE_TEST_SUITE_P(Janela, FimSessao, ::testing::ValuesIn(kFinsSessao), PeloNome());

class Tarefas;
struct CasoTarefa {
    const char* nome;
    const char* botao;
    std::function<void(Tarefas& t, QWidget& f)> preparar;
    std::string caixa;      // how it begins; {pasta} is the program folder
    std::string linha = ""; // how the status line begins
    std::string chega = ""; // on the FTP server
    const char* modo = "normal";
    const char* soLinux = nullptr; // why the row cannot exist on Windows
    const char* senha = nullptr;   // SenhaArquivo in the file: the archive opens only with it
};
class Tarefas : public Janela, public ::testing::WithParamInterface<CasoTarefa> {
public:
    void SetUp() override {
        Janela::SetUp();
        Gravar(arquivo, "dados");
        Gravar(p.raiz.p / "@lista", "segredo.txt\n");
        Gravar(p.raiz.p / "segredo.txt", "segredo");
    }
    // The uploader made to print its login file, whose passwords must not reach the box.
    void EcoarLogin() {
        p.Falsa("ncftpput", "while [ \"$1\" != -f ]; do shift; done; cat \"$2\" >&2; exit 3");
    }

    const fs::path arquivo = p.raiz.p / plataforma::Caminho("relatório de maio.pdf");
};

// Each task button answers with one box, never holding a password, and the status line keeps
// its first line: the connection tests say what they try, use the values typed and save
// nothing; a run now saves first; a file that was not found still waits to be sent.
TEST_P(Tarefas, RespondemComUmaCaixa) {
    const auto& c = GetParam();
    if (c.soLinux) {
        KELVANE_SO_LINUX(c.soLinux);
    }
    const std::string_view botao = c.botao;
    p.Servidores(c.modo);
    auto& f = Preenchida();
    if (botao == "cmdEnviarArquivo") {
        // As the dialog answers on every system; the field shows the system's separators.
        janela::ProximoArquivo(
            QString::fromStdString(plataforma::TextoCaminho(arquivo)).replace('\\', '/'));
        Clicar("cmdArquivo");
        EXPECT_EQ(Campo(f, "txtArquivoEnviar")->text().toStdString(),
                  plataforma::TextoCaminho(arquivo));
        EXPECT_FALSE(Botao(f, "cmdExecutar")->isEnabled()); // a chosen file waits to be sent
    }
    c.preparar(*this, f);
    std::vector<std::string> linhas;
    QObject::connect(&f, &janela::Form1::mensagemMostrada,
                     [&](const QString& t) { linhas.push_back(t.toStdString()); });
    fs::current_path(p.raiz.p);
    Clicar(c.botao);
    fs::current_path("/");
    ASSERT_EQ(Caixas().size(), 1u);
    const std::string caixa = Caixas()[0];
    EXPECT_EQ(caixa.rfind(Trocar(c.caixa, {{"{pasta}", p.dir.string()}}), 0), 0u) << caixa;
    // One dial: the uploader's own redials took 40 s against a closed port.
    EXPECT_EQ(caixa.find("Could not"), caixa.rfind("Could not"));
    // The status line holds it whole, or cut to its width with "…" and whole in the tooltip.
    const auto* status = Controle<QLabel>(f, "lblMensagem");
    EXPECT_EQ(caixa.substr(2, caixa.find('\r') - 2),
              (status->toolTip().isEmpty() ? status->text() : status->toolTip()).toStdString());
    EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()), status->width());
    EXPECT_TRUE(status->toolTip().isEmpty() || status->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(linhas.at(0).rfind(c.linha, 0), 0u) << linhas.at(0);
    for (const char* senha : {"txtSenha", "txtPassw"}) {
        EXPECT_EQ(caixa.find(Campo(f, senha)->text().toStdString()), std::string::npos);
    }
    if (botao != "cmdEnviarArquivo") { // a test saves nothing, a run saves first
        EXPECT_EQ(Ini("Banco"), botao == "cmdExecutar" ? "Vendas" : "");
    }
    EXPECT_EQ(Botao(f, "cmdExecutar")->isEnabled(),
              c.caixa.find("/nao/existe") == std::string::npos);
    const auto chegou = p.ftp / "backups" / plataforma::Caminho(c.chega);
    if (botao == "cmdEnviarArquivo" && !c.chega.empty()) {
        const auto lista = Rodar({"/usr/lib/p7zip/7z", "l", plataforma::TextoCaminho(chegou)});
        // Packed, or as it is; with a password, no names without it.
        EXPECT_EQ(lista.codigo != 0, chegou.extension() != ".7z" || c.senha != nullptr);
        EXPECT_TRUE(!c.senha || Rodar({"/usr/lib/p7zip/7z", "l", std::string("-p") + c.senha,
                                       plataforma::TextoCaminho(chegou)})
                                        .codigo == 0);
        EXPECT_EQ(lista.saida.find("segredo"), std::string::npos);
        EXPECT_EQ(
            linhas.at(linhas.size() - 2),
            "Enviando...: " + plataforma::TextoCaminho(p.raiz.p / plataforma::Caminho(c.chega)) +
                " > 127.0.0.1");
    } else {
        EXPECT_TRUE(fs::is_empty(p.ftp / "backups")); // the FTP test deletes what it sent
    }
}

void Nada(Tarefas&, QWidget&) {}
const std::string kBanco = "Testando a conexão com o banco 127.0.0.1,",
                  kFtp = "Testando a conexão FTP com 127.0.0.1:",
                  kPortaInvalida = "X A conexão FTP não foi testada: a Porta do FTP deve ser um "
                                   "número inteiro de 1 a 65535.\r\nDigite na Porta o número da "
                                   "porta do servidor FTP (normalmente ";
const CasoTarefa kTarefas[] = {
    {"BancoSempreNoMaster", "cmdTestarConexaoBanco", Em("txtBanco", "NaoExiste"),
     "i Conexão efetuada com sucesso!", kBanco},
    {"BancoSenhaErrada", "cmdTestarConexaoBanco", Em("txtSenha", "errada"),
     "X O servidor recusou a entrada: confira o Login e a Senha.\r\nErro: 18456 - ", kBanco},
    // Nothing on this machine's port: the job's line, and no login sent.
    {"BancoPortaSemServidor", "cmdTestarConexaoBanco", Em("txtServidorBD", "127.0.0.1,1"),
     "X Erro ao conetar no banco: nenhum programa aguarda conexões na porta 1 deste "
     "computador; o login não foi enviado. Inicie o SQL Server",
     kBanco},
    // A server that accepts and never answers: given up on, not waited for.
    {"BancoQueNaoResponde", "cmdTestarConexaoBanco",
     [](Tarefas& t, QWidget& f) {
         t.p.tds =
             std::make_unique<Servidor>("tds_server.py", std::vector<std::string>{"--mode=mute"});
         Campo(f, "txtServidorBD")->setText(QString("127.0.0.1,%1").arg(t.p.tds->porta));
     },
     "X O servidor não respondeu a tempo: confira se o SQL Server está em execução neste "
     "endereço e nesta porta.\r\nErro: ",
     kBanco},
    // The test file is sent, its size asked and then deleted, on the session of the check.
    {"FtpConecta", "cmdTestarFTP", Nada,
     "i Conexão FTP efetuada com sucesso! O arquivo de teste foi apagado do servidor.\r\n"
     "Protocolo: FTP, sem criptografia",
     kFtp},
    {"FtpPortaFechada", "cmdTestarFTP", Em("txtPorta", "1"),
     "X O servidor FTP não foi encontrado ou recusou a conexão: confira o Endereço e a Porta."
     "\r\nErro: 1 - Teste de conexão FTP falhou: ncftpput terminou com código 1",
     kFtp},
    // The same exit status as a closed port; the uploader's words tell the login apart.
    {"FtpSenhaErrada", "cmdTestarFTP", Em("txtPassw", "errada"),
     "X O servidor FTP recusou a entrada: confira o Usuario e a Senha.\r\nErro: 1 - ", kFtp},
    {"FtpPortaInvalida", "cmdTestarFTP", Em("txtPorta", "abc"), kPortaInvalida + "21)."},
    // The scheme names the port: in the hint, and for a Porta left empty.
    {"FtpPortaInvalidaDizADoSftp", "cmdTestarFTP",
     [](Tarefas&, QWidget& f) {
         Campo(f, "txtEnderecoFTP")->setText("sftp://127.0.0.1");
         Campo(f, "txtPorta")->setText("abc");
     },
     kPortaInvalida + "22)."},
    {"FtpPortaVaziaEADoEsquema", "cmdTestarFTP", Em("txtPorta", " "), "X ", kFtp + "21..."},
    {"FtpSemAsSenhas", "cmdTestarFTP", [](Tarefas& t, QWidget&) { t.EcoarLogin(); },
     "X O arquivo não pôde ser gravado no servidor FTP: confira se o Usuario pode gravar no "
     "Diretório e se há espaço no servidor.\r\nErro: 3 - Teste de conexão FTP falhou: ",
     kFtp},
    // An uploader another account could have replaced is never run.
    {"FtpUploaderDeOutraConta", "cmdTestarFTP",
     [](Tarefas& t, QWidget&) {
         t.p.Falsa("ncftpput", "exit 0");
#ifndef _WIN32
         ::chown((t.p.dir / "ncftpput").c_str(), 65534, 0);
#endif
     },
     "X Permissões inseguras: {pasta}/ncftpput pertence a outra conta (nobody)", "", "", "normal",
     "Wine gives every file on drive Z: the running account as owner"},
    {"EnviarSemAsSenhas", "cmdEnviarArquivo", [](Tarefas& t, QWidget&) { t.EcoarLogin(); },
     "X Erro: 3 - Envio falhou: ncftpput terminou com código 3"},
    {"EnviarComoEsta", "cmdEnviarArquivo", Nada, "i Processo Finalizado", "",
     "relatório de maio.pdf"},
    {"EnviarZipado", "cmdEnviarArquivo",
     [](Tarefas&, QWidget& f) { Marca(f, "chkZipar")->setChecked(true); }, "i Processo Finalizado",
     "", "relatório de maio.pdf.7z"},
    // Packed as the job packs the backups: with SenhaArquivo, nobody else can open it.
    {"EnviarZipadoComSenha", "cmdEnviarArquivo",
     [](Tarefas& t, QWidget& f) {
         GravarINI(kSecaoInfos, "SenhaArquivo", Cripto("s3nha"), t.p.dir / "info.ini");
         Marca(f, "chkZipar")->setChecked(true);
     },
     "i Processo Finalizado", "", "relatório de maio.pdf.7z", "normal", nullptr, "s3nha"},
    // Typed relative to the current folder: a name, never 7z's list file.
    {"EnviarNomeComArroba", "cmdEnviarArquivo",
     [](Tarefas&, QWidget& f) {
         Marca(f, "chkZipar")->setChecked(true);
         Campo(f, "txtArquivoEnviar")->setText("@lista");
     },
     "i Processo Finalizado", "", "@lista.7z"},
    {"EnviarSenhaErrada", "cmdEnviarArquivo", Em("txtPassw", "errada"),
     "X Erro: 1 - Envio falhou: ncftpput terminou com código 1"},
    {"EnviarArquivoInexistente", "cmdEnviarArquivo", Em("txtArquivoEnviar", "/nao/existe.pdf"),
     "X O arquivo a enviar não foi encontrado:\r\n/nao/existe.pdf"},
    {"ExecutarBackupRecusado", "cmdExecutar", Nada, "X Erro: 3202 - Backup do banco falhou: ", "",
     "", "fail"},
    {"ExecutarSem7z", "cmdExecutar",
     [](Tarefas& t, QWidget&) { fs::remove(t.p.dir / plataforma::kNome7z); },
     "X Está faltando o arquivo: " + std::string(plataforma::kNome7z) +
         "\r\nColoque-o na pasta do programa: {pasta}\r\nO backup não será efetuado!"},
    {"ExecutarSenhaErrada", "cmdExecutar", Em("txtSenha", "errada"),
     "X Erro ao conetar no banco: [FreeTDS][SQL Server]Login failed"},
};
INSTANTIATE_TEST_SUITE_P(Janela, Tarefas, ::testing::ValuesIn(kTarefas), PeloNome());

// The FTP test against the encrypted schemes' daemons: each box as it begins ({chave}: the SSH
// server's key), the one answer given to a question about the key, and what is kept of it (said
// in a second box after a Yes).
struct CasoCifrado {
    const char* nome;
    const char* modo; // the server's
    bool confia;
    std::string caixa, segunda = ""; // one click each: a second click when given
    std::string gravada = "";        // ChaveHostFTP (sftp) or CertificadoFTP afterwards
    bool comCa = true;               // CertificadoFTP names the test CA
    std::string esquema = "";        // Endereco's, when not the server's
    std::string chaveHost = "";      // ChaveHostFTP before
    bool job = false;                // then the job's run sends the backup there
    const char* caModo = nullptr;    // chmod of the CA's file
};
class Cifrados : public Janela, public ::testing::WithParamInterface<CasoCifrado> {};
TEST_P(Cifrados, TesteFtpDizOQueConferiu) {
    const auto& c = GetParam();
    KELVANE_SO_LINUX("o Schannel e o libssh2 sob o Wine ainda não negociam com vsftpd e sshd");
#ifndef _WIN32
    KELVANE_SO_ROOT("vsftpd e sshd precisam de root e de uma conta de teste");
#endif
    const auto chaves = p.raiz.p / "chaves";
    const std::string modo = c.modo;
    const auto servidor = ServidorCifrado(p.raiz.p, chaves, modo);
    auto ini = Pares("NCripto=1\nEndereco=" + (c.esquema.empty() ? modo : c.esquema) +
                     "://localhost\nChaveHostFTP=" + c.chaveHost +
                     "\nPorta=" + std::to_string(servidor->porta) +
                     "\nUsuario=kelvaneteste\nPassw=" + kSenhaCifrado +
                     "\nDiretorio=" + (p.ftp / "backups").string());
    if (modo != "sftp" && c.comCa) {
        Privado(chaves / "ca.crt");
        if (c.caModo) {
            Rodar({"/bin/chmod", c.caModo, (chaves / "ca.crt").string()});
        }
        ini.emplace_back("CertificadoFTP", (chaves / "ca.crt").string());
    }
    fs::remove(p.dir / plataforma::kNomeEnviador); // plain FTP's alone
    auto& f = Abrir(ini);
    Lista(f, "cmbServidor")->setCurrentIndex(1);
    const auto impressao = Rodar({"/usr/bin/openssl", "x509", "-noout", "-fingerprint", "-sha256",
                                  "-in", (chaves / "servidor.crt").string()})
                               .saida;
    const auto com = [&](const std::string& s) {
        return Trocar(s, {{"{chave}", modo == "sftp" ? Impressao(chaves) : ""},
                          {"{impressao}", impressao.substr(impressao.find('=') + 1, 95)},
                          {"{pem}", (p.dir / "CertificadoFTP.pem").string()},
                          {"{ca}", (chaves / "ca.crt").string()}});
    };
    janela::ProximaResposta(c.confia);
    for (const auto& esperada : {c.caixa, c.segunda}) {
        if (esperada.empty()) {
            break;
        }
        janela::LimparCaixas();
        const auto inicio = std::chrono::steady_clock::now();
        Clicar("cmdTestarFTP");
        // Every outcome is known before the 20 s the test gives a connection.
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(15));
        const bool guardou = c.confia && esperada.starts_with("?");
        ASSERT_EQ(Caixas().size(), guardou ? 2u : 1u);
        EXPECT_EQ(Caixas()[0].rfind(com(esperada), 0), 0u) << Caixas()[0];
        if (guardou) {
            EXPECT_NE(Caixas()[1].find(com(c.gravada)), std::string::npos) << Caixas()[1];
        }
    }
    EXPECT_EQ(Ini(modo == "sftp" && c.esquema.empty() ? "ChaveHostFTP" : "CertificadoFTP"),
              com(c.gravada));
    EXPECT_TRUE(fs::is_empty(p.ftp / "backups"));
    if (c.job) {
        p.Servidores(); // the database's stand-in
        for (const char* chave : {"ServidorDB", "Banco", "Login", "Senha"}) {
            GravarINI(kSecaoInfos, chave, p.cfg[chave], p.dir / "info.ini");
        }
        EXPECT_EQ(p.Exec().codigo, 0) << p.Ultima();
        EXPECT_EQ(p.Enviados().size(), 1u);
    }
}

const std::string kApagado =
    "i Conexão FTP efetuada com sucesso! O arquivo de teste foi apagado do servidor.\r\n";
const std::string kChaveNova = "? O servidor SFTP apresentou a chave ECDSA\r\n{chave}\r\n";
const std::string kTls = "Protocolo: FTPES (AUTH TLS)\r\nTLS: TLSv1.3 / TLS_AES_256_GCM_SHA384\r\n";
const std::string kOutraChave = "SHA256:" + std::string(43, 'A');
const CasoCifrado kCifrados[] = {
    {"FtpesComCertificadoEValidade", "ftpes", false,
     kApagado + kTls +
         "Certificado confiável por CertificadoFTP ({ca}): CN = localhost, emitido por CN = "
         "Kelvane Teste CA, válido até ",
     "", "{ca}"},
    {"SftpChaveAceitaEGravada", "sftp", true, kChaveNova,
     kApagado + "Protocolo: SFTP (SSH)\r\nChave do servidor: ECDSA {chave}", "{chave}"},
    {"SftpChaveRecusadaNaoSeGrava", "sftp", false, kChaveNova, kChaveNova},
    // A key that changed is never offered as a new one: nothing asked, nothing written.
    {"SftpChaveMudadaNaoSePergunta", "sftp", true,
     "X Erro: 0 - Teste de conexão FTP falhou: a chave do servidor SSH ({chave}) não é a "
     "registrada em ChaveHostFTP (" +
         kOutraChave + ")",
     "", kOutraChave, true, "", kOutraChave},
    // The server's own certificate, kept in the data folder: the next test and the job trust it.
    {"FtpesCertificadoConfiadoEOJobEnvia", "ftpes", true,
     "? O servidor FTP apresentou um certificado em que nada confia ainda:\r\nTitular: CN = "
     "localhost\r\nEmitido por: CN = Kelvane Teste CA\r\nImpressão digital SHA-256: {impressao}"
     "\r\nVálido até: ",
     kApagado + kTls + "Certificado confiável por CertificadoFTP ({pem}): CN = localhost", "{pem}",
     false, "", "", true},
    {"FtpesCertificadoRecusadoNaoSeGrava", "ftpes", false,
     "? O servidor FTP apresentou um certificado", "", "", false},
    // The job's own check of whoever could change what CertificadoFTP names.
    {"FtpesCertificadoQueOutrosAlteram", "ftpes", false, "X Permissões inseguras: {ca}", "", "{ca}",
     true, "", "", false, "666"},
    // An SSH server's port: told at once, not waited for until the time limit.
    {"FtpesNaPortaDoSsh", "sftp", false,
     "X Erro: 0 - Teste de conexão FTP falhou: o servidor não respondeu como um servidor FTP", "",
     "", true, "ftpes"},
};
INSTANTIATE_TEST_SUITE_P(Janela, Cifrados, ::testing::ValuesIn(kCifrados), PeloNome());

} // namespace

int main(int argc, char** argv) {
    // A death test's child starts as the program does: the environment cleaned, termination
    // requests taken on a thread of their own, the tools in a job object on Windows. Not the
    // suite itself: the servers it starts would inherit SIGTERM blocked.
    if (std::any_of(argv, argv + argc, [](const char* a) {
            return std::string_view(a).starts_with("--gtest_internal_run_death_test");
        })) {
        plataforma::PrepararProcesso();
    }
    QTemporaryFile tela;      // KELVANE_TELA_DPI: the offscreen screen at that many dots per inch
    if (!Sistema().windows) { // Windows' own platform, drawing with Wine's null driver
        const QByteArray dpi = qgetenv("KELVANE_TELA_DPI");
        if (!dpi.isEmpty() && tela.open()) {
            tela.write(R"({"screens": [{"name": "tela", "x": 0, "y": 0, "width": 2560,
                "height": 1600, "logicalDpi": )" +
                       dpi + ", \"logicalBaseDpi\": 96}]}");
            tela.flush();
        }
        qputenv("QT_QPA_PLATFORM", tela.isOpen()
                                       ? "offscreen:configfile=" + tela.fileName().toUtf8()
                                       : QByteArray("offscreen"));
    }
    janela::PrepararEscalaDaTela();
    QApplication aplicacao(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
