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

// The arguments and the login file's text are checked with hostile values by the job's suite.
TEST(Enviador, LoginPrivado) {
    Programa p(false);
    const auto modo = p.tmp / "modo";
    // While the uploader runs: the file 0600 in a 0700 folder; removed even when it is killed.
    p.Falsa("ncftpput", "stat -c %a \"$2\" \"${2%/*}\" >" + modo.string() +
                            "; echo \"${2%/*}\" >>" + modo.string() + "; kill -9 $$");
    DadosFtp dados{"h", "u", "p", "21", "/"};
    EXPECT_EQ(EnviarArquivoFtp(p.dir, dados, "/x").sinal, SIGKILL);
    const auto linhas = Linhas(modo);
    ASSERT_EQ(linhas.size(), 3u);
    EXPECT_EQ(linhas[0] + linhas[1], "600700");
    EXPECT_FALSE(fs::exists(linhas[2]));
    // A line break would add a line to the login file: refused before anything runs.
    dados.senha = "p\nhost outro";
    EXPECT_THROW(EnviarArquivoFtp(p.dir, dados, "/x"), std::runtime_error);
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
