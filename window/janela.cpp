#include "janela.h"

#include "form1.h"
#include "job/codigos.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

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
        const auto escrito = ::write(gStderr, kSemTela, sizeof kSemTela - 1);
        (void)escrito;
        ::_exit(ComoInteiro(CodigoSaida::JanelaIndisponivel));
    }
    if (gAnterior) {
        gAnterior(tipo, contexto, texto);
    }
}

// The scratch file's text goes to the real stderr: the connection worked, so its warnings
// are ordinary ones.
void DevolverStderr(std::FILE* rascunho) {
    ::dup2(gStderr, STDERR_FILENO);
    ::close(gStderr);
    gStderr = -1;
    char bloco[4096];
    std::rewind(rascunho);
    for (std::size_t n; (n = std::fread(bloco, 1, sizeof bloco, rascunho)) > 0;) {
        const auto escrito = ::write(STDERR_FILENO, bloco, n);
        (void)escrito;
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

int AbrirJanela(int argc, char** argv) {
    std::fflush(stderr);
    std::FILE* rascunho = std::tmpfile();
    gStderr = rascunho ? ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3) : -1;
    if (gStderr >= 0) {
        ::dup2(::fileno(rascunho), STDERR_FILENO);
    } else {
        gStderr = STDERR_FILENO; // nowhere to set the complaints aside; the line still goes out
    }
    gAnterior = qInstallMessageHandler(AoConectar);
    QApplication aplicacao(argc, argv);
    qInstallMessageHandler(gAnterior);
    if (gStderr != STDERR_FILENO) {
        DevolverStderr(rascunho);
    } else if (rascunho) {
        std::fclose(rascunho);
    }

    CarregarTraducoesQt(aplicacao);
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kelvane/kelvane.png")));
    Form1 janela;
    janela.show();
    return aplicacao.exec();
}

} // namespace kelvane::janela
