// The real executable, started from a throw-away program folder.
#include "job/codigos.h"
#include "job/log.h"
#include "support/pasta_programa.h"

#include <ctime>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kelvane;
namespace fs = std::filesystem;

namespace {

std::string NomeLogAgora() {
    const std::time_t agora = std::time(nullptr);
    std::tm m{};
    ::localtime_r(&agora, &m);
    return NomeArquivoLog(m);
}

TEST(Inicio, ExecEmQualquerCaixaRodaOJob) {
    for (const char* arg : {"EXEC", "exec", "Exec"}) {
        teste::PastaPrograma pasta(false);
        const auto antes = NomeLogAgora();
        const auto r = pasta.Executar({arg});
        const auto depois = NomeLogAgora();
        EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::FerramentaFaltando)) << arg;
        EXPECT_EQ(pasta.MensagensLog(),
                  (std::vector<std::string>{"Inicio do Processo", "Está faltando o arquivo: 7z"}));
        const auto logs = pasta.ArquivosLog();
        ASSERT_EQ(logs.size(), 1u);
        EXPECT_TRUE(logs[0] == antes || logs[0] == depois) << logs[0];
        // "DD/MM/YYYY HH:MM:SS : message"
        EXPECT_EQ(pasta.LinhasLog().at(0).substr(0, 2), logs[0].substr(4, 2));
        EXPECT_EQ(pasta.LinhasLog().at(0).substr(19, 3), " : ");
    }
}

TEST(Inicio, OutrosArgumentosNaoRodamOJob) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"EXEC2"},
                                                 {"/EXEC"},
                                                 {"EXEC", "now"},
                                                 {"\"EXEC\""},
                                                 {" EXEC"},
                                                 {"EX", "EC"}}) {
        teste::PastaPrograma pasta(false);
        const auto r = pasta.ExecutarSemTela(args);
        EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::JanelaIndisponivel));
        EXPECT_NE(r.saida.find("janela"), std::string::npos) << r.saida;
        EXPECT_TRUE(fs::is_directory(pasta.caminho() / "Log"));
        EXPECT_TRUE(pasta.ArquivosLog().empty());
    }
}

TEST(Inicio, LogsExistentesFicam) {
    teste::PastaPrograma pasta(false);
    fs::create_directory(pasta.caminho() / "Log");
    teste::GravarArquivo(pasta.caminho() / "Log" / "Log_010101_0101.Log", "antigo\n");
    pasta.Executar({"EXEC"});
    pasta.Executar({"exec"});
    EXPECT_EQ(teste::LerArquivo(pasta.caminho() / "Log" / "Log_010101_0101.Log"), "antigo\n");
    // Two runs in the same minute append to the same file.
    auto mensagens = pasta.MensagensLog();
    EXPECT_EQ(std::count(mensagens.begin(), mensagens.end(), "Inicio do Processo"), 2);
}

TEST(Inicio, FerramentaFaltandoNaOrdem) {
    for (const std::string_view faltando : {"7z", "7z.so", "ncftpput"}) {
        teste::PastaPrograma pasta(true);
        fs::remove(pasta.caminho() / faltando);
        const auto r = pasta.Executar({"EXEC"});
        EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::FerramentaFaltando));
        EXPECT_EQ(pasta.MensagensLog(),
                  (std::vector<std::string>{"Inicio do Processo",
                                            "Está faltando o arquivo: " + std::string(faltando)}));
    }
}

TEST(Inicio, LogImpossivelDeGravarSaiComErro) {
    teste::PastaPrograma pasta(false);
    teste::GravarArquivo(pasta.caminho() / "Log", "um arquivo no lugar da pasta");
    const auto r = pasta.Executar({"EXEC"});
    EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::ErroOutro));
    EXPECT_NE(r.saida.find("log"), std::string::npos) << r.saida;

    // Without /proc the program folder cannot be found: said so, and nothing else is used.
    if (::geteuid() == 0) {
        const teste::PastaTemporaria outra;
        const auto semProc =
            teste::Rodar({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh",
                          "-c", "umount -l /proc && cd \"$1\" && exec \"$0\" EXEC",
                          (pasta.caminho() / "kelvane").string(), outra.caminho().string()});
        EXPECT_EQ(semProc.codigo, ComoInteiro(CodigoSaida::ErroOutro)) << semProc.saida;
        EXPECT_NE(semProc.saida.find("/proc"), std::string::npos) << semProc.saida;
        EXPECT_TRUE(fs::is_empty(outra.caminho()));
    }
}

} // namespace
