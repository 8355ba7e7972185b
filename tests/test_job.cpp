// The unattended job end to end: the real executable in a throw-away program folder, the
// database stand-in and a real FTP server on 127.0.0.1, the real 7z and ncftpput.
#include "apoio_job.h"
#include "job/backup.h"
#include "job/codigos.h"
#include "job/odbc.h"
#include "settings/texto.h"

using namespace kelvane;
using teste::Hoje;
using teste::LerArquivo;
namespace fs = std::filesystem;

namespace {

class Job : public teste::JobReal {
public:
    std::vector<std::string> LinhasSucesso() const {
        const std::string bak = "/" + NomeBase() + ".BAK";
        const std::string arq = "/" + NomeBase() + ".7z";
        return {"Inicio do Processo",
                "Conectando ao Servidor de Banco: 127.0.0.1," + std::to_string(portaTds),
                "Banco de dados conectado!",
                "Backup...: " + config.banco + " > " + bak,
                "Compactando...: " + arq,
                "Enviando...: " + arq + " > 127.0.0.1",
                "Excluindo...: " + bak,
                "Fim do Processo"};
    }

    // No password, in clear or scrambled, in the log or the program's output.
    void SemSenhas(const teste::Execucao& r) {
        std::string todo = r.saida;
        for (const auto& l : pasta->LinhasLog()) {
            todo += l + "\n";
        }
        for (const auto& s : {config.senha, config.passw}) {
            EXPECT_EQ(todo.find(s), std::string::npos) << s;
            EXPECT_EQ(todo.find(Cripto(s)), std::string::npos) << s;
        }
    }

    void SemExecutado() { EXPECT_EQ(LerINI("infos", "Executado", pasta->ini()), ""); }
};

void ConferirTudo(Job& j, const teste::Execucao& r) {
    ASSERT_EQ(r.codigo, 0) << r.saida << "\n" << j.TodoLog();
    EXPECT_EQ(j.pasta->MensagensLog(), j.LinhasSucesso());
    EXPECT_FALSE(fs::exists(j.Bak()));
    ASSERT_TRUE(fs::exists(j.Arquivo7z()));
    ASSERT_TRUE(fs::exists(j.Enviado()));
    EXPECT_EQ(LerArquivo(j.Enviado()), LerArquivo(j.Arquivo7z()));
    EXPECT_TRUE(ShellEspera({"/usr/lib/p7zip/7z", "t", j.Enviado().string()}).sucesso());
    // A whole database: readable by its owner only, as is the log.
    EXPECT_EQ(fs::status(j.Arquivo7z()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(j.pasta->caminho() / "Log" / j.pasta->ArquivosLog().at(0)).permissions() &
                  (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
    const auto executado = LerINI("infos", "Executado", j.pasta->ini());
    EXPECT_EQ(executado.size(), 19u) << executado;
    EXPECT_EQ(executado.substr(0, 2), Hoje().substr(0, 2));
}

TEST_F(Job, SucessoComCredenciaisEmbaralhadas) {
    Servidores();
    const auto r = Rodar();
    ConferirTudo(*this, r);
    EXPECT_EQ(Backups(), (std::vector<std::string>{
                             "BACKUP DATABASE [Vendas] TO  DISK = N'" + Bak().string() +
                             "' WITH NOFORMAT, INIT, COMPRESSION,  NAME = N'00 42 - Casa Azul', "
                             "SKIP, NOREWIND, NOUNLOAD,  STATS = 10"}));
    SemSenhas(r);
    // A rerun on the same day replaces the archive instead of adding to it.
    const auto tamanho = fs::file_size(Arquivo7z());
    teste::GravarArquivo(Arquivo7z(), std::string(3 * tamanho, 'x'));
    fs::remove_all(pasta->caminho() / "Log");
    ConferirTudo(*this, Rodar());
    EXPECT_EQ(fs::file_size(Arquivo7z()), tamanho);
}

TEST_F(Job, SucessoComCredenciaisEmClaro) {
    config.ncripto = true;
    Servidores();
    const auto r = Rodar();
    ConferirTudo(*this, r);
    SemSenhas(r);
}

TEST_F(Job, ValoresHostisNaoMudamOComando) {
    config.banco = "Ven]das'; DROP DATABASE x--";
    config.codigo = "1'2 /..";
    config.nome = "Sao/../Joao ]; 'x' Ç";
    config.senha = " s;e}n{h=a ";
    config.passw = " p a;s}s ";
    config.usuario = "usuário x";
    config.diretorio = "/backups";
    Servidores();
    const auto r = Rodar();
    ConferirTudo(*this, r);
    // The server parsed the quoted names back to exactly these values.
    ASSERT_EQ(Backups().size(), 1u);
    EXPECT_NE(Backups()[0].find("[Ven]]das'; DROP DATABASE x--]"), std::string::npos);
    EXPECT_NE(Backups()[0].find("N'1''2 /.. - Sao/../Joao ]; ''x'' Ç'"), std::string::npos);
    EXPECT_EQ(Bak().parent_path(), pasta->caminho());
    SemSenhas(r);
}

TEST_F(Job, EdicaoExpressRepeteSemCompressao) {
    Servidores({.modo = "express"});
    const auto r = Rodar();
    ASSERT_EQ(r.codigo, 0) << UltimaMensagem();
    auto esperado = LinhasSucesso();
    esperado.insert(esperado.begin() + 4, "O servidor não aceita backup com compressão (edição "
                                          "Express); repetindo o backup sem compressão.");
    EXPECT_EQ(pasta->MensagensLog(), esperado);
    const auto lotes = Backups();
    ASSERT_EQ(lotes.size(), 2u);
    EXPECT_NE(lotes[0].find("INIT, COMPRESSION,  NAME"), std::string::npos);
    EXPECT_NE(lotes[1].find("INIT,  NAME"), std::string::npos);
    EXPECT_EQ(lotes[1].find("COMPRESSION"), std::string::npos);
    EXPECT_TRUE(fs::exists(Enviado()));
}

struct FalhaDoBanco {
    std::string nome;
    std::function<void(Job&)> preparar;
    CodigoSaida codigo;
    std::vector<std::string> fimDoLog; // prefixes of the last log messages
    bool bakFica;
};

TEST_F(Job, FalhasDoBancoParamAntesDeCompactar) {
    const teste::ServidorMudo mudo;
    const std::vector<FalhaDoBanco> casos = {
        {"servidor aceita e não responde",
         [&](Job& j) {
             j.Servidores();
             j.portaTds = mudo.porta();
         },
         CodigoSaida::ConexaoFalhou,
         {"Conectando ao Servidor de Banco: ", "Erro ao conetar no banco: ",
          "Tarefa não executada. SAINDO"},
         false},
        {"servidor fora do ar",
         [](Job& j) {
             j.Servidores();
             j.portaTds = teste::portaLivreFechada();
         },
         CodigoSaida::ConexaoFalhou,
         {"Conectando ao Servidor de Banco: ", "Erro ao conetar no banco: ",
          "Tarefa não executada. SAINDO"},
         false},
        {"senha errada",
         [](Job& j) {
             j.Servidores();
             j.config.senha = "outra; senha";
         },
         CodigoSaida::ConexaoFalhou,
         {"Conectando ao Servidor de Banco: ", "Erro ao conetar no banco: ",
          "Tarefa não executada. SAINDO"},
         false},
        {"login integrado sem Kerberos",
         [](Job& j) {
             j.Servidores();
             j.config.sspi = "1";
         },
         CodigoSaida::ConexaoFalhou,
         {"Conectando ao Servidor de Banco: ", "Erro ao conetar no banco: ",
          "Tarefa não executada. SAINDO"},
         false},
        {"banco desconhecido",
         [](Job& j) {
             j.Servidores();
             j.config.banco = "Nenhum";
             j.tds = nullptr;
             teste::OpcoesTds o;
             o.usuario = j.config.login;
             o.senha = j.config.senha;
             j.tds = std::make_unique<teste::ServidorTds>(o);
             j.portaTds = j.tds->porta();
         },
         CodigoSaida::BackupFalhou,
         {"Backup...: Nenhum > ", "Erro: 911 - Backup do banco falhou: "},
         false},
        {"falha aos 30%",
         [](Job& j) { j.Servidores({.modo = "fail30"}); },
         CodigoSaida::BackupFalhou,
         {"Backup...: ", "Erro: 3202 - Backup do banco falhou: "},
         true},
        {"conexão perdida aos 30%",
         [](Job& j) { j.Servidores({.modo = "drop30"}); },
         CodigoSaida::BackupFalhou,
         {"Backup...: ", "Erro: "},
         true},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        Job& j = *this;
        caso.preparar(j);
        EscreverIni();
        // Every failure ends well within the 30 s a hung connection is given up after.
        const auto inicio = std::chrono::steady_clock::now();
        const auto r = teste::Rodar(
            {"/usr/bin/timeout", "60", (pasta->caminho() / "kelvane").string(), "EXEC"});
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(30));
        EXPECT_EQ(r.codigo, ComoInteiro(caso.codigo)) << UltimaMensagem();
        const auto mensagens = Mensagens();
        ASSERT_GE(mensagens.size(), caso.fimDoLog.size());
        for (std::size_t i = 0; i < caso.fimDoLog.size(); ++i) {
            const auto& m = mensagens[mensagens.size() - caso.fimDoLog.size() + i];
            EXPECT_EQ(m.rfind(caso.fimDoLog[i], 0), 0u) << m;
        }
        EXPECT_EQ(std::count(mensagens.begin(), mensagens.end(), "Fim do Processo"), 0);
        EXPECT_EQ(fs::exists(Bak()), caso.bakFica);
        EXPECT_FALSE(fs::exists(Arquivo7z()));
        EXPECT_FALSE(fs::exists(Enviado()));
        SemExecutado();
        SemSenhas(r);
        Limpar();
        config = teste::ConfigJob{};
        tds.reset();
        ftp.reset();
    }
}

struct FalhaDeFerramenta {
    std::string nome;
    std::function<void(Job&)> preparar;
    CodigoSaida codigo;
    std::string ultima; // prefix of the last log message
    bool arquivoFica;
    bool sigchldIgnorado; // as some schedulers start their jobs
};

TEST_F(Job, FalhasDasFerramentasNuncaApagamOBak) {
    const std::vector<FalhaDeFerramenta> casos = {
        {"7z falha",
         [](Job& j) {
             j.pasta->FerramentaFalsa("7z", {"stdout 7-Zip falso", "stderr disco cheio", "sair 2"});
         },
         CodigoSaida::CompactacaoFalhou,
         "Erro: 2 - Compactação falhou: 7z terminou com código 2 (erro fatal): 7-Zip falso | "
         "disco cheio",
         false, false},
        {"arquivo não passa no teste",
         [](Job& j) {
             j.pasta->FerramentaFalsa("7z", {"quando a criar " + j.Arquivo7z().string(),
                                             "quando t exec /usr/lib/p7zip/7z"});
         },
         CodigoSaida::CompactacaoFalhou, "Erro: 2 - Teste do arquivo compactado falhou: 7z t ",
         true, false},
        {"servidor FTP fora do ar",
         [](Job& j) {
             // ncftpput would redial for 40 s against a closed port; the fake stands in with the
             // same exit status.
             j.pasta->FerramentaFalsa("ncftpput",
                                      {"stderr ncftpput: cannot open 127.0.0.1: remote host "
                                       "refused connection.",
                                       "sair 1"});
         },
         CodigoSaida::EnvioFalhou,
         "Erro: 1 - Envio falhou: ncftpput terminou com código 1 (não foi possível conectar ou "
         "entrar no servidor): ncftpput: cannot open",
         true, false},
        {"senha do FTP errada", [](Job& j) { j.config.passw = "errada com espaco"; },
         CodigoSaida::EnvioFalhou, "Erro: 1 - Envio falhou: ncftpput terminou com código 1", true,
         false},
        {"senha do FTP errada, SIGCHLD ignorado",
         [](Job& j) { j.config.passw = "errada com espaco"; }, CodigoSaida::EnvioFalhou,
         "Erro: 1 - Envio falhou: ncftpput terminou com código 1", true, true},
        {"7z falha, SIGCHLD ignorado", [](Job& j) { j.pasta->FerramentaFalsa("7z", {"sair 2"}); },
         CodigoSaida::CompactacaoFalhou, "Erro: 2 - Compactação falhou: 7z terminou com código 2",
         false, true},
        {"pasta remota inexistente", [](Job& j) { j.config.diretorio = "/nao/existe"; },
         CodigoSaida::EnvioFalhou, "Erro: 5 - Envio falhou: ncftpput terminou com código 5", true,
         false},
        {"servidor recusa renomear o arquivo enviado",
         [](Job& j) {
             j.opcoesFtp.renomear = false;
             j.ReiniciarFtp();
         },
         CodigoSaida::EnvioFalhou,
         "Erro: 3 - Envio falhou: ncftpput terminou com código 3 (o servidor recusou renomear ",
         true, false},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        Servidores();
        caso.preparar(*this);
        EscreverIni();
        const auto r = caso.sigchldIgnorado
                           ? teste::Rodar({"/usr/bin/python3", "-c",
                                           "import os, signal, sys\n"
                                           "signal.signal(signal.SIGCHLD, signal.SIG_IGN)\n"
                                           "os.execv(sys.argv[1], sys.argv[1:])",
                                           (pasta->caminho() / "kelvane").string(), "EXEC"})
                           : pasta->Executar({"EXEC"});
        EXPECT_EQ(r.codigo, ComoInteiro(caso.codigo)) << UltimaMensagem();
        EXPECT_EQ(UltimaMensagem().rfind(caso.ultima, 0), 0u) << UltimaMensagem();
        EXPECT_TRUE(fs::exists(Bak()));
        EXPECT_EQ(fs::exists(Arquivo7z()), caso.arquivoFica);
        EXPECT_FALSE(fs::exists(Enviado()));
        SemExecutado();
        SemSenhas(r);
        Limpar();
        config = teste::ConfigJob{};
        opcoesFtp = {};
        tds.reset();
        ftp.reset();
    }
}

TEST_F(Job, SegundoJobNaMesmaPastaNaoRoda) {
    Servidores({.atrasoPasso = 0.3});
    EscreverIni();
    auto primeiro = std::async(std::launch::async, [&] { return pasta->Executar({"EXEC"}); });
    // Wait until the first job is inside the backup.
    for (int i = 0; i < 200 && !fs::exists(Bak()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(fs::exists(Bak()));
    const auto iniAntes = LerArquivo(pasta->ini());
    const auto segundo = pasta->Executar({"EXEC"});
    EXPECT_EQ(segundo.codigo, ComoInteiro(CodigoSaida::JobEmExecucao));
    EXPECT_EQ(LerArquivo(pasta->ini()), iniAntes);
    EXPECT_EQ(primeiro.get().codigo, 0);
    const auto mensagens = pasta->MensagensLog();
    EXPECT_EQ(std::count(mensagens.begin(), mensagens.end(),
                         "Outro backup já está em execução nesta pasta; este não será executado."),
              1);
    EXPECT_EQ(std::count(mensagens.begin(), mensagens.end(), "Fim do Processo"), 1);
    EXPECT_EQ(Backups().size(), 1u);
}

TEST(Nomes, ArquivoEComando) {
    std::tm m{};
    m.tm_year = 126, m.tm_mon = 2, m.tm_mday = 1;
    EXPECT_EQ(NomeArquivoBackup("12 34", "Loja Centro", m), "/KVLN_1234_Loja_Centro_010326.BAK");
    EXPECT_EQ(NomeArquivoBackup("1/2", "a/../b", m), "/KVLN_1_2_a_.._b_010326.BAK");
    EXPECT_EQ(NomeArquivoBackup("1", std::string("a\0b", 3), m), "/KVLN_1_a_b_010326.BAK");
    EXPECT_EQ(NomeArquivoCompactado("/KVLN_1_x.BAK.BAK_010326.BAK"), "/KVLN_1_x.7z.7z_010326.7z");
    EXPECT_EQ(ComandoBackup("a]b", "/p/o'k.BAK", "1 - D'Ávila", false),
              "BACKUP DATABASE [a]]b] TO  DISK = N'/p/o''k.BAK' WITH NOFORMAT, INIT,  NAME = "
              "N'1 - D''Ávila', SKIP, NOREWIND, NOUNLOAD,  STATS = 10");
}

TEST(Nomes, TextoDeConexao) {
    // FreeTDS: braces only where needed, "}" never doubled, every value closed by ";".
    EXPECT_EQ(TextoConexao("FreeTDS", "srv\\inst", "sa", "x;y}z"),
              "Driver={FreeTDS};Server=srv\\inst;Database=master;UID=sa;PWD={x;y}z};"
              "TDS_Version=7.4;");
    EXPECT_EQ(TextoConexao("FreeTDS", "127.0.0.1,1433", " a }", "{b"),
              "Driver={FreeTDS};Server=127.0.0.1,1433;Database=master;UID= a };PWD={{b};"
              "TDS_Version=7.4;");
    EXPECT_THROW(TextoConexao("FreeTDS", "h", "sa", "a};b"), ErroBanco);
    // Microsoft's drivers: the standard braces with "}" doubled.
    EXPECT_EQ(TextoConexao("ODBC Driver 18 for SQL Server", "h", " a", "x}y"),
              "Driver={ODBC Driver 18 for SQL Server};Server=h;Database=master;UID={ a};"
              "PWD={x}}y};");
    EXPECT_EQ(TextoConexaoIntegrada("ODBC Driver 18 for SQL Server", ""),
              "Driver={ODBC Driver 18 for SQL Server};Server=;Database=master;"
              "Trusted_Connection=Yes;");
    EXPECT_EQ(PercentualProcessado("[FreeTDS][SQL Server]30 percent processed."), 30);
    EXPECT_EQ(PercentualProcessado("100 percent processed."), 100);
    EXPECT_EQ(PercentualProcessado("Processed 10 pages"), -1);
    EXPECT_EQ(OcultarSegredos("a senha123 b senha123", {"senha123", ""}), "a *** b ***");
}

} // namespace
