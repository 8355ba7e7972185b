// `kelvane RESTAURAR` end to end: a real EXEC sends the night's archive to the FTP server, then the
// restore reads it back (or a local copy) into the database stand-in, with the real 7z.
#include "apoio.h"
#include "settings/ini.h"

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <unistd.h>

using namespace kelvane::teste;

namespace {

void Nada(Programa&) {}
struct Restauro {
    std::string nome;
    std::string modo; // of the database stand-in
    // RESTAURAR's arguments, each when given; "<local>": the archive EXEC left in the data folder.
    std::string arquivo, banco;
    int codigo;
    std::string log; // a regex the log's lines from "Inicio da Restauração" on must match
    std::function<void(Programa&)> antes = Nada; // between EXEC and RESTAURAR
};
KELVANE_LINHA_PELO_NOME

const std::string kInicio = R"(Inicio da Restauração\nConectando .*\nBanco de dados conectado!\n)";
const std::string kRemoto = kInicio +
                            R"(Baixando\.\.\.: KVLN_0042_Casa_Azul_\d{6}\.7z < 127\.0\.0\.1\n)"
                            R"(Extraindo\.\.\.: KVLN_0042_Casa_Azul_\d{6}\.7z\n)";
const std::string kRestaurando = R"(Restaurando\.\.\.: KVLN_0042_Casa_Azul_\d{6}\.BAK > )";

// RESTAURAR reads from cifrado_server.py (`esquema`), whose CA is not CertificadoFTP and whose host
// key is not `chave`.
std::function<void(Programa&)> Desconfiado(const std::string& esquema, const std::string& chave) {
    return [=](Programa& p) {
        KELVANE_SO_ROOT("vsftpd e sshd precisam de root e de uma conta de teste");
        p.servidorFtp = ServidorCifrado(p.raiz.p, p.raiz.p / "chaves", esquema);
        for (const auto& [k, v] :
             Pares("Endereco=" + esquema +
                   "://localhost\nPorta=" + std::to_string(p.servidorFtp->porta) +
                   "\nDiretorio=" + (p.ftp / "backups").string() + "\nUsuario=kelvaneteste\n" +
                   "Passw=" + kSenhaCifrado + "\nChaveHostFTP=" + chave)) {
            p.cfg[k] = v;
        }
    };
}

// What is where 7z extracts: each name and what it holds.
std::map<std::string, std::string> Extracao(const Programa& p) {
    std::map<std::string, std::string> r;
    for (const auto& e : fs::directory_iterator(p.Backups())) {
        const auto nome = e.path().filename().string();
        if (nome.starts_with("restauracao") && !fs::is_directory(e.path())) {
            r[nome] = Ler(e.path());
        } else if (nome.starts_with("restauracao")) {
            for (const auto& d : fs::recursive_directory_iterator(e.path())) {
                r[nome] += d.path().filename().string() + ":" + Ler(d.path()) + "\n";
            }
        }
    }
    return r;
}

const Restauro restauros[] = {
    // Older archives written later, a newer upload cut short and another client's: by the name.
    {"MaisRecenteSobONomePadrao", "normal", "", "", 0,
     kRemoto + kRestaurando +
         R"(\[Vendas_(\d{6})\]\nVerificando integridade\.\.\.: \[Vendas_\1\]\n)"
         R"(Restaurado: KVLN_0042_Casa_Azul_\1\.7z > \[Vendas_\1\]: íntegro\n)"
         R"(Fim da Restauração\n)",
     [](Programa& p) {
         const auto pasta = p.ftp / "backups";
         for (const char* nome :
              {"KVLN_0042_Casa_Azul_311299.7z", "KVLN_0042_Casa_Azul_010124.7z",
               "KVLN_0042_Casa_Azul_311226.7z.parcial", "KVLN_0043_Outro_311226.7z"}) {
             Gravar(pasta / nome, "não é um arquivo");
         }
         // LISTAR: this client's archives, newest first by the name's date, with their sizes
         // (Windows' console ends lines with CR LF).
         p.Ini();
         const auto lista = p.Exec({"LISTAR"});
         EXPECT_TRUE(std::regex_match(
             lista.saida, std::regex(R"(\d\d/\d\d/20\d\d +\d+  KVLN_0042_Casa_Azul_\d{6}\.7z\r?\n)"
                                     R"(01/01/2024 +18  KVLN_0042_Casa_Azul_010124\.7z\r?\n)"
                                     R"(31/12/1999 +18  KVLN_0042_Casa_Azul_311299\.7z\r?\n)")))
             << lista.saida;
     }},
    {"LocalEmBancoHostil", "normal", "<local>", "Cópia ]'{x} ção", 0,
     kInicio + R"(Extraindo\.\.\.: KVLN_0042_Casa_Azul_\d{6}\.7z\n)" + kRestaurando +
         R"(\[Cópia \]\]'\{x\} ção\]\nVerificando integridade\.\.\.: \[Cópia \]\]'\{x\} ção\]\n)"
         R"(Restaurado: .* íntegro\nFim da Restauração\n)"},
    {"BancoExistenteRecusado", "normal", "-", "Vendas_Antigo", 4,
     kRemoto + kRestaurando +
         R"(\[Vendas_Antigo\]\nErro: 0 - Restauração falhou: o banco )"
         R"(\[Vendas_Antigo\] já existe; nada foi restaurado\.\n)"},
    {"BakDanificadoApagado", "corrupt", "", "", 4,
     kRemoto + kRestaurando +
         R"(\[Vendas_\d{6}\]\nErro: 31(83|89) - Restauração falhou: .*; o banco )"
         R"(\[Vendas_\d{6}\], criado por esta restauração, foi apagado\.\n)"},
    {"CheckdbDanoMantido", "checkdb", "", "", 4,
     kRemoto + kRestaurando +
         R"(\[Vendas_\d{6}\]\nVerificando integridade\.\.\.: .*\n)"
         R"(Erro: \d+ - Verificação de integridade falhou: .*could not be processed.*; o banco )"
         R"(\[Vendas_\d{6}\] foi mantido para análise\.\n)"},
    {"SenhaErrada", "normal", "", "", 5,
     kRemoto + R"(Erro: \d+ - Teste do arquivo compactado falhou: .*\n)",
     [](Programa& p) {
         p.cfg["SenhaArquivo"] = "outra";
     }},
    {"DownloadCurto", "normal", "", "", 6,
     kInicio + R"(Baixando\.\.\.: .*\nErro: 0 - Download falhou: .*\n)", ComFtp("--size-plus-one")},
    // Names taken where 7z extracts (an interrupted run's folder, a file at the first name the
    // run would make; on Windows SQL Server's account may plant either): neither used nor removed.
    {"NomesOcupadosNaPastaDeExtracao", "normal", "", "", 0,
     kInicio +
         R"(Baixando.*\nExtraindo.*\n.*restauracao_1 já existia e ficou como estava; se for a )"
         R"(sobra de uma restauração interrompida, apague-a\.\n)" +
         kRestaurando + R"(\[Vendas_\d{6}\]\n.*\nRestaurado: .*\nFim da Restauração\n)",
     [](Programa& p) {
         fs::create_directories(p.Backups() / "restauracao");
         Gravar(p.Backups() / "restauracao" / "sobra.txt", "de outro");
         Gravar(p.Backups() / "restauracao_1", "de outro");
     }},
    // The server tells one size, then sends another (the file replaced meanwhile).
    {"TamanhoDiferenteDoInformado", "normal", "", "", 6,
     kInicio + R"(Baixando.*\nErro: 0 - Download falhou: chegaram (\d+) de (?!\1 )\d+ bytes de )"
               R"(KVLN_0042_Casa_Azul_\d{6}\.7z; nada foi restaurado\.\n)",
     ComFtp("--size-changes")},
    // A server trusted neither by its certificate nor by its host key hears nothing of the login.
    {"CertificadoDeUmEstranho", "normal", "", "", 6,
     kInicio + R"(Erro: 0 - Download falhou: a pasta do servidor não pôde ser listada: o )"
               R"(certificado do servidor não é de confiança.*\n)",
     Desconfiado("ftpes", "")},
    {"ChaveDoHostMudou", "normal", "", "", 6,
     kInicio + R"(Erro: 0 - Download falhou: a pasta do servidor não pôde ser listada: a chave )"
               R"(do servidor SSH \(SHA256:.*\n)",
     Desconfiado("sftp", "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU")},
    {"ArquivoQueNaoEstaNoServidor", "normal", "KVLN_0042_Casa_Azul_010101.7z", "", 6,
     kInicio + R"(Baixando\.\.\.: KVLN_0042_Casa_Azul_010101\.7z < 127\.0\.0\.1\n)"
               R"(Erro: 0 - Download falhou: KVLN_0042_Casa_Azul_010101\.7z: .*\n)"},
};

// Each row in a program folder of its own, its tools' temporary files in it.
template <class Linha> class Com : public ::testing::TestWithParam<Linha> {
protected:
    void SetUp() override { ::setenv("TMPDIR", p.tmp.c_str(), 1); }
    void TearDown() override { ::unsetenv("TMPDIR"); }
    Programa p;
};
using CadaRestauro = Com<Restauro>;
TEST_P(CadaRestauro, RestauraOuParaNaEtapaCerta) {
    const auto& c = GetParam();
    const auto sql = p.raiz.p / "sql";
    p.cfg["SenhaArquivo"] = "Cofre 42; até amanhã";
    p.opcoesTds = {"--data-path=" + sql.string(), "--existing=Vendas_Antigo"};
    // A backup with checksums is restored with CHECKSUM (one the server spoiled cannot be made).
    p.cfg["VerificarBackup"] = c.modo == "corrupt" ? "0" : "1";
    p.Servidores(c.modo);
    p.Ini();
    const auto exec = p.Exec();
    ASSERT_EQ(exec.codigo, 0) << exec.saida << p.Ultima();
    const auto inicio = p.Log().size();
    const auto local = p.Pacotes().at(0);
    const auto conteudo = Ler(local);
    c.antes(p);
    if (IsSkipped()) {
        return;
    }
    const auto extracao = Extracao(p);
    p.Ini();
    std::vector<std::string> argumentos{"RESTAURAR"};
    for (const auto& a : {c.arquivo, c.banco}) {
        if (!a.empty()) {
            argumentos.push_back(a == "<local>" ? Sistema().Caminho(local) : a);
        }
    }
    const auto lotesAntes = p.Lotes().size();
    const auto r = p.Exec(argumentos);
    EXPECT_EQ(r.codigo, c.codigo) << r.saida;
    EXPECT_EQ(r.saida.find("\rBaixando"), std::string::npos) << r.saida; // not a terminal
    const auto log = p.LogTexto(inicio);
    EXPECT_TRUE(std::regex_match(log, std::regex(c.log))) << log;
    // What it downloaded or extracted is gone; the user's file is as it was.
    EXPECT_EQ(p.Pacotes(), std::vector{local});
    EXPECT_EQ(Ler(local), conteudo);
    EXPECT_TRUE(p.Baks().empty());
    // What the run made where 7z extracts is gone, and only that.
    EXPECT_EQ(Extracao(p), extracao);
    // Nothing of the login reached a server not trusted.
    const auto servidor = Ler(p.raiz.p / "chaves" / "servidor.log");
    EXPECT_EQ(servidor.find("USER "), std::string::npos) << servidor;
    EXPECT_EQ(servidor.find("password"), std::string::npos) << servidor;
    // The statements: none that restores over a database; one MOVE for each file of the backup,
    // into the server's default folders, named by the new database.
    const auto lotes = p.Lotes();
    const auto ultimo = std::find_if(lotes.rbegin(), lotes.rend() - lotesAntes, [](const auto& l) {
        return l.starts_with("RESTORE DATABASE");
    });
    const std::string restauracao = ultimo == lotes.rend() - lotesAntes ? "" : *ultimo;
    EXPECT_EQ(restauracao.find("REPLACE"), std::string::npos) << restauracao;
    const bool fica = c.codigo == 0 || c.modo == "checkdb";
    EXPECT_EQ(!restauracao.empty(), fica || c.modo == "corrupt") << restauracao;
    if (fica) {
        EXPECT_TRUE(std::regex_search(
            restauracao, std::regex(R"(WITH MOVE N'Vendas' TO N'.*_1\.mdf', MOVE )"
                                    R"(N'Vendas_log' TO N'.*_2\.ldf', CHECKSUM, STATS = 10$)")))
            << restauracao;
    }
    // The restored database's files stay; none of a refused restore's does.
    EXPECT_EQ(fs::exists(sql) ? p.Arquivos(sql, ".mdf").size() : 0u, fica ? 1u : 0u);
}
INSTANTIATE_TEST_SUITE_P(Restauracao, CadaRestauro, ::testing::ValuesIn(restauros), PeloNome());

// The drill after EXEC (TesteRestauracao=1): the archive just sent, read back and restored.
struct Exercicio {
    std::string nome, modo;
    std::string ultimo; // UltimoTesteRestauracao before the run; "hoje": today's
    int codigo;
    std::string log; // the log from "Excluindo" on, a regex
};
const std::string kTestando =
    R"(Excluindo.*\nTestando a restauração\.\.\.: KVLN_0042_Casa_Azul_\d{6}\.7z > )"
    R"(\[Vendas_KelvaneTeste\]\nConectando .*\nBanco de dados conectado!\nBaixando.*\n)"
    R"(Extraindo.*\nRestaurando.*\n)";
const Exercicio exercicios[] = {
    {"ApagaERegistraAData", "normal", "01/01/2020 03:00:00", 0,
     kTestando + R"(Verificando integridade.*\nRestauração testada: KVLN_0042_Casa_Azul_\d{6}\.7z )"
                 R"(> \[Vendas_KelvaneTeste\]: íntegro\nFim do Processo\n)"},
    {"RecenteNaoRepete", "normal", "hoje", 0, R"(Excluindo.*\nFim do Processo\n)"},
    {"DanoFalhaANoite", "checkdb", "", 10,
     kTestando + R"(Verificando integridade.*\nErro: \d+ - Teste de restauração falhou: )"
                 R"(Verificação de integridade falhou: .*foi mantido para análise\.\n)"},
    {"BancoDeTesteExistenteFica", "normal", "", 10,
     R"(Excluindo.*\nTestando.*\nConectando .*\nBanco de dados conectado!\nBaixando.*\n)"
     R"(Extraindo.*\nRestaurando.*\nErro: 0 - Teste de restauração falhou: Restauração falhou: )"
     R"(o banco \[Vendas_KelvaneTeste\] já existe; nada foi restaurado e ele não foi apagado )"
     R"(\(se for de um teste anterior, apague-o: DROP DATABASE \[Vendas_KelvaneTeste\]\)\.\n)"},
};
using ExercicioAposExec = Com<Exercicio>;
TEST_P(ExercicioAposExec, ProvaOQueFoiEnviado) {
    const auto& c = GetParam();
    const auto sql = p.raiz.p / "sql";
    const auto hoje = Hoje();
    p.cfg["TesteRestauracao"] = "1";
    p.cfg["UltimoTesteRestauracao"] = c.ultimo == "hoje" ? hoje : c.ultimo;
    p.opcoesTds = {"--data-path=" + sql.string()};
    if (c.nome.find("Existente") != std::string::npos) {
        p.opcoesTds.push_back("--existing=Vendas_KelvaneTeste");
    }
    p.Servidores(c.modo);
    p.Ini();
    const auto r = p.Exec();
    EXPECT_EQ(r.codigo, c.codigo) << r.saida;
    const auto todo = p.LogTexto(), log = todo.substr(todo.find("\nExcluindo") + 1);
    EXPECT_TRUE(std::regex_match(log, std::regex(c.log))) << log;
    // The date only for a drill that passed; nothing downloaded or extracted left.
    const auto ultimo =
        kelvane::LerINI(kelvane::kSecaoInfos, "UltimoTesteRestauracao", p.dados / "info.ini");
    EXPECT_EQ(ultimo.substr(0, 10), c.codigo == 0 ? hoje : c.ultimo) << ultimo;
    EXPECT_EQ(p.Pacotes().size(), 1u);
    EXPECT_TRUE(Extracao(p).empty());
    // Only a database CHECKDB found damaged stays.
    EXPECT_EQ(fs::exists(sql) ? p.Arquivos(sql, ".mdf").size() : 0u, c.modo == "checkdb" ? 1u : 0u);
}
INSTANTIATE_TEST_SUITE_P(Restauracao, ExercicioAposExec, ::testing::ValuesIn(exercicios),
                         PeloNome());

} // namespace
