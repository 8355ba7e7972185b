// Form_Load: what each stored value puts into its control.
#include "apoio_janela.h"
#include "settings/cripto.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <optional>

using namespace kelvane;
using namespace kelvane::teste;

namespace {

using CarregarJanela = JanelaTeste;
using Chaves = std::vector<std::pair<std::string, std::string>>;

TEST_F(CarregarJanela, SemArquivoTudoVazio) {
    auto& f = Abrir(false);
    for (auto* caixa : f.findChildren<QLineEdit*>()) {
        EXPECT_TRUE(caixa->text().isEmpty()) << caixa->objectName().toStdString();
    }
    for (auto* marca : f.findChildren<QCheckBox*>()) {
        EXPECT_EQ(marca->checkState(), Qt::Unchecked) << marca->objectName().toStdString();
    }
    EXPECT_EQ(f.cmbServidor->currentIndex(), -1);
    EXPECT_TRUE(Caixas().empty());
}

TEST_F(CarregarJanela, CredenciaisConformeNCripto) {
    struct Caso {
        std::optional<std::string> ncripto;
        bool embaralhadas; // how the test stores them
        Qt::CheckState marca;
    } const casos[] = {
        {"1", false, Qt::Checked},
        {" 1 ", false, Qt::Checked},
        {"1.0", false, Qt::Checked},
        {std::nullopt, true, Qt::Unchecked},
        {"0", true, Qt::Unchecked},
        {"", true, Qt::Unchecked},
        {"abc", true, Qt::Unchecked},
        {"2", true, Qt::PartiallyChecked}, // greyed is not ticked: still scrambled
        {"3", true, Qt::Unchecked},
    };
    const std::string credenciais[] = {"sa", "Senha Forte;1", "usuário ftp", ""};
    for (const auto& c : casos) {
        SCOPED_TRACE(c.ncripto.value_or("(ausente)"));
        auto guardado = [&](const std::string& v) {
            return c.embaralhadas ? Cripto(v) : v;
        };
        Chaves chaves;
        if (c.ncripto) {
            chaves.emplace_back("NCripto", *c.ncripto);
        }
        chaves.insert(chaves.end(), {{"Login", guardado(credenciais[0])},
                                     {"Senha", guardado(credenciais[1])},
                                     {"Usuario", guardado(credenciais[2])},
                                     {"Passw", guardado(credenciais[3])}});
        Ini(chaves);
        auto& f = Abrir(false);
        EXPECT_EQ(f.chkNCripto->checkState(), c.marca);
        EXPECT_EQ(f.txtLogin->text(), Q(credenciais[0]));
        EXPECT_EQ(f.txtSenha->text(), Q(credenciais[1]));
        EXPECT_EQ(f.txtUsuario->text(), Q(credenciais[2]));
        EXPECT_EQ(f.txtPassw->text(), Q(credenciais[3]));
    }
    // In force, NCripto means the stored text is shown as it is, scrambled or not.
    Ini({{"NCripto", "1"}, {"Senha", Cripto("abc")}});
    EXPECT_EQ(Abrir(false).txtSenha->text(), Q(Cripto("abc")));
}

TEST_F(CarregarJanela, MarcaCinzaSoVemDoArquivo) {
    Ini({{"NCripto", "2"}});
    auto& f = Abrir();
    ASSERT_EQ(f.chkNCripto->checkState(), Qt::PartiallyChecked);
    // The user's clicks only tick and untick.
    std::vector<Qt::CheckState> estados;
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(f.chkNCripto, Qt::LeftButton);
        estados.push_back(f.chkNCripto->checkState());
    }
    EXPECT_EQ(estados, (std::vector<Qt::CheckState>{Qt::Checked, Qt::Unchecked, Qt::Checked}));
}

TEST_F(CarregarJanela, LoginIntegradoPeloValorNumerico) {
    const std::pair<std::optional<std::string>, Qt::CheckState> casos[] = {
        {"1", Qt::Checked},
        {"1.0", Qt::Checked},
        {"1abc", Qt::Checked},
        {std::nullopt, Qt::Unchecked},
        {"0", Qt::Unchecked},
        {"abc", Qt::Unchecked},
        {"0.5", Qt::Unchecked},        // rounds half to even: 0
        {"1.5", Qt::PartiallyChecked}, // 2, the greyed state
        {"2", Qt::PartiallyChecked},
        {"3", Qt::Unchecked},
        {"-1", Qt::Unchecked},
    };
    for (const auto& [valor, marca] : casos) {
        SCOPED_TRACE(valor.value_or("(ausente)"));
        Ini(valor ? Chaves{{"SSPI", *valor}} : Chaves{});
        EXPECT_EQ(Abrir(false).chkLoginIntegrado->checkState(), marca);
    }
}

TEST_F(CarregarJanela, ServidorFtpEPreset) {
    struct Caso {
        std::string valor;
        int indice;
        bool preset; // the preset's user and password replace the stored ones
    } const casos[] = {
        {"0", 0, true},   {"0.5", 0, true},   {"1", 1, false},   {" 1 ", 1, false},
        {"7", -1, false}, {"abc", -1, false}, {"-1", -1, false}, {"1.5", -1, false},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.valor);
        Ini({{"NCripto", "1"},
             {"Usuario", "guardado"},
             {"Passw", "senhaguardada"},
             {"ServidorFTP", c.valor},
             {"Endereco", "ftp.cliente.example"},
             {"Porta", "2121"},
             {"Diretorio", "/backups"}});
        auto& f = Abrir(false);
        EXPECT_EQ(f.cmbServidor->currentIndex(), c.indice);
        EXPECT_EQ(f.txtUsuario->text(), c.preset ? "upload" : "guardado");
        EXPECT_EQ(f.txtPassw->text(), c.preset ? "brim4417k" : "senhaguardada");
        // Host, port and folder come after the preset, so the stored ones always show.
        EXPECT_EQ(f.txtEnderecoFTP->text(), QStringLiteral("ftp.cliente.example"));
        EXPECT_EQ(f.txtPorta->text(), QStringLiteral("2121"));
        EXPECT_EQ(f.txtDiretorio->text(), QStringLiteral("/backups"));
    }
}

TEST_F(CarregarJanela, TextosComoGuardados) {
    Ini({{"CodigoCliente", "00 42"},
         {"NomeCliente", "Padaria e Confeitaria São João"}, // longer than typing allows
         {"ServidorDB", "SERVIDOR01\\SQLEXPRESS"},
         {"Banco", "Vendas"},
         {"Executado", "01/02/2026 03:04:05"}});
    auto& f = Abrir(false);
    EXPECT_EQ(f.txtCodigoCliente->text(), QStringLiteral("00 42"));
    // Cleaned only once the focus leaves the field, not when loaded.
    EXPECT_EQ(f.txtNomeCliente->text(), QStringLiteral("Padaria e Confeitaria São João"));
    EXPECT_EQ(f.txtServidorBD->text(), QStringLiteral("SERVIDOR01\\SQLEXPRESS"));
    EXPECT_EQ(f.txtBanco->text(), QStringLiteral("Vendas"));
}

TEST_F(CarregarJanela, CredencialLongaDemaisFicaComoEstava) {
    const std::string longa(kTamanhoMaximoCripto + 1, 'x');
    Ini({{"Login", Cripto("sa")}, {"Senha", longa}, {"Usuario", Cripto("ftp")}});
    auto& f = Abrir(false);
    EXPECT_EQ(f.txtLogin->text(), QStringLiteral("sa"));
    EXPECT_TRUE(f.txtSenha->text().isEmpty());
    EXPECT_EQ(f.txtUsuario->text(), QStringLiteral("ftp")); // the load went on
    // Stored in clear it is simply shown.
    Ini({{"NCripto", "1"}, {"Senha", longa}});
    EXPECT_EQ(Abrir(false).txtSenha->text(), Q(longa));
}

} // namespace
