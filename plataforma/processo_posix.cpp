#include "processo_sistema.h"

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

// In a process that did not call TratarTerminacao (the suites' own): cleans up in the handler.
void AoTerminar(int sinal) {
    interno::Limpar();
    ::signal(sinal, SIG_DFL);
    ::raise(sinal);
}

// A pipe already holding `entrada`, its writing end closed: the tool reads the bytes and then
// the end of its input. Written before the tool starts, so a tool that never reads cannot hold
// us and none that ends early can raise SIGPIPE here (the job keeps SIGPIPE's default).
std::optional<ErroSistema> PrepararEntrada(const std::string& entrada, int& leitura) {
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC | O_NONBLOCK) != 0) {
        return ErroSistema(Operacao::CriarCanalEntrada, {errno, std::generic_category()});
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
        return ErroSistema(Operacao::PrepararEntrada,
                           {n < 0 ? e : EMSGSIZE, std::generic_category()});
    }
    // The tool reads as usual, waiting for data.
    ::fcntl(tubo[0], F_SETFL, ::fcntl(tubo[0], F_GETFL) & ~O_NONBLOCK);
    leitura = tubo[0];
    return std::nullopt;
}

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

// The log line needs the local time, the log's encoding and a lock: nothing a signal handler may
// do. Here it is ordinary code, whatever the job's own thread is blocked in (a tool, a driver).
// The log line needs the local time, the log's encoding and a lock: nothing a signal handler may
// do. Here it is ordinary code, whatever the job's own thread is blocked in (a tool, a driver).
void EsperarTerminacao(sigset_t conjunto) {
    int sinal = 0;
    while (::sigwait(&conjunto, &sinal) != 0) {
    }
    interno::Interromper(NomeSinal(sinal), sinal);
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

// The tool's input from the null device or a pipe holding `entrada` (`leituraEntrada`), its
// output and errors into `escrita`; `outraConta` in "/" with no descriptor of ours, else
// `herdar` (when not kSemDescritor) inherited too.
void AcoesFilho(posix_spawn_file_actions_t& acoes, int leituraEntrada, int escrita,
                Descritor herdar, bool outraConta) {
    posix_spawn_file_actions_init(&acoes);
    if (leituraEntrada >= 0) {
        posix_spawn_file_actions_adddup2(&acoes, leituraEntrada, 0);
    } else {
        posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&acoes, escrita, 1);
    posix_spawn_file_actions_adddup2(&acoes, escrita, 2);
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
}

// The tool starts with default signal handling and nothing blocked, whatever this process was
// given, in a group of its own, so that stopping it stops whatever it started as well; another
// account's in a session of its own (whose group it leads), with no terminal to type into.
void AtributosFilho(posix_spawnattr_t& atributos, bool outraConta) {
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
    posix_spawnattr_setpgroup(&atributos, 0);
    posix_spawnattr_setflags(&atributos,
                             POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                 (outraConta ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP));
}

// A tool started by posix_spawn: reaped through its pidfd, its output read from a pipe.
class FerramentaPosix final : public interno::Ferramenta {
public:
    explicit FerramentaPosix(std::string programa) : programa_(std::move(programa)) {}
    ~FerramentaPosix() override { FecharSaida(); }
    FerramentaPosix(const FerramentaPosix&) = delete;
    FerramentaPosix& operator=(const FerramentaPosix&) = delete;

    std::optional<ErroSistema> Iniciar(const interno::Partida& partida);

    std::int64_t Id() const override { return pid_; }

    bool Aguardar(interno::Instante prazo, const interno::Saida& saida) override {
        // A tool that closed its output may still run: then only its end and the limit count.
        pollfd p[2] = {{vigia_->descritor(), POLLIN, 0}, {saidaAberta_ ? saida_ : -1, POLLIN, 0}};
        const int pr = ::poll(p, 2, static_cast<int>(interno::MilissegundosAte(prazo, INT_MAX)));
        if (pr < 0 && errno != EINTR) {
            erro_ = errno;
        } else if (pr > 0 && p[1].revents != 0) {
            saidaAberta_ = LerSaida(saida_, bloco_, sizeof bloco_, saida);
        } else if (pr > 0 && p[0].revents != 0) {
            const pid_t w = ::waitpid(pid_, &status_, WNOHANG);
            if (w < 0 && errno != EINTR) {
                erro_ = errno;
            }
            return w == pid_;
        }
        return false;
    }

    bool Falhou() const override { return erro_ != 0; }

    void Matar() override {
        ::kill(-pid_, SIGKILL); // the tool and whatever it started
        ::kill(pid_, SIGKILL);  // also where it left its group
    }

    // A grandchild may hold the pipe open, so no more than what is there now.
    void Esvaziar(const interno::Saida& saida) override {
        while (saidaAberta_) {
            pollfd p{saida_, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0 || !LerSaida(saida_, bloco_, sizeof bloco_, saida)) {
                break;
            }
        }
        FecharSaida();
    }

    // Stopped, and its status dropped; ECHILD where SIGCHLD is ignored: the kernel reaped it.
    void Abandonar() override {
        FecharSaida();
        if (erro_ != ECHILD) {
            Matar();
            while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
            }
        }
    }

    std::optional<ErroSistema> Resultado(bool terminou, FimPrograma& fim) override {
        if (!terminou) {
            return ErroSistema(Operacao::ConhecerFim, {erro_, std::generic_category()}, programa_);
        }
        if (WIFEXITED(status_)) {
            fim.codigo = WEXITSTATUS(status_);
        } else if (WIFSIGNALED(status_)) {
            fim.sinal = WTERMSIG(status_);
        }
        return std::nullopt;
    }

private:
    void FecharSaida() {
        if (saida_ >= 0) {
            ::close(saida_);
            saida_ = -1;
        }
    }

    std::string programa_;
    pid_t pid_ = -1;
    int saida_ = -1; // the reading end of its output
    bool saidaAberta_ = true;
    int status_ = 0;
    int erro_ = 0; // errno of a failed wait
    std::optional<VigiaFim> vigia_;
    char bloco_[16384];
};

std::optional<ErroSistema> FerramentaPosix::Iniciar(const interno::Partida& partida) {
    int leituraEntrada = -1;
    if (!partida.entrada.empty()) {
        if (auto erro = PrepararEntrada(partida.entrada, leituraEntrada)) {
            return erro;
        }
    }
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0) {
        const int e = errno;
        if (leituraEntrada >= 0) {
            ::close(leituraEntrada);
        }
        return ErroSistema(Operacao::CriarCanalSaida, {e, std::generic_category()});
    }
    saida_ = tubo[0];
    posix_spawn_file_actions_t acoes;
    AcoesFilho(acoes, leituraEntrada, tubo[1], partida.herdar, partida.outraConta);
    posix_spawnattr_t atributos;
    AtributosFilho(atributos, partida.outraConta);
    auto args = partida.argumentos;
    auto argv = Ponteiros(args);
    auto ambiente = partida.ambiente;
    auto envp = Ponteiros(ambiente);
    interno::InstalarLimpezaAoTerminar();
    auto inicio = interno::TravarInicio();
    const int erro =
        ::posix_spawn(&pid_, programa_.c_str(), &acoes, &atributos, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&acoes);
    posix_spawnattr_destroy(&atributos);
    ::close(tubo[1]);
    if (leituraEntrada >= 0) {
        ::close(leituraEntrada);
    }
    if (erro != 0) {
        return ErroSistema(Operacao::ExecutarPrograma, {erro, std::generic_category()}, programa_);
    }
    interno::RegistrarFilho(pid_);
    inicio.unlock();
    erro_ = vigia_.emplace(pid_).erro(); // its end cannot be known
    return std::nullopt;
}

} // namespace

std::optional<ErroSistema> interno::Iniciar(const Partida& partida,
                                            std::unique_ptr<Ferramenta>& ferramenta) {
    auto nova = std::make_unique<FerramentaPosix>(partida.argumentos[0]);
    auto erro = nova->Iniciar(partida);
    ferramenta = std::move(nova);
    return erro;
}

std::vector<std::string> interno::AmbienteFerramenta() {
    return AmbienteFilho();
}

void interno::PararFilho(IdFilho filho) {
    if (filho > 0) {
        ::kill(-static_cast<pid_t>(filho), SIGTERM); // its group: whatever it started too
    }
}

void interno::ApagarLogin(const char* arquivo, const char* pasta) {
    ::unlink(arquivo);
    ::rmdir(pasta);
}

// Only where nobody else handles the signal: the process still ends by it, as before.
void interno::InstalarLimpezaAoTerminar() {
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

void interno::TerminarComo(int sinal) {
    ::signal(sinal, SIG_DFL);
    sigset_t este;
    sigemptyset(&este);
    sigaddset(&este, sinal);
    ::pthread_sigmask(SIG_UNBLOCK, &este, nullptr);
    ::raise(sinal);
    std::_Exit(128 + sinal); // not reached: the signal's default ends the process
}

void interno::Dormir() {
    ::pause();
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

std::optional<ErroSistema> ExecutarComoDonoDosDados(
    const std::vector<std::string>& argumentos, const std::vector<std::string>& variaveis,
    const std::function<void(std::int64_t)>& aoIniciar,
    const std::function<void(const char*, std::size_t)>& saida, FimPrograma& fim) {
    if (!gAdotada.ativa) {
        return ErroSistema(Operacao::SemDonoAdotado, {});
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
    return interno::Executar({comando, kSemDescritor, {}, std::move(ambiente), true},
                             std::chrono::seconds(0), aoIniciar, saida, fim);
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

} // namespace kelvane::plataforma
