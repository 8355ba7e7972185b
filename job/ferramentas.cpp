#include "ferramentas.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvane {

namespace {

// Enough for the last lines of any tool's complaint, small enough to keep the job's memory flat
// however much a tool prints.
constexpr std::size_t kLimiteSaida = 64 * 1024;

// The tools see file names in UTF-8 whatever locale the scheduler gave us.
std::vector<std::string> AmbienteFilho() {
    std::vector<std::string> ambiente;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "LC_ALL=", 7) != 0) {
            ambiente.emplace_back(*e);
        }
    }
    ambiente.emplace_back("LC_ALL=C.UTF-8");
    return ambiente;
}

std::vector<char*> Ponteiros(std::vector<std::string>& textos) {
    std::vector<char*> p;
    p.reserve(textos.size() + 1);
    for (auto& t : textos) {
        p.push_back(t.data());
    }
    p.push_back(nullptr);
    return p;
}

// What a termination request must not leave behind: the tool at work (it would go on
// competing with the next run) and the uploader's login file (a password on disk). The job runs
// one tool at a time; the handler reads these with async-signal-safe calls only.
volatile std::sig_atomic_t gFilho = 0;
volatile std::sig_atomic_t gLoginPronto = 0;
char gLoginArquivo[PATH_MAX];
char gLoginPasta[PATH_MAX];

void AoTerminar(int sinal) {
    if (const pid_t filho = gFilho; filho > 0) {
        ::kill(filho, SIGTERM);
    }
    if (gLoginPronto) {
        ::unlink(gLoginArquivo);
        ::rmdir(gLoginPasta);
    }
    ::signal(sinal, SIG_DFL);
    ::raise(sinal);
}

// Only where nobody else handles the signal: the process still ends by it, as before.
void InstalarLimpezaAoTerminar() {
    static std::once_flag uma;
    std::call_once(uma, [] {
        for (const int sinal : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction atual {};
            if (::sigaction(sinal, nullptr, &atual) == 0 && atual.sa_handler == SIG_DFL) {
                struct sigaction nova {};
                nova.sa_handler = AoTerminar;
                sigemptyset(&nova.sa_mask);
                ::sigaction(sinal, &nova, nullptr);
            }
        }
    });
}

constexpr std::string_view kPrefixoLogin = "kelvane-ftp.";

// A job killed outright (SIGKILL, power loss) leaves its login folder behind; the folder names
// its process, so the next upload can tell it is stale and remove it.
void RemoverLoginsAbandonados(const std::filesystem::path& tmp) {
    std::error_code erro;
    for (const auto& e : std::filesystem::directory_iterator(tmp, erro)) {
        const std::string nome = e.path().filename().string();
        if (nome.rfind(kPrefixoLogin, 0) != 0) {
            continue;
        }
        const char* numero = nome.c_str() + kPrefixoLogin.size();
        char* fim = nullptr;
        const long pid = std::strtol(numero, &fim, 10);
        struct stat st {};
        if (fim == numero || *fim != '.' || pid <= 0 || ::lstat(e.path().c_str(), &st) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
            continue;
        }
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignorado;
            std::filesystem::remove_all(e.path(), ignorado);
        }
    }
}

void Acrescentar(std::string& saida, const char* dados, std::size_t n) {
    saida.append(dados, n);
    if (saida.size() > 2 * kLimiteSaida) {
        saida.erase(0, saida.size() - kLimiteSaida);
    }
}

} // namespace

bool FerramentaPresente(const std::filesystem::path& pasta, std::string_view nome) {
    struct stat st {};
    return ::stat((pasta / nome).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> FerramentaFaltando(const std::filesystem::path& pasta) {
    for (auto nome : kFerramentas) {
        if (!FerramentaPresente(pasta, nome)) {
            return std::string(nome);
        }
    }
    return std::nullopt;
}

namespace {

std::string Octal(mode_t modo) {
    char texto[8];
    std::snprintf(texto, sizeof texto, "%04o", static_cast<unsigned>(modo & 07777));
    return texto;
}

std::string NomeConta(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? pw->pw_name : std::to_string(uid);
}

std::string NomeGrupo(gid_t gid) {
    const group* gr = ::getgrgid(gid);
    return gr ? gr->gr_name : std::to_string(gid);
}

std::optional<std::string> Inseguro(const std::string& caminho, const std::string& problema,
                                    const std::string& correcao) {
    return "Permissões inseguras: " + caminho + " " + problema +
           "; nada foi executado. Corrija com: " + correcao;
}

// The program folder and how this start was asked for, to word the fix.
struct Contexto {
    std::filesystem::path pasta;
    bool janela = false;
};

// `caminho` (absolute) and every folder above it, each owned by root or us and writable by no one
// else; links are followed to what they lead to. A folder above may be writable by others with
// the sticky bit (only one name is followed through it), the last one when `estrito` may not:
// there anyone who can create a name can put one where we load or write.
std::optional<std::string> ConferirCaminho(const std::filesystem::path& caminho, bool estrito,
                                           const Contexto& ctx, int saltos = 0) {
    if (saltos > 40) {
        return Inseguro(caminho.string(), "tem links demais", "ls -l " + caminho.string());
    }
    const auto normal = caminho.lexically_normal();
    std::filesystem::path atual;
    for (auto parte = normal.begin(); parte != normal.end(); ++parte) {
        atual /= *parte;
        const bool ultimo = std::next(parte) == normal.end();
        struct stat st {};
        if (::lstat(atual.c_str(), &st) != 0) {
            return std::nullopt; // what we cannot reach we cannot load either; missing tools
                                 // are reported on their own
        }
        const std::string p = atual.string();
        const bool pastaPrograma = atual == ctx.pasta;
        if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
            const std::string dono = NomeConta(st.st_uid);
            if (pastaPrograma) {
                const auto exe = (ctx.pasta / "kelvane").string();
                return Inseguro(p,
                                "pertence a " + dono + ", e o kelvane foi iniciado como " +
                                    NomeConta(::geteuid()),
                                ctx.janela ? "sudo -u " + dono + " -E " + exe
                                           : "sudo -u " + dono + " " + exe + " EXEC");
            }
            return Inseguro(p, "pertence a outra conta (" + dono + ")",
                            "chown " + NomeConta(::geteuid()) + " " + p);
        }
        const bool pasta = S_ISDIR(st.st_mode);
        const bool sticky = pasta && (st.st_mode & S_ISVTX) != 0 && !(estrito && ultimo);
        if (!S_ISLNK(st.st_mode) && (st.st_mode & 022) != 0 && !sticky) {
            std::string correcao = "chmod go-w " + p;
            if (pastaPrograma && ::geteuid() == 0 && (st.st_mode & 020) != 0 && st.st_gid != 0) {
                // The group that writes the .BAK here is the server's account: the folder
                // becomes that account's, and the job runs as it.
                const std::string grupo = NomeGrupo(st.st_gid);
                correcao = "chown " + grupo + ": " + p + " && chmod 0700 " + p +
                           ", e rode o kelvane como " + grupo + " (veja o README)";
            } else if (pasta && !(estrito && ultimo)) {
                correcao += " (ou chmod +t " + p + ", se outra conta precisa criar arquivos nela)";
            }
            return Inseguro(
                p, "pode ser alterado pelo grupo ou por outros (modo " + Octal(st.st_mode) + ")",
                correcao);
        }
        if (S_ISLNK(st.st_mode)) {
            std::error_code erro;
            const auto alvo = std::filesystem::read_symlink(atual, erro);
            if (erro) {
                return std::nullopt;
            }
            const auto resolvido = alvo.is_absolute() ? alvo : atual.parent_path() / alvo;
            if (auto problema = ConferirCaminho(resolvido, estrito && ultimo, ctx, saltos + 1)) {
                return problema;
            }
            atual = std::filesystem::canonical(atual, erro);
            if (erro) {
                return std::nullopt;
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::filesystem::path Programa7z(const std::filesystem::path& pasta) {
    // 7z takes the folder it loads its codecs from (Codecs/, Formats/, 7z.so) from the path it
    // is started by: started through the link, it would load whatever lies beside the link.
    std::error_code erro;
    auto real = std::filesystem::canonical(pasta / "7z", erro);
    return erro ? pasta / "7z" : real;
}

std::optional<std::string> CaminhoInseguro(const std::filesystem::path& caminho) {
    return ConferirCaminho(std::filesystem::absolute(caminho), true, Contexto{});
}

std::optional<std::string> PermissaoInsegura(const std::filesystem::path& pasta, bool janela) {
    const Contexto ctx{std::filesystem::absolute(pasta).lexically_normal(), janela};
    std::vector<std::filesystem::path> caminhos = {ctx.pasta, ctx.pasta / "Log"};
    // Every folder in it too: Qt, for one, loads plugins from platforms/ and styles/ there.
    std::error_code erroPasta;
    for (const auto& e : std::filesystem::directory_iterator(ctx.pasta, erroPasta)) {
        if (e.is_directory(erroPasta)) {
            caminhos.push_back(e.path());
        }
    }
    for (const char* nome :
         {"kelvane", "kelvane-janela.so", "7z", "7z.so", "ncftpput", "info.ini"}) {
        caminhos.push_back(ctx.pasta / nome);
    }
    for (const char* sub : {"Codecs", "Formats"}) {
        const auto pastaCodecs = Programa7z(ctx.pasta).parent_path() / sub;
        caminhos.push_back(pastaCodecs);
        std::error_code erro;
        for (const auto& e : std::filesystem::directory_iterator(pastaCodecs, erro)) {
            caminhos.push_back(e.path()); // every file there is loaded
        }
    }
    // From the account's home: ncftpput's firewall settings (where it connects, and what it
    // sends the password to), the ODBC drivers and data sources the driver manager loads, and
    // FreeTDS's settings (which can name a file to write every packet to).
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
        for (const char* nome :
             {".ncftp/firewall", ".odbcinst.ini", ".odbc.ini", ".freetds.conf"}) {
            caminhos.push_back(std::filesystem::path(pw->pw_dir) / nome);
        }
    }
    for (const auto& c : caminhos) {
        if (auto problema = ConferirCaminho(c, true, ctx)) {
            return problema;
        }
    }
    return std::nullopt;
}

std::string TextoFaltandoArquivo(std::string_view nome) {
    return "Está faltando o arquivo: " + std::string(nome);
}

std::string TextoCaixaFerramentaFaltando(std::string_view nome) {
    return TextoFaltandoArquivo(nome) + "\r\nO backup não será efetuado!";
}

std::string ResultadoProcesso::UltimasLinhas(std::size_t n) const {
    std::vector<std::string> linhas;
    std::string atual;
    auto fechar = [&] {
        // Progress displays redraw a line with CR or backspaces: keep what was drawn last.
        const auto cr = atual.find_last_of('\r');
        if (cr != std::string::npos) {
            atual.erase(0, cr + 1);
        }
        std::string limpa;
        for (char c : atual) {
            if (c == '\b') {
                if (!limpa.empty()) {
                    limpa.pop_back();
                }
            } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
                limpa += c;
            }
        }
        const auto ini = limpa.find_first_not_of(" \t");
        if (ini != std::string::npos) {
            linhas.push_back(limpa.substr(ini, limpa.find_last_not_of(" \t") - ini + 1));
        }
        atual.clear();
    };
    for (char c : saida) {
        if (c == '\n') {
            fechar();
        } else {
            atual += c;
        }
    }
    fechar();
    std::string resultado;
    const std::size_t inicio = linhas.size() > n ? linhas.size() - n : 0;
    for (std::size_t i = inicio; i < linhas.size(); ++i) {
        if (!resultado.empty()) {
            resultado += " | ";
        }
        resultado += linhas[i];
    }
    return resultado;
}

ResultadoProcesso ShellEspera(const std::vector<std::string>& argumentos,
                              const OpcoesProcesso& opcoes) {
    if (argumentos.empty()) {
        throw ErroProcesso("nenhum programa para executar");
    }
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0) {
        throw ErroProcesso(std::string("não foi possível criar o canal de saída: ") +
                           std::strerror(errno));
    }
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&acoes, tubo[1], 1);
    posix_spawn_file_actions_adddup2(&acoes, tubo[1], 2);
    if (opcoes.herdar >= 0) {
        // dup2 onto itself clears close-on-exec in the child only.
        posix_spawn_file_actions_adddup2(&acoes, opcoes.herdar, opcoes.herdar);
    }
    // The tool starts with default signal handling and nothing blocked, whatever this process
    // was given.
    posix_spawnattr_t atributos;
    posix_spawnattr_init(&atributos);
    sigset_t padrao;
    sigemptyset(&padrao);
    for (const int sinal : {SIGCHLD, SIGPIPE, SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&padrao, sinal);
    }
    sigset_t nenhum;
    sigemptyset(&nenhum);
    posix_spawnattr_setsigdefault(&atributos, &padrao);
    posix_spawnattr_setsigmask(&atributos, &nenhum);
    posix_spawnattr_setflags(&atributos, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    auto args = argumentos;
    auto argv = Ponteiros(args);
    auto ambiente = AmbienteFilho();
    auto envp = Ponteiros(ambiente);
    InstalarLimpezaAoTerminar();
    pid_t pid = -1;
    const int erro =
        ::posix_spawn(&pid, argumentos[0].c_str(), &acoes, &atributos, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&acoes);
    posix_spawnattr_destroy(&atributos);
    ::close(tubo[1]);
    if (erro != 0) {
        ::close(tubo[0]);
        throw ErroProcesso("não foi possível executar " + argumentos[0] + ": " +
                           std::strerror(erro));
    }
    gFilho = pid;
    if (opcoes.aoIniciar) {
        opcoes.aoIniciar(pid);
    }

    ResultadoProcesso resultado;
    int status = 0;
    bool terminou = false;
    int erroEspera = 0; // waitpid failed: the tool's status is unknown
    char bloco[16384];
    for (;;) {
        pollfd p{tubo[0], POLLIN, 0};
        const int pr = ::poll(&p, 1, terminou ? 0 : 200);
        if (pr > 0) {
            const ssize_t n = ::read(tubo[0], bloco, sizeof bloco);
            if (n > 0) {
                Acrescentar(resultado.saida, bloco, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            break; // end of output
        }
        if (pr < 0 && errno != EINTR) {
            break;
        }
        if (terminou || erroEspera != 0) {
            break; // a grandchild may hold the pipe open; the tool itself is done
        }
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        terminou = w == pid;
        if (w < 0 && errno != EINTR) {
            erroEspera = errno;
        }
    }
    ::close(tubo[0]);
    while (!terminou && erroEspera == 0) {
        const pid_t w = ::waitpid(pid, &status, 0);
        if (w == pid) {
            terminou = true;
        } else if (w < 0 && errno != EINTR) {
            erroEspera = errno;
        }
    }
    gFilho = 0;
    if (!terminou) {
        // ECHILD where SIGCHLD is ignored: the kernel reaped the tool and its status is lost.
        throw ErroProcesso("não foi possível saber como " + argumentos[0] +
                           " terminou: " + std::strerror(erroEspera));
    }
    if (resultado.saida.size() > kLimiteSaida) {
        resultado.saida.erase(0, resultado.saida.size() - kLimiteSaida);
    }
    if (WIFEXITED(status)) {
        resultado.codigo = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        resultado.sinal = WTERMSIG(status);
    }
    return resultado;
}

std::vector<std::string> LinhaCompactador(const std::filesystem::path& pasta,
                                          const std::filesystem::path& arquivo,
                                          const std::filesystem::path& origem) {
    // -spd: a "*" or "?" in a client's name is part of the file name, not a pattern that
    // would pack other backups along.
    return {Programa7z(pasta).string(), "a", "-spd", arquivo.string(), origem.string()};
}

std::vector<std::string> LinhaTesteArquivo(const std::filesystem::path& pasta,
                                           const std::filesystem::path& arquivo) {
    return {Programa7z(pasta).string(), "t", "-spd", arquivo.string()};
}

ArquivoLoginFtp::ArquivoLoginFtp(const DadosFtp& dados) {
    for (const auto* valor : {&dados.endereco, &dados.usuario, &dados.senha}) {
        if (valor->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            throw std::runtime_error(
                "o endereço, o usuário e a senha do FTP não podem conter quebras de linha");
        }
    }
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string tmp = tmpdir && *tmpdir ? tmpdir : "/tmp";
    RemoverLoginsAbandonados(tmp);
    std::string modelo =
        tmp + "/" + std::string(kPrefixoLogin) + std::to_string(::getpid()) + ".XXXXXX";
    if (::mkdtemp(modelo.data()) == nullptr) { // 0700
        throw std::runtime_error(std::string("não foi possível criar a pasta temporária: ") +
                                 std::strerror(errno));
    }
    pasta_ = modelo;
    arquivo_ = pasta_ / "login.cfg";
    InstalarLimpezaAoTerminar();
    if (arquivo_.native().size() < sizeof gLoginArquivo) {
        gLoginPronto = 0;
        std::strcpy(gLoginArquivo, arquivo_.c_str());
        std::strcpy(gLoginPasta, pasta_.c_str());
        gLoginPronto = 1;
    }
    const std::string conteudo =
        "host " + dados.endereco + "\nuser " + dados.usuario + "\npass " + dados.senha + "\n";
    const int fd =
        ::open(arquivo_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = fd >= 0;
    if (ok) {
        ok = ::write(fd, conteudo.data(), conteudo.size()) == static_cast<ssize_t>(conteudo.size());
        ok = (::close(fd) == 0) && ok;
    }
    if (!ok) {
        const int e = errno;
        gLoginPronto = 0;
        std::error_code ignorado;
        std::filesystem::remove_all(pasta_, ignorado);
        throw std::runtime_error(std::string("não foi possível criar o arquivo de login: ") +
                                 std::strerror(e));
    }
}

ArquivoLoginFtp::~ArquivoLoginFtp() {
    gLoginPronto = 0;
    std::error_code ignorado;
    std::filesystem::remove_all(pasta_, ignorado);
}

std::vector<std::string> LinhaEnviador(const std::filesystem::path& pasta,
                                       const std::filesystem::path& arquivoLogin,
                                       const std::string& porta, const std::string& diretorio,
                                       const std::filesystem::path& arquivo) {
    // "--" so that a folder or file name starting with "-" is never taken for an option.
    return {(pasta / "ncftpput").string(),
            "-f",
            arquivoLogin.string(),
            "-P",
            porta,
            "-F",
            "-S",
            std::string(kSufixoEnvio),
            "--",
            diretorio,
            arquivo.string()};
}

ResultadoProcesso EnviarArquivoFtp(const std::filesystem::path& pasta, const DadosFtp& dados,
                                   const std::filesystem::path& arquivo,
                                   const OpcoesProcesso& opcoes) {
    const ArquivoLoginFtp login(dados);
    auto linha = LinhaEnviador(pasta, login.caminho(), dados.porta, dados.diretorio, arquivo);
    if (dados.teste) {
        linha.insert(linha.begin() + 1, {"-r", "1", "-t", "20"});
    }
    auto r = ShellEspera(linha, opcoes);
    // Some servers refuse to rename onto an existing file; ncftpput then deletes the old one and
    // tries again, and reports this when that fails too.
    if (!r.sucesso() && r.saida.find("could not rename remote file") != std::string::npos) {
        const std::string nome = arquivo.filename().string();
        r.motivo = "o servidor recusou renomear " + nome + std::string(kSufixoEnvio) + " para " +
                   nome + ": o arquivo completo está no servidor como " + nome +
                   std::string(kSufixoEnvio) + ", e o " + nome + " anterior pode ter sido apagado";
    }
    return r;
}

std::string DescricaoFalha(const std::string& etapa, const std::string& ferramenta,
                           const ResultadoProcesso& r, std::string (*significado)(int)) {
    std::string texto = etapa + ": " + ferramenta;
    if (r.sinal != 0) {
        texto += " interrompido pelo sinal " + std::to_string(r.sinal);
    } else {
        texto += " terminou com código " + std::to_string(r.codigo) + " (" +
                 (r.motivo.empty() ? significado(r.codigo) : r.motivo) + ")";
    }
    if (const auto ultimas = r.UltimasLinhas(); !ultimas.empty()) {
        texto += ": " + ultimas;
    }
    return texto;
}

long NumeroFalha(const ResultadoProcesso& r) {
    return r.sinal ? 128 + r.sinal : r.codigo;
}

std::string SignificadoCompactador(int codigo) {
    switch (codigo) {
    case 0:
        return "sucesso";
    case 1:
        return "aviso: arquivos que não puderam ser lidos";
    case 2:
        return "erro fatal";
    case 7:
        return "erro na linha de comando";
    case 8:
        return "memória insuficiente";
    case 255:
        return "processo interrompido";
    default:
        return "código desconhecido";
    }
}

std::string SignificadoEnviador(int codigo) {
    switch (codigo) {
    case 0:
        return "sucesso";
    case 1:
        return "não foi possível conectar ou entrar no servidor";
    case 2:
        return "não foi possível conectar ao servidor (tempo esgotado)";
    case 3:
        return "falha na transferência";
    case 4:
        return "falha na transferência (tempo esgotado)";
    case 5:
        return "falha ao mudar para o diretório remoto";
    case 6:
        return "falha ao mudar para o diretório remoto (tempo esgotado)";
    case 7:
        return "URL malformada";
    case 8:
        return "erro de uso da linha de comando";
    case 9:
        return "erro no arquivo de login";
    case 10:
        return "falha ao iniciar a biblioteca de FTP";
    case 11:
        return "falha ao iniciar a sessão FTP";
    default:
        return "código desconhecido";
    }
}

} // namespace kelvane
