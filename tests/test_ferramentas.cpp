#include "job/ferramentas.h"
#include "support/pasta_programa.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kelvane;
using teste::GravarArquivo;
using teste::LerArquivo;
namespace fs = std::filesystem;

namespace {

class Ferramentas : public ::testing::Test {
protected:
    teste::PastaPrograma pasta{false};
};

TEST_F(Ferramentas, VerificacaoNaOrdem) {
    EXPECT_EQ(FerramentaFaltando(pasta.caminho()), "7z");
    GravarArquivo(pasta.caminho() / "7z.so", "");
    GravarArquivo(pasta.caminho() / "ncftpput", "");
    EXPECT_EQ(FerramentaFaltando(pasta.caminho()), "7z");
    GravarArquivo(pasta.caminho() / "7z", "");
    fs::remove(pasta.caminho() / "7z.so");
    fs::create_directory(pasta.caminho() / "7z.so"); // a folder is not the tool
    EXPECT_EQ(FerramentaFaltando(pasta.caminho()), "7z.so");
    fs::remove(pasta.caminho() / "7z.so");
    fs::create_symlink("/usr/lib/p7zip/7z.so", pasta.caminho() / "7z.so");
    EXPECT_EQ(FerramentaFaltando(pasta.caminho()), std::nullopt);
    EXPECT_EQ(TextoCaixaFerramentaFaltando("ncftpput"),
              "Está faltando o arquivo: ncftpput\r\nO backup não será efetuado!");
}

TEST_F(Ferramentas, StatusESaidaVoltam) {
    const auto falsa = (pasta.caminho() / "falsa").string();
    pasta.FerramentaFalsa("falsa", {"sair 0"});
    EXPECT_TRUE(ShellEspera({falsa}).sucesso());

    pasta.FerramentaFalsa("falsa", {"stdout primeira", "sair 2"});
    auto r = ShellEspera({falsa});
    EXPECT_EQ(r.codigo, 2);
    EXPECT_FALSE(r.sucesso());
    EXPECT_EQ(r.UltimasLinhas(), "primeira");

    pasta.FerramentaFalsa("falsa", {"stdout um", "stderr dois", "stderr três", "sair 1"});
    r = ShellEspera({falsa});
    EXPECT_EQ(r.codigo, 1);
    EXPECT_EQ(r.UltimasLinhas(2), "dois | três");

    pasta.FerramentaFalsa("falsa", {"dormir 30"});
    r = ShellEspera({falsa}, {.aoIniciar = [](pid_t pid) {
                        ::kill(pid, SIGKILL);
                    }});
    EXPECT_EQ(r.sinal, SIGKILL);
    EXPECT_FALSE(r.sucesso());
}

TEST_F(Ferramentas, ProgramaQueNaoIniciaEErroTipado) {
    EXPECT_THROW(ShellEspera({(pasta.caminho() / "nao-existe").string()}), ErroProcesso);
    GravarArquivo(pasta.caminho() / "sem-permissao", "#!/bin/sh\nexit 0\n");
    ::chmod((pasta.caminho() / "sem-permissao").c_str(), 0644);
    EXPECT_THROW(ShellEspera({(pasta.caminho() / "sem-permissao").string()}), ErroProcesso);
}

TEST_F(Ferramentas, SaidaEnormeGuardaSoOFim) {
    pasta.FerramentaFalsa("falsa", {});
    std::vector<std::string> instrucoes;
    for (int i = 0; i < 20000; ++i) {
        instrucoes.push_back("stdout linha " + std::to_string(i) + " " + std::string(40, 'x'));
    }
    instrucoes.push_back("stderr fim");
    pasta.FerramentaFalsa("falsa", instrucoes);
    const auto r = ShellEspera({(pasta.caminho() / "falsa").string()});
    EXPECT_LE(r.saida.size(), 64u * 1024);
    EXPECT_EQ(r.UltimasLinhas(1), "fim");
}

TEST_F(Ferramentas, EnviadorRecebeCadaValorComoUmArgumentoESemSenha) {
    const auto args = pasta.caminho() / "args.txt";
    const auto login = pasta.caminho() / "login-visto.txt";
    pasta.FerramentaFalsa(
        "ncftpput", {"argumentos " + args.string(), "copiar-login " + login.string(), "sair 3"});
    const DadosFtp dados{"ftp.exemplo", "usuário com espaço", " senha;com\"aspas} ", "2121",
                         "/pasta com espaço/-x"};
    const auto r = EnviarArquivoFtp(pasta.caminho(), dados, "/tmp/arq uivo.7z");
    EXPECT_EQ(r.codigo, 3);
    const auto linhas = teste::LinhasDoArquivo(args);
    ASSERT_EQ(linhas.size(), 10u);
    EXPECT_EQ(linhas[0], "-f");
    EXPECT_EQ(linhas[2], "-P");
    EXPECT_EQ(linhas[3], "2121");
    EXPECT_EQ(linhas[4], "-F");
    EXPECT_EQ(linhas[5], "-S");
    EXPECT_EQ(linhas[6], ".parcial");
    EXPECT_EQ(linhas[7], "--");
    EXPECT_EQ(linhas[8], "/pasta com espaço/-x");
    EXPECT_EQ(linhas[9], "/tmp/arq uivo.7z");
    EXPECT_EQ(LerArquivo(args).find("senha"), std::string::npos);
    EXPECT_EQ(LerArquivo(login),
              "host ftp.exemplo\nuser usuário com espaço\npass  senha;com\"aspas} \n");
    // The login file and its private folder are gone once the uploader has ended.
    EXPECT_FALSE(fs::exists(linhas[1]));
    EXPECT_FALSE(fs::exists(fs::path(linhas[1]).parent_path()));
}

TEST_F(Ferramentas, ArquivoDeLoginNuncaLegivelPorOutros) {
    const auto modo = pasta.caminho() / "modo.txt";
    // stat the login file while the uploader runs
    GravarArquivo(pasta.caminho() / "ncftpput",
                  "#!/bin/sh\nstat -c '%a' \"$2\" \"$(dirname \"$2\")\" > '" + modo.string() +
                      "'\nexit 0\n");
    ::chmod((pasta.caminho() / "ncftpput").c_str(), 0755);
    EXPECT_TRUE(EnviarArquivoFtp(pasta.caminho(), {"h", "u", "p", "21", "/"}, "/tmp/x").sucesso());
    EXPECT_EQ(LerArquivo(modo), "600\n700\n");

    // A line break would add lines to the login file: refused before anything runs.
    EXPECT_THROW(EnviarArquivoFtp(pasta.caminho(), {"h", "u", "p\nhost outro", "21", "/"}, "/x"),
                 std::runtime_error);
}

TEST_F(Ferramentas, LoginRemovidoMesmoQuandoOEnviadorMorre) {
    const auto args = pasta.caminho() / "args.txt";
    pasta.FerramentaFalsa("ncftpput", {"argumentos " + args.string(), "dormir 30"});
    const auto r = EnviarArquivoFtp(pasta.caminho(), {"h", "u", "p", "21", "/"}, "/tmp/x",
                                    {.aoIniciar = [](pid_t pid) {
                                        ::usleep(200000);
                                        ::kill(pid, SIGKILL);
                                    }});
    EXPECT_EQ(r.sinal, SIGKILL);
    EXPECT_FALSE(fs::exists(teste::LinhasDoArquivo(args).at(1)));
}

TEST_F(Ferramentas, CompactadorReal) {
    teste::PastaPrograma real(true);
    const auto origem = real.caminho() / "dados com espaço.BAK";
    std::string conteudo;
    for (int i = 0; i < 5000; ++i) {
        conteudo += "linha " + std::to_string(i * 7919 % 1000) + "\n";
    }
    GravarArquivo(origem, conteudo);
    const auto arquivo = real.caminho() / "dados com espaço.7z";
    const auto r = ShellEspera(LinhaCompactador(real.caminho(), arquivo, origem));
    ASSERT_TRUE(r.sucesso()) << r.saida;
    ASSERT_TRUE(fs::exists(arquivo));
    EXPECT_LT(fs::file_size(arquivo), conteudo.size());
    EXPECT_TRUE(ShellEspera(LinhaTesteArquivo(real.caminho(), arquivo)).sucesso());

    GravarArquivo(arquivo, "estragado");
    const auto t = ShellEspera(LinhaTesteArquivo(real.caminho(), arquivo));
    EXPECT_EQ(t.codigo, 2);
    EXPECT_EQ(SignificadoCompactador(t.codigo), "erro fatal");
}

} // namespace
