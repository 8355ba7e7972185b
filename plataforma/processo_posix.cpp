#include "processo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kelvane::plataforma {

namespace {

// What the login file's lock covers: one byte far past any content, as on Windows, where a lock
// on the content would stop the uploader reading it. An open file description's lock (not
// flock): Wine keeps a Windows program's LockFileEx as a POSIX lock on the same byte, so a job
// under Wine and one here see each other's.
constexpr off_t kByteVida = off_t(1) << 62;

struct flock RegiaoVida(short tipo) {
    struct flock regiao {};
    regiao.l_type = tipo;
    regiao.l_whence = SEEK_SET;
    regiao.l_start = kByteVida;
    regiao.l_len = 1;
    return regiao;
}

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

// The account whose data a root window works on (AdotarDonoDosDados), set once at start.
struct ContaAdotada {
    bool ativa = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string nome, casa;
};
ContaAdotada gAdotada;

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

void Limpar() {
    if (const pid_t filho = gFilho; filho > 0) {
        ::kill(-filho, SIGTERM); // its group: whatever it started too
    }
    if (gLoginPronto) {
        ::unlink(gLoginArquivo);
        ::rmdir(gLoginPasta);
    }
}

// In a process that did not call TratarTerminacao (the suites' own): cleans up in the handler.
void AoTerminar(int sinal) {
    Limpar();
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

// A pipe already holding `entrada`, its writing end closed: the tool reads the bytes and then
// the end of its input. Written before the tool starts, so a tool that never reads cannot hold
// us and none that ends early can raise SIGPIPE here (the job keeps SIGPIPE's default).
std::optional<std::string> PrepararEntrada(const std::string& entrada, int& leitura) {
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC | O_NONBLOCK) != 0) {
        return std::string("não foi possível criar o canal de entrada: ") + std::strerror(errno);
    }
    if (entrada.size() > 4096) { // the least a pipe holds; most hold 64 KiB
        ::fcntl(tubo[1], F_SETPIPE_SZ,
                static_cast<int>(std::min<std::size_t>(entrada.size(), 1 << 20)));
    }
    const ssize_t n = ::write(tubo[1], entrada.data(), entrada.size());
    const int e = errno;
    ::close(tubo[1]);
    if (n < 0 || static_cast<std::size_t>(n) != entrada.size()) {
        ::close(tubo[0]);
        return std::string("não foi possível preparar a entrada do programa: ") +
               std::strerror(n < 0 ? e : EMSGSIZE);
    }
    // The tool reads as usual, waiting for data.
    ::fcntl(tubo[0], F_SETFL, ::fcntl(tubo[0], F_GETFL) & ~O_NONBLOCK);
    leitura = tubo[0];
    return std::nullopt;
}

std::mutex gRegistroTrava;
// Held from a tool's start until gFilho names it; a termination request takes it for good, so
// that no tool starts unseen while the process ends.
std::mutex gInicioTrava;
std::function<void(const std::string&)> gRegistrar;
std::atomic<bool> gInterrompido{false};

const char* NomeSinal(int sinal) {
    switch (sinal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    default:
        return "SIGHUP";
    }
}

// The first request is the one handled; a second one, from another thread, waits for it to end
// the process.
[[noreturn]] void Interromper(const char* motivo, int sinal) {
    if (gInterrompido.exchange(true)) {
        for (;;) {
            ::pause();
        }
    }
    {
        std::lock_guard trava(gRegistroTrava);
        if (gRegistrar) {
            try {
                gRegistrar(motivo);
            } catch (...) { // the process ends by the signal all the same
            }
        }
    }
    gInicioTrava.lock();
    Limpar();
    ::signal(sinal, SIG_DFL);
    sigset_t este;
    sigemptyset(&este);
    sigaddset(&este, sinal);
    ::pthread_sigmask(SIG_UNBLOCK, &este, nullptr);
    ::raise(sinal);
    std::_Exit(128 + sinal); // not reached: the signal's default ends the process
}

// The log line needs the local time, the log's encoding and a lock: nothing a signal handler may
// do. Here it is ordinary code, whatever the job's own thread is blocked in (a tool, a driver).
void EsperarTerminacao(sigset_t conjunto) {
    int sinal = 0;
    while (::sigwait(&conjunto, &sinal) != 0) {
    }
    Interromper(NomeSinal(sinal), sinal);
}

// Milliseconds from now until `prazo` for poll, rounded up so that the wake-up finds it passed;
// -1 (no limit) for a step without one.
int MilissegundosAte(std::chrono::steady_clock::time_point prazo) {
    using namespace std::chrono;
    if (prazo == steady_clock::time_point::max()) {
        return -1;
    }
    const auto resta = ceil<milliseconds>(prazo - steady_clock::now()).count();
    return static_cast<int>(std::clamp<decltype(resta)>(resta, 0, INT_MAX));
}

// Hands what the tool wrote to `saida`; false at the end of its output.
bool LerSaida(int descritor, char* bloco, std::size_t tamanho,
              const std::function<void(const char*, std::size_t)>& saida) {
    const ssize_t n = ::read(descritor, bloco, tamanho);
    if (n > 0) {
        saida(bloco, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && errno == EINTR;
}

// A descriptor that becomes readable when the tool ends, without reaping it: its pidfd (Linux
// 5.3), or where the kernel has none or refuses it, a pipe written by a thread that waits for the
// end (waitid with WNOWAIT leaves the status to waitpid).
class VigiaFim {
public:
    explicit VigiaFim(pid_t pid) {
#ifdef SYS_pidfd_open
        descritor_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); // close-on-exec
        if (descritor_ >= 0) {
            return;
        }
#endif
        int tubo[2];
        if (::pipe2(tubo, O_CLOEXEC) != 0) {
            erro_ = errno;
            return;
        }
        descritor_ = tubo[0];
        aviso_ = tubo[1];
        try {
            espera_ = std::thread([pid, aviso = aviso_] {
                siginfo_t info{};
                while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
                       errno == EINTR) {
                }
                const char c = 0;
                while (::write(aviso, &c, 1) < 0 && errno == EINTR) {
                }
            });
        } catch (const std::system_error& e) {
            erro_ = e.code().value();
        }
    }
    ~VigiaFim() {
        if (espera_.joinable()) {
            espera_.join(); // the tool is reaped or killed by now: the thread has returned
        }
        for (const int fd : {descritor_, aviso_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    VigiaFim(const VigiaFim&) = delete;
    VigiaFim& operator=(const VigiaFim&) = delete;
    // Nothing wakes at the tool's end when this is not 0 (errno): its end cannot be known.
    int erro() const {
        return erro_;
    }
    int descritor() const {
        return descritor_;
    }

private:
    int erro_ = 0;
    int descritor_ = -1;
    int aviso_ = -1;
    std::thread espera_;
};

} // namespace

namespace {

// ExecutarPrograma with this environment; `outraConta` in a session of its own, in "/", with
// no inherited descriptor.
std::optional<std::string> Executar(const std::vector<std::string>& argumentos, Descritor herdar,
                                    std::chrono::seconds limite,
                                    const std::function<void(std::int64_t)>& aoIniciar,
                                    const std::function<void(const char*, std::size_t)>& saida,
                                    FimPrograma& fim, const std::string& entrada,
                                    std::vector<std::string> ambiente, bool outraConta) {
    fim = FimPrograma{};
    int leituraEntrada = -1;
    if (!entrada.empty()) {
        if (auto erro = PrepararEntrada(entrada, leituraEntrada)) {
            return erro;
        }
    }
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0) {
        const int e = errno;
        if (leituraEntrada >= 0) {
            ::close(leituraEntrada);
        }
        return std::string("não foi possível criar o canal de saída: ") + std::strerror(e);
    }
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    if (leituraEntrada >= 0) {
        posix_spawn_file_actions_adddup2(&acoes, leituraEntrada, 0);
    } else {
        posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&acoes, tubo[1], 1);
    posix_spawn_file_actions_adddup2(&acoes, tubo[1], 2);
    if (outraConta) {
        // Nothing of ours (the display's connection among them) and no folder of root's.
        posix_spawn_file_actions_addclosefrom_np(&acoes, 3);
        posix_spawn_file_actions_addchdir_np(&acoes, "/");
    }
    if (herdar >= 0) {
        // dup2 onto itself clears close-on-exec in the child only.
        const int fd = static_cast<int>(herdar);
        posix_spawn_file_actions_adddup2(&acoes, fd, fd);
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
    // A group of its own, so that stopping it stops whatever it started as well; another
    // account's a session of its own (whose group it leads), with no terminal to type into.
    posix_spawnattr_setpgroup(&atributos, 0);
    posix_spawnattr_setflags(&atributos,
                             POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                 (outraConta ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP));

    auto args = argumentos;
    auto argv = Ponteiros(args);
    auto envp = Ponteiros(ambiente);
    InstalarLimpezaAoTerminar();
    pid_t pid = -1;
    std::unique_lock inicio(gInicioTrava);
    const int erro =
        ::posix_spawn(&pid, argumentos[0].c_str(), &acoes, &atributos, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&acoes);
    posix_spawnattr_destroy(&atributos);
    ::close(tubo[1]);
    if (leituraEntrada >= 0) {
        ::close(leituraEntrada);
    }
    if (erro != 0) {
        ::close(tubo[0]);
        return "não foi possível executar " + argumentos[0] + ": " + std::strerror(erro);
    }
    gFilho = pid;
    inicio.unlock();
    const auto prazo = Prazo(limite);
    if (aoIniciar) {
        aoIniciar(pid);
    }

    // The tool's end, its output and its limit each wake this thread; nothing else does.
    int status = 0;
    bool terminou = false;
    const VigiaFim vigia(pid);
    int erroEspera = vigia.erro(); // the tool's end cannot be known
    bool saidaAberta = true;
    char bloco[16384];
    while (!terminou && erroEspera == 0) {
        if (!fim.parado && std::chrono::steady_clock::now() >= prazo) {
            ::kill(-pid, SIGKILL); // the tool and whatever it started: nothing may hold on
            ::kill(pid, SIGKILL);  // also where it left its group
            fim.parado = true;
        }
        // A tool that closed its output may still run: then only its end and the limit count.
        pollfd p[2] = {{vigia.descritor(), POLLIN, 0}, {saidaAberta ? tubo[0] : -1, POLLIN, 0}};
        const int pr = ::poll(p, 2, fim.parado ? -1 : MilissegundosAte(prazo));
        if (pr < 0 && errno != EINTR) {
            erroEspera = errno;
        } else if (pr > 0 && p[1].revents != 0) {
            saidaAberta = LerSaida(tubo[0], bloco, sizeof bloco, saida);
        } else if (pr > 0 && p[0].revents != 0) {
            const pid_t w = ::waitpid(pid, &status, WNOHANG);
            terminou = w == pid;
            if (w < 0 && errno != EINTR) {
                erroEspera = errno;
            }
        }
    }
    // What it wrote before it ended; a grandchild may hold the pipe open, so no more than that.
    while (terminou && saidaAberta) {
        pollfd p{tubo[0], POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !LerSaida(tubo[0], bloco, sizeof bloco, saida)) {
            break;
        }
    }
    ::close(tubo[0]);
    if (!terminou && erroEspera != ECHILD) {
        // Not left running unseen: stopped, and its status dropped.
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    gFilho = 0;
    AguardarSeInterrompido(); // the tool was stopped for it: its end is no failure to report
    if (!terminou) {
        // ECHILD where SIGCHLD is ignored: the kernel reaped the tool and its status is lost.
        return "não foi possível saber como " + argumentos[0] +
               " terminou: " + std::strerror(erroEspera);
    }
    if (WIFEXITED(status)) {
        fim.codigo = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        fim.sinal = WTERMSIG(status);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string>
ExecutarPrograma(const std::vector<std::string>& argumentos, Descritor herdar,
                 std::chrono::seconds limite, const std::function<void(std::int64_t)>& aoIniciar,
                 const std::function<void(const char*, std::size_t)>& saida, FimPrograma& fim,
                 const std::string& entrada) {
    return Executar(argumentos, herdar, limite, aoIniciar, saida, fim, entrada, AmbienteFilho(),
                    false);
}

bool AdotarDonoDosDados(const std::filesystem::path& dados) {
    gAdotada = {};
    struct stat st {};
    if (::geteuid() != 0 || ::lstat(dados.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid == 0) {
        return false;
    }
    const passwd* pw = ::getpwuid(st.st_uid);
    if (pw == nullptr) {
        return false; // the check then refuses the data, as before
    }
    gAdotada = {true, st.st_uid, pw->pw_gid, pw->pw_name, pw->pw_dir};
    return true;
}

bool DonoDosDadosAdotado() {
    return gAdotada.ativa;
}

std::int64_t IdDonoDosDados() {
    return gAdotada.ativa ? static_cast<std::int64_t>(gAdotada.uid) : -1;
}

// setfsuid and setfsgid change the calling thread alone, and with a file system id other than 0
// the thread loses root's file capabilities until it is 0 again.
ComoDonoDosDados::ComoDonoDosDados() {
    if (gAdotada.ativa) {
        anterior_[1] = ::setfsgid(gAdotada.gid);
        anterior_[0] = ::setfsuid(gAdotada.uid);
    }
}

ComoDonoDosDados::~ComoDonoDosDados() {
    if (anterior_[0] >= 0) {
        ::setfsuid(static_cast<uid_t>(anterior_[0]));
        ::setfsgid(static_cast<gid_t>(anterior_[1]));
    }
}

std::optional<std::string> ExecutarComoDonoDosDados(
    const std::vector<std::string>& argumentos, const std::vector<std::string>& variaveis,
    const std::function<void(std::int64_t)>& aoIniciar,
    const std::function<void(const char*, std::size_t)>& saida, FimPrograma& fim) {
    if (!gAdotada.ativa) {
        return std::string("nenhuma conta dona dos dados foi adotada");
    }
    // util-linux's setpriv takes the account's ids and groups and then runs the program.
    std::vector<std::string> comando = {"/usr/bin/setpriv",
                                        "--reuid=" + std::to_string(gAdotada.uid),
                                        "--regid=" + std::to_string(gAdotada.gid),
                                        "--init-groups",
                                        "--no-new-privs",
                                        "--"};
    comando.insert(comando.end(), argumentos.begin(), argumentos.end());
    std::vector<std::string> ambiente = {"PATH=/usr/bin:/bin", "HOME=" + gAdotada.casa,
                                         "USER=" + gAdotada.nome, "LOGNAME=" + gAdotada.nome,
                                         "LC_ALL=C.UTF-8"};
    for (const char* nome : {"LANG", "TZ"}) {
        if (const char* valor = std::getenv(nome)) {
            ambiente.push_back(std::string(nome) + "=" + valor);
        }
    }
    ambiente.insert(ambiente.end(), variaveis.begin(), variaveis.end());
    return Executar(comando, kSemDescritor, std::chrono::seconds(0), aoIniciar, saida, fim, {},
                    std::move(ambiente), true);
}

std::int64_t IdProcesso() {
    return ::getpid();
}

bool ProcessoVivo(std::int64_t pid) {
    return !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

std::filesystem::path PastaTemporaria() {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

std::optional<std::filesystem::path> CriarPastaPrivada(const std::filesystem::path& pasta,
                                                       const std::string& inicio,
                                                       std::error_code& erro) {
    std::string modelo = (pasta / (inicio + "XXXXXX")).string();
    if (::mkdtemp(modelo.data()) == nullptr) { // 0700
        erro = ErroDoSistema(errno);
        return std::nullopt;
    }
    erro.clear();
    return modelo;
}

bool PastaPropria(const std::filesystem::path& pasta) {
    struct stat st {};
    return ::lstat(pasta.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

Descritor CriarArquivoPrivado(const std::filesystem::path& arquivo, const std::string& conteudo,
                              std::error_code& erro) {
    const int fd =
        ::open(arquivo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        erro = ErroDoSistema(errno);
        return kSemDescritor;
    }
    // Where locks are not kept (no file system under /tmp lacks them) the file is made all the
    // same: the pid alone cannot tell, and a stale file stays rather than a live one going.
    auto regiao = RegiaoVida(F_WRLCK);
    ::fcntl(fd, F_OFD_SETLK, &regiao);
    const ssize_t n = ::write(fd, conteudo.data(), conteudo.size());
    // A short write gives no reason of its own.
    const int falha = n < 0 ? errno : (static_cast<std::size_t>(n) != conteudo.size() ? EIO : 0);
    if (falha != 0) {
        ::close(fd);
        erro = ErroDoSistema(falha);
        return kSemDescritor;
    }
    erro.clear();
    return fd;
}

bool ArquivoPrivadoAbandonado(const std::filesystem::path& arquivo) {
    const int fd = ::open(arquivo.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    // The size first: its owner locks it before writing, so content seen means a lock taken.
    struct stat st {};
    auto regiao = RegiaoVida(F_WRLCK);
    const bool abandonado = ::fstat(fd, &st) == 0 && st.st_size > 0 &&
                            ::fcntl(fd, F_OFD_GETLK, &regiao) == 0 && regiao.l_type == F_UNLCK;
    ::close(fd);
    return abandonado;
}

void ApagarAoTerminar(const std::filesystem::path& arquivo, const std::filesystem::path& pasta) {
    InstalarLimpezaAoTerminar();
    if (arquivo.native().size() < sizeof gLoginArquivo) {
        gLoginPronto = 0;
        std::strcpy(gLoginArquivo, arquivo.c_str());
        std::strcpy(gLoginPasta, pasta.c_str());
        gLoginPronto = 1;
    }
}

void EsquecerAoTerminar() {
    gLoginPronto = 0;
}

void TratarTerminacao() {
    static std::once_flag uma;
    std::call_once(uma, [] {
        sigset_t conjunto;
        sigemptyset(&conjunto);
        for (const int sinal : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction atual {};
            if (::sigaction(sinal, nullptr, &atual) == 0 && atual.sa_handler == SIG_DFL) {
                sigaddset(&conjunto, sinal);
            }
        }
        ::pthread_sigmask(SIG_BLOCK, &conjunto, nullptr);
        try {
            std::thread(EsperarTerminacao, conjunto).detach();
        } catch (const std::system_error&) {
            ::pthread_sigmask(SIG_UNBLOCK, &conjunto, nullptr); // the handler instead
        }
    });
}

void AoInterromper(std::function<void(const std::string& motivo)> registrar) {
    std::lock_guard trava(gRegistroTrava);
    gRegistrar = std::move(registrar);
}

void EsquecerInterrupcao() {
    AoInterromper(nullptr);
}

void InterromperAgora(const std::string& motivo) {
    Interromper(motivo.c_str(), SIGTERM);
}

void AguardarSeInterrompido() {
    while (gInterrompido) {
        ::pause();
    }
}

} // namespace kelvane::plataforma
