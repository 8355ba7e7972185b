// "Salvar e Fechar": tool warnings, the server-name check and the save sequence.
#include "apoio_janela.h"
#include "job/programa.h"
#include "settings/cripto.h"
#include "settings/ini.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <sys/fsuid.h>
#include <unistd.h>

using namespace kelvane;
using namespace kelvane::teste;

namespace {

using SalvarJanela = JanelaTeste;

std::vector<std::string> Linhas(const std::string& texto) {
    std::vector<std::string> linhas;
    std::istringstream entrada(texto);
    for (std::string l; std::getline(entrada, l);) {
        linhas.push_back(l);
    }
    return linhas;
}

std::string Ler(const char* chave) {
    return LerINI(kSecaoInfos, chave, ArquivoIni());
}

void Preencher(janela::Form1& f) {
    f.txtCodigoCliente->setText(QStringLiteral("00 42"));
    f.txtNomeCliente->setText(QStringLiteral("Casa Azul"));
    f.txtServidorBD->setText(QStringLiteral("servidor01\\SQLEXPRESS"));
    f.txtBanco->setText(QStringLiteral("Vendas"));
    f.chkLoginIntegrado->setChecked(true);
    f.txtLogin->setText(QStringLiteral("sa"));
    f.txtSenha->setText(QStringLiteral("Senha Forte"));
    f.cmbServidor->setCurrentIndex(1);
    f.txtEnderecoFTP->setText(QStringLiteral("ftp.cliente.example"));
    f.txtPorta->setText(QStringLiteral("2121"));
    f.txtUsuario->setText(QStringLiteral("kelvane"));
    f.txtPassw->setText(QStringLiteral("segredo"));
    f.txtDiretorio->setText(QStringLiteral("/backups"));
}

TEST_F(SalvarJanela, GravaCadaChaveEmOrdemEFecha) {
    // The box as saved decides how credentials are stored, and NCripto is rewritten in place
    // whenever the file said otherwise.
    struct Caso {
        const char* ncriptoNoArquivo;
        bool marcada;
        const char* ncriptoDepois;
    } const casos[] = {{"1", true, "1"}, {"0", false, "0"}, {"0", true, "1"}, {"1", false, "0"}};
    for (const auto& c : casos) {
        SCOPED_TRACE(std::string(c.ncriptoNoArquivo) + (c.marcada ? " marcada" : ""));
        const std::string antes = std::string("[infos]\nNCripto=") + c.ncriptoNoArquivo +
                                  "\nExecutado=01/02/2026 03:04:05\n; feito a mao\n"
                                  "Extra=manual\n\n[outra]\nx=1\n";
        GravarArquivo(pasta->ini(), antes);
        auto& f = Abrir();
        Preencher(f);
        f.chkNCripto->setChecked(c.marcada);
        Clicar(f.cmdSalvarFechar);

        EXPECT_TRUE(Caixas().empty());
        EXPECT_FALSE(f.isVisible());
        const auto linhas = Linhas(TextoIni());
        ASSERT_EQ(linhas.size(), 21u) << TextoIni();
        // What was there stays, line for line; the keys follow at the end of the section.
        const std::vector<std::string> inicio(linhas.begin(), linhas.begin() + 5);
        EXPECT_EQ(inicio, (std::vector<std::string>{
                              "[infos]", std::string("NCripto=") + c.ncriptoDepois,
                              "Executado=01/02/2026 03:04:05", "; feito a mao", "Extra=manual"}));
        std::vector<std::string> chaves;
        for (std::size_t i = 5; i < 18; ++i) {
            chaves.push_back(linhas[i].substr(0, linhas[i].find('=')));
        }
        EXPECT_EQ(chaves,
                  (std::vector<std::string>{"CodigoCliente", "NomeCliente", "ServidorDB", "Banco",
                                            "SSPI", "Login", "Senha", "Usuario", "Passw",
                                            "ServidorFTP", "Endereco", "Porta", "Diretorio"}));
        EXPECT_EQ(std::vector<std::string>(linhas.begin() + 18, linhas.end()),
                  (std::vector<std::string>{"", "[outra]", "x=1"}));

        EXPECT_EQ(Ler("CodigoCliente"), "00 42");
        EXPECT_EQ(Ler("NomeCliente"), "Casa Azul");
        EXPECT_EQ(Ler("ServidorDB"), "servidor01\\SQLEXPRESS");
        EXPECT_EQ(Ler("Banco"), "Vendas");
        EXPECT_EQ(Ler("SSPI"), "1");
        const auto guardada = [&](const std::string& v) {
            return c.marcada ? v : Cripto(v);
        };
        EXPECT_EQ(Ler("Login"), guardada("sa"));
        EXPECT_EQ(Ler("Senha"), guardada("Senha Forte"));
        EXPECT_EQ(Ler("Usuario"), guardada("kelvane"));
        EXPECT_EQ(Ler("Passw"), guardada("segredo"));
        EXPECT_EQ(Ler("ServidorFTP"), "1");
        EXPECT_EQ(Ler("Endereco"), "ftp.cliente.example");
        EXPECT_EQ(Ler("Porta"), "2121");
        EXPECT_EQ(Ler("Diretorio"), "/backups");
    }
}

TEST_F(SalvarJanela, JanelaVaziaSoComServidorGravaValoresVazios) {
    auto& f = Abrir();
    f.txtServidorBD->setText(QStringLiteral("localhost"));
    Clicar(f.cmdSalvarFechar);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(Ler("ServidorFTP"), "-1");
    EXPECT_EQ(Ler("SSPI"), "0");
    EXPECT_EQ(Ler("CodigoCliente"), "");
    EXPECT_EQ(Linhas(TextoIni()).size(), 14u);
    EXPECT_EQ(TextoIni().find("NCripto"), std::string::npos);
}

TEST_F(SalvarJanela, ValoresQueNaoFuncionamRecusados) {
    // "KVLN_1_<name>_DDMMYY.BAK" has 18 bytes besides the name; file names hold 255.
    struct Caso {
        const char* nome;
        QString servidor, nomeCliente, caixa; // empty box: saved
    } const casos[] = {
        {"servidor vazio", "", "Casa",
         "As configurações não foram gravadas: informe o Servidor de Banco de Dados (este "
         "computador: SERVIDOR01, localhost ou 127.0.0.1)."},
        {"nome de arquivo longo demais", "localhost", QString(238, QLatin1Char('n')),
         "As configurações não foram gravadas: com este código e este nome de cliente o arquivo "
         "do backup teria um nome de 256 bytes, e o sistema de arquivos aceita até 255.\r\n"
         "Encurte o código ou o nome do cliente."},
        {"nome de arquivo no limite", "localhost", QString(237, QLatin1Char('n')), ""},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        janela::LimparCaixas();
        auto& f = Abrir();
        f.txtServidorBD->setText(c.servidor);
        f.txtCodigoCliente->setText(QStringLiteral("1"));
        f.txtNomeCliente->setMaxLength(300);
        f.txtNomeCliente->setText(c.nomeCliente);
        Clicar(f.cmdSalvarFechar);
        EXPECT_EQ(TextosCaixas(),
                  c.caixa.isEmpty() ? std::vector<QString>{} : std::vector<QString>{c.caixa});
        EXPECT_EQ(f.isVisible(), !c.caixa.isEmpty());
        EXPECT_EQ(std::filesystem::exists(pasta->ini()), c.caixa.isEmpty());
    }
}

TEST_F(SalvarJanela, NomeDoServidorConferido) {
    // This computer is SERVIDOR01.
    const char* aceitos[] = {
        "SERVIDOR01",
        "servidor01",
        "Servidor01\\SQLEXPRESS",
        "SERVIDOR01\\A\\B",
        "servidor01,1433",
        "SERVIDOR01,1433\\X",
        "localhost",
        "LocalHost\\SQLEXPRESS",
        "127.0.0.1,1433",
        ".",
        ".\\SQLEXPRESS",
        "(local)",
        "(LOCAL),1433",
    };
    const char* recusados[] = {
        "SERVIDOR01 ",
        " SERVIDOR01",
        "SRV02",
        "\\SQLEXPRESS",
        ",1433",
        "SERVIDOR01X",
        "servidor01.empresa.local",
        "127.0.0.2",
        "SRV02\\SERVIDOR01",
    };
    for (const char* nome : aceitos) {
        SCOPED_TRACE(nome);
        auto& f = Abrir();
        f.txtServidorBD->setText(QString::fromUtf8(nome));
        Clicar(f.cmdSalvarFechar);
        EXPECT_TRUE(Caixas().empty());
        EXPECT_FALSE(f.isVisible());
        EXPECT_EQ(Ler("ServidorDB"), nome); // saved whole, instance and port included
        std::filesystem::remove(pasta->ini());
    }
    for (const char* nome : recusados) {
        SCOPED_TRACE(nome);
        janela::LimparCaixas();
        auto& f = Abrir();
        f.txtServidorBD->setText(QString::fromUtf8(nome));
        f.txtBanco->setText(QStringLiteral("Vendas"));
        Clicar(f.cmdSalvarFechar);
        ASSERT_EQ(Caixas().size(), 1u);
        EXPECT_EQ(Caixas()[0].icone, janela::Icone::Critico);
        EXPECT_EQ(Caixas()[0].texto,
                  QStringLiteral("Este progama deve executado somente no Servidor de Banco de "
                                 "Dados!\r\nInforme o nome do Servidor de Banco corretamente!\r\n"
                                 "Nome deste Servidor: SERVIDOR01"));
        EXPECT_TRUE(f.isVisible());
        EXPECT_FALSE(std::filesystem::exists(pasta->ini()));
        EXPECT_EQ(f.txtServidorBD->text(), QString::fromUtf8(nome));
    }
}

TEST_F(SalvarJanela, NomeComparadoSemDiferencaDeCaixaComAcentos) {
    janela::DefinirFonteNomeComputador([] { return std::string("Estação"); });
    auto& f = Abrir();
    f.txtServidorBD->setText(QStringLiteral("ESTAÇÃO\\SQL"));
    Clicar(f.cmdSalvarFechar);
    EXPECT_TRUE(Caixas().empty());
    EXPECT_FALSE(f.isVisible());

    janela::DefinirFonteNomeComputador([] { return std::string("srv-01"); });
    auto& g = Abrir();
    g.txtServidorBD->setText(QStringLiteral("SRV02"));
    Clicar(g.cmdSalvarFechar);
    ASSERT_EQ(Caixas().size(), 1u);
    // The name as the system gives it, not upper-cased.
    EXPECT_TRUE(Caixas()[0].texto.endsWith(QStringLiteral("\r\nNome deste Servidor: srv-01")));
}

TEST_F(SalvarJanela, FerramentasFaltandoAvisamEDepoisSalva) {
    std::filesystem::remove(pasta->caminho() / "7z.so");
    auto& f = Abrir();
    f.txtServidorBD->setText(QStringLiteral("localhost"));
    f.txtBanco->setText(QStringLiteral("Vendas"));
    Clicar(f.cmdSalvarFechar);
    ASSERT_EQ(Caixas().size(), 1u);
    EXPECT_EQ(Caixas()[0].icone, janela::Icone::Critico);
    EXPECT_EQ(Caixas()[0].texto,
              QStringLiteral("Está faltando o arquivo: 7z.so\r\nO backup não será efetuado!"));
    EXPECT_EQ(Ler("Banco"), "Vendas");
    EXPECT_FALSE(f.isVisible());
}

TEST_F(SalvarJanela, TodasFaltandoENomeErradoNadaSalva) {
    for (const char* t : {"7z", "7z.so", "ncftpput"}) {
        std::filesystem::remove(pasta->caminho() / t);
    }
    auto& f = Abrir();
    f.txtServidorBD->setText(QStringLiteral("SRV02"));
    Clicar(f.cmdSalvarFechar);
    const auto textos = TextosCaixas();
    ASSERT_EQ(textos.size(), 4u);
    EXPECT_EQ(textos[0],
              QStringLiteral("Está faltando o arquivo: 7z\r\nO backup não será efetuado!"));
    EXPECT_EQ(textos[1],
              QStringLiteral("Está faltando o arquivo: 7z.so\r\nO backup não será efetuado!"));
    EXPECT_EQ(textos[2],
              QStringLiteral("Está faltando o arquivo: ncftpput\r\nO backup não será efetuado!"));
    EXPECT_TRUE(textos[3].startsWith(QStringLiteral("Este progama deve executado")));
    EXPECT_FALSE(std::filesystem::exists(pasta->ini()));
    EXPECT_TRUE(f.isVisible());
}

TEST_F(SalvarJanela, CredencialLongaDemaisRecusadaAntesDeGravar) {
    const std::string antes = "[infos]\nCodigoCliente=antigo\nLogin=" + Cripto("sa") + "\n";
    GravarArquivo(pasta->ini(), antes);
    auto& f = Abrir();
    f.txtServidorBD->setText(QStringLiteral("localhost"));
    f.txtCodigoCliente->setText(QStringLiteral("novo"));
    f.txtUsuario->setText(QString(507, QLatin1Char('u')));
    Clicar(f.cmdSalvarFechar);
    ASSERT_EQ(Caixas().size(), 1u);
    EXPECT_EQ(Caixas()[0].icone, janela::Icone::Critico);
    EXPECT_TRUE(Caixas()[0].texto.contains(QStringLiteral("usuário do FTP tem 507 caracteres")))
        << Caixas()[0].texto.toStdString();
    EXPECT_EQ(TextoIni(), antes); // not even the keys before it
    EXPECT_TRUE(f.isVisible());

    // Kept in clear, any length can be saved.
    janela::LimparCaixas();
    f.chkNCripto->setChecked(true);
    Clicar(f.cmdSalvarFechar);
    EXPECT_TRUE(Caixas().empty());
    EXPECT_EQ(Ler("Usuario"), std::string(507, 'u'));
    EXPECT_EQ(Ler("CodigoCliente"), "novo");
}

TEST_F(SalvarJanela, CredencialQueViraQuebraDeLinhaRecusada) {
    // A tab where the key's mask is 3 scrambles into a line feed.
    const std::string senha = std::string("ab") + "\t" + "cd";
    ASSERT_NE(Cripto(senha).find('\n'), std::string::npos);
    auto& f = Abrir();
    f.txtServidorBD->setText(QStringLiteral("localhost"));
    f.txtPassw->setText(QString::fromStdString(senha));
    Clicar(f.cmdSalvarFechar);
    ASSERT_EQ(Caixas().size(), 1u);
    EXPECT_TRUE(Caixas()[0].texto.contains(QStringLiteral("a senha do FTP contém um caractere")))
        << Caixas()[0].texto.toStdString();
    EXPECT_FALSE(std::filesystem::exists(pasta->ini()));
    EXPECT_TRUE(f.isVisible());
}

// While it lives, this thread's file access is checked as the user "nobody" when the tests
// run as root, so that modes bind as they do for an ordinary user.
class ComoUsuarioComum {
public:
    ComoUsuarioComum() {
        if (::geteuid() == 0) {
            ::setfsuid(65534);
        }
    }
    ~ComoUsuarioComum() {
        if (::geteuid() == 0) {
            ::setfsuid(0);
        }
    }
};

TEST_F(SalvarJanela, ArquivoQueNaoSeLeOuNaoSeGravaAvisa) {
    namespace fs = std::filesystem;
    struct Caso {
        const char* nome;
        fs::perms arquivo, pasta;
        bool avisaAoAbrir;
    } const casos[] = {
        {"arquivo ilegível", fs::perms::none, fs::perms::owner_all, true},
        {"pasta sem escrita", fs::perms(0644), fs::perms(0555), false},
    };
    const std::string antes = "[infos]\nBanco=Antigo\n";
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        janela::LimparCaixas();
        GravarArquivo(pasta->ini(), antes);
        fs::permissions(pasta->ini(), c.arquivo);
        fs::permissions(pasta->caminho(), c.pasta);
        {
            const ComoUsuarioComum comum;
            auto& f = Abrir();
            ASSERT_TRUE(Esperar([&] { return Caixas().size() == (c.avisaAoAbrir ? 1u : 0u); }));
            if (c.avisaAoAbrir) {
                EXPECT_TRUE(Caixas()[0].texto.startsWith(
                    QStringLiteral("As configurações não puderam ser lidas de ") +
                    Q(pasta->ini().string())))
                    << Caixas()[0].texto.toStdString();
            }
            EXPECT_EQ(f.txtBanco->text(), c.avisaAoAbrir ? QString() : QStringLiteral("Antigo"));
            f.txtServidorBD->setText(QStringLiteral("localhost"));
            f.txtBanco->setText(QStringLiteral("Novo"));
            Clicar(f.cmdSalvarFechar);
            ASSERT_FALSE(Caixas().empty());
            EXPECT_EQ(Caixas().back().icone, janela::Icone::Critico);
            EXPECT_EQ(Caixas().back().texto,
                      QStringLiteral("As configurações não foram gravadas em %1: %2.\r\nO que foi "
                                     "digitado continua na janela.")
                          .arg(Q(pasta->ini().string()), Q(std::strerror(EACCES))));
            EXPECT_TRUE(f.isVisible());
            EXPECT_EQ(f.txtBanco->text(), QStringLiteral("Novo"));
        }
        fs::permissions(pasta->caminho(), fs::perms::owner_all);
        fs::permissions(pasta->ini(), fs::perms(0600));
        EXPECT_EQ(TextoIni(), antes);
    }
}

} // namespace
