// Files and folders as the job and info.ini use them. Failures return their reason as an errno
// value (generic_category): callers word it with strerror, on Windows as well.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kelvane::plataforma {

// A path from the program's UTF-8 text, and back. A std::string handed to path directly is read
// in the C library's code page on Windows, while path::string() gives UTF-8.
inline std::filesystem::path Caminho(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string TextoCaminho(const std::filesystem::path& caminho) {
    const std::u8string texto = caminho.u8string();
    return std::string(texto.begin(), texto.end());
}

// A failure's errno value as a code; a failure the system gave no reason for is still one (EIO).
inline std::error_code ErroDoSistema(int numero) {
    return numero != 0 ? std::error_code(numero, std::generic_category())
                       : std::make_error_code(std::errc::io_error);
}

// The errno value of an exceeded disk quota; 0 where the C library has none (Windows, where a
// quota ends as ENOSPC).
extern const int kErroCotaExcedida;

// An open file or folder: a descriptor, or a handle where the system has those.
using Descritor = std::intptr_t;
inline constexpr Descritor kSemDescritor = -1;

// The whole file. nullopt when it exists but cannot be read (`erro` says why); an empty string
// when it does not exist. `existe` tells the two empty cases apart.
std::optional<std::string> LerArquivoInteiro(const std::filesystem::path& arquivo, bool& existe,
                                             std::error_code& erro);

// Whether `caminho` itself is a link.
bool EhLink(const std::filesystem::path& caminho);
// Whether `caminho` is a regular file (a link to one counts).
bool EhArquivoRegular(const std::filesystem::path& caminho);

// The file a tool of the program folder is started by: on Linux what its link leads to (7z loads
// its codecs from beside the path it is started by, so never beside the link), the path itself
// when that cannot be resolved; on Windows, where the tools are copies, the path itself.
std::filesystem::path ArquivoDaFerramenta(const std::filesystem::path& ferramenta);

// What a replaced file hands on to the one that takes its place.
struct Propriedades {
    std::int64_t dono = -1;
    std::int64_t grupo = -1;
    unsigned modo = 0;
};

// Whether this account may write `arquivo`, which exists (no error), and what the new file must
// keep; EACCES for a read-only file, as Windows refuses it.
std::error_code PodeSubstituir(const std::filesystem::path& arquivo, Propriedades& atuais);
// Writes `conteudo` beside `arquivo` and renames it over it once on disk, so a crash leaves either
// the old or the new file whole; the new one keeps `anterior`'s owner and mode (on Windows, the
// replaced file's security; a new file is ours only).
std::error_code SubstituirArquivo(const std::filesystem::path& arquivo, const std::string& conteudo,
                                  const std::optional<Propriedades>& anterior);

// Serializes the read-change-replace of the files of one folder between processes (on Windows,
// a lock on the folder's kelvane.lock, apart from the job's). Released on destruction, or by the
// system if the process dies. Any account that can open the folder can
// hold it for ever, so the wait is bounded: past `espera` it is not obtained, and erro() is
// EWOULDBLOCK.
class TravaPasta {
public:
    TravaPasta(const std::filesystem::path& pasta, std::chrono::milliseconds espera);
    ~TravaPasta();
    TravaPasta(const TravaPasta&) = delete;
    TravaPasta& operator=(const TravaPasta&) = delete;
    bool obtida() const { return trava_ != kSemDescritor; }
    // Why it was not obtained.
    std::error_code erro() const { return erro_; }

private:
    Descritor trava_;
    std::error_code erro_;
};

// Opens (creating it 0600, never through a link) a lock file whose handle the tools the job
// starts can inherit; kSemDescritor with `erro` on failure.
Descritor AbrirArquivoTrava(const std::filesystem::path& caminho, std::error_code& erro);
// Takes the exclusive lock on it without waiting; whether it was free.
bool TentarTravar(Descritor trava);
void Fechar(Descritor descritor);

// Appends `linha` to the log file `caminho` (created when missing, never through a link) in one
// write, so two processes never interleave inside a line. The reason it was not written, with
// `aberto` telling whether the file could be opened at all.
std::error_code AcrescentarLinha(const std::filesystem::path& caminho, std::string_view linha,
                                 bool& aberto);

// The longest file name, in bytes, the file system that holds `pasta` accepts; 255 when it
// cannot be known.
long TamanhoMaximoNome(const std::filesystem::path& pasta);

// A file held open as it is, never through a link: the job's .BAK while 7z packs it, which SQL
// Server's account writes (on Windows, where that is not the job's account, into a folder it may
// change). Only a regular file is held: a link (a junction, a symbolic link or any other reparse
// point on Windows) is refused with ELOOP, a folder with EISDIR, anything else with EINVAL, so 7z
// never packs what it would lead to. On Windows, while held, no one can rename, replace, change
// or delete it (7z may read it); on Linux only the job's own account could.
class ArquivoRetido {
public:
    explicit ArquivoRetido(const std::filesystem::path& arquivo);
    ~ArquivoRetido();
    ArquivoRetido(const ArquivoRetido&) = delete;
    ArquivoRetido& operator=(const ArquivoRetido&) = delete;
    // Why it is not held; nothing when it is.
    std::error_code erro() const { return erro_; }

private:
    Descritor arquivo_ = kSemDescritor;
    std::error_code erro_;
};

// Deletes a file.
std::error_code ApagarArquivo(const std::filesystem::path& arquivo);
// Creates the folder unless it is there already, ours alone (on Windows SYSTEM's and the
// Administrators' too). On Windows `tambemGrava` (SQL Server's service, for the backups' folder)
// may modify what is in it.
std::error_code CriarPastaSeFaltar(const std::filesystem::path& pasta,
                                   std::string_view tambemGrava = {});

// Creates `pasta` anew: when the name is taken (a folder, a file, a link) nothing is created and
// EEXIST is returned. Ours alone (on Windows SYSTEM's and the Administrators' too); on Windows
// `tambemLe` (SQL Server's service, for the .BAK a restore reads) may read what is in it.
std::error_code CriarPastaNova(const std::filesystem::path& pasta, std::string_view tambemLe = {});

// The entries of `pasta`. A failure, on opening it or part-way through, ends the list and is left
// in `erro` (the range-for of std::filesystem would throw part-way instead).
inline std::vector<std::filesystem::path> EntradasDaPasta(const std::filesystem::path& pasta,
                                                          std::error_code& erro) {
    std::vector<std::filesystem::path> entradas;
    for (std::filesystem::directory_iterator e(pasta, erro), fim; !erro && e != fim;
         e.increment(erro)) {
        entradas.push_back(e->path());
    }
    return entradas;
}

// The names of the regular files in `pasta` this account owns, links left out: another
// account's file is not ours to delete nor to count. On Windows those of `tambemDe` count too
// (SQL Server's service, which owns the .BAK it writes). `erro` is set when it cannot be listed.
std::vector<std::string> ArquivosProprios(const std::filesystem::path& pasta, std::error_code& erro,
                                          std::string_view tambemDe = {});

} // namespace kelvane::plataforma
