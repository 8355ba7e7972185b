// The job's units, then `kelvane EXEC` end to end: the real executable in a throw-away program
// folder, the database stand-in and an FTP server on 127.0.0.1, the real 7z and ncftpput (a fake
// only for failures the real ones cannot show).
#include "apoio.h"
#include "job/aviso.h"
#include "job/backup.h"
#include "job/enviador.h"
#include "job/execucao.h"
#include "job/log.h"
#include "plataforma/processo.h"
#include "plataforma/sistema.h"
#include "settings/codificacao.h"
#include "settings/cripto.h"
#include "settings/ini.h"
#include "settings/regras.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <regex>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace kelvane;
using namespace kelvane::teste;
using namespace std::string_literals;

namespace {
using teste::Execucao; // a program's run in the tests, not the job's run object

TEST(Ferramentas, SaidaLimitadaELoginPrivado) {
    KELVANE_SO_LINUX("as unidades do Linux; o kelvane.exe é testado de ponta a ponta");
    Programa p(false);
    const auto falsa = (p.dir / "falsa").string(), modo = (p.tmp / "modo").string();
    p.Falsa("falsa", "seq -f 'linha %g xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx' 20000; exit 3");
    const auto r = ShellEspera({falsa});
    EXPECT_EQ(r.codigo, 3);
    EXPECT_LE(r.saida.size(), 64u * 1024); // only the tail is kept
    EXPECT_THROW(ShellEspera({(p.dir / "nao-existe").string()}), ErroProcesso);
    // Silent past its limit: stopped then, not when it would have ended.
    plataforma::FimPrograma fim;
    const auto inicio = std::chrono::steady_clock::now();
    EXPECT_FALSE(plataforma::ExecutarPrograma(
        {"/bin/sleep", "60"}, plataforma::kSemDescritor, std::chrono::seconds(1), {},
        [](auto, auto) {}, fim));
    EXPECT_TRUE(fim.parado);
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(30));
    const auto chld = ::signal(SIGCHLD, SIG_IGN); // the kernel reaps the tool: its end is unknown
    EXPECT_THROW(ShellEspera({"/bin/true"}), ErroProcesso);
    ::signal(SIGCHLD, chld);
    // While the uploader runs: the file 0600 in a 0700 folder; removed even when it is killed.
    p.Falsa("ncftpput", "stat -c %a \"$2\" \"${2%/*}\" >" + modo + "; echo \"${2%/*}\" >>" + modo +
                            "; kill -9 $$");
    DadosFtp dados{"h", "u", "p", "21", "/"};
    EXPECT_EQ(EnviarArquivoFtp(p.dir, dados, "/x").sinal, SIGKILL);
    const auto linhas = Linhas(modo);
    EXPECT_EQ(linhas.at(0) + linhas.at(1), "600700");
    EXPECT_FALSE(fs::exists(linhas.at(2)));
    // A line break would add a line to the login file: refused before anything runs.
    dados.senha = "p\nhost outro";
    EXPECT_THROW(EnviarArquivoFtp(p.dir, dados, "/x"), std::runtime_error);
}

class Job : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("TMPDIR", p.tmp.c_str(), 1); }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    Execucao Rodar() { return p.Ini(), p.Exec(); }
    std::string Executado() const { return LerINI(kSecaoInfos, "Executado", p.dados / "info.ini"); }
    std::string LogTexto() const { return p.LogTexto(); }
    // No password, in clear or scrambled, in the output or the log.
    void SemSenhas(const Execucao& r) const {
        const std::string tudo = r.saida + LogTexto();
        for (const char* chave : {"Senha", "Passw", "SenhaArquivo"}) {
            const auto i = p.cfg.find(chave);
            const auto s = i == p.cfg.end() ? "" : i->second;
            if (s.empty() || s.size() > kTamanhoMaximoCripto) {
                continue;
            }
            EXPECT_EQ(tudo.find(s), std::string::npos) << s << " em:\n" << tudo;
            EXPECT_EQ(tudo.find(Cripto(s)), std::string::npos) << s << " em:\n" << tudo;
        }
    }
    void ConferirSucesso(const Execucao& r) {
        ASSERT_EQ(r.codigo, 0) << r.saida << p.Ultima();
        EXPECT_EQ(p.Ultima(), "Fim do Processo");
        EXPECT_TRUE(p.Baks().empty());
        ASSERT_EQ(p.Pacotes().size(), 1u);
        ASSERT_EQ(p.Enviados().size(), 1u);
        EXPECT_EQ(Ler(p.Enviados()[0]), Ler(p.Pacotes()[0]));
        const auto enviado = p.Enviados()[0].string();
        const auto senha = p.cfg["SenhaArquivo"];
        const auto com = [](std::vector<std::string> a) { // the key from the password's UTF-8
            a.insert(a.begin(), {"/usr/bin/env", "LC_ALL=C.UTF-8", "/usr/lib/p7zip/7z"});
            return a;
        };
        EXPECT_EQ(teste::Rodar(com({"t", "-p" + senha, enviado})).codigo, 0);
        if (!senha.empty()) {
            // Without the password not even the names show; with it, the backup is there.
            const auto sem = teste::Rodar(com({"l", enviado}), "\n");
            EXPECT_NE(sem.codigo, 0) << sem.saida;
            EXPECT_EQ(sem.saida.find(".BAK"), std::string::npos) << sem.saida;
            const auto lista = teste::Rodar(com({"l", "-p" + senha, enviado}));
            EXPECT_NE(lista.saida.find(".BAK"), std::string::npos) << lista.saida;
        }
        EXPECT_TRUE(std::regex_match(Executado(), std::regex(R"(\d\d/\d\d/20\d\d \d\d:\d\d:\d\d)")))
            << Executado();
        SemSenhas(r);
    }

    Programa p;
};

// Each row of a table is a test of its own, named by the row, with a program folder of its own.
template <class Linha> class JobCom : public Job, public ::testing::WithParamInterface<Linha> {};
KELVANE_LINHA_PELO_NOME

struct Sucesso {
    std::string nome;
    bool express;              // an Express edition: the backup repeated without compression
    bool claras;               // NCripto=1
    bool separar;              // as installed: the data apart, nothing of it beside the program
    std::string modo;          // of the database stand-in
    std::string silencio = ""; // SilencioBackup
    bool verificar = false;    // VerificarBackup=1: the server reads the backup back before 7z
    std::string senhaArquivo = "";
    std::string ftp = "";   // an option of ftp_server.py
    std::string aviso = ""; // the line after "Enviando...", a regex
};
const Sucesso sucessos[] = {
    {"EmbaralhadasComDadosSeparados", false, false, true, "normal"},
    {"ClarasNaEdicaoExpress", true, true, false, "express"},
    {"VerificadoNaEdicaoExpress", true, false, true, "express", "", true},
    // A backup longer than SilencioBackup that keeps reporting progress is not silent.
    {"BackupLongoQueSegueFalando", false, false, false, "slow", "1"},
    {"ArquivoComSenhaEmbaralhada", false, false, true, "normal", "", false, "Cofre 42; até amanhã"},
    {"ArquivoComSenhaClara", false, true, false, "normal", "", false, "s3nh4-clara"},
    // The size cannot be asked: said once, and the night still counts.
    {"ServidorSemSize", false, false, false, "normal", "", false, "", "--no-size",
     R"(O servidor não informou o tamanho de KVLN_0042_Casa_Azul_\d{6}\.7z \(500 .*\); )"
     R"(não foi possível conferir se o arquivo chegou inteiro\.\n)"},
};
using CadaSucesso = JobCom<Sucesso>;
TEST_P(CadaSucesso, LogLotesEPermissoes) {
    const auto& c = GetParam();
    p.cfg["NCripto"] = c.claras ? "1" : "0";
    if (!c.silencio.empty()) {
        p.cfg["SilencioBackup"] = c.silencio;
    }
    if (c.verificar) {
        p.cfg["VerificarBackup"] = "1";
    }
    p.cfg["SenhaArquivo"] = c.senhaArquivo;
    if (!c.ftp.empty()) {
        p.opcoesFtp = {c.ftp};
    }
    p.Servidores(c.modo);
    if (c.separar) {
        p.Separar();
    }
    // What 7z is handed besides its input (through Wine the relay's Linux side would show
    // Wine's own environment: Linux only).
    const auto vistos = p.raiz.p / "argumentos-7z";
    if (!c.senhaArquivo.empty() && !Sistema().windows) {
        p.Falsa("7z", "printf '%s\\n' \"$@\" >>" + vistos.string() + "; env >>" + vistos.string() +
                          "; exec /usr/lib/p7zip/7z \"$@\"");
    }
    const auto antes = std::time(nullptr);
    ::setenv("KELVANE_WINEDEBUG", "-all,+eventlog", 1);
    const auto r0 = Rodar();
    ::unsetenv("KELVANE_WINEDEBUG");
    ASSERT_NO_FATAL_FAILURE(ConferirSucesso(r0));
    EXPECT_TRUE(!Sistema().windows || // an information event
                r0.saida.find("trace:eventlog:ReportEventW L\"Fim do Processo\"") !=
                    std::string::npos)
        << r0.saida;
    if (fs::exists(vistos)) {
        const auto texto = Ler(vistos);
        EXPECT_NE(texto.find("\nt\n"), std::string::npos) << texto; // both steps went through it
        EXPECT_EQ(texto.find(c.senhaArquivo), std::string::npos) << texto;
        EXPECT_EQ(texto.find(Cripto(c.senhaArquivo)), std::string::npos) << texto;
    }
    std::string relogio; // the first line whole and the log's name, at each second of the run
    for (auto t = antes; t <= std::time(nullptr); ++t) {
        char s[80];
        std::strftime(s, sizeof s, "|%d/%m/%Y %T : Inicio do Processo|Log_%d%m%y_%H%M.Log|",
                      std::localtime(&t));
        relogio += s;
    }
    const auto log = p.Arquivos(p.dados / "Log", "").at(0);
    EXPECT_NE(relogio.find("|" + log.filename().string() + "|"), std::string::npos) << relogio;
    auto primeira = Linhas(log).at(0); // without the CR of Windows' line ends
    primeira.resize(primeira.size() - Sistema().windows);
    EXPECT_NE(relogio.find("|" + primeira + "|"), std::string::npos) << relogio;
    const std::string n = R"(\)" + Sistema().separador + R"(KVLN_0042_Casa_Azul_\d{6})";
    EXPECT_TRUE(std::regex_match(
        LogTexto(),
        std::regex("Inicio do Processo\nConectando ao Servidor de Banco: " + p.cfg["ServidorDB"] +
                   "\nBanco de dados conectado!\nBackup\\.\\.\\.: Vendas > " + n + R"(\.BAK\n)" +
                   (c.express
                        ? R"(O servidor não aceita backup com compressão \(edição Express\); )"
                          R"(repetindo o backup sem compressão\.\n)"
                        : "") +
                   (c.verificar ? R"(Verificando\.\.\.: )" + n + R"(\.BAK\n)" : "") +
                   R"(Compactando\.\.\.: )" + n + R"(\.7z\nEnviando\.\.\.: )" + n +
                   R"(\.7z > 127\.0\.0\.1\n)" + c.aviso + R"(Excluindo\.\.\.: )" + n +
                   R"(\.BAK\nFim do Processo\n)")))
        << LogTexto();
    const auto bak =
        Sistema().Caminho(p.Backups() / p.Pacotes()[0].filename().replace_extension(".BAK"));
    const std::string comando = "BACKUP DATABASE [Vendas] TO  DISK = N'" + bak +
                                "' WITH NOFORMAT, INIT, COMPRESSION,  NAME = N'00 42 - Casa "
                                "Azul', SKIP, NOREWIND, NOUNLOAD,  STATS = 10";
    const auto sem = std::regex_replace(comando, std::regex("COMPRESSION, "), "");
    if (c.verificar) { // the texts are ComandoBackup's unit rows; here what is sent, in order
        const auto f = [&](bool compressao) {
            return ComandoBackup("Vendas", bak, "00 42 - Casa Azul", compressao, true);
        };
        EXPECT_EQ(p.Lotes(), (std::vector{f(true), f(false), ComandoVerificacao(bak)}));
    } else {
        EXPECT_EQ(p.Lotes(), (c.express ? std::vector{comando, sem} : std::vector{comando}));
    }
    // The archive holds a whole database, the log its server's names: the owner's only
    // (Windows: the folder's permissions, which they inherit).
    const auto outros = fs::perms::group_all | fs::perms::others_all;
    EXPECT_TRUE(Sistema().windows ||
                (fs::status(p.Pacotes()[0]).permissions() & outros) == fs::perms::none);
    EXPECT_TRUE(Sistema().windows || (fs::status(log).permissions() & outros) == fs::perms::none);
}
INSTANTIATE_TEST_SUITE_P(Job, CadaSucesso, ::testing::ValuesIn(sucessos), PeloNome());

bool Esperar(const std::function<bool()>& condicao) {
    for (int i = 0; i < 6000 && !condicao(); ++i) { // 60 s: only so a broken test ends
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condicao();
}

// Whether a process whose command line names `pasta` still runs (a tool the job started; under
// Wine the Linux program the relay started).
bool AlgoRodaEm(const fs::path& pasta) {
    for (const auto& e : fs::directory_iterator("/proc")) {
        if (Ler(e.path() / "cmdline").find(pasta.string()) != std::string::npos) {
            return true;
        }
    }
    return false;
}

struct Falha {
    std::string nome;
    std::function<void(Programa&)> preparar;
    int codigo;
    std::string ultima; // the start of the last log line
    bool bakFica, pacoteFica;
    std::string modo = "normal";   // of the database stand-in
    const char* soLinux = nullptr; // why the case cannot exist on Windows
    std::string recusa = "";       // the line before the last, whole ("{porta}": the stand-in's)
};
// Lays `de` over `sobre` for the run alone, in a mount namespace of its own.
void Montar(Programa& p, const fs::path& de, const fs::path& sobre) {
    const std::string montar = "mount --bind \"$0\" \"$1\" && shift && exec \"$@\"";
    p.envolver = {"/usr/bin/unshare", "--mount",     "/bin/sh", "-c", montar,
                  de.string(),        sobre.string()};
}
// Another account's database stand-in on `endereco`, as any account may listen while SQL Server
// is down, named in ServidorDB; `mais`: what else it is started with.
void DeOutraConta(Programa& p, const std::string& endereco, std::vector<std::string> mais = {},
                  const std::vector<std::string>& envolver = {}) {
    mais.insert(mais.end(), {"--uid=65534", "--host=" + endereco,
                             "--logins=" + (p.raiz.p / "logins.txt").string()});
    p.tds = std::make_unique<Servidor>("tds_server.py", mais, envolver);
    const auto host = endereco.find(':') == std::string::npos ? endereco : "[" + endereco + "]";
    p.cfg["ServidorDB"] = host + "," + std::to_string(p.tds->porta);
}
// The same in a network namespace of the row's own, where this machine has 192.0.2.77/24 and
// 2001:db8::77/64 on an interface of its network (a veth pair) besides loopback. The job runs
// there with ServidorDB `servidor` ("{porta}": the stand-in's) and, with `arquivo`, a file of /etc
// written over for the run.
std::function<void(Programa&)> NaRede(const std::string& endereco, const std::string& servidor,
                                      std::pair<std::string, std::string> arquivo = {},
                                      std::vector<std::string> mais = {}) {
    return [=](Programa& p) {
        const std::string rede =
            "ip link set lo up && ip link add k0 type veth peer name k1 && "
            "ip addr add 192.0.2.77/24 dev k0 && ip addr add 2001:db8::77/64 dev k0 nodad && "
            "ip link set k1 up && ip link set k0 up";
        const auto prova = teste::Rodar({"/usr/bin/unshare", "--net", "--mount", "/bin/sh", "-c",
                                         rede + " && mount --bind /etc/hosts /etc/hosts"});
        if (prova.codigo != 0) {
            GTEST_SKIP() << "sem namespace de rede e de montagem aqui: " << prova.saida;
        }
        DeOutraConta(
            p, endereco, mais,
            {"/usr/bin/unshare", "--net", "/bin/sh", "-c", rede + " && exec \"$@\"", "sh"});
        if (!arquivo.first.empty()) {
            Gravar(p.raiz.p / "etc", arquivo.second);
            Montar(p, p.raiz.p / "etc", arquivo.first);
        }
        p.envolver.insert(
            p.envolver.begin(),
            {"/usr/bin/nsenter", "--net=/proc/" + std::to_string(p.tds->pid) + "/ns/net"});
        p.cfg["ServidorDB"] = Trocar(servidor, {{"{porta}", std::to_string(p.tds->porta)}});
    };
}
const char* const kWineNaoVe = "o Wine mostra o socket de um programa Linux, de qualquer conta, "
                               "como de processo nenhum (pid 0)";
const char* const kWineForaDaRede =
    "o Wine lê as interfaces e as conexões no wineserver compartilhado, fora do namespace de rede "
    "do teste, e mostra o socket de um programa Linux como de processo nenhum (pid 0)";
const char* const kRecusaNobody =
    "Erro ao conetar no banco: a porta {porta} deste computador está aberta por outro programa "
    "que não o SQL Server (conta nobody); o login não foi enviado. Inicie o SQL Server";
const std::string kSaindo = "Tarefa não executada. SAINDO";
const Falha falhas[] = {
    {"ServidorAceitaENaoResponde", [](Programa&) {}, 3, kSaindo, false, false, "mute"},
    {"BackupFalhaAos30", [](Programa&) {}, 4, "Erro: 3202 - Backup do banco falhou: ", true, false,
     "fail"},
    // A page spoilt between the server's write and its read: caught before anything is packed.
    {"BackupComUmaPaginaEstragada", [](Programa& p) { p.cfg["VerificarBackup"] = "1"; }, 4,
     "Erro: 3183 - Verificação do backup falhou: [FreeTDS][SQL Server]RESTORE detected an error "
     "on page (1:64) in database \"Vendas\" as read from the backup set. [FreeTDS][SQL "
     "Server]VERIFY DATABASE is terminating abnormally.",
     true, false, "corrupt"},
    {"VerificacaoCalada",
     [](Programa& p) { p.cfg["VerificarBackup"] = "1", p.cfg["SilencioBackup"] = "2"; }, 4,
     "Erro: 0 - Verificação do backup falhou: o servidor não respondeu por 2 s", true, false,
     "silent-verify"},
    {"ConexaoCaiAos30", [](Programa&) {}, 4, "Erro: ", true, false, "drop"},
    {"ArquivoNaoPassaNoTeste",
     [](Programa& p) {
         p.Falsa("7z", "[ \"$1\" = a ] || exec /usr/lib/p7zip/7z \"$@\"\n"
                       "for a; do case \"$a\" in *.7z) echo lixo >\"$a\";; esac; done");
     },
     5, "Erro: 2 - Teste do arquivo compactado falhou: 7z t ", true, true},
    // A 7z that packs without encrypting (one built without AES would): never sent.
    {"SeteZipIgnoraASenha",
     [](Programa& p) {
         p.cfg["SenhaArquivo"] = "segredo do arquivo";
         p.Falsa("7z", "for a; do shift; case \"$a\" in -p|-mhe=on) ;; *) set -- \"$@\" \"$a\";; "
                       "esac; done; exec /usr/lib/p7zip/7z \"$@\"");
     },
     5,
     "Erro: 0 - Teste do arquivo compactado falhou: o arquivo se abre sem a senha (SenhaArquivo); "
     "ele não foi enviado.",
     true, true},
    // SQL Server's account, which may change the .BAK's folder, leaves a link to a folder there
    // (Wine shows it as a junction): 7z would pack and send the folder.
    {"BackupTrocadoPorUmLink", [](Programa&) {}, 5, "Erro: 0 - Compactação falhou: ", true, false,
     "link"},
    // Too long to have been scrambled: no password to pack with.
    {"SenhaDoArquivoIlegivel", [](Programa& p) { p.cfg["SenhaArquivo"] = std::string(600, 's'); },
     5,
     "Erro: 0 - Compactação falhou: a senha do arquivo (SenhaArquivo) está ilegível: texto de 600 "
     "caracteres excede o limite de 506 da criptografia; nada foi compactado nem enviado.",
     true, false},
    {"EnviadorRepeteOLoginNaSaida",
     [](Programa& p) { p.Falsa("ncftpput", "cat \"$2\" >&2; exit 3"); }, 6,
     "Erro: 3 - Envio falhou: ", true, true},
    // As some schedulers start jobs.
    {"SenhaDoFtpErradaComSigchldIgnorado", [](Programa& p) { p.cfg["Passw"] = "errada P4ss"; }, 6,
     "Erro: 1 - Envio falhou: ncftpput terminou com código 1", true, true},
    {"ServidorRecusaRenomearOEnviado", ComFtp("--no-rename"), 6,
     "Erro: 3 - Envio falhou: ncftpput terminou com código 3 (o servidor recusou renomear ", true,
     true},
    // 226, and a file cut short: it must not keep the archive's name.
    {"ServidorGuardaMenosDoQueRecebeu", ComFtp("--short"), 6,
     "Erro: 0 - Envio falhou: o servidor guardou ", true, true},
    {"ServidorGuardaUmArquivoVazio", ComFtp("--empty"), 6,
     "Erro: 0 - Envio falhou: o servidor guardou 0 de ", true, true},
    // libssh2 would take the FTP greeting for text before an SSH one and wait for the rest.
    {"SftpNaPortaDeUmServidorFtp", [](Programa& p) { p.cfg["Endereco"] = "sftp://localhost"; }, 6,
     "Erro: 0 - Envio falhou: o servidor respondeu como um servidor FTP na porta ", true, true},
    {"PortaDoFtpQueNaoENumero", [](Programa& p) { p.cfg["Porta"] = "abc"; }, 6,
     "Erro: 0 - Envio falhou: a porta do FTP (Porta=abc) não é um número de 1 a 65535; nada "
     "foi enviado.",
     false, false},
    {"LogImpossivelDeGravar", [](Programa& p) { Gravar(p.dados / "Log", "x"); }, 1, "", false,
     false},
    // Whoever could plant a link where the log goes would have the job write where it leads.
    {"LogEUmLink",
     [](Programa& p) {
         fs::create_directory(p.dados / "Log");
         Privado(p.dados / "Log");
         for (int minuto = -1; minuto <= 5; ++minuto) { // whenever the run starts
             const auto t = std::time(nullptr) + minuto * 60;
             fs::create_symlink(p.raiz.p / "fora.log",
                                p.dados / "Log" / NomeArquivoLog(*std::localtime(&t)));
         }
     },
     1, "", false, false, "normal", "o Wine mostra um link do Linux como o arquivo a que leva"},
    // The server reads the archive at 256 B/s: it would take 2 minutes and never go silent.
    {"ServidorFtpAContaGotas",
     [](Programa& p) {
         p.opcoesFtp = {"--trickle"};
         p.Servidores("normal", 128 * 1024); // an archive under 64 KiB: 1 s more
         p.cfg["LimiteEtapa"] = "8";
     },
     6,
     "Erro: 0 - Envio falhou: ncftpput não terminou em 9 s e foi interrompido (limite da "
     "etapa: 8 s mais 1 s a cada 64 KiB do arquivo; para um link lento, aumente LimiteEtapa "
     "no info.ini)",
     true, true},
    {"LoginAContaGotas", [](Programa&) {}, 3, kSaindo, false, false, "trickle"},
    {"ServidorCaladoApos10", [](Programa& p) { p.cfg["SilencioBackup"] = "2"; }, 4,
     "Erro: 0 - Backup do banco falhou: o servidor não respondeu por 2 s", true, false, "silent"},
    // The server's account holds info.ini's folder lock: the run ends, without Executado (the
    // archive goes to the FTP root, outside the folder checked below).
    {"PastaTravadaPorOutraConta", [](Programa& p) { p.cfg["Diretorio"] = "/"; }, 0,
     "Fim do Processo", false, true, "lock", "a trava de pasta do Linux (flock)"},
    // Another account on the server's port, as any may be while SQL Server is down: the login
    // never leaves, however this machine is named.
    {"PortaDoSqlServerAbertaPorOutraConta", [](Programa& p) { DeOutraConta(p, "127.0.0.1"); }, 3,
     kSaindo, false, false, "normal", kWineNaoVe, kRecusaNobody},
    // On [::1] alone: IPv6's table of listeners is read as well.
    {"PortaAbertaPorOutraContaSoEmIpv6", [](Programa& p) { DeOutraConta(p, "::1"); }, 3, kSaindo,
     false, false, "normal", kWineNaoVe, kRecusaNobody},
    {"EsteComputadorPeloEnderecoDaRede", NaRede("192.0.2.77", "192.0.2.77,{porta}"), 3, kSaindo,
     false, false, "normal", kWineForaDaRede, kRecusaNobody},
    {"EsteComputadorPeloEnderecoIpv6DaRede", NaRede("2001:db8::77", "[2001:db8::77],{porta}"), 3,
     kSaindo, false, false, "normal", kWineForaDaRede, kRecusaNobody},
    {"EsteComputadorPorUmNomeDaRede",
     NaRede("0.0.0.0", "sql.kelvane.test,{porta}", {"/etc/hosts", "192.0.2.77 sql.kelvane.test\n"}),
     3, kSaindo, false, false, "normal", kWineForaDaRede, kRecusaNobody},
    // A name server that never answers: the job does not wait for the system to give up.
    {"NomeDoServidorSemResposta",
     NaRede("192.0.2.77", "sql.kelvane.test,{porta}",
            {"/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:2\n"},
            {"--silent-dns"}),
     3, kSaindo, false, false, "normal", kWineForaDaRede,
     "Erro ao conetar no banco: o nome sql.kelvane.test (ServidorDB) não foi resolvido em 5 s; o "
     "login não foi enviado"},
    // Named pipes and shared memory, whose listener nothing here tells apart.
    {"ProtocoloQueNaoETcp", [](Programa& p) { p.cfg["ServidorDB"] = "np:\\\\.\\pipe\\sql\\query"; },
     3, kSaindo, false, false, "normal", nullptr,
     "Erro ao conetar no banco: o protocolo np: em ServidorDB não é aceito, só TCP; o login não "
     "foi enviado. Escreva o servidor sem ele (servidor,porta)"},
};
using CadaFalha = JobCom<Falha>;
TEST_P(CadaFalha, TemSeuCodigoEGuardaOQueNaoFoiEnviado) {
    const auto& c = GetParam();
    if (Sistema().windows && c.soLinux) {
        GTEST_SKIP() << c.soLinux;
    }
    if (!c.recusa.empty() && ::geteuid() != 0) {
        GTEST_SKIP() << "só root inicia o servidor como outra conta";
    }
    p.Servidores(c.modo);
    c.preparar(p);
    if (IsSkipped()) {
        return;
    }
    p.Ini();
    ::setenv("KELVANE_WINEDEBUG", "-all,+eventlog", 1); // Wine traces what it is handed
    const auto r = c.nome.ends_with("SigchldIgnorado") && !Sistema().windows
                       ? teste::Rodar({"/usr/bin/env", "--ignore-signal=CHLD",
                                       (p.dir / "kelvane").string(), "EXEC"})
                       : p.Exec();
    ::unsetenv("KELVANE_WINEDEBUG");
    EXPECT_EQ(r.codigo, c.codigo) << r.saida << p.Ultima();
    if (Sistema().windows) { // an error event, which any user may read: the outcome alone
        const auto inicio = r.saida.find("err:eventlog:ReportEventW L\"");
        ASSERT_NE(inicio, std::string::npos) << r.saida;
        const auto evento = r.saida.substr(inicio, r.saida.find('\n', inicio) - inicio);
        const auto ultima = p.Ultima(); // "Erro: N - ..." or the connection's "Tarefa não ..."
        const auto erro = ultima.starts_with("Erro: ") ? ultima.substr(0, ultima.find(" - ") + 3)
                                                       : std::string("Erro: 0 - ");
        EXPECT_NE(evento.find(erro), std::string::npos) << evento;
        EXPECT_NE(evento.find(" " + std::to_string(c.codigo) + "); "), std::string::npos) << evento;
        for (const char* detalhe : {"127.0.0.1", "Z:", "ncftpput", "7z"}) { // server, path, tool
            EXPECT_EQ(evento.find(detalhe), std::string::npos) << evento;
        }
        EXPECT_EQ(r.saida.find("trace:eventlog:"), std::string::npos) << r.saida;
    }
    EXPECT_EQ(p.Ultima().rfind(c.ultima, 0), 0u) << p.Ultima();
    EXPECT_EQ(!p.Baks().empty(), c.bakFica);
    EXPECT_EQ(!p.Pacotes().empty(), c.pacoteFica);
    EXPECT_TRUE(p.Enviados().empty());
    EXPECT_EQ(Executado(), "");
    EXPECT_TRUE(Esperar([&] { return !AlgoRodaEm(p.dir); })); // nothing goes on sending
    SemSenhas(r);
    if (!c.recusa.empty()) {
        const auto log = p.Log();
        EXPECT_EQ(log.at(log.size() - 2),
                  Trocar(c.recusa, {{"{porta}", std::to_string(p.tds->porta)}}));
        EXPECT_TRUE(p.Logins().empty());
    }
}
INSTANTIATE_TEST_SUITE_P(Job, CadaFalha, ::testing::ValuesIn(falhas), PeloNome());

// `kelvane SENHAARQUIVO` with the answers on stdin (no terminal): set twice alike, scrambled as
// NCripto says; two that differ change nothing; empty clears; a data folder others can read is
// refused before anything is read. The first two save while another process holds the folder's
// lock (Linux: flock on the folder; Windows: byte 1 of kelvane.lock, which Wine keeps as a POSIX
// lock): both wait for its release and take it in turn.
TEST_F(Job, SenhaArquivoDigitadaDuasVezes) {
    p.Separar();
    const auto senha = [&] {
        return LerINI(kSecaoInfos, "SenhaArquivo", p.dados / "info.ini");
    };
    const auto rodar = [&](const std::string& entrada) {
        return teste::Rodar(p.Comando({"SENHAARQUIVO"}), entrada);
    };
    const bool w = Sistema().windows;
    const int trava = ::open((w ? p.dados / "kelvane.lock" : p.dados).c_str(),
                             w ? O_RDWR | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC, 0600);
    struct flock byte1 = {F_WRLCK, SEEK_SET, 1, 1, 0};
    ASSERT_EQ(w ? ::fcntl(trava, F_OFD_SETLK, &byte1) : ::flock(trava, LOCK_EX), 0);
    std::thread soltar([trava] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        ::close(trava);
    });
    std::thread outro([&] { EXPECT_EQ(rodar("nova senha\nnova senha\n").codigo, 0); });
    auto r = rodar("nova senha\nnova senha\n");
    soltar.join();
    outro.join();
    EXPECT_EQ(r.codigo, 0) << r.saida;
    EXPECT_EQ(senha(), Cripto("nova senha"));
    EXPECT_EQ(r.saida.find("nova senha"), std::string::npos) << r.saida;
    r = rodar("outra\noutr4\n");
    EXPECT_EQ(r.codigo, 1) << r.saida;
    EXPECT_EQ(senha(), Cripto("nova senha"));
    r = rodar("\n\n");
    EXPECT_EQ(r.codigo, 0) << r.saida;
    EXPECT_EQ(senha(), "");
    ::chmod(p.dados.c_str(), 0755);
    EXPECT_EQ(rodar("x1z\nx1z\n").codigo, 9);
    EXPECT_EQ(senha(), "");
}

// The encrypted schemes against real servers: vsftpd with TLS required for the login and the
// data, OpenSSH's sshd; a CA and a host key made for the run.
struct Cifrado {
    std::string nome, modo;
    std::function<void(Programa&, const fs::path& chaves)> preparar;
    int codigo;
    std::string ultima; // the start of the last log line ("Fim do Processo": arrived whole)
    std::string servidor = "localhost";
    std::string opcao = ""; // of cifrado_server.py
};
// The test CA as CertificadoFTP: public, as a CA's certificate is; only root can change it.
void ComCa(Programa& p, const fs::path& chaves) {
    fs::permissions(chaves / "ca.crt", fs::perms::owner_read | fs::perms::owner_write |
                                           fs::perms::group_read | fs::perms::others_read);
    p.cfg["CertificadoFTP"] = Sistema().Caminho(chaves / "ca.crt");
}
void ComChave(Programa& p, const fs::path& chaves) {
    p.cfg["ChaveHostFTP"] = Impressao(chaves);
}
const Cifrado cifrados[] = {
    {"FtpesComACaDoCertificadoFTP", "ftpes", ComCa, 0, "Fim do Processo"},
    {"FtpesEmTls12", "ftpes", ComCa, 0, "Fim do Processo", "localhost", "--tls12"},
    // Whoever could swap the CA could read the upload on the way: nothing runs.
    {"CertificadoQueOutrosAlteram", "ftpes",
     [](Programa& p, const fs::path& c) {
         ComCa(p, c);
         // (Wine builds a file's rights from its mode and knows no groups: there, everyone's.)
         fs::permissions(c / "ca.crt",
                         Sistema().windows ? fs::perms::others_write : fs::perms::group_write,
                         fs::perm_options::add);
     },
     9, "Permissões inseguras: "},
    {"CertificadoNumaPastaDeOutraConta", "ftpes",
     [](Programa& p, const fs::path& c) { ComCa(p, c), ::chown(c.c_str(), 65534, 65534); }, 9,
     "Permissões inseguras: "},
    // A server (or someone in the middle) that refuses TLS never gets the login in clear.
    {"ServidorSemTls", "ftpes", ComCa, 6,
     "Erro: 0 - Envio falhou: o servidor não aceitou TLS (AUTH TLS); o usuário e a senha não "
     "foram enviados",
     "localhost", "--no-tls"},
    // Silent after accepting: the step's limit ends it, well before the login's own 60 s.
    {"ServidorCalado", "ftpes", [](Programa& p, const fs::path&) { p.cfg["LimiteEtapa"] = "3"; }, 6,
     "Erro: 0 - Envio falhou: o servidor não respondeu a tempo (Operation timed out after ",
     "localhost", "--stall"},
    {"FtpsImplicitoNaPortaDada", "ftps", ComCa, 0, "Fim do Processo"},
    {"CertificadoDeUmEstranho", "ftpes", [](Programa&, const fs::path&) {}, 6,
     "Erro: 0 - Envio falhou: o certificado do servidor não é de confiança"},
    // A CA of the same name as the one that signed it, another key: trusted only by its name.
    {"CertificadoDeOutraCaDeMesmoNome", "ftpes",
     [](Programa& p, const fs::path& c) {
         teste::Rodar({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                       (c / "outra.key").string(), "-out", (c / "outra.crt").string(), "-days", "1",
                       "-subj", "/CN=Kelvane Teste CA"});
         Privado(c / "outra.crt");
         p.cfg["CertificadoFTP"] = Sistema().Caminho(c / "outra.crt");
     },
     6, "Erro: 0 - Envio falhou: o certificado do servidor não é de confiança"},
    {"CertificadoExpirado", "ftpes", ComCa, 6,
     "Erro: 0 - Envio falhou: o certificado do servidor expirou", "localhost", "--expired"},
    {"CertificadoDeOutroNome", "ftpes", ComCa, 6,
     "Erro: 0 - Envio falhou: o certificado do servidor não é do nome 127.0.0.1", "127.0.0.1"},
    // Debian's sshd offers ECDSA (which libssh2 takes first), RSA and Ed25519 host keys; then
    // each of the others alone.
    {"ChaveDoHostRegistrada", "sftp", ComChave, 0, "Fim do Processo"},
    {"ChaveEd25519", "sftp", ComChave, 0, "Fim do Processo", "localhost", "--host-keys=ed25519"},
    {"ChaveRsaSha2", "sftp", ComChave, 0, "Fim do Processo", "localhost", "--host-keys=rsa"},
    {"ChaveDoHostDesconhecida", "sftp", [](Programa&, const fs::path&) {}, 6,
     "Erro: 0 - Envio falhou: a chave do servidor SSH não está registrada em ChaveHostFTP"},
    {"ChaveDoHostMudou", "sftp",
     [](Programa& p, const fs::path&) {
         p.cfg["ChaveHostFTP"] = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
     },
     6, "Erro: 0 - Envio falhou: a chave do servidor SSH (SHA256:"},
    {"SenhaSftpErrada", "sftp",
     [](Programa& p, const fs::path& c) { ComChave(p, c), p.cfg["Passw"] = "errada P4ss"; }, 6,
     "Erro: 0 - Envio falhou: o servidor recusou o usuário ou a senha"},
};
using CadaCifrado = JobCom<Cifrado>;
TEST_P(CadaCifrado, SoComQuemSeConfia) {
    const auto& c = GetParam();
    KELVANE_SO_ROOT("vsftpd e sshd precisam de root e de uma conta de teste");
    if (!Sistema().windows && c.nome == "ChaveRsaSha2") {
        GTEST_SKIP() << "o libssh2 1.10 do Debian 12 só pede chaves RSA como ssh-rsa (SHA-1), "
                        "que o OpenSSH 8.8 e posteriores recusam";
    }
    p.Servidores();
    const auto chaves = p.raiz.p / "chaves";
    const auto servidor = ServidorCifrado(p.raiz.p, chaves, c.modo, c.opcao);
    p.cfg["Endereco"] = c.modo + "://" + c.servidor;
    p.cfg["Porta"] = std::to_string(servidor->porta);
    p.cfg["Diretorio"] = (p.ftp / "backups").string();
    p.cfg["Usuario"] = "kelvaneteste";
    p.cfg["Passw"] = kSenhaCifrado;
    c.preparar(p, chaves);
    fs::remove(p.dir / ("ncftpput" + Sistema().sufixo)); // plain FTP's alone
    const auto inicio = std::chrono::steady_clock::now();
    const auto r = Rodar();
    if (c.opcao == "--stall") { // at the step's limit: the login's own ends at 60 s
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(55));
    }
    EXPECT_EQ(r.codigo, c.codigo) << r.saida << LogTexto();
    EXPECT_EQ(p.Ultima().rfind(c.ultima, 0), 0u) << p.Ultima();
    SemSenhas(r);
    const std::string log = Ler(chaves / "servidor.log");
    if (c.codigo == 0) {
        ASSERT_EQ(p.Enviados().size(), 1u);
        EXPECT_EQ(Ler(p.Enviados()[0]), Ler(p.Pacotes()[0]));
        EXPECT_TRUE(p.Arquivos(p.ftp / "backups", ".parcial").empty());
        // Upload, size and rename on one login.
        const std::string login = c.modo == "sftp" ? "Accepted password" : "OK LOGIN";
        EXPECT_TRUE(log.find(login) != std::string::npos && log.find(login) == log.rfind(login))
            << log;
        return;
    }
    EXPECT_TRUE(p.Enviados().empty());
    EXPECT_EQ(p.Pacotes().size(), c.codigo == 6 ? 1u : 0u);
    // Nothing of the login reached a server not trusted.
    if (c.modo != "sftp") {
        EXPECT_EQ(log.find("\"USER "), std::string::npos) << log;
    } else if (c.nome.starts_with("ChaveDoHost")) {
        EXPECT_EQ(log.find("password"), std::string::npos) << log;
        EXPECT_NE(LogTexto().find("ChaveHostFTP=" + Impressao(chaves)), std::string::npos)
            << LogTexto();
    }
}
INSTANTIATE_TEST_SUITE_P(Job, CadaCifrado, ::testing::ValuesIn(cifrados), PeloNome());

// vsftpd 3.0.3 with TLS 1.3 sends session tickets at any time during an upload: a client that
// closes with them unread (or arriving) has the connection reset and the file's end lost (426).
TEST_F(Job, EnviosSeguidosPorTlsChegamInteiros) {
    KELVANE_SO_LINUX("a unidade de transferência do Linux, no processo do teste; o kelvane.exe "
                     "fecha a conexão de dados do mesmo modo em cada linha FTPES acima, e o "
                     "Schannel do Wine não tem TLS 1.3");
    KELVANE_SO_ROOT("o vsftpd precisa de root e de uma conta de teste");
    const auto arquivo = p.raiz.p / "arquivo";
    Gravar(arquivo, std::string(300 * 1000, 'k'));
    for (const std::string opcao : {"", "--tls12"}) {
        const auto servidor =
            ServidorCifrado(p.raiz.p, p.raiz.p / ("chaves" + opcao), "ftpes", opcao);
        plataforma::Transferencia t(
            {plataforma::Esquema::Ftpes, "localhost", std::to_string(servidor->porta),
             "kelvaneteste", kSenhaCifrado, (p.ftp / "backups").string(),
             p.raiz.p / ("chaves" + opcao) / "ca.crt", "", std::chrono::seconds(20)});
        for (int i = 0; i < 50; ++i) {
            const std::string nome = "envio" + std::to_string(i) + opcao;
            const auto falha = t.Enviar(arquivo, nome);
            ASSERT_FALSE(falha) << opcao << " " << i << ": " << falha->motivo;
            plataforma::TamanhoRemoto tamanho;
            ASSERT_FALSE(t.Tamanho(nome, tamanho));
            EXPECT_EQ(tamanho.bytes, 300u * 1000) << nome;
        }
        EXPECT_NE(t.Descrever().tls.find(opcao.empty() ? "TLSv1.3" : "TLSv1.2"), std::string::npos)
            << t.Descrever().tls;
    }
}

// Whoever else can create a name in the folder, or replace what it loads, must not make the job
// (or the window) run their code or write where they choose: nothing is loaded or written, the
// line goes to stderr, no heartbeat leaves.
struct Permissao {
    std::string nome;
    std::function<void(Programa&)> preparar;
    int codigo;
    std::string saida;  // stderr after "Kelvane: Permissões inseguras: ", "|" for the fix's
                        // words; "" when the run logs
    std::string ultima; // the start of the last log line
    bool janela = false;
    // On Windows: "-" when the case has no form there (Linux's owners and modes), "" when it
    // is the same, or the start of the line on stderr (owners and ACLs as Wine shows them).
    std::string windows = "-";
    bool comoNobody = false; // the run as uid 65534, which owns the data
};

// Outside every program folder, for the whole table: a folder ("{F}") for what the rows plant,
// the monitor, and a driver name of this process's own.
struct Fora {
    Pasta pasta;
    fs::path marca = pasta.p / "marca", avisos = pasta.p / "avisos", alheia = pasta.p / "alheia",
             biblioteca = pasta.p / "libkvdriver.so";
    Servidor monitor{"aviso_server.py", {avisos.string()}};
    std::string driver = "Kelvane Teste " + std::to_string(::getpid()),
                chaveDriver = "HKLM\\SOFTWARE\\ODBC\\ODBCINST.INI\\" + driver; // Wine's registry
    fs::path freetds; // Debian's FreeTDS, which unixODBC finds by its bare name
};
std::unique_ptr<Fora> fora;

void DeOutro(const fs::path& f) {
    ::lchown(f.c_str(), 65534, 65534);
}
void MarcaEm(const fs::path& f) { // a library that leaves a mark when loaded, another account's
    fs::remove(f);
    fs::copy_file(Sistema().windows ? Sistema().compilacao / "ponte" / "marca.dll"
                                    : fs::path(KELVANE_MARCA_SO),
                  f);
    DeOutro(f);
}
void DeNobody(Programa& p) { // the data, and the way to the program
    p.Separar();
    fs::permissions(p.raiz.p, fs::perms::owner_all | fs::perms::others_exec);
    for (const auto& f : fs::recursive_directory_iterator(p.dados)) {
        DeOutro(f.path());
    }
    DeOutro(p.dados);
}
Execucao Registro(const std::vector<std::string>& argumentos) { // Wine's registry
    std::vector<std::string> c = {"/bin/bash", "-c",
                                  "source \"$0\" && wine_temp_proprio && \"$WINE64\" reg \"$@\"",
                                  KELVANE_FONTES "/scripts/ambiente_windows.sh"};
    c.insert(c.end(), argumentos.begin(), argumentos.end());
    return teste::Rodar(c);
}
// A driver registered in $HOME/.odbcinst.ini, which unixODBC reads (and, under Wine, in the
// registry as Windows keeps it).
void Registrar(Programa& p, const std::string& valor) {
    Gravar(p.raiz.p / ".odbcinst.ini", "[" + fora->driver + "]\nDriver=" + valor + "\n");
    ::setenv("HOME", p.raiz.p.c_str(), 1);
    p.cfg["DriverODBC"] = fora->driver;
    p.Ini();
}
// The account's home, as the run sees it: a folder of the row's own.
fs::path Casa(Programa& p) {
    const auto casa = p.raiz.p / "casa";
    if (fs::create_directory(casa)) {
        Montar(p, casa, ::getpwuid(::geteuid())->pw_dir);
    }
    return casa;
}
void BibliotecaDeOutro() {
    fs::copy_file(KELVANE_MARCA_SO, fora->biblioteca, fs::copy_options::overwrite_existing);
    DeOutro(fora->biblioteca);
}
// 7z loads every file of these folders beside the real program (on Linux a copy of it in the
// program folder, instead of the link).
std::function<void(Programa&)> CodecDeOutro(const std::string& sub) {
    return [sub](Programa& p) {
        if (!Sistema().windows) {
            fs::remove(p.dir / "7z");
            fs::copy_file("/usr/lib/p7zip/7z", p.dir / "7z");
        }
        fs::create_directory(p.dir / sub);
        MarcaEm(p.dir / sub / "x.so");
    };
}

const Permissao permissoes[] = {
    // Windows looks beside the program first for a DLL that is not one of its known DLLs
    // (Wine only with the override): one found there would run before any check.
    {"BibliotecaAoLadoDoExecutavelNumaPastaQueOutrosAlteram",
     [](Programa& p) {
         MarcaEm(p.dir / (Sistema().windows ? "wtsapi32.dll" : "libodbc.so.2"));
         ::chmod(p.dir.c_str(), 0777);
         ::setenv("KELVANE_WINE_DLLS", "wtsapi32=n,b", 1);
     },
     9, "{P} pode ser alterado pelo grupo ou por outros (modo 0777)|chmod go-w {P}", "", false,
     "{P} pode ser alterado por {W}|icacls \"{P}\" {G} {E}"},
    {"JanelaNumaPastaQueOutrosAlteram", [](Programa& p) { ::chmod(p.dir.c_str(), 0777); }, 9,
     "{P} pode ser alterado pelo grupo ou por outros (modo 0777)|chmod go-w {P}", "", true,
     "{P} pode ser alterado por {W}|icacls \"{P}\" {G} {E}"},
    {"PastaRootGrupo1770ComoAntes",
     [](Programa& p) { ::chown(p.dir.c_str(), 0, 65534), ::chmod(p.dir.c_str(), 01770); }, 9,
     "{P} pode ser alterado pelo grupo ou por outros (modo 1770)|chown nogroup: {P} && "
     "chmod 0700 {P}, e rode o kelvane como nogroup (veja o README)",
     ""},
    {"LogLevaAPastaDeOutraConta",
     [](Programa& p) {
         fs::create_directory(fora->alheia);
         DeOutro(fora->alheia);
         fs::create_directory_symlink(fora->alheia, p.dir / "Log");
     },
     9, "{F}/alheia pertence a outra conta (nobody)|chown root {F}/alheia", "", false,
     "{P}\\Log pertence a outra conta ({N})|icacls \"{P}\\Log\" /setowner "},
    {"JanelaAbertaPorRootNaPastaDeOutraConta", [](Programa& p) { DeOutro(p.dir); }, 9,
     "{P} pertence a nobody, e o kelvane foi iniciado como root|entre na sessão de nobody e "
     "abra {P}/kelvane",
     "", true},
    // Only the window may be root's on that account's data (the job it starts runs as it).
    {"ExecDeRootNosDadosDeOutraConta", DeNobody, 9,
     "{D} pertence a nobody, e o kelvane foi iniciado como root|sudo -u nobody {P}/kelvane EXEC",
     ""},
    {"ModuloDaJanelaDeOutraConta", [](Programa& p) { MarcaEm(p.dir / "kelvane-janela.so"); }, 9,
     "{P}/kelvane-janela.so pertence a outra conta (nobody)|chown root {P}/kelvane-janela.so", "",
     true},
    {"CodecsDeOutraContaAoLadoDo7z", CodecDeOutro("Codecs"), 9,
     "{P}/Codecs/x.so pertence a outra conta (nobody)|chown root {P}/Codecs/x.so", "", false,
     "{P}\\Codecs\\x.so pertence a outra conta ({N})|icacls "
     "\"{P}\\Codecs\\x.so\" /setowner "},
    {"FormatosDeOutraContaAoLadoDo7z", CodecDeOutro("Formats"), 9,
     "{P}/Formats/x.so pertence a outra conta (nobody)|chown root {P}/Formats/x.so", "", false,
     "{P}\\Formats\\x.so pertence a outra conta ({N})|icacls "
     "\"{P}\\Formats\\x.so\" /setowner "},
    // The job's account must not be able to swap what root (or SYSTEM) starts: the program
    // apart from its data is root's alone; a portable copy is its owner's, as before.
    {"ProgramaSeparadoDaContaQueRodaOJob", [](Programa& p) { DeNobody(p), DeOutro(p.dir); }, 9,
     "{P} pertence a outra conta (nobody)|chown root {P}", "", false, "-", true},
    {"ProgramaSeparadoDeOutraConta", [](Programa& p) { p.Separar(), DeOutro(p.dir); }, 9,
     "{P} pertence a outra conta (nobody)|chown root {P}", "", false,
     "{P} pertence a outra conta ({N})|icacls \"{P}\" /setowner "
     "*S-1-5-32-544\r\n"},
    {"PastaDeDadosSeparadaPodeSerLidaPorOutros",
     [](Programa& p) { p.Separar(), ::chmod(p.dados.c_str(), 0755); }, 9,
     "{D} pode ser lido pelo grupo ou por outros (modo 0755)|chmod go-rwx {D}", "", false,
     "{D} pode ser lido por Everyone (listar o conteúdo, ler atributos estendidos)|icacls "
     "\"{D}\" {G} {E}"},
    // Only the instance ServidorDB names may write the backups (Windows: SQL Server's service
    // for MSSQL$SQLEXPRESS, by its SID), and no one else.
    {"PastaDosBackupsQueOutrosAlteram",
     [](Programa& p) {
         p.cfg["ServidorDB"] = "127.0.0.1\\SqlExpress,1433";
         p.Separar();
         fs::create_directories(p.Backups());
         ::chmod(p.Backups().c_str(), 0777);
     },
     9, "{D} pode ser alterado pelo grupo ou por outros (modo 0777)|chmod go-w {D}", "", false,
     "{D}\\Backups pode ser alterado por {W}|icacls \"{D}\\Backups\" {G} "
     "*S-1-5-80-3880006512-4290199581-1648723128-3569869737-3631323133:(OI)(CI)M {E}"},
    {"PastaDeDadosSeparadaPodeSerLidaPeloGrupo",
     [](Programa& p) { p.Separar(), ::chmod(p.dados.c_str(), 0750); }, 9,
     "{D} pode ser lido pelo grupo ou por outros (modo 0750)|chmod go-rwx {D}", ""},
    {"InfoIniLegivelPeloGrupo", [](Programa& p) { ::chmod((p.dados / "info.ini").c_str(), 0640); },
     9, "{P}/info.ini pode ser lido pelo grupo ou por outros (modo 0640)|chmod go-rwx {P}/info.ini",
     ""},
    {"InfoIniLegivelPorOutros", [](Programa& p) { ::chmod((p.dados / "info.ini").c_str(), 0604); },
     9, "{P}/info.ini pode ser lido pelo grupo ou por outros (modo 0604)|chmod go-rwx {P}/info.ini",
     "", false,
     "{P}\\info.ini pode ser lido por Everyone (ler, ler atributos estendidos)|icacls "
     "\"{P}\\info.ini\" /inheritance:r /grant:r *S-1-5-18:F *S-1-5-32-544:F {E}"},
    {"JobDeRootComOsDadosDeOutraConta", DeNobody, 9,
     "{D} pertence a nobody, e o kelvane foi iniciado como root|sudo -u nobody {P}/kelvane EXEC",
     "", false, "{D} pertence a NT AUTHORITY\\ANONYMOUS LOGON, e o kelvane foi iniciado como "},
    {"DadosFeitosPorRootAntesDaContaDoSqlServer",
     [](Programa& p) { p.Separar(), ::chmod(p.raiz.p.c_str(), 0701); }, 9,
     "{D} pertence a root, e o kelvane foi iniciado como nobody|sudo chown -R nobody: {D}", "",
     false, "-", true},
    {"InfoIniGravavelPorOutros", [](Programa& p) { ::chmod((p.dir / "info.ini").c_str(), 0606); },
     9,
     "{P}/info.ini pode ser alterado pelo grupo ou por outros (modo 0606)|chmod go-w {P}/info.ini",
     "", false,
     "{P}\\info.ini pode ser alterado por Everyone (gravar, acrescentar, alterar atributos, "
     "excluir)|icacls \"{P}\\info.ini\" /inheritance:r /grant:r *S-1-5-18:F "
     "*S-1-5-32-544:F {E}"},
    {"FerramentaComStickyGravavelPeloGrupoAtrasDeUmLink",
     [](Programa& p) {
         fs::copy_file("/usr/bin/ncftpput", p.raiz.p / "ncftpput");
         ::chmod((p.raiz.p / "ncftpput").c_str(), 01775);
         fs::remove(p.dir / "ncftpput");
         fs::create_symlink(p.raiz.p / "ncftpput", p.dir / "ncftpput");
     },
     9,
     "{R}/ncftpput pode ser alterado pelo grupo ou por outros (modo 1775)|chmod go-w {R}/ncftpput",
     ""},
    {"CodecsAoLadoDoLinkDo7z",
     [](Programa& p) {
         fs::create_directory(p.dir / "Codecs");
         MarcaEm(p.dir / "Codecs" / "x.so");
         ::lchown((p.dir / "Codecs" / "x.so").c_str(), 0, 0);
     },
     0, "", "Fim do Processo"},
    // What the uploader reads from the account's home (its firewall settings name a command).
    {"FirewallDoNcftpDeOutraConta",
     [](Programa& p) {
         fs::create_directory(Casa(p) / ".ncftp");
         Gravar(Casa(p) / ".ncftp" / "firewall", "firewall-type=0\n");
         DeOutro(Casa(p) / ".ncftp" / "firewall");
     },
     9, "{H}/.ncftp/firewall pertence a outra conta (nobody)|chown root {H}/.ncftp/firewall", ""},
    {"PastaDoNcftpQueOutrosAlteram",
     [](Programa& p) {
         fs::create_directory(Casa(p) / ".ncftp");
         ::chmod((Casa(p) / ".ncftp").c_str(), 0777);
     },
     9,
     "{H}/.ncftp pode ser alterado pelo grupo ou por outros (modo 0777)|chmod go-w {H}/.ncftp (ou "
     "chmod +t {H}/.ncftp, se outra conta precisa criar arquivos nela)",
     ""},
    {"DriverOdbcDeOutraConta",
     [](Programa& p) {
         MarcaEm(fora->pasta.p / "driver.so");
         p.cfg["DriverODBC"] = (fora->pasta.p / "driver.so").string();
         p.Ini();
     },
     9, "", "Permissões inseguras: {F}/driver.so pertence a outra conta (nobody)"},
    {"DriverOdbcSemCaminho", [](Programa& p) { p.cfg["DriverODBC"] = "libmarca.so", p.Ini(); }, 9,
     "", "Permissões inseguras: DriverODBC=libmarca.so não é um driver registrado", false, ""},
    {"DriverRegistradoComABibliotecaDeOutraConta",
     [](Programa& p) {
         BibliotecaDeOutro();
         Registrar(p, fora->biblioteca.string());
         ::setenv("KELVANE_MARCA", fora->marca.c_str(), 1); // the Linux library, also under Wine
         if (Sistema().windows) {
             Registro({"add", fora->chaveDriver, "/v", "Driver", "/d",
                       Sistema().Caminho(fora->biblioteca), "/f"});
         }
     },
     9, "", "Permissões inseguras: {B} pertence a outra conta ({N})", false, ""},
    // A bare name that is in no driver folder, found by the dynamic loader in the
    // LD_LIBRARY_PATH the program was started with.
    {"DriverRegistradoPorNomeAchadoPeloCarregador",
     [](Programa& p) {
         BibliotecaDeOutro();
         Registrar(p, fora->biblioteca.filename().string());
         ::setenv("LD_LIBRARY_PATH", fora->pasta.p.c_str(), 1);
     },
     9, "", "Permissões inseguras: {F}/libkvdriver.so pertence a outra conta (nobody)"},
    // The caller's FreeTDS would write every packet, password too, where it says, and its
    // ncftpput would take its settings from (and create) the folder it names. (Under Wine,
    // FreeTDS is the host's, reading the environment Wine was started with.)
    {"AmbienteDoChamador",
     [](Programa&) {
         ::setenv("NCFTPDIR", fora->marca.c_str(), 1);
         if (!Sistema().windows) {
             ::setenv("TDSDUMP", fora->marca.c_str(), 1);
         }
     },
     0, "", "Fim do Processo", false, ""},
    {"TravaEUmLink", [](Programa& p) { fs::create_symlink(fora->alheia, p.dir / "kelvane.lock"); },
     1, "",
     "Erro: 40 - não foi possível abrir {D}/kelvane.lock: links simbólicos demais no caminho"},
    // Debian's FreeTDS is registered by bare name, which unixODBC finds in its own driver folder:
    // a copy of another account's there, in a mount namespace of the run's own.
    {"FreeTdsOPadraoComABibliotecaDeOutraConta",
     [](Programa& p) { BibliotecaDeOutro(), Montar(p, fora->biblioteca, fora->freetds); }, 9, "",
     "Permissões inseguras: {T} pertence a outra conta (nobody)"},
};
class CadaPermissao : public JobCom<Permissao> {
protected:
    static void SetUpTestSuite() {
        fora = std::make_unique<Fora>();
        std::error_code semPasta;
        for (const auto& e : fs::directory_iterator("/usr/lib", semPasta)) {
            if (fs::exists(e.path() / "odbc" / "libtdsodbc.so")) {
                fora->freetds = e.path() / "odbc" / "libtdsodbc.so";
            }
        }
    }
    static void TearDownTestSuite() {
        if (Sistema().windows) {
            Registro({"delete", fora->chaveDriver, "/f"});
        }
        fora.reset();
    }
    void SetUp() override {
        casa_ = std::getenv("HOME");
        ::setenv("KELVANE_MARCA", Sistema().Caminho(fora->marca).c_str(), 1);
        Job::SetUp();
    }
    void TearDown() override {
        fs::remove_all(fora->alheia);
        fs::remove(fora->marca);
        fs::remove(fora->avisos);
        for (const char* v : {"KELVANE_WINE_DLLS", "NCFTPDIR", "TDSDUMP", "LD_LIBRARY_PATH",
                              "KELVANE_MARCA", plataforma::kVariavelCaixaTeste, "DISPLAY"}) {
            ::unsetenv(v);
        }
        ::setenv("HOME", casa_.c_str(), 1);
        Job::TearDown();
    }
    std::string casa_;
};

TEST_P(CadaPermissao, SoODonoFazORodarCodigo) {
    const auto& c = GetParam();
    if (Sistema().windows && c.windows == "-") {
        GTEST_SKIP() << "donos e modos do Linux";
    }
    if (c.nome.starts_with("FreeTds") && fora->freetds.empty()) {
        GTEST_SKIP() << "sem o FreeTDS do Debian";
    }
    const auto saida = Sistema().windows && !c.windows.empty() ? c.windows : c.saida;
    p.Servidores();
    p.cfg["AvisoURL"] = "http://127.0.0.1:" + std::to_string(fora->monitor.porta);
    p.Ini();
    c.preparar(p);
    if (!p.envolver.empty() && teste::Rodar({"/usr/bin/unshare", "--mount", "true"}).codigo) {
        GTEST_SKIP() << "sem namespace de montagem aqui";
    }
    auto comando = p.Comando(c.janela ? std::vector<std::string>{} : std::vector{"EXEC"s});
    // The window's start: kelvane.exe on Windows; its refusal also goes to a box (written to a
    // file here), whoever has a display and no stderr.
    const auto caixa = p.raiz.p / "caixa.txt";
    if (c.janela) {
        std::replace(comando.begin(), comando.end(), p.Executavel().string(),
                     (p.dir / ("kelvane"s + Sistema().sufixo)).string());
        ::setenv(plataforma::kVariavelCaixaTeste, Sistema().Caminho(caixa).c_str(), 1);
        ::setenv("DISPLAY", ":0", 1); // named, never reached
    }
    if (c.comoNobody) {
        comando.insert(comando.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                         "--clear-groups", "--"});
    }
    const auto r = teste::Rodar(comando);
    EXPECT_EQ(r.codigo, c.codigo) << r.saida << p.Ultima();
    const auto trocar = [&](const std::string& t) {
        return Trocar(
            t, {{"{P}", Sistema().Caminho(p.dir)},
                {"{D}", Sistema().Caminho(p.dados)},
                {"{R}", p.raiz.p.string()},
                {"{B}", Sistema().Caminho(fora->biblioteca)},
                {"{F}", fora->pasta.p.string()},
                {"{T}", fora->freetds.string()},
                {"{H}", ::getpwuid(::geteuid())->pw_dir},
                {"{N}", Sistema().windows ? "NT AUTHORITY\\ANONYMOUS LOGON" : "nobody"},
                {"{W}", "Everyone (criar arquivos, criar pastas, alterar atributos, excluir, "
                        "excluir o conteúdo)"},
                {"{G}", "/inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F"},
                {"{E}", "/remove:g *S-1-1-0\r\n"},
                {"|", "; nada foi executado. Corrija com: "}});
    };
    const auto esperada =
        saida.empty()
            ? ""
            : trocar("Kelvane: Permissões inseguras: " + saida + (Sistema().windows ? "" : "\n"));
    if (c.janela) {
        EXPECT_EQ("Kelvane: " + Ler(caixa), esperada);
    }
    if (Sistema().windows) { // one line, CR LF; the account named in the fix is the machine's
        EXPECT_EQ(r.saida.rfind(esperada, 0), 0u) << r.saida;
        EXPECT_EQ(r.saida.find('\n'), r.saida.empty() ? std::string::npos : r.saida.size() - 1);
    } else {
        EXPECT_EQ(r.saida, esperada);
    }
    EXPECT_EQ(p.Ultima().rfind(trocar(c.ultima), 0), 0u) << p.Ultima();
    if (!saida.empty()) { // nothing made in the folder, nothing sent
        EXPECT_FALSE(fs::exists(p.dados / "kelvane.lock") ||
                     fs::is_directory(fs::symlink_status(p.dados / "Log")));
        EXPECT_FALSE(fs::exists(fora->avisos));
    }
    EXPECT_TRUE(!fs::exists(fora->alheia) ||
                (fs::is_directory(fora->alheia) && fs::is_empty(fora->alheia)));
    EXPECT_FALSE(fs::exists(fora->marca));
    EXPECT_EQ(p.Lotes().empty(), c.codigo != 0); // nothing reached the server
}
INSTANTIATE_TEST_SUITE_P(Job, CadaPermissao, ::testing::ValuesIn(permissoes), PeloNome());

// Values that would change the BACKUP statement, the connection string, an argument or a path if
// they were not quoted, in every field at once; the server only takes exactly these values. Each
// row is "Nome=valor".
const Pares_ hostis = Pares("AspasColchetesEChaves=x']]; DROP DATABASE master; --;UID=x;PWD={y}\n"
                            "Opcao=-x\nLista=@lista\nCuringas=a*b?c\nCaminhoAbsoluto=/tmp/fora\n"
                            "Shell=$(touch /tmp/kelvane-hostil)`id`\n"
                            "AcentosEBrancosNasPontas=  Ação Ñandú €  \n"
                            "AspasEBarraInvertida=fim \\\"aspas\\\" e barra\\");
using CadaHostil = JobCom<std::pair<std::string, std::string>>;
TEST_P(CadaHostil, ChegaIntacto) {
    const auto& v = GetParam().second;
    for (auto& [chave, valor] : p.cfg) {
        // A backslash in a login names a Windows account (DOMAIN\user), never a SQL login.
        const bool conta = chave == "Login" && v.find('\\') != std::string::npos;
        if (chave != "SSPI" && chave != "Endereco" && !conta) {
            valor = v;
        }
    }
    p.Servidores("normal", 64 * 1024);
    const auto args = p.raiz.p / "args", login = p.raiz.p / "login";
    // What arrives where the uploader would put it, so the size asked afterwards, with the same
    // values, is found there.
    p.Falsa("ncftpput", "printf '%s\\n' \"$@\" >" + args.string() + "; cat \"$2\" >" +
                            login.string() + "; mkdir -p \"" + p.ftp.string() +
                            "/$9\" && cp \"${10}\" \"" + p.ftp.string() + "/$9/\"");
    // A file the archiver would take along if the name worked as a pattern or a list.
    fs::create_directories(p.Backups());
    fs::permissions(p.Backups(), fs::perms::owner_all);
    for (const auto dia : {-1, 0, 1}) { // the day the job will name, whenever it runs
        const auto t = std::time(nullptr) + dia * 86400;
        char nome[64];
        std::strftime(nome, sizeof nome, "KVLN_aZbZc_aZbZc_%d%m%y.BAK", std::localtime(&t));
        Gravar(p.Backups() / nome, "isca");
    }
    Gravar(p.Backups() / "lista", "/etc/hostname\n");
    const auto r = Rodar();
    ASSERT_EQ(r.codigo, 0) << r.saida << LogTexto();
    const auto pacote = p.Pacotes().at(0);
    EXPECT_EQ(pacote.parent_path(), p.dados);
    const auto lista = teste::Rodar({"/usr/lib/p7zip/7z", "l", "-slt", "-spd", pacote.string()});
    const auto bak = fs::path(pacote).replace_extension(".BAK").filename().string();
    EXPECT_NE(lista.saida.find("\nPath = " + bak + "\n"), std::string::npos) << lista.saida;
    const std::regex caminho("\nPath = "); // the archive's and the backup's, nothing else
    const std::sregex_iterator primeiro(lista.saida.begin(), lista.saida.end(), caminho), nenhum;
    EXPECT_EQ(std::distance(primeiro, nenhum), 2) << lista.saida;
    const auto fim =
        "\n-P\n" + p.cfg["Porta"] + "\n-F\n-S\n.parcial\n--\n" + v + "\n" + pacote.string() + "\n";
    EXPECT_TRUE(Ler(args).ends_with(fim)) << Ler(args);
    const auto texto = "host 127.0.0.1\nuser " + v + "\npass " + v + "\n"; // ANSI on Windows
    EXPECT_EQ(Ler(login), Sistema().windows ? Utf8ParaCp1252(texto) : texto);
    EXPECT_FALSE(fs::exists("/tmp/fora"));
    EXPECT_FALSE(fs::exists("/tmp/kelvane-hostil"));
}
INSTANTIATE_TEST_SUITE_P(Job, CadaHostil, ::testing::ValuesIn(hostis),
                         [](const auto& i) { return i.param.first; });

// Stopped while a tool runs (none: the backup itself), which does meanwhile what its script says.
struct Interrupcao {
    std::string nome, ferramenta, script;
    int sinal;
};
const std::string kSeteZipPreso =
    "for a; do case \"$a\" in *.7z) echo x >\"$a\";; esac; done; exec sleep 300";
const Interrupcao interrupcoes[] = {
    {"BackupSigterm", "", "", SIGTERM},
    {"BackupSigkill", "", "", SIGKILL},
    {"BackupSigint", "", "", SIGINT}, // Wine hands it to the program as Ctrl+C
    {"CompactacaoSigterm", "7z", kSeteZipPreso, SIGTERM},
    {"CompactacaoSigkill", "7z", kSeteZipPreso, SIGKILL},
    {"EnvioSigterm", "ncftpput", "exec sleep 300", SIGTERM},
    {"EnvioSigkill", "ncftpput", "exec sleep 300", SIGKILL},
    {"EnvioSighup", "ncftpput", "exec sleep 300", SIGHUP},
};
using CadaInterrupcao = JobCom<Interrupcao>;
TEST_P(CadaInterrupcao, NaoPerdeNadaEAProximaRoda) {
    const auto& [nome, ferramenta, script, sinal] = GetParam();
    const auto marca = p.raiz.p / "pid";
    p.Servidores(ferramenta.empty() ? "slow" : "normal");
    if (!ferramenta.empty()) {
        p.Falsa(ferramenta, "echo $$ >" + marca.string() + ".t; mv " + marca.string() + ".t " +
                                marca.string() + "\n" + script);
    }
    p.Ini();
    auto comando = p.Comando({"EXEC"}, false);
    if (!Sistema().windows) { // every signal blocked, as a scheduler may start it
        comando.insert(comando.begin(), {"/usr/bin/env", "--block-signal"});
    }
    std::vector<char*> argv;
    for (auto& a : comando) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t job = ::fork();
    if (job == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ASSERT_TRUE(
        Esperar([&] { return ferramenta.empty() ? !p.Baks().empty() : fs::exists(marca); }));
    if (!Sistema().windows) { // all unblocked but the three its own thread waits for
        const auto estado = Ler("/proc/" + std::to_string(job) + "/status");
        const auto i = estado.find("SigBlk:");
        EXPECT_EQ(estado.substr(i, estado.find('\n', i) - i), "SigBlk:\t0000000000004003");
    }
    ::kill(job, sinal);
    int status = 0;
    ::waitpid(job, &status, 0);
    // Windows has no signals: Wine ends the program outright for all but SIGINT, which it hands
    // over as Ctrl+C, and the tool ends with it (a job object); the uploader's login stays until
    // the next upload.
    const bool termina = sinal != SIGKILL && (!Sistema().windows || sinal == SIGINT);
    if (Sistema().windows && termina) { // STATUS_CONTROL_C_EXIT, as a shell sees it
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0x3a) << status;
    } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sinal) << status;
    }
    const std::string motivo = Sistema().windows ? "Ctrl+C" : "SIG"s + sigabbrev_np(sinal);
    const std::string interrompida =
        "Erro: 0 - Execução interrompida (" + motivo + "): o backup não foi concluído.";
    EXPECT_EQ(p.Ultima() == interrompida, termina) << LogTexto();
    EXPECT_EQ(p.Baks().size(), 1u); // no verified archive, so the backup stays
    EXPECT_TRUE(p.Enviados().empty());
    EXPECT_EQ(Executado(), "");
    if (fs::exists(marca)) {
        const pid_t pidFerramenta = std::stoi(Ler(marca));
        if (termina || Sistema().windows) { // the job stops its tool
            EXPECT_TRUE(Esperar([&] { return ::kill(pidFerramenta, 0) != 0; }));
        }
        if (termina) { // and removes the uploader's login
            EXPECT_TRUE(fs::is_empty(p.tmp));
        } else if (!Sistema().windows) { // the tool left running keeps the folder's lock
            EXPECT_EQ(p.Exec().codigo, 7);
        }
        ::kill(pidFerramenta, SIGKILL);
    }
    p.Ferramentas();
    fs::remove_all(p.dados / "Log");
    p.Servidores();
    // Beside it, one whose pid looks dead from here (another PID namespace; a Linux pid under
    // Wine) while its owner holds its login file's lock: that one stays.
    const pid_t morto = ::fork();
    if (morto == 0) {
        ::_exit(0);
    }
    ::waitpid(morto, nullptr, 0);
    const auto vivo = p.tmp / ("kelvane-ftp." + std::to_string(morto) + ".vivo");
    fs::create_directory(vivo);
    std::error_code erro;
    const auto trava = plataforma::CriarArquivoPrivado(vivo / "login.cfg", "host h\n", erro);
    ASSERT_NE(trava, plataforma::kSemDescritor) << erro.message();
    ASSERT_NO_FATAL_FAILURE(ConferirSucesso(Rodar()));
    plataforma::Fechar(trava);
    EXPECT_TRUE(fs::exists(vivo / "login.cfg"));
    fs::remove_all(vivo);
    EXPECT_TRUE(fs::is_empty(p.tmp)); // a login folder left by SIGKILL goes as well
}
INSTANTIATE_TEST_SUITE_P(Job, CadaInterrupcao, ::testing::ValuesIn(interrupcoes), PeloNome());

TEST_F(Job, SoEXECRodaOJob) {
    const auto sufixo = Sistema().sufixo;
    for (const char* arg : {"exec", "Exec"}) { // each tool missing named, in the order checked
        Programa semFerramentas(false);
        EXPECT_EQ(semFerramentas.Exec({arg}).codigo, 2);
        EXPECT_EQ(semFerramentas.Log(),
                  (std::vector<std::string>{
                      "Inicio do Processo", "Está faltando o arquivo: 7z" + sufixo,
                      "Está faltando o arquivo: 7z." + (sufixo.empty() ? "so"s : "dll"),
                      "Está faltando o arquivo: ncftpput" + sufixo}));
    }
    if (Sistema().windows) { // the job's console program points at the window's
        const auto r = p.Exec({});
        EXPECT_EQ(r.codigo, 8);
        EXPECT_NE(r.saida.find("abra o kelvane.exe"), std::string::npos) << r.saida;
    }
    KELVANE_SO_LINUX("o Windows sempre tem onde abrir a janela, e não tem /proc");
    for (const char* variavel : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XAUTHORITY"}) {
        ::unsetenv(variavel);
    }
    const std::string semTela = "Kelvane: não há tela disponível para abrir a janela de "
                                "configuração; use o argumento EXEC para executar o backup.\n 8\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"EXEC2"}, {"EXEC", "now"}, {" EXEC"}}) {
        const auto r = p.Exec(args);
        EXPECT_EQ(r.saida + " " + std::to_string(r.codigo) + "\n", semTela);
        EXPECT_TRUE(p.Log().empty());
    }
    // A display that is named but absent, one that refuses us (no cookie), a compositor that is
    // not there: the same line, not an abort.
    const auto r = teste::Rodar(
        {"/bin/sh", "-c",
         "cd \"$2\" && xauth -f s add :0 . 0123456789abcdef0123456789abcdef 2>/dev/null && "
         "(Xvfb -displayfd 3 -auth s -nolisten tcp 3>n 2>/dev/null & echo $! >x) && "
         "timeout 10 sh -c \"while [ ! -s n ]; do sleep 0.1; done\" && d=:$(cat n) && "
         "for e in DISPLAY=:4242 DISPLAY=unix:4242.0 \"DISPLAY=$d XAUTHORITY=/dev/null\" "
         "\"WAYLAND_DISPLAY=nada XDG_SESSION_TYPE=wayland\"; do env $e \"$1\" 2>&1; echo \" $?\"; "
         "done; kill $(cat x)",
         "sh", (p.dir / "kelvane").string(), p.raiz.p.string()});
    EXPECT_EQ(r.saida, semTela + semTela + semTela + semTela);
    // Last, as a chroot or a container refuses it: without /proc, said so and nothing written.
    const auto semProc =
        teste::Rodar({"/usr/bin/unshare", "--mount", "/bin/sh", "-c",
                      "umount -l /proc && echo sem-proc && cd \"$1\" && exec \"$0\" EXEC",
                      (p.dir / "kelvane").string(), p.tmp});
    if (!semProc.saida.starts_with("sem-proc\n")) {
        GTEST_SKIP() << "sem como desmontar /proc aqui: " << semProc.saida;
    }
    EXPECT_EQ(semProc.codigo, 1) << semProc.saida;
    EXPECT_NE(semProc.saida.find("/proc"), std::string::npos) << semProc.saida;
    EXPECT_TRUE(fs::is_empty(p.tmp) && p.Log().empty());
}

// AvisoURL and ManterArquivos: the monitor hears start and success, or start and fail with the
// error line; after a good run only the newest of this client's own archives stay and nothing
// else is touched; after a failed one nothing is deleted; a monitor that never answers changes
// no outcome.
TEST_F(Job, AvisosEArquivosAntigos) {
    Servidor monitor("aviso_server.py", {(p.raiz.p / "avisos.txt").string()});
    const std::string base = "KVLN_0042_Casa_Azul_";
    // The two oldest and an interrupted run's backup go; a newer one, another client's, a date
    // that does not exist, one dated after today and another account's stay.
    char futuro[16];
    const auto daqui40Dias = std::time(nullptr) + 40 * 86400;
    std::strftime(futuro, sizeof futuro, "%d%m%y.7z", std::localtime(&daqui40Dias));
    std::vector<std::string> nomes = {base + "311299.7z", base + "010126.7z", base + "010126.BAK"};
    nomes.insert(nomes.end(), {base + "020126.7z", "KVLN_0043_Casa_Azul_010126.7z",
                               base + "300226.7z", base + futuro});
    nomes.push_back(base + "050126.7z"); // made another account's below
    fs::create_directories(p.Backups());
    fs::permissions(p.Backups(), fs::perms::owner_all);
    const auto em = [&](const std::string& n) { // the backups have a folder of their own
        return (n.ends_with(".BAK") ? p.Backups() : p.dados) / n;
    };
    for (const auto& n : nomes) {
        Gravar(em(n), "x");
    }
    ::chown(em(nomes.back()).c_str(), 65534, 65534);
    if (!Sistema().windows) { // Wine shows a link as the file it leads to
        fs::create_symlink(em(nomes[3]), p.dados / (base + "010125.7z")); // not an archive
    }
    p.Servidores();
    p.cfg["AvisoURL"] = "http://127.0.0.1:" + std::to_string(monitor.porta) + "/k/?q=1";
    p.cfg["ManterArquivos"] = "2";
    const std::string senha = p.cfg["Senha"];
    p.cfg["Senha"] = "Outra;S3nha";
    ASSERT_EQ(Rodar().codigo, 3);
    p.cfg["Senha"] = senha;
    fs::remove_all(p.dados / "Log");
    ASSERT_EQ(Rodar().codigo, 0) << p.Ultima();
    const auto avisos = Ler(p.raiz.p / "avisos.txt");
    EXPECT_TRUE(std::regex_match(
        avisos, std::regex(R"(/k/start\?q=1 \n/k/fail\?q=1 Erro ao conetar no banco: [^\n]*\n)"
                           R"(/k/start\?q=1 \n/k\?q=1 \n)")))
        << avisos;
    EXPECT_EQ(avisos.find("Outra;S3nha"), std::string::npos);
    for (const auto& n : nomes) {
        EXPECT_EQ(fs::exists(em(n)), &n > &nomes[2]) << n;
    }
    EXPECT_TRUE(Sistema().windows || fs::is_symlink(p.dados / (base + "010125.7z")));
    EXPECT_EQ(ManterArquivos(" 999999999999 "), 999999999999u); // no limit but being a count
    const auto fim = p.Log();
    EXPECT_EQ(
        std::vector<std::string>(fim.end() - 5, fim.end()),
        (std::vector<std::string>{
            "Fim do Processo",
            "Arquivos com data posterior a hoje não contam para ManterArquivos e não são "
            "excluídos: " +
                nomes[6],
            "Excluindo arquivo antigo...: " + nomes[0], "Excluindo arquivo antigo...: " + nomes[1],
            "Excluindo backup de uma execução interrompida...: " + nomes[2]}));

    // A monitor that accepts and never answers, and a count that is not one.
    const Servidor mudo("tds_server.py", {"--mode=mute"});
    const std::string mudoUrl = "http://127.0.0.1:" + std::to_string(mudo.porta);
    p.cfg["AvisoURL"] = mudoUrl;
    p.cfg["ManterArquivos"] = "0";
    p.cfg["LimiteEtapa"] = "90s";
    fs::remove_all(p.dados / "Log");
    EXPECT_EQ(Rodar().codigo, 0);
    EXPECT_TRUE(fs::exists(em(nomes[3])));
    const auto log = p.Log();
    const auto vezes = [&](const std::string& inicio) {
        return std::count_if(log.begin(), log.end(),
                             [&](auto& l) { return l.starts_with(inicio); });
    };
    EXPECT_EQ(vezes("Aviso de monitoramento não entregue a " + mudoUrl + ": "), 2);
    EXPECT_EQ(DestinoAviso("https://u:s@h:1\\segredo/x"), "https://h:1"); // host and port only
    EXPECT_EQ(vezes("ManterArquivos inválido (\"0\")"), 1); // texts: test_configuracao's Regras
    EXPECT_EQ(vezes("LimiteEtapa inválido (\"90s\")"), 1);
    // Without a scheme nothing is sent, and that is said once.
    p.cfg["AvisoURL"] = "127.0.0.1:" + std::to_string(monitor.porta) + "/k";
    fs::remove_all(p.dados / "Log");
    EXPECT_EQ(Rodar().codigo, 0);
    EXPECT_EQ(Ler(p.raiz.p / "avisos.txt"), avisos);
    EXPECT_TRUE(p.Log().at(1).starts_with("AvisoURL não começa com http")) << p.Log().at(1);
    EXPECT_EQ(LogTexto().find("AvisoURL", LogTexto().find("AvisoURL") + 1), std::string::npos);

    // A resolver that takes the question and never answers (glibc would wait 90 s for it): each
    // heartbeat still ends within its time.
    const int dns = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
    if (::bind(dns, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(dns);
        GTEST_SKIP() << "127.0.0.1:53 indisponível para o resolvedor mudo";
    }
    Gravar(p.raiz.p / "resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:3\n");
    Gravar(p.raiz.p / "nsswitch.conf", "hosts: files dns\n");
    p.cfg["AvisoURL"] = "http://monitor.kelvane.invalid/";
    p.Ini();
    fs::remove_all(p.dados / "Log");
    auto comando = p.Comando({"EXEC"});
    comando.insert(comando.begin(),
                   {"/usr/bin/unshare", "--mount", "/bin/sh", "-c",
                    "cd \"$0\" && mount --bind resolv.conf /etc/resolv.conf && mount --bind "
                    "nsswitch.conf /etc/nsswitch.conf && echo mudo && exec \"$@\"",
                    p.raiz.p.string()});
    const auto r = teste::Rodar(comando);
    ::close(dns);
    if (!r.saida.starts_with("mudo\n")) {
        GTEST_SKIP() << "sem como trocar o resolvedor aqui: " << r.saida;
    }
    EXPECT_EQ(r.saida, "mudo\n");
    EXPECT_EQ(r.codigo, 0);
    const auto semNome = p.Log();
    EXPECT_EQ(std::count(semNome.begin(), semNome.end(),
                         "Aviso de monitoramento não entregue a http://monitor.kelvane.invalid: "
                         "o nome não foi resolvido em 5 s"),
              2);
}

} // namespace
