#include "settings/codificacao.h"
#include "settings/ini.h"
#include "support/pasta_programa.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kelvane;
using kelvane::teste::GravarArquivo;
using kelvane::teste::LerArquivo;

namespace {

class Ini : public ::testing::Test {
protected:
    teste::PastaTemporaria pasta;
    std::filesystem::path arquivo = pasta.caminho() / "info.ini";
};

TEST_F(Ini, LeArquivoComoOWindowsEscreve) {
    GravarArquivo(arquivo, "; configuração\r\n"
                           "[Outra]\r\n"
                           "Banco=errado\r\n"
                           "\r\n"
                           "[INFOS]\r\n"
                           "; Banco=comentado\r\n"
                           "  codigoCLIENTE  =   0042  \r\n"
                           "NomeCliente=\"  Casa Azul \"\r\n"
                           "Banco = 'Vendas'\r\n"
                           "Diretorio=/a=b\r\n"
                           "Executado=05/12/2026 02:00:13\r\n"
                           "Banco=segunda\r\n"
                           "[infos]\r\n"
                           "Porta=99\r\n");
    EXPECT_EQ(LerINI("infos", "CodigoCliente", arquivo), "0042");
    EXPECT_EQ(LerINI("Infos", "NOMECLIENTE", arquivo), "  Casa Azul ");
    EXPECT_EQ(LerINI("infos", "Banco", arquivo), "Vendas"); // first occurrence wins
    EXPECT_EQ(LerINI("infos", "Diretorio", arquivo), "/a=b");
    EXPECT_EQ(LerINI("infos", "Executado", arquivo), "05/12/2026 02:00:13");
    EXPECT_EQ(LerINI("infos", "Porta", arquivo), ""); // only the first [infos] is read
    EXPECT_EQ(LerINI("Outra", "Banco", arquivo), "errado");
}

TEST_F(Ini, AusenteLeComoVazio) {
    EXPECT_EQ(LerINI("infos", "Banco", arquivo), "");
    GravarArquivo(arquivo, "[outra]\nBanco=x\n");
    EXPECT_EQ(LerINI("infos", "Banco", arquivo), "");
    GravarArquivo(arquivo, "[infos]\nBancos=x\nBanco\n");
    EXPECT_EQ(LerINI("infos", "Banco", arquivo), "");
}

TEST_F(Ini, TodoByteDe0x20a0xFFVoltaIgualEmDisco1252) {
    for (int b = 0x20; b <= 0xFF; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string valor = Cp1252ParaUtf8(byte + "x" + byte);
        GravarINI("infos", "Valor", valor, arquivo);
        ASSERT_EQ(LerINI("infos", "Valor", arquivo), valor) << "byte " << b;
        const std::string disco = LerArquivo(arquivo);
        ASSERT_NE(disco.find(byte + "x" + byte), std::string::npos) << "byte " << b;
    }
    // A character 1252 cannot hold is stored as '?'.
    GravarINI("infos", "Valor", "日本", arquivo);
    EXPECT_EQ(LerINI("infos", "Valor", arquivo), "??");
}

TEST_F(Ini, BrancosEAspasNasPontasSobrevivem) {
    for (const char* valor : {" a", "a ", "  ", "\"", "\"a", "a\"", "'a'", "\"a\"", "' ", "\t x",
                              "", "a \" b", "=", ";x"}) {
        GravarINI("infos", "Senha", valor, arquivo);
        EXPECT_EQ(LerINI("infos", "Senha", arquivo), valor) << "[" << valor << "]";
    }
}

TEST_F(Ini, QuebraDeLinhaNoValorNaoCriaOutraChave) {
    GravarINI("infos", "Banco", "x\r\nSSPI=1", arquivo);
    EXPECT_EQ(LerINI("infos", "SSPI", arquivo), "");
    EXPECT_EQ(LerINI("infos", "Banco", arquivo), "x  SSPI=1");
}

TEST_F(Ini, GravarUmaChaveDeixaOResto) {
    const std::string antes = "; feito a mão\r\n"
                              "[infos]\r\n"
                              "CodigoCliente=1\r\n"
                              "  Banco = velho ; comentário\r\n"
                              "minha linha sem igual\r\n"
                              "Executado=05/12/2026 02:00:13\r\n"
                              "\r\n"
                              "[extra]\r\n"
                              "Banco=nao mexer\r\n";
    GravarArquivo(arquivo, antes);
    GravarINI("infos", "BANCO", "novo", arquivo);
    GravarINI("INFOS", "Porta", "21", arquivo);
    GravarINI("ftp", "Host", "h", arquivo);
    EXPECT_EQ(LerArquivo(arquivo), "; feito a mão\r\n"
                                   "[infos]\r\n"
                                   "CodigoCliente=1\r\n"
                                   "Banco=novo\r\n"
                                   "minha linha sem igual\r\n"
                                   "Executado=05/12/2026 02:00:13\r\n"
                                   "Porta=21\r\n"
                                   "\r\n"
                                   "[extra]\r\n"
                                   "Banco=nao mexer\r\n"
                                   "[ftp]\r\n"
                                   "Host=h\r\n");
}

TEST_F(Ini, ArquivoNovoTemModo0600ELinhasUnix) {
    GravarINI("infos", "Senha", "x", arquivo);
    struct stat st {};
    ASSERT_EQ(::stat(arquivo.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(LerArquivo(arquivo), "[infos]\nSenha=x\n");
    // An existing file keeps its own mode.
    ::chmod(arquivo.c_str(), 0640);
    GravarINI("infos", "Senha", "y", arquivo);
    ASSERT_EQ(::stat(arquivo.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(Ini, GravarMantemDonoSegueLinkRecusaSomenteLeituraEIgnoraBom) {
    namespace fs = std::filesystem;
    const auto alvo = pasta.caminho() / "real" / "dados.ini";
    struct Caso {
        const char* nome;
        std::string antes;
        std::function<void()> preparar;
        bool grava;
        std::string depois; // of the file written (the link's target for the link)
    } const casos[] = {
        {"dono e grupo de outra conta", "[infos]\nBanco=a\n",
         [&] {
             if (::geteuid() == 0) {
                 EXPECT_EQ(::chown(arquivo.c_str(), 65534, 65534), 0);
             }
         },
         true, "[infos]\nBanco=a\nPorta=21\n"},
        {"link para o arquivo", "[infos]\nBanco=a\n",
         [&] {
             fs::create_directory(alvo.parent_path());
             fs::rename(arquivo, alvo);
             fs::create_symlink("real/dados.ini", arquivo);
         },
         true, "[infos]\nBanco=a\nPorta=21\n"},
        {"somente leitura", "[infos]\nBanco=a\n", [&] { ::chmod(arquivo.c_str(), 0444); }, false,
         "[infos]\nBanco=a\n"},
        {"marca UTF-8 no início", "\xEF\xBB\xBF[infos]\r\nBanco=a\r\n", [] {}, true,
         "\xEF\xBB\xBF[infos]\r\nBanco=a\r\nPorta=21\r\n"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        fs::remove_all(alvo.parent_path());
        fs::remove(arquivo);
        teste::GravarArquivo(arquivo, c.antes);
        ::chmod(arquivo.c_str(), 0640);
        c.preparar();
        struct stat antes {};
        ASSERT_EQ(::stat(arquivo.c_str(), &antes), 0);
        EXPECT_EQ(LerINI("infos", "Banco", arquivo), "a");
        EXPECT_EQ(GravarValorINI("infos", "Porta", "21", arquivo), c.grava);
        EXPECT_EQ(LerArquivo(arquivo), c.depois);
        struct stat depois {};
        ASSERT_EQ(::stat(arquivo.c_str(), &depois), 0);
        EXPECT_EQ(depois.st_mode, antes.st_mode);
        EXPECT_EQ(depois.st_uid, antes.st_uid);
        EXPECT_EQ(depois.st_gid, antes.st_gid);
        EXPECT_EQ(fs::is_symlink(arquivo), fs::exists(alvo));
    }
}

TEST_F(Ini, ValorLongoVoltaInteiro) {
    const std::string longo(300, 'x');
    GravarINI("infos", "Diretorio", longo + "y", arquivo);
    EXPECT_EQ(LerINI("infos", "Diretorio", arquivo), longo + "y");
}

TEST_F(Ini, PastaSomenteLeituraPerdeAGravacaoEmSilencio) {
    GravarINI("infos", "Banco", "velho", arquivo);
    const std::string antes = LerArquivo(arquivo);
    ::chmod(arquivo.c_str(), 0644);
    ::chmod(pasta.caminho().c_str(), 0555);
    const int r = teste::SemPrivilegio([&] {
        const bool gravou = GravarValorINI("infos", "Banco", "novo", arquivo);
        GravarINI("infos", "Banco", "novo", arquivo); // must not throw
        return gravou ? 1 : 0;
    });
    ::chmod(pasta.caminho().c_str(), 0700);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(LerArquivo(arquivo), antes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(pasta.caminho()), {}), 1);
}

TEST_F(Ini, ArquivoIlegivelNaoESubstituido) {
    GravarINI("infos", "Banco", "velho", arquivo);
    ::chmod(pasta.caminho().c_str(), 0777);
    ::chmod(arquivo.c_str(), 0600); // owned by us: unreadable for the unprivileged child
    const int r = teste::SemPrivilegio(
        [&] { return GravarValorINI("infos", "Porta", "21", arquivo) ? 1 : 0; });
    ::chmod(pasta.caminho().c_str(), 0700);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to read as another user";
    }
    EXPECT_EQ(r, 0);
    EXPECT_EQ(LerArquivo(arquivo), "[infos]\nBanco=velho\n");
}

} // namespace
