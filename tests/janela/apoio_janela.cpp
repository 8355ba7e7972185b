#include "apoio_janela.h"

#include "job/log.h"
#include "job/programa.h"
#include "settings/ini.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <ctime>
#include <filesystem>

namespace kelvane::teste {

void JanelaTeste::SetUp() {
    pasta = std::make_unique<PastaPrograma>(true);
    DefinirPastaPrograma(pasta->caminho());
    std::filesystem::create_directory(pasta->caminho() / "Log");
    ArquivoLog = "Log_teste.Log";
    janela::CapturarCaixas(true);
    janela::DefinirFonteNomeComputador([] { return std::string(kMaquina); });
}

void JanelaTeste::TearDown() {
    if (form) {
        EXPECT_FALSE(form->tarefaEmAndamento());
        Esperar([this] { return !form->tarefaEmAndamento(); });
        form.reset();
    }
    janela::CapturarCaixas(false);
    janela::DefinirFonteNomeComputador({});
    pasta.reset();
}

void JanelaTeste::Ini(const std::vector<std::pair<std::string, std::string>>& chaves) {
    // Written through the program's own writer, so accents reach the file as Windows-1252.
    std::filesystem::remove(pasta->ini());
    for (const auto& [chave, valor] : chaves) {
        GravarINI(kSecaoInfos, chave, valor, pasta->ini());
    }
}

std::string JanelaTeste::TextoIni() const {
    return LerArquivo(pasta->ini());
}

janela::Form1& JanelaTeste::Abrir(bool mostrar) {
    form.reset(); // the old window lets go of the job's hooks before the new one takes them
    form = std::make_unique<janela::Form1>();
    if (mostrar) {
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    return *form;
}

void JanelaTeste::Clicar(QWidget* botao) {
    QTest::mouseClick(botao, Qt::LeftButton);
    EXPECT_TRUE(Esperar([this] { return !form->tarefaEmAndamento(); }));
}

bool JanelaTeste::Esperar(const std::function<bool()>& condicao) {
    // The limit only stops a hung test; nothing is asserted about the time taken.
    return QTest::qWaitFor(condicao, 120000);
}

std::vector<QString> JanelaTeste::TextosCaixas() const {
    std::vector<QString> textos;
    for (const auto& c : Caixas()) {
        textos.push_back(c.texto);
    }
    return textos;
}

void JanelaComServidores::Servidores(OpcoesTds opcoes) {
    opcoes.usuario = kLogin;
    opcoes.senha = kSenha;
    std::filesystem::create_directory(RaizFtp() / "backups");
    tds = std::make_unique<ServidorTds>(opcoes);
    ftp = std::make_unique<ServidorFtp>(OpcoesFtp{RaizFtp(), kUsuarioFtp, kSenhaFtp});
}

void JanelaComServidores::Preencher(janela::Form1& f) {
    f.txtCodigoCliente->setText(QStringLiteral("00 42"));
    f.txtNomeCliente->setText(QStringLiteral("Casa Azul"));
    // The job's connection string takes "host,port"; 127.0.0.1 is this computer.
    f.txtServidorBD->setText(QStringLiteral("127.0.0.1,%1").arg(tds ? tds->porta() : 1));
    f.txtBanco->setText(QStringLiteral("Vendas"));
    f.txtLogin->setText(QString::fromUtf8(kLogin));
    f.txtSenha->setText(QString::fromUtf8(kSenha));
    f.cmbServidor->setCurrentIndex(1);
    f.txtEnderecoFTP->setText(QStringLiteral("127.0.0.1"));
    f.txtPorta->setText(QString::number(ftp ? ftp->porta() : 1));
    f.txtUsuario->setText(QString::fromUtf8(kUsuarioFtp));
    f.txtPassw->setText(QString::fromUtf8(kSenhaFtp));
    f.txtDiretorio->setText(QStringLiteral("/backups"));
}

std::string JanelaComServidores::NomeBase() {
    const std::time_t agora = std::time(nullptr);
    std::tm m{};
    ::localtime_r(&agora, &m);
    char dia[16];
    std::strftime(dia, sizeof dia, "%d%m%y", &m);
    return std::string("KVLN_0042_Casa_Azul_") + dia;
}

void Digitar(QWidget* alvo, const QString& texto) {
    for (const QChar c : texto) {
        QKeyEvent pressiona(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent solta(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(alvo, &pressiona);
        QApplication::sendEvent(alvo, &solta);
    }
}

} // namespace kelvane::teste
