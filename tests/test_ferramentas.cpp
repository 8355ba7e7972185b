// ShellEspera, the uploader's login file and connection-string values.
#include "apoio.h"
#include "job/ferramentas.h"
#include "job/odbc.h"

#include <csignal>
#include <sys/stat.h>

using namespace kelvane;
using namespace kelvane::teste;

namespace {

TEST(ShellEspera, StatusSinalESaida) {
    Programa p(false);
    const auto falsa = (p.dir / "falsa").string();
    p.Falsa("falsa", "seq -f 'linha %g xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx' 20000\n"
                     "echo um; echo dois >&2; exit 3");
    auto r = ShellEspera({falsa});
    EXPECT_EQ(r.codigo, 3);
    EXPECT_FALSE(r.sucesso());
    EXPECT_LE(r.saida.size(), 64u * 1024); // only the tail is kept
    EXPECT_EQ(r.UltimasLinhas(2), "um | dois");

    p.Falsa("falsa", "exec sleep 30");
    r = ShellEspera({falsa}, {.aoIniciar = [](pid_t pid) {
                        ::kill(pid, SIGKILL);
                    }});
    EXPECT_EQ(r.sinal, SIGKILL);
    EXPECT_THROW(ShellEspera({(p.dir / "nao-existe").string()}), ErroProcesso);
    Gravar(p.dir / "sem-x", "#!/bin/sh\n");
    EXPECT_THROW(ShellEspera({(p.dir / "sem-x").string()}), ErroProcesso);
}

TEST(Enviador, ArgumentosELoginPrivado) {
    Programa p(false);
    const auto args = p.tmp / "args", login = p.tmp / "login", modo = p.tmp / "modo";
    p.Falsa("ncftpput", "printf '%s\\n' \"$@\" >" + args.string() + "; cat \"$2\" >" +
                            login.string() + "; exit 3");
    const DadosFtp dados{"ftp.exemplo", "usuário x", " s;e\"nha} ", "2121", "-pasta/"};
    EXPECT_EQ(EnviarArquivoFtp(p.dir, dados, "/tmp/-a b.7z").codigo, 3);
    const auto linhas = Linhas(args);
    ASSERT_EQ(linhas.size(), 10u);
    EXPECT_EQ(linhas, (std::vector<std::string>{"-f", linhas[1], "-P", "2121", "-F", "-S",
                                                ".parcial", "--", "-pasta/", "/tmp/-a b.7z"}));
    EXPECT_EQ(Ler(login), "host ftp.exemplo\nuser usuário x\npass  s;e\"nha} \n");
    EXPECT_FALSE(fs::exists(fs::path(linhas[1]).parent_path())); // gone with the uploader

    // While the uploader runs: the file 0600 in a 0700 folder; removed even when it is killed.
    p.Falsa("ncftpput", "stat -c %a \"$2\" \"${2%/*}\" >" + modo.string() + "; echo \"$2\" >" +
                            args.string() + "; kill -9 $$");
    EXPECT_EQ(EnviarArquivoFtp(p.dir, dados, "/x").sinal, SIGKILL);
    EXPECT_EQ(Ler(modo), "600\n700\n");
    EXPECT_FALSE(fs::exists(fs::path(Ler(args).substr(0, Ler(args).size() - 1)).parent_path()));
    // A line break would add a line to the login file: refused before anything runs.
    EXPECT_THROW(EnviarArquivoFtp(p.dir, {"h", "u", "p\nhost outro", "21", "/"}, "/x"),
                 std::runtime_error);
}

// FreeTDS is reached for real by the job's suite; Microsoft's drivers double "}" in braces.
TEST(Odbc, ValoresDoTextoDeConexao) {
    EXPECT_EQ(TextoConexao("ODBC Driver 18 for SQL Server", "h", " a", "x}y;"),
              "Driver={ODBC Driver 18 for SQL Server};Server=h;Database=master;UID={ a};"
              "PWD={x}}y;};");
    EXPECT_EQ(ValorOdbc("x;y}z", true), "{x;y}z}");
    EXPECT_THROW(ValorOdbc("a};b", true), ErroBanco);
}

} // namespace
