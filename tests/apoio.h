// Shared by the suites: a throw-away program folder, the test servers, running the executable.
#pragma once

#include <cstdio>
#include <filesystem>
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
// Runs argv[0] without a shell.
Execucao Rodar(const std::vector<std::string>& argv);

// A temporary folder, removed with everything in it.
struct Pasta {
    Pasta();
    ~Pasta();
    fs::path p;
};

// A test server (tests/servers/<script>) until destroyed; it dies with the thread that started it.
struct Servidor {
    Servidor(const std::string& script, const std::vector<std::string>& argumentos);
    ~Servidor();
    int porta = 0;
    FILE* saida = nullptr;
    pid_t pid = -1;
};

// The program folder <tmp>/programa with kelvane, its window module and links to 7z, 7z.so and
// ncftpput; the FTP server's root is <tmp>/ftp with the folder backups.
class Programa {
public:
    explicit Programa(bool ferramentas = true);
    void Ferramentas(); // puts the links to the real tools (back) in place
    // Replaces a tool with a shell script, for failures the real tools cannot be made to show.
    void Falsa(const std::string& ferramenta, const std::string& script);
    // The database stand-in (user and password from cfg) and the FTP server.
    void Servidores(const std::string& modo = "normal", long tamanho = 1 << 20);
    // info.ini from cfg (credentials scrambled unless NCripto=1) pointing at the servers.
    void Ini();
    Execucao Exec(std::vector<std::string> argumentos = {"EXEC"});

    std::vector<std::string> Log() const; // the messages of every log file, in order
    std::string Ultima() const;           // the last one
    std::vector<fs::path> Arquivos(const fs::path& pasta, const std::string& ext) const;
    std::vector<fs::path> Baks() const { return Arquivos(dir, ".BAK"); }
    std::vector<fs::path> Pacotes() const { return Arquivos(dir, ".7z"); }
    std::vector<fs::path> Enviados() const { return Arquivos(ftp / "backups", ".7z"); }
    std::vector<std::string> Lotes() const { return Linhas(raiz.p / "lotes.txt"); } // SQL batches

    Pasta raiz;
    fs::path dir, ftp, tmp;
    std::map<std::string, std::string> cfg;
    std::vector<std::string> opcoesFtp; // more arguments for ftp_server.py (--no-rename)
    std::unique_ptr<Servidor> tds, servidorFtp;
};

} // namespace kelvane::teste
