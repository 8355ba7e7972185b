#include "form1.h"

#include "mensagens.h"
#include "plataforma/nomes.h"
#include "settings/texto.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QtMath>
#include <memory>
#include <mutex>
#include <optional>

// The icon lives in this static library; its resources must be registered by hand.
static void IniciarRecursos() {
    Q_INIT_RESOURCE(recursos);
}

namespace kelvane::janela {

namespace {

std::mutex gMutexNome;
std::function<std::string()> gFonteNome;

// The layout is drawn in twips, 15 to the pixel at 96 dpi and as many fewer as the screen's
// dots per inch are more (Windows' own rule for dialogs). Each edge is rounded to a whole pixel
// on its own, so a control never starts or ends inside a pixel.
QRect Twips(qreal escala, int esquerda, int topo, int largura, int altura) {
    const auto px = [escala](int twips) {
        return qRound(twips * escala / 15);
    };
    return QRect(QPoint(px(esquerda), px(topo)),
                 QPoint(px(esquerda + largura) - 1, px(topo + altura) - 1));
}

// What the screen's scale leaves after Qt's whole part (see PrepararEscalaDaTela): the logical
// dots per inch over Windows' 96.
qreal EscalaRestante() {
    const QScreen* tela = QGuiApplication::primaryScreen();
    const qreal escala = tela ? tela->logicalDotsPerInchX() / 96 : 1;
    return escala > 0.5 && escala < 8 ? escala : 1;
}

template <typename W>
W* Criar(qreal escala, QWidget* pai, const char* nome, int esquerda, int topo, int largura,
         int altura) {
    auto* w = new W(pai);
    w->setObjectName(QLatin1String(nome));
    w->setGeometry(Twips(escala, esquerda, topo, largura, altura));
    return w;
}

QLabel* Rotulo(qreal escala, QWidget* pai, const char* nome, const char* texto, int esquerda,
               int topo, int largura, int altura) {
    auto* r = Criar<QLabel>(escala, pai, nome, esquerda, topo, largura, altura);
    r->setText(QString::fromUtf8(texto));
    // Static captions are sized to their text, whatever font this system gives them.
    r->resize(r->sizeHint().expandedTo(QSize(0, r->height())));
    return r;
}

QLineEdit* CaixaTexto(qreal escala, QWidget* pai, const char* nome, int esquerda, int topo,
                      int largura, int altura) {
    return Criar<QLineEdit>(escala, pai, nome, esquerda, topo, largura, altura);
}

QPushButton* Botao(qreal escala, QWidget* pai, const char* nome, const char* texto, int esquerda,
                   int topo, int largura, int altura) {
    auto* b = Criar<QPushButton>(escala, pai, nome, esquerda, topo, largura, altura);
    b->setText(QString::fromUtf8(texto));
    // No default button: Enter must not press anything.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QCheckBox* Marca(qreal escala, QWidget* pai, const char* nome, const char* texto, int esquerda,
                 int topo, int largura, int altura) {
    auto* c = Criar<QCheckBox>(escala, pai, nome, esquerda, topo, largura, altura);
    c->setText(QString::fromUtf8(texto));
    // The boxes were drawn tight around their text ("Zipar 7z" ends where "Enviar >>" starts).
    c->setStyleSheet(QStringLiteral("QCheckBox { spacing: %1px; }").arg(qRound(3 * escala)));
    // Greyed only by a stored value: the user's clicks tick and untick.
    QObject::connect(c, &QCheckBox::clicked, c, [c] { c->setTristate(false); });
    return c;
}

QGroupBox* Moldura(qreal escala, QWidget* pai, const char* nome, const char* texto, int esquerda,
                   int topo, int largura, int altura) {
    auto* g = Criar<QGroupBox>(escala, pai, nome, esquerda, topo, largura, altura);
    g->setTitle(QString::fromUtf8(texto));
    return g;
}

// The message line's sunken panel, drawn in whole device pixels. Each edge falls where the
// window's own edges do at this scale (the logical position times the scale, rounded), so the
// panel ends on the window's last row and column even where the scale is fractional (only a
// QT_SCALE_FACTOR makes it so): at 1.25 its top (518.75) and bottom (546.25) fall inside pixels,
// and the style, starting it a row lower, left its bottom line outside.
class Painel : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRectF area = p.deviceTransform().mapRect(QRectF(rect()));
        const QRect r(QPoint(qRound(area.left()), qRound(area.top())),
                      QPoint(qRound(area.right()) - 1, qRound(area.bottom()) - 1));
        const int espessura = qMax(1, qRound(p.deviceTransform().m22())); // as the style's
        const QColor escuro = palette().color(QPalette::Dark);
        const QColor claro = palette().color(QPalette::Light);
        // From here on a unit is a device pixel (the painter keeps the scale and the widget's
        // place in the window beneath its own transformation).
        p.resetTransform();
        p.setWorldTransform(p.deviceTransform().inverted());
        // Dark above and to the left, light below and to the right, which owns both far corners.
        for (int i = 0; i < espessura; ++i) {
            const int largura = r.width() - 2 * i, altura = r.height() - 2 * i;
            p.fillRect(r.left() + i, r.top() + i, largura - 1, 1, escuro);
            p.fillRect(r.left() + i, r.top() + i, 1, altura - 1, escuro);
            p.fillRect(r.left() + i, r.bottom() - i, largura, 1, claro);
            p.fillRect(r.right() - i, r.top() + i, 1, altura, claro);
        }
    }
};

void MascararSenha(QLineEdit* caixa) {
    caixa->setEchoMode(QLineEdit::Password);
    caixa->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
}

} // namespace

void DefinirFonteNomeComputador(std::function<std::string()> fonte) {
    std::lock_guard trava(gMutexNome);
    gFonteNome = std::move(fonte);
}

std::string NomeComputadorJanela() {
    std::function<std::string()> fonte;
    {
        std::lock_guard trava(gMutexNome);
        fonte = gFonteNome;
    }
    return fonte ? fonte() : NomeComputador();
}

int ValorCheck(const QCheckBox* caixa) {
    switch (caixa->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

Form1::Form1(QWidget* parent, qreal escala)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      escala_(escala > 0 ? escala : EscalaRestante()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kTitulo));
    ::IniciarRecursos();
    setWindowIcon(QIcon(QStringLiteral(":/kelvane/kelvane.png")));
    // The layout was drawn for a small, narrow dialog font; a wider one would not let the
    // captions fit between the controls.
    QFont fonte = font();
    QStringList familias;
    for (const auto nome : plataforma::kFontesJanela) {
        familias << QString::fromUtf8(nome.data(), static_cast<qsizetype>(nome.size()));
    }
    fonte.setFamilies(familias << fonte.family());
    // 11 pixels at 96 dpi, times the scale, in whole pixels as the system's fonts are drawn.
    const qreal pixels = 11 * escala_;
    fonte.setPixelSize(plataforma::kFonteJanelaArredondaParaBaixo ? qFloor(pixels + 0.01)
                                                                  : qRound(pixels));
    const QFont texto = fonte;
    if (plataforma::kLarguraFonteJanela != 100) {
        // Even 100 set explicitly would make the match pass over the narrow faces named above.
        fonte.setStretch(plataforma::kLarguraFonteJanela);
    }
    setFont(fonte);
    MontarControles();
    if (plataforma::kLarguraFonteJanela != 100) {
        // Narrowed for the captions alone: a squeezed face garbles what was typed or reported
        // ("[FreeTDS]" reads as "|FreeTDS|"), so the fields and the message line keep its width.
        QFont inteira = texto;
        inteira.setStretch(QFont::Unstretched);
        for (QWidget* campo : findChildren<QLineEdit*>()) {
            campo->setFont(inteira);
        }
        lblMensagem->setFont(inteira);
    }
    tarefa_ = new Tarefa(this);

    // The job logs from its own thread: hand every text over to this one, never wait for it.
    observador_.mensagem = [this](const std::string& mensagem) {
        QMetaObject::invokeMethod(
            this, [this, t = QString::fromStdString(mensagem)] { MostrarMensagem(t); },
            Qt::QueuedConnection);
    };
    observador_.caixaErro = [this](const std::string& texto) {
        if (QThread::currentThread() == thread()) {
            MostrarCaixaErroDoJob(texto);
        } else {
            // The job waits for the OK, as it would for a box of its own.
            QMetaObject::invokeMethod(
                this, [this, texto] { MostrarCaixaErroDoJob(texto); },
                Qt::BlockingQueuedConnection);
        }
    };
    // Before the job's own box, whose first line then takes its place.
    observador_.falha = [this](const std::string& texto) {
        QMetaObject::invokeMethod(
            this, [this, t = QString::fromStdString(texto)] { falhaJob_ = t; },
            QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
    };
    observador_.ncripto = [this] {
        return ncriptoSalvo_.load();
    };
    observador_.progresso = [this](int percentual) {
        QMetaObject::invokeMethod(
            this, [this, percentual] { MostrarProgresso(percentual); }, Qt::QueuedConnection);
    };

    Form_Load();
}

Form1::~Form1() {
    // Closing is refused while work runs, so the runner only waits when the window is torn down
    // some other way; it must go before the controls its work reports to.
    delete tarefa_;
}

void Form1::MontarControles() {
    setFixedSize(Twips(escala_, 0, 0, 6660, 6555).size()); // 444 x 437 at 96 dpi

    Label9 = Rotulo(escala_, this, "Label9", "Código Cliente:", 135, 180, 1065, 195);
    txtCodigoCliente = CaixaTexto(escala_, this, "txtCodigoCliente", 1290, 150, 1290, 300);
    Label10 = Rotulo(escala_, this, "Label10", "Nome Cliente:", 2715, 210, 990, 195);
    txtNomeCliente = CaixaTexto(escala_, this, "txtNomeCliente", 3765, 165, 2775, 300);
    txtNomeCliente->setMaxLength(20);
    txtNomeCliente->installEventFilter(this);

    Frame1 = Moldura(escala_, this, "Frame1", "Banco de Dados", 75, 570, 6510, 1935);
    Label1 = Rotulo(escala_, Frame1, "Label1", "Servidor:", 300, 420, 630, 195);
    txtServidorBD = CaixaTexto(escala_, Frame1, "txtServidorBD", 1155, 375, 2625, 300);
    chkLoginIntegrado =
        Marca(escala_, Frame1, "chkLoginIntegrado", "Login Integrado SSPI", 3900, 360, 2025, 345);
    Label2 = Rotulo(escala_, Frame1, "Label2", "Banco:", 300, 750, 510, 195);
    txtBanco = CaixaTexto(escala_, Frame1, "txtBanco", 1155, 705, 2625, 300);
    Label3 = Rotulo(escala_, Frame1, "Label3", "Login:", 300, 1080, 435, 195);
    txtLogin = CaixaTexto(escala_, Frame1, "txtLogin", 1155, 1035, 2625, 300);
    Label4 = Rotulo(escala_, Frame1, "Label4", "Senha:", 300, 1410, 510, 195);
    txtSenha = CaixaTexto(escala_, Frame1, "txtSenha", 1155, 1365, 2625, 300);
    MascararSenha(txtSenha);
    cmdTestarConexaoBanco = Botao(escala_, Frame1, "cmdTestarConexaoBanco", "Testar Conexão Banco",
                                  4200, 825, 1845, 345);
    chkNCripto = Marca(escala_, Frame1, "chkNCripto", "NCripto", 4245, 1440, 885, 195);

    Frame2 = Moldura(escala_, this, "Frame2", "Servidor FTP", 75, 2550, 6510, 2490);
    Label11 = Rotulo(escala_, Frame2, "Label11", "Servidor:", 330, 345, 630, 195);
    cmbServidor = Criar<QComboBox>(escala_, Frame2, "cmbServidor", 1155, 285, 2625, 315);
    cmbServidor->addItem(QStringLiteral("Servidor Morvix"));
    cmbServidor->addItem(QStringLiteral("Novo Servidor"));
    cmbServidor->setCurrentIndex(-1);
    // Choosing the preset overwrites five fields: only a deliberate choice may do it, never
    // the wheel passing over the list.
    cmbServidor->setFocusPolicy(Qt::StrongFocus);
    cmbServidor->installEventFilter(this);
    Label8 = Rotulo(escala_, Frame2, "Label8", "Endereço:", 330, 735, 735, 195);
    txtEnderecoFTP = CaixaTexto(escala_, Frame2, "txtEnderecoFTP", 1155, 690, 2625, 300);
    Label7 = Rotulo(escala_, Frame2, "Label7", "Porta:", 330, 1065, 420, 195);
    txtPorta = CaixaTexto(escala_, Frame2, "txtPorta", 1155, 1020, 2625, 300);
    Label6 = Rotulo(escala_, Frame2, "Label6", "Usuario:", 330, 1395, 585, 195);
    txtUsuario = CaixaTexto(escala_, Frame2, "txtUsuario", 1155, 1350, 2625, 300);
    Label5 = Rotulo(escala_, Frame2, "Label5", "Senha:", 330, 1725, 510, 195);
    txtPassw = CaixaTexto(escala_, Frame2, "txtPassw", 1155, 1680, 2625, 300);
    MascararSenha(txtPassw);
    Label12 = Rotulo(escala_, Frame2, "Label12", "Diretório:", 330, 2055, 630, 195);
    txtDiretorio = CaixaTexto(escala_, Frame2, "txtDiretorio", 1155, 2010, 2625, 300);
    cmdTestarFTP =
        Botao(escala_, Frame2, "cmdTestarFTP", "Testar Conexão FTP", 4230, 1155, 1845, 345);

    Frame3 = Moldura(escala_, this, "Frame3", "Somente Enviar Arquivo", 75, 5070, 6510, 660);
    txtArquivoEnviar = CaixaTexto(escala_, Frame3, "txtArquivoEnviar", 60, 240, 4470, 315);
    cmdArquivo = Botao(escala_, Frame3, "cmdArquivo", "...", 4140, 270, 360, 255);
    cmdArquivo->setToolTip(QStringLiteral("Selecionar arquivo"));
    cmdArquivo->raise(); // over the right end of txtArquivoEnviar
    chkZipar = Marca(escala_, Frame3, "chkZipar", "Zipar 7z", 4560, 285, 870, 210);
    cmdEnviarArquivo = Botao(escala_, Frame3, "cmdEnviarArquivo", "Enviar >>", 5460, 195, 990, 360);

    cmdExecutar = Botao(escala_, this, "cmdExecutar", "Executar Agora >>", 90, 5790, 1845, 375);
    cmdSalvarFechar =
        Botao(escala_, this, "cmdSalvarFechar", "Salvar e Fechar", 4710, 5790, 1845, 375);

    Picture1 = Criar<Painel>(escala_, this, "Picture1", 0, 6225, 6660, 330);
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lblMensagem = Criar<QLabel>(escala_, Picture1, "lblMensagem", 75, 30, 6480, 285);

    const QWidget* ordem[] = {
        txtCodigoCliente, txtNomeCliente,   txtServidorBD, chkLoginIntegrado,
        txtBanco,         txtLogin,         txtSenha,      cmdTestarConexaoBanco,
        cmbServidor,      txtEnderecoFTP,   txtPorta,      txtUsuario,
        txtPassw,         txtDiretorio,     cmdTestarFTP,  cmdExecutar,
        cmdSalvarFechar,  txtArquivoEnviar, chkZipar,      cmdArquivo,
        cmdEnviarArquivo, chkNCripto};
    for (std::size_t i = 0; i + 1 < std::size(ordem); ++i) {
        setTabOrder(const_cast<QWidget*>(ordem[i]), const_cast<QWidget*>(ordem[i + 1]));
    }
    txtCodigoCliente->setFocus();

    connect(cmbServidor, &QComboBox::currentIndexChanged, this, [this] { cmbServidor_Click(); });
    connect(cmdTestarConexaoBanco, &QPushButton::clicked, this,
            [this] { cmdTestarConexaoBanco_Click(); });
    connect(cmdTestarFTP, &QPushButton::clicked, this, [this] { cmdTestarFTP_Click(); });
    connect(cmdSalvarFechar, &QPushButton::clicked, this, [this] { cmdSalvarFechar_Click(); });
    connect(cmdExecutar, &QPushButton::clicked, this, [this] { cmdExecutar_Click(); });
    connect(cmdArquivo, &QPushButton::clicked, this, [this] { cmdArquivo_Click(); });
    connect(cmdEnviarArquivo, &QPushButton::clicked, this, [this] { cmdEnviarArquivo_Click(); });
}

void Form1::cmbServidor_Click() {
    if (cmbServidor->currentIndex() != 0) {
        return;
    }
    txtEnderecoFTP->setText(QString::fromUtf8(kServidorFtpFabricante));
    txtPorta->setText(QStringLiteral("21"));
    txtUsuario->setText(QStringLiteral("upload"));
    txtPassw->setText(QStringLiteral("brim4417k"));
    txtDiretorio->setText(QStringLiteral("/"));
}

void Form1::txtNomeCliente_LostFocus() {
    txtNomeCliente->setText(
        QString::fromStdString(RemoverAcentos(txtNomeCliente->text().toStdString())));
}

bool Form1::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto == cmbServidor && evento->type() == QEvent::Wheel && !cmbServidor->hasFocus()) {
        evento->ignore();
        return true;
    }
    if (objeto == txtNomeCliente && evento->type() == QEvent::FocusOut) {
        // Only a move to another control counts, not the window losing the focus.
        const auto motivo = static_cast<QFocusEvent*>(evento)->reason();
        if (motivo != Qt::ActiveWindowFocusReason && motivo != Qt::PopupFocusReason) {
            txtNomeCliente_LostFocus();
        }
    }
    return QWidget::eventFilter(objeto, evento);
}

void Form1::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    if (!centralizada_) {
        centralizada_ = true;
        if (const QScreen* tela = screen()) {
            QRect r = frameGeometry();
            r.moveCenter(tela->availableGeometry().center());
            move(r.topLeft());
        }
        txtCodigoCliente->setFocus();
        if (!avisoCarga_.isEmpty()) {
            QMetaObject::invokeMethod(
                this, [this] { MostrarCaixa(this, Icone::Critico, avisoCarga_); },
                Qt::QueuedConnection);
        }
    }
}

void Form1::closeEvent(QCloseEvent* evento) {
    if (tarefa_->emAndamento()) {
        evento->ignore();
        MostrarCaixaDeEspera(this, tarefa_->motivo());
        return;
    }
    evento->accept();
}

void Form1::MostrarMensagem(const QString& texto) {
    // A line wider than the bar ends in "…" where it was cut; the whole of it is the tooltip.
    const QString linha =
        lblMensagem->fontMetrics().elidedText(texto, Qt::ElideRight, lblMensagem->width());
    mensagem_ = texto;
    lblMensagem->setText(linha);
    lblMensagem->setToolTip(linha == texto ? QString() : texto);
    lblMensagem->repaint();
    emit mensagemMostrada(texto);
}

void Form1::MostrarProgresso(int percentual) {
    MostrarMensagem(QStringLiteral("Backup...: %1% concluído").arg(percentual));
}

void Form1::MostrarCaixaErroDoJob(const std::string& texto) {
    caixaDoJob_ = true;
    const QString caixa = QString::fromStdString(texto);
    falhaJob_ = caixa.section(QLatin1String("\r\n"), 0, 0);
    MostrarCaixa(this, Icone::Critico, caixa);
}

void Form1::Avisar(Icone icone, const QString& texto) {
    if (texto.isEmpty()) { // work that threw has no outcome of its own; the runner said why
        return;
    }
    MostrarMensagem(texto.section(QLatin1String("\r\n"), 0, 0));
    MostrarCaixa(this, icone, texto);
}

std::optional<QString> Form1::ConferirPorta(const QString& recusa) {
    const auto porta = PortaFtp(txtPorta->text(), txtEnderecoFTP->text());
    if (!porta) {
        const auto endereco = LerEnderecoFtp(txtEnderecoFTP->text().toStdString());
        Avisar(Icone::Critico,
               recusa +
                   QStringLiteral(": a Porta do FTP deve ser um número inteiro de 1 a 65535.\r\n") +
                   QString::fromStdString(DicaPorta(endereco ? endereco->portaPadrao : "21")));
    }
    return porta;
}

void Form1::IniciarTarefa(const QString& motivo, std::function<void()> trabalho,
                          std::function<void()> aoTerminar, std::function<void()> aoIniciar) {
    tarefa_->Iniciar(motivo,
                     {cmdTestarConexaoBanco, cmdTestarFTP, cmdExecutar, cmdSalvarFechar, cmdArquivo,
                      cmdEnviarArquivo},
                     std::move(trabalho),
                     [this, aoTerminar = std::move(aoTerminar)](const auto& erro) {
                         if (erro) {
                             caixaDoJob_ = true; // told here: a run now does not box it again
                             Avisar(Icone::Critico, QString::fromStdString("Erro: 0 - " + *erro));
                         }
                         aoTerminar();
                     });
    if (aoIniciar) {
        aoIniciar();
    }
}

} // namespace kelvane::janela
