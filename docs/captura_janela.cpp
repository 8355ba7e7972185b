// Saves a picture of Form1 filled with sample settings, for the README:
//   xvfb-run -a build-janela/tests/janela/captura_janela docs/janela.png
// Not a test; it runs on whatever display it is given.
#include "job/programa.h"
#include "window/form1.h"
#include "window/janela.h"

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s <arquivo.png>\n", argv[0]);
        return 2;
    }
    kelvane::janela::PrepararEscalaDaTela();
    QApplication aplicacao(argc, argv);
    QTemporaryDir pasta;
    QFile ini(pasta.filePath(QStringLiteral("info.ini")));
    if (!pasta.isValid() || !ini.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "não foi possível preparar a pasta de exemplo\n");
        return 1;
    }
    ini.write("[infos]\n"
              "NCripto=1\n"
              "CodigoCliente=0042\n"
              "NomeCliente=Padaria Sao Joao\n"
              "ServidorDB=SRVDADOS\\SQLEXPRESS\n"
              "Banco=ERP_Padaria\n"
              "SSPI=0\n"
              "Login=backup\n"
              "Senha=exemplo\n"
              "Usuario=padaria\n"
              "Passw=exemplo\n"
              "ServidorFTP=1\n"
              "Endereco=ftp.exemplo.com.br\n"
              "Porta=21\n"
              "Diretorio=/backups/0042\n");
    ini.close();
    kelvane::DefinirPastaPrograma(pasta.path().toStdString());

    kelvane::janela::Form1 janela;
    janela.show();
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
    }
    return janela.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
