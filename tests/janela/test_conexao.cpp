// The two connection tests, with the values as typed, against servers on 127.0.0.1.
#include "apoio_janela.h"
#include "job/banco.h"
#include "job/ferramentas.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <filesystem>

using namespace kelvane;
using namespace kelvane::teste;
namespace fs = std::filesystem;

namespace {

using TestesConexao = JanelaComServidores;

TEST_F(TestesConexao, BancoSucessoEFalhas) {
    Servidores();
    const int fechada = portaLivreFechada();
    const ServidorMudo mudo;
    struct Caso {
        const char* nome;
        std::function<void(janela::Form1&)> ajustar;
        janela::Icone icone;
        QString inicio; // of the box's text
        QString contem;
    } const casos[] = {
        // ";" and "}" in the password are carried in braces, the database name plays no part.
        {"sucesso", [](janela::Form1& f) { f.txtBanco->setText(QStringLiteral("NaoExiste")); },
         janela::Icone::Informacao, QStringLiteral("Conexão efetuada com sucesso!"), QString()},
        {"senha errada", [](janela::Form1& f) { f.txtSenha->setText(QStringLiteral("errada")); },
         janela::Icone::Critico, QStringLiteral("Erro: 18456 - "),
         QStringLiteral("Login failed for user 'sa'.")},
        {"servidor fora do ar",
         [&](janela::Form1& f) {
             f.txtServidorBD->setText(QStringLiteral("127.0.0.1,%1").arg(fechada));
         },
         janela::Icone::Critico, QStringLiteral("Erro: "), QString()},
        {"servidor aceita e não responde",
         [&](janela::Form1& f) {
             f.txtServidorBD->setText(QStringLiteral("127.0.0.1,%1").arg(mudo.porta()));
         },
         janela::Icone::Critico, QStringLiteral("Erro: "), QStringLiteral("Timeout expired")},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        janela::LimparCaixas();
        auto& f = Abrir();
        Preencher(f);
        c.ajustar(f);
        const auto inicio = std::chrono::steady_clock::now();
        Clicar(f.cmdTestarConexaoBanco);
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(30));
        ASSERT_EQ(Caixas().size(), 1u);
        EXPECT_EQ(Caixas()[0].icone, c.icone);
        EXPECT_TRUE(Caixas()[0].texto.startsWith(c.inicio)) << Caixas()[0].texto.toStdString();
        EXPECT_TRUE(Caixas()[0].texto.contains(c.contem)) << Caixas()[0].texto.toStdString();
        EXPECT_TRUE(f.cmdTestarConexaoBanco->isEnabled());
        EXPECT_FALSE(fs::exists(pasta->ini()));    // nothing saved
        EXPECT_TRUE(pasta->ArquivosLog().empty()); // nothing logged
    }
}

TEST_F(TestesConexao, FtpSucessoEFalhas) {
    Servidores();
    struct Caso {
        const char* nome;
        std::function<void(janela::Form1&)> ajustar;
        janela::Icone icone;
        QString texto; // whole text, or its start for failures
    } const casos[] = {
        {"sucesso", [](janela::Form1&) {}, janela::Icone::Informacao,
         QStringLiteral("Conexão FTP efetuada com sucesso!")},
        {"senha errada", [](janela::Form1& f) { f.txtPassw->setText(QStringLiteral("errada")); },
         janela::Icone::Critico,
         QStringLiteral("Erro: 1 - Teste de conexão FTP falhou: ncftpput terminou com código 1 "
                        "(%1)")
             .arg(Q(SignificadoEnviador(1)))},
        {"diretorio inexistente",
         [](janela::Form1& f) { f.txtDiretorio->setText(QStringLiteral("/nao/existe")); },
         janela::Icone::Critico, QStringLiteral("Erro: ")},
        {"porta que recusa",
         [](janela::Form1& f) { f.txtPorta->setText(QString::number(portaLivreFechada())); },
         janela::Icone::Critico,
         QStringLiteral("Erro: 1 - Teste de conexão FTP falhou: ncftpput terminou com código 1")},
        {"ncftpput faltando", [&](janela::Form1&) { fs::remove(pasta->caminho() / "ncftpput"); },
         janela::Icone::Critico,
         QStringLiteral("Erro: 0 - Teste de conexão FTP falhou: Está faltando o arquivo: "
                        "ncftpput")},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        janela::LimparCaixas();
        fs::remove(RaizFtp() / "backups" / "7z.so");
        auto& f = Abrir();
        Preencher(f);
        c.ajustar(f);
        const auto inicio = std::chrono::steady_clock::now();
        Clicar(f.cmdTestarFTP);
        // One attempt only: the uploader's own redials took 40 s against a refusing port.
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(25));
        ASSERT_EQ(Caixas().size(), 1u);
        const auto& caixa = Caixas()[0];
        EXPECT_EQ(caixa.icone, c.icone);
        EXPECT_TRUE(caixa.texto.startsWith(c.texto)) << caixa.texto.toStdString();
        // The sent file is the archiver's library; it only arrives when the test passes.
        const auto enviado = RaizFtp() / "backups" / "7z.so";
        if (c.icone == janela::Icone::Informacao) {
            ASSERT_TRUE(fs::exists(enviado));
            EXPECT_EQ(fs::file_size(enviado), fs::file_size("/usr/lib/p7zip/7z.so"));
        } else {
            EXPECT_FALSE(fs::exists(enviado));
        }
        EXPECT_FALSE(caixa.texto.contains(QStringLiteral("errada")));
        EXPECT_TRUE(f.cmdTestarFTP->isEnabled());
        EXPECT_FALSE(fs::exists(pasta->ini()));
    }
}

} // namespace
