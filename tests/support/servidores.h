// Test servers (database stand-in and FTP) run as child processes, one per object.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kelvane::teste {

namespace detalhe {

// A child process started from an argument vector that announced its port with
// "LISTENING <port>" on stdout. Stopped (SIGTERM, then SIGKILL) on parar() or destruction.
class ProcessoServidor {
public:
    ProcessoServidor(const std::vector<std::string>& argumentos,
                     const std::filesystem::path& arquivoErros);
    ~ProcessoServidor();
    ProcessoServidor(const ProcessoServidor&) = delete;
    ProcessoServidor& operator=(const ProcessoServidor&) = delete;

    int porta() const { return porta_; }
    void parar() noexcept;

private:
    pid_t pid_ = -1;
    int saida_ = -1; // read end of the child's stdout
    int porta_ = 0;
};

// A server's private temporary folder, removed with its contents on destruction.
class PastaServidor {
public:
    PastaServidor();
    ~PastaServidor();
    PastaServidor(const PastaServidor&) = delete;
    PastaServidor& operator=(const PastaServidor&) = delete;

    const std::filesystem::path& caminho() const { return caminho_; }

private:
    std::filesystem::path caminho_;
};

} // namespace detalhe

struct OpcoesTds {
    std::string usuario = "sa";
    std::string senha = "Senha Forte;1}";
    std::vector<std::string> bancos = {"master", "Vendas"};
    std::uint64_t tamanhoBackup = 1u << 20;
    std::string modo = "normal"; // normal | express | fail30 | drop30
    double atrasoPasso = 0;      // seconds between progress steps of a backup
};

// Database server stand-in (tests/servers/tds_server.py) on 127.0.0.1.
class ServidorTds {
public:
    explicit ServidorTds(OpcoesTds opcoes = {});

    int porta() const { return processo_.porta(); }
    // SQL batches received so far, in order, over all connections.
    std::vector<std::string> lotes() const;
    void parar() noexcept { processo_.parar(); }

private:
    detalhe::PastaServidor pasta_; // declared first: outlives the process writing into it
    detalhe::ProcessoServidor processo_;
};

struct OpcoesFtp {
    std::filesystem::path raiz; // the user's home; must exist
    std::string usuario = "kelvane";
    std::string senha = "senha com espaco";
    int taxa = 0;         // upload bytes per second; 0: no limit
    bool renomear = true; // false: every rename is refused
};

// FTP server (tests/servers/ftp_server.py) on 127.0.0.1, passive mode, full rights on raiz.
class ServidorFtp {
public:
    explicit ServidorFtp(OpcoesFtp opcoes);

    int porta() const { return processo_.porta(); }
    void parar() noexcept { processo_.parar(); }

private:
    detalhe::PastaServidor pasta_;
    detalhe::ProcessoServidor processo_;
};

// A port on 127.0.0.1 where nothing listens (bound, read, closed).
int portaLivreFechada();

// A listener on 127.0.0.1 that completes every connection (the kernel's backlog does) and never
// sends a byte: a server that hangs after accepting.
class ServidorMudo {
public:
    ServidorMudo();
    ~ServidorMudo();
    ServidorMudo(const ServidorMudo&) = delete;
    ServidorMudo& operator=(const ServidorMudo&) = delete;
    int porta() const { return porta_; }

private:
    int socket_ = -1;
    int porta_ = 0;
};

} // namespace kelvane::teste
