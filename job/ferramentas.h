// The external archiver and uploader: presence check, argument vectors, and ShellEspera, which
// starts a program without a shell and waits for it.
#pragma once

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Checked in this order; the first one missing is reported.
inline constexpr std::array<std::string_view, 3> kFerramentas = {
    plataforma::kNome7z, plataforma::kNomeBiblioteca7z, plataforma::kNomeEnviador};

// Whether the tool `nome` is in `pasta` as a regular file (a link to one counts).
bool FerramentaPresente(const std::filesystem::path& pasta, std::string_view nome);
// The first of kFerramentas missing from `pasta`.
std::optional<std::string> FerramentaFaltando(const std::filesystem::path& pasta);
// "Está faltando o arquivo: <nome>"
std::string TextoFaltandoArquivo(std::string_view nome);
// The message box text: the missing-file text, CR LF, "O backup não será efetuado!"
std::string TextoCaixaFerramentaFaltando(std::string_view nome);

// Before anything is opened, read, run or sent: whether an account other than root and this
// process's own could make us run its code, write where it chooses or read the data. The data
// folder, its Log and info.ini are ours alone, readable by no one else; the program (`kelvane`,
// the window module, each tool (the link and what it leads to), 7z's codecs, the file that names
// the data folder, every folder in it and above) belongs to root alone when it lies apart from
// its data, to root or us in a portable copy, and no one else can write it (a folder above only
// with the sticky bit); ncftpput's and the driver manager's settings in the account's home
// likewise. On Windows the backups' folder as the data, with SQL Server's service (named by
// ServidorDB in info.ini, once that passed) allowed to write it. Returns the one line that names
// the first path at fault and the fix; `janela` words the fix for opening the window.
std::optional<std::string> PermissaoInsegura(const std::filesystem::path& pasta,
                                             const std::filesystem::path& dados,
                                             bool janela = false);
// The file that names the data folder, before it is read.
std::optional<std::string> ArquivoPastaDadosInseguro(const std::filesystem::path& pasta);
// The same check for one more file we load (an ODBC driver named by path).
std::optional<std::string> CaminhoInseguro(const std::filesystem::path& caminho);
// The 7z to start: the file the link in the program folder leads to.
std::filesystem::path Programa7z(const std::filesystem::path& pasta);

struct ResultadoProcesso {
    int codigo = -1;               // exit status; -1 when ended by a signal
    int sinal = 0;                 // the signal that ended it, 0 otherwise
    std::chrono::seconds parado{}; // the time limit it was stopped at; zero when it ended itself
    std::string saida;             // the tail of stdout and stderr together
    std::string motivo;            // what went wrong, where the exit status alone does not tell

    bool sucesso() const { return parado.count() == 0 && sinal == 0 && codigo == 0; }
    // The last `n` non-empty lines of the output, joined with " | ".
    std::string UltimasLinhas(std::size_t n = 5) const;
};

// The program could not be started at all (missing, not executable...).
class ErroProcesso : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OpcoesProcesso {
    // Called with the child's pid once it runs (tests and the window use it).
    std::function<void(std::int64_t)> aoIniciar;
    // A handle the program inherits (the job's lock: held while the tool runs).
    plataforma::Descritor herdar = plataforma::kSemDescritor;
    // Past this the program and what it started are killed; zero: no limit.
    std::chrono::seconds limite{};
};

// Starts argumentos[0] with exactly these arguments (no shell, no splitting), stdin from
// /dev/null, stdout and stderr captured, default signal handling; waits for it at most
// opcoes.limite. Throws ErroProcesso when the program cannot be started or its end cannot be
// known.
ResultadoProcesso ShellEspera(const std::vector<std::string>& argumentos,
                              const OpcoesProcesso& opcoes = {});

// Programa7z a -spd <arquivo> <origem> (names taken literally, never as wildcards)
std::vector<std::string> LinhaCompactador(const std::filesystem::path& pasta,
                                          const std::filesystem::path& arquivo,
                                          const std::filesystem::path& origem);
// Programa7z t -spd <arquivo>
std::vector<std::string> LinhaTesteArquivo(const std::filesystem::path& pasta,
                                           const std::filesystem::path& arquivo);

struct DadosFtp {
    std::string endereco;
    std::string usuario;
    std::string senha;
    std::string porta;
    std::string diretorio;
    // A connection test: one dial, and a server silent for 20 s fails, so the answer comes at
    // once (by default the uploader redials a refused server twice, 20 s apart).
    bool teste = false;
};

// The uploader's login file ("host", "user", "pass" lines), mode 0600 inside a private temporary
// folder, removed with the folder when the object goes away, or by SIGTERM, SIGINT or SIGHUP
// (which also stop the running tool) where the program does not handle those itself. The folder
// is named after the process, so one left by a process that was killed outright is removed by
// the next upload. Throws std::runtime_error when a value holds a line break (it would add
// lines to the file) or the file cannot be made.
class ArquivoLoginFtp {
public:
    explicit ArquivoLoginFtp(const DadosFtp& dados);
    ~ArquivoLoginFtp();
    ArquivoLoginFtp(const ArquivoLoginFtp&) = delete;
    ArquivoLoginFtp& operator=(const ArquivoLoginFtp&) = delete;
    const std::filesystem::path& caminho() const { return arquivo_; }

private:
    std::filesystem::path pasta_;
    std::filesystem::path arquivo_;
};

// The suffix of the name an archive is uploaded under until it is whole.
inline constexpr std::string_view kSufixoEnvio = ".parcial";

// <P>/ncftpput -f <login> -P <porta> -F -S .parcial -- <diretorio> <arquivo>: the file arrives
// under a temporary name that is renamed to its own only once the transfer is complete, so a
// broken upload never replaces a good remote copy.
std::vector<std::string> LinhaEnviador(const std::filesystem::path& pasta,
                                       const std::filesystem::path& arquivoLogin,
                                       const std::string& porta, const std::string& diretorio,
                                       const std::filesystem::path& arquivo);

// Sends one file with the uploader; the login file exists only while it runs.
ResultadoProcesso EnviarArquivoFtp(const std::filesystem::path& pasta, const DadosFtp& dados,
                                   const std::filesystem::path& arquivo,
                                   const OpcoesProcesso& opcoes = {});

// "<etapa>: <ferramenta> terminou com código N (<meaning or motivo>): <last lines of its output>",
// or "... não terminou em N s e foi interrompido (<motivo>): ..." for one stopped at its limit.
std::string DescricaoFalha(const std::string& etapa, const std::string& ferramenta,
                           const ResultadoProcesso& r, std::string (*significado)(int));
// The number a tool's failure is reported with: its exit status, 128 + the signal, or 0 when it
// was stopped at its limit.
long NumeroFalha(const ResultadoProcesso& r);

// What an exit status means, in the user's words.
std::string SignificadoCompactador(int codigo);
std::string SignificadoEnviador(int codigo);

} // namespace kelvane
