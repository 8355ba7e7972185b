#include "arquivos.h"
#include "espera_trava.h"
#include "processo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane::plataforma {

const int kErroCotaExcedida = EDQUOT;

std::optional<std::string> LerArquivoInteiro(const std::filesystem::path& arquivo, bool& existe,
                                             std::error_code& erro) {
    existe = false;
    erro.clear();
    const int fd = ::open(arquivo.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::string();
        }
        erro = ErroDoSistema(errno);
        return std::nullopt;
    }
    existe = true;
    std::string conteudo;
    char bloco[8192];
    for (;;) {
        const ssize_t n = ::read(fd, bloco, sizeof bloco);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            erro = ErroDoSistema(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        conteudo.append(bloco, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return conteudo;
}

bool EhLink(const std::filesystem::path& caminho) {
    struct stat st {};
    return ::lstat(caminho.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool EhArquivoRegular(const std::filesystem::path& caminho) {
    struct stat st {};
    return ::stat(caminho.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::filesystem::path ArquivoDaFerramenta(const std::filesystem::path& ferramenta) {
    std::error_code erro;
    auto real = std::filesystem::canonical(ferramenta, erro);
    return erro ? ferramenta : real;
}

std::error_code PodeSubstituir(const std::filesystem::path& arquivo, Propriedades& atuais) {
    struct stat st {};
    if (::stat(arquivo.c_str(), &st) != 0) {
        return ErroDoSistema(errno);
    }
    // Read-only (no write bit, or not writable by us).
    if ((st.st_mode & 0222) == 0) {
        return ErroDoSistema(EACCES); // root passes the access check below
    }
    if (::faccessat(AT_FDCWD, arquivo.c_str(), W_OK, AT_EACCESS) != 0) {
        return ErroDoSistema(errno);
    }
    atuais = {st.st_uid, st.st_gid, st.st_mode};
    return {};
}

std::error_code SubstituirArquivo(const std::filesystem::path& arquivo, const std::string& conteudo,
                                  const std::optional<Propriedades>& existente) {
    const auto pasta =
        arquivo.parent_path().empty() ? std::filesystem::path(".") : arquivo.parent_path();
    std::string modelo = (pasta / (arquivo.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(modelo.data(), O_CLOEXEC); // created 0600
    if (fd < 0) {
        return ErroDoSistema(errno);
    }
    int erro = 0; // the first failure's reason
    // Called right after each step, while errno still holds that step's reason.
    const auto conferir = [&](bool ok) {
        if (!ok && erro == 0) {
            erro = errno != 0 ? errno : EIO;
        }
    };
    if (existente) {
        // The new file takes the place of the old one with its owner and mode.
        const auto dono = static_cast<uid_t>(existente->dono);
        const auto grupo = static_cast<gid_t>(existente->grupo);
        if (dono != ::geteuid() || grupo != ::getegid()) {
            conferir(::fchown(fd, dono, grupo) == 0);
        }
        if (erro == 0) {
            conferir(::fchmod(fd, static_cast<mode_t>(existente->modo & 07777)) == 0);
        }
    }
    std::size_t escrito = 0;
    while (erro == 0 && escrito < conteudo.size()) {
        const ssize_t n = ::write(fd, conteudo.data() + escrito, conteudo.size() - escrito);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0) {
            errno = EIO;
        }
        conferir(n > 0);
        if (n > 0) {
            escrito += static_cast<std::size_t>(n);
        }
    }
    if (erro == 0) {
        conferir(::fsync(fd) == 0);
    }
    conferir(::close(fd) == 0);
    if (erro == 0) {
        conferir(::rename(modelo.c_str(), arquivo.c_str()) == 0);
    }
    if (erro != 0) {
        ::unlink(modelo.c_str());
        return ErroDoSistema(erro);
    }
    const int fdPasta = ::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdPasta >= 0) {
        ::fsync(fdPasta);
        ::close(fdPasta);
    }
    return {};
}

// An flock on the folder itself, whose inode (unlike the file's) survives the rename.
TravaPasta::TravaPasta(const std::filesystem::path& pasta, std::chrono::milliseconds espera)
    : trava_(kSemDescritor) {
    const int fd = ::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        erro_ = ErroDoSistema(errno);
        return;
    }
    int r = 0;
    while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (r != 0 && errno == EWOULDBLOCK) { // another holds it: wait for its release
        erro_ = EsperarTrava(
            [fd] {
                int falha = 0;
                while ((falha = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
                }
                return falha == 0 ? std::error_code() : ErroDoSistema(errno);
            },
            [fd] { ::close(fd); }, espera);
        if (!erro_) {
            trava_ = fd;
        }
        return;
    }
    if (r != 0) {
        erro_ = ErroDoSistema(errno);
        ::close(fd);
        return;
    }
    trava_ = fd;
}

TravaPasta::~TravaPasta() {
    if (trava_ >= 0) {
        ::close(static_cast<int>(trava_));
    }
}

Descritor AbrirArquivoTrava(const std::filesystem::path& caminho, std::error_code& erro) {
    const int fd = ::open(caminho.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    erro = fd < 0 ? ErroDoSistema(errno) : std::error_code();
    return fd < 0 ? kSemDescritor : fd;
}

bool TentarTravar(Descritor trava) {
    return ::flock(static_cast<int>(trava), LOCK_EX | LOCK_NB) == 0;
}

void Fechar(Descritor descritor) {
    ::close(static_cast<int>(descritor));
}

std::error_code AcrescentarLinha(const std::filesystem::path& caminho, std::string_view linha,
                                 bool& aberto) {
    const ComoDonoDosDados comoDono; // the log is the data's: the night's run appends to it
    const int fd =
        ::open(caminho.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    aberto = fd >= 0;
    if (!aberto) {
        return ErroDoSistema(errno);
    }
    // With O_APPEND each write lands whole at the end.
    std::size_t escrito = 0;
    int erro = 0;
    while (escrito < linha.size()) {
        const ssize_t n = ::write(fd, linha.data() + escrito, linha.size() - escrito);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            erro = n < 0 ? errno : EIO;
            break;
        }
        escrito += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && erro == 0) {
        erro = errno;
    }
    return erro != 0 ? ErroDoSistema(erro) : std::error_code();
}

long TamanhoMaximoNome(const std::filesystem::path& pasta) {
    const long maximo = ::pathconf(pasta.c_str(), _PC_NAME_MAX);
    return maximo > 0 ? maximo : 255;
}

ArquivoRetido::ArquivoRetido(const std::filesystem::path& arquivo) {
    // Non-blocking: a FIFO put there must not hold the job.
    const int fd = ::open(arquivo.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat st {};
    if (fd < 0) {
        erro_ = ErroDoSistema(errno);
    } else if (::fstat(fd, &st) != 0) {
        erro_ = ErroDoSistema(errno);
    } else if (!S_ISREG(st.st_mode)) {
        erro_ = std::make_error_code(S_ISDIR(st.st_mode) ? std::errc::is_a_directory
                                                         : std::errc::invalid_argument);
    } else {
        arquivo_ = fd;
        return;
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

ArquivoRetido::~ArquivoRetido() {
    if (arquivo_ != kSemDescritor) {
        ::close(static_cast<int>(arquivo_));
    }
}

std::error_code ApagarArquivo(const std::filesystem::path& arquivo) {
    return ::unlink(arquivo.c_str()) == 0 ? std::error_code() : ErroDoSistema(errno);
}

// SQL Server for Linux runs as the job's own account: no other account writes or owns backups.
std::error_code CriarPastaSeFaltar(const std::filesystem::path& pasta, std::string_view) {
    const ComoDonoDosDados comoDono;
    struct stat st {};
    if (::stat(pasta.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (::mkdir(pasta.c_str(), 0755) != 0 && errno != EEXIST) {
            return ErroDoSistema(errno);
        }
    }
    return {};
}

// SQL Server for Linux reads as the job's own account: 0700 is all it needs.
std::error_code CriarPastaNova(const std::filesystem::path& pasta, std::string_view) {
    const ComoDonoDosDados comoDono;
    return ::mkdir(pasta.c_str(), 0700) == 0 ? std::error_code() : ErroDoSistema(errno);
}

std::vector<std::string> ArquivosProprios(const std::filesystem::path& pasta, std::error_code& erro,
                                          std::string_view) {
    std::vector<std::string> nomes;
    for (const auto& e : EntradasDaPasta(pasta, erro)) {
        struct stat st {};
        if (::lstat(e.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
            nomes.push_back(e.filename().string());
        }
    }
    return nomes;
}

} // namespace kelvane::plataforma
