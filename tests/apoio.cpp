#include "apoio.h"

#include "job/ferramentas.h"
#include "settings/cripto.h"
#include "settings/ini.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace kelvane::teste {

std::string Ler(const fs::path& arquivo) {
    std::ifstream entrada(arquivo, std::ios::binary);
    return {std::istreambuf_iterator<char>(entrada), {}};
}

void Gravar(const fs::path& arquivo, const std::string& texto) {
    std::ofstream(arquivo, std::ios::binary) << texto;
}

std::vector<std::string> Linhas(const fs::path& arquivo) {
    std::vector<std::string> linhas;
    std::istringstream texto(Ler(arquivo));
    for (std::string l; std::getline(texto, l);) {
        linhas.push_back(l);
    }
    return linhas;
}

Execucao Rodar(const std::vector<std::string>& argv) {
    const auto r = ShellEspera(argv);
    return {r.sinal ? 128 + r.sinal : r.codigo, r.saida};
}

Pasta::Pasta() {
    std::string modelo = (fs::temp_directory_path() / "kelvane-teste.XXXXXX").string();
    p = ::mkdtemp(modelo.data());
}

Pasta::~Pasta() {
    std::error_code e; // the suites run as root: no mode left by a test stops this
    fs::remove_all(p, e);
}

Servidor::Servidor(const std::string& script, const std::vector<std::string>& argumentos) {
    std::string linha = "exec setpriv --pdeathsig KILL sh -c '[ $PPID = $0 ] && exec \"$@\"'";
    auto todos = argumentos;
    todos.insert(todos.begin(), {std::to_string(::getpid()), "/usr/bin/python3", "-I",
                                 KELVANE_SERVIDORES "/" + script});
    for (const auto& a : todos) { // each quoted for sh
        linha += " '" + std::regex_replace(a, std::regex("'"), "'\\''") + "'";
    }
    saida = ::popen(linha.c_str(), "re");
    if (!saida || std::fscanf(saida, "LISTENING %d %d", &porta, &pid) != 2) {
        throw std::runtime_error("servidor de teste não iniciou: " + script);
    }
}

Servidor::~Servidor() {
    ::kill(pid, SIGTERM);
    ::pclose(saida);
}

Programa::Programa(bool ferramentas)
    : dir(raiz.p / "programa"), ftp(raiz.p / "ftp"), tmp(raiz.p / "tmp") {
    fs::create_directories(ftp / "backups");
    fs::create_directories(dir);
    fs::create_directories(tmp);
    fs::copy_file(KELVANE_EXECUTAVEL, dir / "kelvane");
    fs::copy_file(KELVANE_MODULO_JANELA, dir / "kelvane-janela.so");
    if (ferramentas) {
        Ferramentas();
    }
    std::istringstream chaves("CodigoCliente=00 42\nNomeCliente=Casa Azul\nBanco=Vendas\nSSPI=0\n"
                              "Login=sa\nSenha=S3nha do Banco;1}\nUsuario=kelvane\n"
                              "Passw=P4ss do FTP\nEndereco=127.0.0.1\nDiretorio=/backups");
    for (std::string l; std::getline(chaves, l);) {
        cfg[l.substr(0, l.find('='))] = l.substr(l.find('=') + 1);
    }
}

void Programa::Ferramentas() {
    for (const fs::path real : {"/usr/lib/p7zip/7z", "/usr/lib/p7zip/7z.so", "/usr/bin/ncftpput"}) {
        fs::remove(dir / real.filename());
        fs::create_symlink(real, dir / real.filename());
    }
}

void Programa::Falsa(const std::string& ferramenta, const std::string& script) {
    fs::remove(dir / ferramenta);
    Gravar(dir / ferramenta, "#!/bin/sh\n" + script + "\n");
    fs::permissions(dir / ferramenta, fs::perms::owner_all);
}

void Programa::Servidores(const std::string& modo, long tamanho) {
    tds = std::make_unique<Servidor>(
        "tds_server.py",
        std::vector<std::string>{"--user=" + cfg["Login"], "--password=" + cfg["Senha"],
                                 "--database=" + cfg["Banco"], "--mode=" + modo,
                                 "--backup-size=" + std::to_string(tamanho),
                                 "--batches=" + (raiz.p / "lotes.txt").string()});
    std::vector<std::string> ftpArgs{"--root=" + ftp.string(), "--user=" + cfg["Usuario"],
                                     "--password=" + cfg["Passw"]};
    ftpArgs.insert(ftpArgs.end(), opcoesFtp.begin(), opcoesFtp.end());
    servidorFtp = std::make_unique<Servidor>("ftp_server.py", ftpArgs);
    cfg["ServidorDB"] = "127.0.0.1," + std::to_string(tds->porta);
    cfg["Porta"] = std::to_string(servidorFtp->porta);
}

void Programa::Ini() {
    fs::remove(dir / "info.ini");
    const bool claras = cfg.count("NCripto") && cfg["NCripto"] == "1";
    for (const auto& [chave, valor] : cfg) {
        const bool credencial =
            chave == "Login" || chave == "Senha" || chave == "Usuario" || chave == "Passw";
        GravarINI(kSecaoInfos, chave, credencial && !claras ? Cripto(valor) : valor,
                  dir / "info.ini");
    }
}

Execucao Programa::Exec(std::vector<std::string> argumentos) {
    // A run that hangs fails its test instead of stopping the suite.
    argumentos.insert(argumentos.begin(),
                      {"/usr/bin/timeout", "-s", "KILL", "120", (dir / "kelvane").string()});
    return Rodar(argumentos);
}

std::vector<std::string> Programa::Log() const {
    std::vector<std::string> linhas;
    for (const auto& arquivo : Arquivos(dir / "Log", ".Log")) {
        for (const auto& l : Linhas(arquivo)) {
            linhas.push_back(l.size() > 22 ? l.substr(22) : l); // after "DD/MM/YYYY HH:MM:SS : "
        }
    }
    return linhas;
}

std::string Programa::Ultima() const {
    const auto l = Log(); // read once: the files are read anew on every call
    return l.empty() ? "" : l.back();
}

std::vector<fs::path> Programa::Arquivos(const fs::path& pasta, const std::string& ext) const {
    std::vector<fs::path> achados;
    std::error_code e;
    for (const auto& item : fs::directory_iterator(pasta, e)) {
        if (ext.empty() || item.path().extension() == ext) {
            achados.push_back(item.path());
        }
    }
    std::sort(achados.begin(), achados.end());
    return achados;
}

} // namespace kelvane::teste
