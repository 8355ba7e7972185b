// How long the window's event loop goes without running while "Executar Agora >>" runs a job:
// a 10 ms timer ticks on the window's thread and the longest gap between two ticks is the
// figure. Runs on Qt's offscreen platform, so no display is needed.
//
//   janela_bench <program folder> <database port> <database password> <ftp port> <ftp password>
// The program folder holds the tools; the servers run on 127.0.0.1. Prints
// "maior_intervalo_ms=... ticks=... segundos=... ultima_mensagem=..." on stdout.
#include "job/log.h"
#include "job/programa.h"
#include "plataforma/arquivos.h"
#include "plataforma/sistema.h"
#include "window/caixas.h"
#include "window/form1.h"
#include "window/janela.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace kelvane;

namespace {

// A control of the window by its object name.
template <typename W> W* Controle(const QWidget& janela, const char* nome) {
    auto* w = janela.findChild<W*>(QLatin1String(nome));
    if (!w) {
        std::fprintf(stderr, "a janela não tem %s\n", nome);
        std::exit(70);
    }
    return w;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr,
                     "uso: %s <pasta do programa> <porta do banco> <senha do banco> <porta FTP> "
                     "<senha FTP>\n",
                     argv[0]);
        return 64;
    }
    plataforma::PrepararProcesso(); // as the program starts: its mask makes what it creates ours
    qputenv("QT_QPA_PLATFORM", "offscreen");
    janela::PrepararEscalaDaTela();
    QApplication aplicacao(argc, argv);

    const std::filesystem::path pasta = argv[1];
    DefinirPastaPrograma(pasta);
    // As the program makes it: one others can read fails the window's permission check.
    if (const auto erro = plataforma::CriarPastaSeFaltar(pasta / "Log")) {
        std::fprintf(stderr, "não foi possível criar %s/Log: %s\n", argv[1],
                     erro.message().c_str());
        return 1;
    }
    ArquivoLog = NomeArquivoLog(AgoraLocal());
    janela::CapturarCaixas(true); // the closing "Processo Finalizado!" box must not wait
    janela::DefinirFonteNomeComputador([] { return std::string("BANCADA"); });

    janela::Form1 form;
    Controle<QComboBox>(form, "cmbServidor")->setCurrentIndex(1);
    const std::pair<const char*, QString> campos[] = {
        {"txtCodigoCliente", QStringLiteral("00 42")},
        {"txtNomeCliente", QStringLiteral("Casa Azul")},
        {"txtServidorBD", QStringLiteral("127.0.0.1,%1").arg(QString::fromUtf8(argv[2]))},
        {"txtBanco", QStringLiteral("Vendas")},
        {"txtLogin", QStringLiteral("sa")},
        {"txtSenha", QString::fromUtf8(argv[3])},
        {"txtEnderecoFTP", QStringLiteral("127.0.0.1")},
        {"txtPorta", QString::fromUtf8(argv[4])},
        {"txtUsuario", QStringLiteral("kelvane")},
        {"txtPassw", QString::fromUtf8(argv[5])},
        {"txtDiretorio", QStringLiteral("/backups")},
    };
    for (const auto& [nome, texto] : campos) {
        Controle<QLineEdit>(form, nome)->setText(texto);
    }
    auto* executar = Controle<QPushButton>(form, "cmdExecutar");
    auto* mensagem = Controle<QLabel>(form, "lblMensagem");
    form.show();

    QElapsedTimer relogio;
    qint64 anterior = -1;
    qint64 maior = 0;
    long ticks = 0;
    std::vector<qint64> intervalos;
    bool comecou = false;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 agora = relogio.nsecsElapsed();
        if (comecou && anterior >= 0) {
            intervalos.push_back(agora - anterior);
            maior = std::max(maior, agora - anterior);
        }
        anterior = agora;
        ++ticks;
        if (comecou && !form.tarefaEmAndamento()) {
            timer.stop(); // the job has ended and the window has its buttons back
            aplicacao.quit();
        }
    });
    QTimer::singleShot(200, &form, [&] {
        relogio.start();
        executar->click();
        if (!form.tarefaEmAndamento()) {
            std::fprintf(stderr, "o job não começou (configuração recusada?)\n");
            aplicacao.exit(1);
            return;
        }
        comecou = true;
        timer.start();
    });
    const int codigo = QApplication::exec();
    std::sort(intervalos.begin(), intervalos.end());
    const auto p99 = intervalos.empty() ? 0 : intervalos[intervalos.size() * 99 / 100];
    std::printf("maior_intervalo_ms=%.1f p99_ms=%.1f ticks=%ld segundos=%.1f ultima_mensagem=%s\n",
                static_cast<double>(maior) / 1e6, static_cast<double>(p99) / 1e6, ticks,
                static_cast<double>(relogio.nsecsElapsed()) / 1e9,
                mensagem->text().toStdString().c_str());
    return codigo;
}
