#include "janela.h"

#include "caixas.h"
#include "form1.h"
#include "job/codigos.h"
#include "plataforma/sistema.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

namespace kelvane::janela {

namespace {

constexpr char kSemTela[] = "Kelvane: não há tela disponível para abrir a janela de "
                            "configuração; use o argumento EXEC para executar o backup.\n";

// While the toolkit connects to the display, stderr points at a scratch file: libraries
// print their own complaints (an X server refusing authorisation, a platform plugin that
// cannot start) before the toolkit gives up with a fatal message. gStderr is the real one.
int gStderr = -1;
QtMessageHandler gAnterior = nullptr;

void AoConectar(QtMsgType tipo, const QMessageLogContext& contexto, const QString& texto) {
    if (tipo == QtFatalMsg) {
        // Any fatal message before the application exists means no display: one line, code 8,
        // never the toolkit's abort.
        plataforma::EscreverDescritor(gStderr, kSemTela);
        plataforma::EncerrarProcesso(ComoInteiro(CodigoSaida::JanelaIndisponivel));
    }
    if (gAnterior) {
        gAnterior(tipo, contexto, texto);
    }
}

// The scratch file's text goes to the real stderr: the connection worked, so its warnings
// are ordinary ones.
void DevolverStderr(std::FILE* rascunho) {
    plataforma::DevolverErroPadrao(gStderr);
    gStderr = -1;
    char bloco[4096];
    std::rewind(rascunho);
    for (std::size_t n; (n = std::fread(bloco, 1, sizeof bloco, rascunho)) > 0;) {
        plataforma::EscreverDescritor(plataforma::kErroPadrao, std::string_view(bloco, n));
    }
    std::fclose(rascunho);
}

} // namespace

QTranslator* CarregarTraducoesQt(QCoreApplication& aplicacao) {
    auto* traducao = new QTranslator(&aplicacao);
    if (!traducao->load(QStringLiteral("qtbase_pt_BR"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete traducao;
        return nullptr; // the package is missing: the standard texts stay in English
    }
    QCoreApplication::installTranslator(traducao);
    return traducao;
}

void PrepararEscalaDaTela() {
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::Floor);
}

int AbrirJanela(int argc, char** argv) {
    // "AVISO <text>": the menu's launcher refused to open the window, and says why in a box.
    const QString aviso = argc == 3 && QString::fromLocal8Bit(argv[1]).toUpper() == "AVISO"
                              ? QString::fromLocal8Bit(argv[2])
                              : QString();
    std::FILE* rascunho = std::tmpfile();
    gStderr = rascunho ? plataforma::DesviarErroPadrao(rascunho) : -1;
    if (gStderr < 0) {
        gStderr =
            plataforma::kErroPadrao; // nowhere to set the complaints aside; the line still goes out
    }
    gAnterior = qInstallMessageHandler(AoConectar);
    PrepararEscalaDaTela();
    QApplication aplicacao(argc, argv);
    qInstallMessageHandler(gAnterior);
    if (gStderr != plataforma::kErroPadrao) {
        DevolverStderr(rascunho);
    } else if (rascunho) {
        std::fclose(rascunho);
    }

    CarregarTraducoesQt(aplicacao);
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kelvane/kelvane.png")));
    if (!aviso.isEmpty()) {
        MostrarCaixa(nullptr, Icone::Critico, aviso);
        return 0;
    }
    Form1 janela;
    janela.show();
    return aplicacao.exec();
}

} // namespace kelvane::janela
