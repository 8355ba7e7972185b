// Shared by the suites: a throw-away program folder, the test servers, running the executable.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kelvane::teste {

namespace fs = std::filesystem;

struct Execucao {
    int codigo = -1; // exit status, or 128 + signal
    std::string saida;
};

std::string Ler(const fs::path& arquivo);
void Gravar(const fs::path& arquivo, const std::string& texto);
std::vector<std::string> Linhas(const fs::path& arquivo);
std::string Hoje(); // DD/MM/YYYY, as Executado and UltimoTesteRestauracao begin
using Pares_ = std::vector<std::pair<std::string, std::string>>;
// `texto` with each first of `trocas` ("{pasta}") replaced by its second, wherever it is.
std::string Trocar(std::string texto, const Pares_& trocas);
// "Chave=valor" lines as pairs, in order (a value may hold "=").
Pares_ Pares(const std::string& linhas);
// Runs argv[0] without a shell, `entrada` on its stdin. In the Windows suite, a Linux program
// through Wine.
Execucao Rodar(const std::vector<std::string>& argv, const std::string& entrada = {});
#ifdef _WIN32
// A Windows path on Wine's Z: drive (alone or after "--option=") as the Linux path it maps to.
std::string CaminhoLinux(const std::string& argumento);
#endif

// The build under test: Linux's, or with KELVANE_WINDOWS (the Windows build's folder) set,
// kelvane.exe under Wine with Windows tools (7z.exe, 7z.dll, and tests/windows/ponte.cpp as
// ncftpput.exe and as any tool made to fail).
struct Alvo {
    bool windows = false;
    fs::path compilacao;                          // the Windows build's folder
    std::string sufixo;                           // ".exe" or ""
    std::string separador = "/";                  // before the names the job logs
    std::string Caminho(const fs::path& p) const; // as the program names it: Z:\a\b
};
const Alvo& Sistema();
// Ends the running test as skipped, with the reason, when it cannot exist on Windows.
#define KELVANE_SO_LINUX(motivo)                                                                   \
    if (::kelvane::teste::Sistema().windows)                                                       \
    GTEST_SKIP() << (motivo)
// Ends the running test as skipped, with the reason, unless it runs as root (Linux).
#define KELVANE_SO_ROOT(motivo)                                                                    \
    if (::geteuid() != 0)                                                                          \
    GTEST_SKIP() << (motivo)

// Names each row of a parameterised table by its `nome`.
struct PeloNome {
    template <class Linha> std::string operator()(const ::testing::TestParamInfo<Linha>& i) const {
        return i.param.nome;
    }
};
// Prints those rows by name too; used inside a suite's own namespace, where gtest looks.
#define KELVANE_LINHA_PELO_NOME                                                                    \
    template <class Linha>                                                                         \
    requires requires(Linha l) {                                                                   \
        l.nome;                                                                                    \
    }                                                                                              \
    void PrintTo(const Linha& l, std::ostream* saida) {                                            \
        *saida << l.nome;                                                                          \
    }

// Readable and writable by its owner alone. A Windows program's std::filesystem::permissions
// changes only the read-only attribute, while Wine makes permissions up from the Unix mode.
void Privado(const fs::path& caminho);

// A temporary folder, removed with everything in it.
struct Pasta {
    Pasta();
    ~Pasta();
    fs::path p;
};

// A test server (tests/servers/<script>) until destroyed; it dies with the thread that started it.
// `envolver`: what it is started through (a namespace of its own: unshare).
struct Servidor {
    Servidor(const std::string& script, const std::vector<std::string>& argumentos,
             const std::vector<std::string>& envolver = {});
    ~Servidor();
    int porta = 0;
    FILE* saida = nullptr;
    pid_t pid = -1;
};

// The fingerprint of cifrado_server.py's SSH host key made in `chaves`, as OpenSSH prints it.
std::string Impressao(const fs::path& chaves);

// cifrado_server.py for `modo` (ftpes, ftps, sftp), its keys and log in `chaves`, the user
// kelvaneteste with kSenhaCifrado writing into `raiz`/ftp; `opcao`: one more argument.
inline const std::string kSenhaCifrado = "S3nha de teste";
std::unique_ptr<Servidor> ServidorCifrado(const fs::path& raiz, const fs::path& chaves,
                                          const std::string& modo, const std::string& opcao = {});

// The program folder <tmp>/programa with kelvane, its window module and the tools (links to 7z,
// 7z.so and ncftpput; on Windows copies), holding its data too (a portable copy) until Separar();
// the FTP server's root is <tmp>/ftp with the folder backups.
class Programa {
public:
    explicit Programa(bool ferramentas = true);
    void Ferramentas(); // puts the links to the real tools (back) in place
    // Replaces a tool ("7z", "ncftpput") with a shell script, for failures the real tools cannot
    // be made to show; on Windows the script gets Linux paths.
    void Falsa(const std::string& ferramenta, const std::string& script);
    // The database stand-in (user and password from cfg) and the FTP server.
    void Servidores(const std::string& modo = "normal", long tamanho = 1 << 20);
    // info.ini from cfg (credentials scrambled unless NCripto=1) pointing at the servers.
    void Ini();
    // The installed layout: the data in <tmp>/dados (0700), named by the program folder's
    // pasta-dados, the program folder 0755; info.ini written there.
    void Separar();
    // Where the server writes the .BAK.
    fs::path Backups() const { return Sistema().windows ? dados / "Backups" : dados; }
    Execucao Exec(std::vector<std::string> argumentos = {"EXEC"}) {
        return Rodar(Comando(argumentos));
    }
    // The command that starts the program (under Wine on Windows), with or without a time limit.
    std::vector<std::string> Comando(const std::vector<std::string>& argumentos,
                                     bool limite = true) const;
    // On Windows the job's console program, as the scheduled task runs it.
    fs::path Executavel() const {
        return dir / (Sistema().windows ? "kelvane-exec.exe" : "kelvane");
    }

    std::vector<std::string> Log() const; // the messages of every log file, in order, in UTF-8
    std::string Ultima() const;           // the last one
    // The messages from the `desde`th on, each ended by a line feed.
    std::string LogTexto(std::size_t desde = 0) const;
    std::vector<fs::path> Arquivos(const fs::path& pasta, const std::string& ext) const;
    std::vector<fs::path> Baks() const { return Arquivos(Backups(), ".BAK"); }
    std::vector<fs::path> Pacotes() const { return Arquivos(dados, ".7z"); }
    std::vector<fs::path> Enviados() const { return Arquivos(ftp / "backups", ".7z"); }
    std::vector<std::string> Lotes() const { return Linhas(raiz.p / "lotes.txt"); }   // SQL batches
    std::vector<std::string> Logins() const { return Linhas(raiz.p / "logins.txt"); } // users

    Pasta raiz;
    fs::path dir, dados, ftp, tmp;
    std::map<std::string, std::string> cfg;
    std::vector<std::string> opcoesFtp; // more arguments for ftp_server.py (--no-rename)
    std::vector<std::string> opcoesTds; // more arguments for tds_server.py (--data-path)
    std::vector<std::string> envolver;  // what the program is started through (Linux)
    std::unique_ptr<Servidor> tds, servidorFtp;
};
// A row's preparation: the FTP server started again with an option of ftp_server.py.
inline std::function<void(Programa&)> ComFtp(const char* opcao) {
    return [opcao](Programa& p) {
        p.opcoesFtp = {opcao};
        p.Servidores();
    };
}

} // namespace kelvane::teste
