// info.ini access, credential scrambling, accent stripping.
#include "apoio.h"
#include "job/backup.h"
#include "job/retencao.h"
#include "odbc/odbc.h"
#include "settings/codificacao.h"
#include "settings/cripto.h"
#include "settings/ini.h"
#include "settings/nomes_arquivo.h"
#include "settings/texto.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace kelvane;
using namespace kelvane::teste;
using namespace std::chrono_literals;

namespace {

KELVANE_LINHA_PELO_NOME

// An info.ini in a throw-away folder.
class Ini : public ::testing::Test {
protected:
    Pasta pasta;
    const fs::path ini = pasta.p / "info.ini";
};

TEST_F(Ini, LeComoOWindows) {
    Gravar(ini,
           "; x\r\n[Outra]\r\nBanco=errado\r\n[INFOS]\r\n; Banco=comentado\r\n"
           "  codigoCLIENTE  =   0042  \r\nNomeCliente=\"  Casa Azul \"\r\nBanco = 'Vendas'\r\n"
           "Diretorio=/a=b\r\nBanco=segunda\r\nSemIgual\r\n[infos]\r\nPorta=99\r\n[Fim]\r\nX=1\r");
    std::string lidos; // then [Fim]'s X: a lone CR ending the file is no part of the value
    for (const char* chave :
         {"CodigoCliente", "NOMECLIENTE", "Banco", "Diretorio", "Porta", "SemIgual"}) {
        lidos += LerINI("infos", chave, ini) + "|";
    }
    EXPECT_EQ(lidos + LerINI("fim", "X", ini), "0042|  Casa Azul |Vendas|/a=b|||1");
    // Writing one key leaves every other line as it was, in place.
    GravarINI("Infos", "banco", "novo", ini);
    GravarINI("infos", "Porta", "21", ini);
    GravarINI("ftp", "Host", "h", ini);
    EXPECT_EQ(Ler(ini), "; x\r\n[Outra]\r\nBanco=errado\r\n[INFOS]\r\n; Banco=comentado\r\n"
                        "  codigoCLIENTE  =   0042  \r\nNomeCliente=\"  Casa Azul \"\r\n"
                        "Banco=novo\r\nDiretorio=/a=b\r\nBanco=segunda\r\nSemIgual\r\nPorta=21\r\n"
                        "[infos]\r\nPorta=99\r\n[Fim]\r\nX=1\r\n[ftp]\r\nHost=h\r\n");
}

TEST_F(Ini, ValoresVoltamIguais) {
    std::vector<std::string> valores = {
        " a", "a ", "  ", "\"", "\"a\"", "'a'", "", "=", ";x", "a \" b", std::string(300, 'x')};
    for (int b = 0x20; b <= 0xFF; ++b) { // every Windows-1252 byte, stored as itself
        valores.push_back(Cp1252ParaUtf8(std::string(1, static_cast<char>(b)) + "x"));
    }
    for (const auto& v : valores) {
        GravarINI("infos", "Senha", v, ini);
        EXPECT_EQ(LerINI("infos", "Senha", ini), v) << "[" << v << "]";
        EXPECT_NE(Ler(ini).find(Utf8ParaCp1252(v)), std::string::npos) << "[" << v << "]";
    }
    GravarINI("infos", "Banco", "x\r\nSSPI=1", ini); // a line break cannot add a key
    EXPECT_EQ(LerINI("infos", "SSPI", ini), "");
}

// What is there; how; after writing Porta=21 (the link's target for the link).
struct Existente {
    std::string nome, antes;
    std::function<void(const fs::path& ini, const fs::path& alvo)> preparar;
    std::string depois;
};
const std::string kBanco = "[infos]\nBanco=a\n", kPorta = kBanco + "Porta=21\n";
const Existente existentes[] = {
    {"DonoEGrupoDeOutraConta", kBanco,
     [](const fs::path& ini, const fs::path&) { ::chown(ini.c_str(), 65534, 65534); }, kPorta},
    {"LinkParaOArquivo", kBanco,
     [](const fs::path& ini, const fs::path& alvo) {
         fs::rename(ini, alvo);
         fs::create_symlink("real.ini", ini);
     },
     kPorta},
    {"SomenteLeituraNaoGrava", kBanco,
     [](const fs::path& ini, const fs::path&) { ::chmod(ini.c_str(), 0444); }, kBanco},
    {"MarcaUtf8NoInicio", "\xEF\xBB\xBF[infos]\r\nBanco=a\r\n",
     [](const fs::path&, const fs::path&) {}, "\xEF\xBB\xBF[infos]\r\nBanco=a\r\nPorta=21\r\n"},
};
class IniExistente : public Ini, public ::testing::WithParamInterface<Existente> {};

TEST_F(Ini, NovoSoDoDono) {
    const mode_t mascara = ::umask(0); // a new file is its owner's only, whatever the mask
    GravarINI("infos", "Senha", "x", ini);
    ::umask(mascara);
    EXPECT_EQ(fs::status(ini).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Ler(ini), "[infos]\nSenha=x\n");
}

TEST_P(IniExistente, GuardaModoDonoELink) {
    const auto& c = GetParam();
    const auto alvo = pasta.p / "real.ini";
    Gravar(ini, c.antes);
    ::chmod(ini.c_str(), 0640);
    c.preparar(ini, alvo);
    struct stat a = {}, d = {};
    ::stat(ini.c_str(), &a);
    EXPECT_EQ(LerINI("infos", "Banco", ini), "a");
    EXPECT_EQ(!GravarINI("infos", "Porta", "21", ini), c.antes != c.depois);
    EXPECT_EQ(Ler(ini), c.depois);
    ::stat(ini.c_str(), &d);
    EXPECT_EQ(std::tie(d.st_mode, d.st_uid, d.st_gid), std::tie(a.st_mode, a.st_uid, a.st_gid));
    EXPECT_EQ(fs::is_symlink(ini), fs::exists(alvo));
}
INSTANTIATE_TEST_SUITE_P(Ini, IniExistente, ::testing::ValuesIn(existentes), PeloNome());

// The window saving while the job records Executado: each reads, changes a key, replaces.
TEST_F(Ini, DoisProcessosGravandoNaoPerdemChaves) {
    const pid_t filho = ::fork();
    for (int i = 0; i < 150; ++i) {
        GravarINI("infos", (filho ? "Job" : "Janela") + std::to_string(i), std::to_string(i), ini);
    }
    if (filho == 0) {
        ::_exit(0);
    }
    ::waitpid(filho, nullptr, 0);
    for (const char* prefixo : {"Janela", "Job"}) {
        for (int i = 0; i < 150; ++i) {
            EXPECT_EQ(LerINI("infos", prefixo + std::to_string(i), ini), std::to_string(i));
        }
    }
}

TEST_F(Ini, MortoNoMeioDaGravacaoDeixaOAntigoOuONovo) {
    const std::string a(2 << 20, 'a'), b(2 << 20, 'b');
    GravarINI("infos", "Porta", "21", ini);
    const auto inicio = std::chrono::steady_clock::now(); // how long one save takes
    GravarINI("infos", "Executado", a, ini);
    const auto umaGravacao = (std::chrono::steady_clock::now() - inicio) / 1us;
    for (int i = 0; i < 40; ++i) { // kills spread over the whole save
        const std::string antes = Ler(ini);
        const pid_t filho = ::fork();
        if (filho == 0) {
            GravarINI("infos", "Executado", i % 2 ? a : b, ini);
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(umaGravacao * i / 32));
        ::kill(filho, SIGKILL);
        ::waitpid(filho, nullptr, 0);
        const auto depois = LerINI("infos", "Executado", ini);
        ASSERT_TRUE(Ler(ini) == antes || depois == (i % 2 ? a : b)) << i << ": " << depois.size();
        ASSERT_EQ(LerINI("infos", "Porta", ini), "21");
    }
}

TEST(Cripto, ParConhecidoAutoInversoELimite) {
    EXPECT_EQ(Cripto("Senha123ção"), "Qdmcd116àæm"); // Windows-1252 codes, not UTF-8 bytes
    std::string todos, x; // x: 'x' under the key's 506 letters, its 23-letter phrase repeated
    for (std::size_t i = 0; i < 506; ++i) {
        todos += Cp1252ParaUtf8(std::string(1, static_cast<char>(0x20 + i % 0xE0)));
        x += "zy{s}x{}\x7F}zwvyv}~}upwr}"[i % 23];
    }
    EXPECT_EQ(Cripto(std::string(506, 'x')), x);
    EXPECT_EQ(Cripto(Cripto(todos)), todos);
    EXPECT_THROW(Cripto(std::string(507, 'a')), ErroCripto);
}

TEST(Cp1252, Faixa80a9F) { // round trips use one table both ways: they miss two codes swapped
    const std::string bytes = "\x80\x81\x8D\x91\x92\x93\x94\x9F", texto = "€\u0081\u008D‘’“”Ÿ";
    EXPECT_EQ(Cp1252ParaUtf8(bytes) + "|" + Utf8ParaCp1252(texto), texto + "|" + bytes);
}

struct Acentos {
    std::string nome, entrada, saida;
};
const Acentos acentos[] = {
    {"Maiusculas", "ÁÀÂÄÃÉÈÊËÍÌÎÏÓÒÔÖÕÚÙÛÜÇÑ", "AAAAAEEEEIIIIOOOOOUUUUCN"},
    {"MinusculasEOrdinais", "áàâäãªéèêëíìîïóòôöõºúùûüçñ", "aaaaaaeeeeiiiioooooouuuucn"},
    {"PontuacaoSaiORestoFica", "'-@#%&*()!;:\\[]{}.|=/+ 09_,\"$?<>~^\tÅÆØß", " 09_,\"$?<>~^\tÅÆØß"},
    {"NomeDeEmpresa", "  Açaí & Cia.  ", "  Acai  Cia  "}};
class RemoverAcentos : public ::testing::TestWithParam<Acentos> {};
TEST_P(RemoverAcentos, Tabela) {
    EXPECT_EQ(kelvane::RemoverAcentos(GetParam().entrada), GetParam().saida);
}
INSTANTIATE_TEST_SUITE_P(Texto, RemoverAcentos, ::testing::ValuesIn(acentos), PeloNome());

// The statements the server runs: every name quoted so that no value ends them.
struct Comando {
    std::string nome, banco, caminho, conjunto;
    bool compressao, checksum;
    std::string sql;
    std::string verificacao = ""; // RESTORE VERIFYONLY of the same file, when given
};
const Comando comandos[] = {
    {"Comprimido", "Vendas", "/d/KVLN_1_A_010126.BAK", "1 - A", true, false,
     "BACKUP DATABASE [Vendas] TO  DISK = N'/d/KVLN_1_A_010126.BAK' WITH NOFORMAT, INIT, "
     "COMPRESSION,  NAME = N'1 - A', SKIP, NOREWIND, NOUNLOAD,  STATS = 10"},
    {"AspasEColchetes", "a]]b]; DROP x", "C:\\d'x\\y.BAK", "O'Brien - [x]", false, false,
     "BACKUP DATABASE [a]]]]b]]; DROP x] TO  DISK = N'C:\\d''x\\y.BAK' WITH NOFORMAT, INIT,  "
     "NAME = N'O''Brien - [x]', SKIP, NOREWIND, NOUNLOAD,  STATS = 10",
     "RESTORE VERIFYONLY FROM DISK = N'C:\\d''x\\y.BAK' WITH CHECKSUM, STATS = 10"},
    {"ComprimidoComChecksum", "Vendas", "/d/b.BAK", "1 - A", true, true,
     "BACKUP DATABASE [Vendas] TO  DISK = N'/d/b.BAK' WITH NOFORMAT, INIT, COMPRESSION, CHECKSUM,  "
     "NAME = N'1 - A', SKIP, NOREWIND, NOUNLOAD,  STATS = 10"},
    {"ChecksumSemCompressao", "Vendas", "/d/b.BAK", "1 - A", false, true,
     "BACKUP DATABASE [Vendas] TO  DISK = N'/d/b.BAK' WITH NOFORMAT, INIT, CHECKSUM,  NAME = "
     "N'1 - A', SKIP, NOREWIND, NOUNLOAD,  STATS = 10"},
};
class ComandoBackup : public ::testing::TestWithParam<Comando> {};
TEST_P(ComandoBackup, RespostaConhecida) {
    const auto& c = GetParam();
    EXPECT_EQ(kelvane::ComandoBackup(c.banco, c.caminho, c.conjunto, c.compressao, c.checksum),
              c.sql);
    if (!c.verificacao.empty()) {
        EXPECT_EQ(kelvane::ComandoVerificacao(c.caminho), c.verificacao);
    }
}
INSTANTIATE_TEST_SUITE_P(Backup, ComandoBackup, ::testing::ValuesIn(comandos), PeloNome());

// The backup's file name: blanks out of the code, "_" for blanks in the name, and nothing that
// would lead out of the folder or cut the name.
struct NomeBackup {
    std::string nome, codigo, cliente, arquivo;
};
const NomeBackup nomesBackup[] = {
    {"BrancosDoCodigoEDoNome", " 1 2 ", "Ab C", "KVLN_12_Ab_C_071226.BAK"},
    {"SeparadorENulo", "../1", std::string("a/b\0c", 5), "KVLN_.._1_a_b_c_071226.BAK"},
};
class NomeArquivoBackup : public ::testing::TestWithParam<NomeBackup> {};
TEST_P(NomeArquivoBackup, RespostaConhecida) {
    std::tm dia{};
    std::tie(dia.tm_year, dia.tm_mon, dia.tm_mday) = std::tuple{126, 11, 7};
    EXPECT_EQ(kelvane::NomeArquivoBackup(GetParam().codigo, GetParam().cliente, dia),
              GetParam().arquivo);
}
INSTANTIATE_TEST_SUITE_P(Backup, NomeArquivoBackup, ::testing::ValuesIn(nomesBackup), PeloNome());

// Retention on 20/12/2026 of KVLN_0042_Casa_Azul_<DDMMYY> files, keeping `manter` archives.
struct Retido {
    std::string nome;
    std::string datas; // "DDMMYY.7z" or "DDMMYY.BAK", separated by blanks
    unsigned long long manter;
    std::string antigos, futuros, baks;
};
const Retido retidos[] = {
    // A two-digit year is the one nearest today: 010127 is next month's.
    {"AnoMaisProximoDeHoje", "010127.7z 311299.7z 191226.7z", 2, "311299.7z", "010127.7z", ""},
    // Today's backup may be one the server is still writing.
    {"BakDeHojeFica", "201226.BAK 191226.BAK", 1, "", "", "191226.BAK"},
};
class ArquivosAntigos : public ::testing::TestWithParam<Retido> {};
TEST_P(ArquivosAntigos, RespostaConhecida) {
    const auto& c = GetParam();
    const auto nomes = [](const std::string& datas) {
        std::vector<std::string> r;
        std::istringstream lista(datas);
        for (std::string d; lista >> d;) {
            r.push_back("KVLN_0042_Casa_Azul_" + d);
        }
        return r;
    };
    std::tm hoje{};
    std::tie(hoje.tm_year, hoje.tm_mon, hoje.tm_mday) = std::tuple{126, 11, 20};
    const auto r =
        kelvane::ArquivosAntigos(nomes(c.datas), "00 42", "Casa Azul", "", c.manter, hoje);
    EXPECT_EQ(r.antigos, nomes(c.antigos));
    EXPECT_EQ(r.futuros, nomes(c.futuros));
    EXPECT_EQ(r.baks, nomes(c.baks));
}
INSTANTIATE_TEST_SUITE_P(Retencao, ArquivosAntigos, ::testing::ValuesIn(retidos), PeloNome());

// Connection-string values as each driver reads them back: Microsoft's drivers double "}" in
// braces; FreeTDS ends a braced value at "};" and reads a leading "{" as an opening brace.
struct Valor {
    std::string nome, valor;
    bool freetds;
    std::string esperado; // "" when refused
};
const Valor valores[] = {
    {"MicrosoftChavesEPontoEVirgula", "x}y;", false, "{x}}y;}"},
    {"MicrosoftBrancoNaPonta", " a", false, "{ a}"},
    {"FreeTdsPontoEVirgula", "x;y}z", true, "{x;y}z}"},
    {"FreeTdsChaveNoInicio", "{x", true, "{{x}"},
    {"FreeTdsBrancosSemChaves", " a b ", true, " a b "},
    {"FreeTdsFechaEPontoEVirgulaRecusado", "a};b", true, ""},
};
class ValorOdbc : public ::testing::TestWithParam<Valor> {};
TEST_P(ValorOdbc, ComoODriverLe) {
    const auto& c = GetParam();
    if (c.esperado.empty()) {
        EXPECT_THROW(kelvane::ValorOdbc(c.valor, c.freetds), ErroBanco);
    } else {
        EXPECT_EQ(kelvane::ValorOdbc(c.valor, c.freetds), c.esperado);
    }
}
INSTANTIATE_TEST_SUITE_P(Odbc, ValorOdbc, ::testing::ValuesIn(valores), PeloNome());

TEST(Odbc, TextoDeConexao) {
    EXPECT_EQ(TextoConexao("ODBC Driver 18 for SQL Server", "h", "u", "p"),
              "Driver={ODBC Driver 18 for SQL Server};Server=h;Database=master;UID=u;PWD=p;");
    EXPECT_EQ(TextoConexao("FreeTDS", "h,1", "u", "p"),
              "Driver={FreeTDS};Server=h,1;Database=master;UID=u;PWD=p;TDS_Version=7.4;");
}

} // namespace
