// Qt for Windows (scripts/qt_windows.sh) in the smallest window: a dialog with a label and a
// button, drawn to the PNG named as the argument, then the program ends without an event loop.
// Its standard button is translated only when translations/qtbase_pt_BR.qm lies beside the
// program, as a static Qt looks for it there.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QTranslator>
#include <QVBoxLayout>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication aplicacao(argc, argv);
    if (argc != 2) {
        std::fputs("uso: janela_minima <imagem.png>\n", stderr);
        return 2;
    }
    QTranslator traducao;
    const QString pasta = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const bool traduzido = traducao.load(QStringLiteral("qtbase_pt_BR"), pasta);
    if (traduzido) {
        QCoreApplication::installTranslator(&traducao);
    }
    std::printf("traduções: %s (%s)\n", qUtf8Printable(pasta), traduzido ? "pt_BR" : "nenhuma");

    QDialog dialogo;
    dialogo.setWindowTitle(QStringLiteral("Kelvane"));
    auto* layout = new QVBoxLayout(&dialogo);
    layout->addWidget(new QLabel(QStringLiteral("Configuração do Kelvane — olá do Windows"), &dialogo));
    auto* botoes = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialogo);
    botoes->addButton(new QPushButton(QStringLiteral("Salvar"), &dialogo), QDialogButtonBox::AcceptRole);
    layout->addWidget(botoes);
    dialogo.show();
    const QPixmap imagem = dialogo.grab();
    std::printf("estilo %s, %dx%d\n", qUtf8Printable(QApplication::style()->name()), imagem.width(),
                imagem.height());
    return imagem.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
