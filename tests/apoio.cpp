#include "apoio.h"

#include "job/execucao.h"
#include "settings/codificacao.h"
#include "settings/cripto.h"
#include "settings/ini.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#ifndef _WIN32
#include <csignal>
#include <unistd.h>
#endif

namespace kelvane::teste {

std::string Ler(const fs::path& arquivo) {
    std::ifstream entrada(arquivo, std::ios::binary);
    return {std::istreambuf_iterator<char>(entrada), {}};
}

void Gravar(const fs::path& arquivo, const std::string& texto) {
    const bool novo = !fs::exists(fs::symlink_status(arquivo));
    std::ofstream(arquivo, std::ios::binary) << texto;
    if (novo) { // as the program makes its files: the owner's alone
        fs::permissions(arquivo, fs::perms::owner_read | fs::perms::owner_write);
    }
}

std::vector<std::string> Linhas(const fs::path& arquivo) {
    std::vector<std::string> linhas;
    std::istringstream texto(Ler(arquivo));
    for (std::string l; std::getline(texto, l);) {
        linhas.push_back(l);
    }
    return linhas;
}

std::string Trocar(std::string texto, const Pares_& trocas) {
    for (const auto& [de, para] : trocas) {
        for (auto i = texto.find(de); i != std::string::npos; i = texto.find(de, i + para.size())) {
            texto.replace(i, de.size(), para);
        }
    }
    return texto;
}

Pares_ Pares(const std::string& linhas) {
    Pares_ pares;
    std::istringstream texto(linhas);
    for (std::string l; std::getline(texto, l);) {
        pares.emplace_back(l.substr(0, l.find('=')), l.substr(l.find('=') + 1));
    }
    return pares;
}

#ifndef _WIN32
Execucao Rodar(const std::vector<std::string>& argv, const std::string& entrada) {
    OpcoesProcesso opcoes;
    opcoes.entrada = entrada;
    const auto r = ShellEspera(argv, opcoes);
    return {r.sinal ? 128 + r.sinal : r.codigo, r.saida};
}

const Alvo& Sistema() {
    static const Alvo alvo = [] {
        Alvo a;
        if (const char* w = std::getenv("KELVANE_WINDOWS"); w && *w) {
            a = {true, w, ".exe", "\\"};
        }
        return a;
    }();
    return alvo;
}
#endif

std::string Alvo::Caminho(const fs::path& p) const {
    auto s = p.string();
    if (windows && s.starts_with('/')) { // a Linux path, as the program under Wine sees it
        std::replace(s.begin(), s.end(), '/', '\\');
        s.insert(0, "Z:");
    }
    return s;
}

// A value of scripts/ambiente_windows.sh (the 7z.exe cache).
static std::string AmbienteWindows(const std::string& variavel) {
    auto r = Rodar({"/bin/bash", "-c", "source \"$0\" && printf %s \"${!1}\"",
                    KELVANE_FONTES "/scripts/ambiente_windows.sh", variavel});
    return r.saida;
}

#ifndef _WIN32
Pasta::Pasta() {
    // Wine shows no sticky bit: /tmp (or a clone below it) would be a folder anyone may empty,
    // above the program folder. The Windows cache is ours alone, and Wine names it Z:\... as any
    // folder outside its drive C:.
    auto base = fs::temp_directory_path();
    if (Sistema().windows) {
        static const fs::path c = fs::path(AmbienteWindows("KELVANE_CACHE")) / "testes";
        fs::create_directories(c);
        base = c;
    }
    std::string modelo = (base / "kelvane-teste.XXXXXX").string();
    p = ::mkdtemp(modelo.data());
}
#endif

Pasta::~Pasta() {
    std::error_code e; // the suites run as root: no mode left by a test stops this
    fs::remove_all(p, e);
}

#ifndef _WIN32
Servidor::Servidor(const std::string& script, const std::vector<std::string>& argumentos,
                   const std::vector<std::string>& envolver) {
    std::string linha = "exec setpriv --pdeathsig KILL sh -c '[ $PPID = $0 ] && exec \"$@\"'";
    auto todos = argumentos;
    todos.insert(todos.begin(), {"/usr/bin/python3", "-I", KELVANE_SERVIDORES "/" + script});
    todos.insert(todos.begin(), envolver.begin(), envolver.end());
    todos.insert(todos.begin(), std::to_string(::getpid()));
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
#endif

void Privado(const fs::path& caminho) {
#ifdef _WIN32
    Rodar({"/bin/chmod", "go-rwx", caminho.string()});
#else
    fs::permissions(caminho, fs::perms::group_all | fs::perms::others_all,
                    fs::perm_options::remove);
#endif
}

std::string Impressao(const fs::path& chaves) {
    const auto r = Rodar({"/usr/bin/ssh-keygen", "-l", "-f", (chaves / "chave_host.pub").string()});
    const auto ini = r.saida.find("SHA256:");
    return r.saida.substr(ini, r.saida.find(' ', ini) - ini);
}

std::unique_ptr<Servidor> ServidorCifrado(const fs::path& raiz, const fs::path& chaves,
                                          const std::string& modo, const std::string& opcao) {
    fs::create_directory(chaves);
    // The daemons run as the test account: it must reach the FTP folder.
    fs::permissions(raiz, fs::perms::others_exec, fs::perm_options::add);
    std::vector<std::string> argumentos = {"--mode=" + modo, "--dir=" + chaves.string(),
                                           "--root=" + (raiz / "ftp").string(),
                                           "--password=" + kSenhaCifrado};
    if (!opcao.empty()) {
        argumentos.push_back(opcao);
    }
    return std::make_unique<Servidor>("cifrado_server.py", argumentos);
}

Programa::Programa(bool ferramentas)
    : dir(raiz.p / "programa"), dados(dir), ftp(raiz.p / "ftp"), tmp(raiz.p / "tmp") {
    fs::create_directories(ftp / "backups");
    fs::create_directories(dir);
    Privado(dir); // it holds the data too
    fs::create_directories(tmp);
    if (Sistema().windows) {
        for (const char* exe : {"kelvane.exe", "kelvane-exec.exe"}) {
            fs::copy_file(Sistema().compilacao / exe, dir / exe);
        }
    } else {
#ifndef _WIN32 // the Windows suite is of the window alone, which it links
        fs::copy_file(KELVANE_EXECUTAVEL, dir / "kelvane");
        fs::copy_file(KELVANE_MODULO_JANELA, dir / "kelvane-janela.so");
#endif
    }
    if (ferramentas) {
        Ferramentas();
    }
    for (const auto& [chave, valor] :
         Pares("CodigoCliente=00 42\nNomeCliente=Casa Azul\nBanco=Vendas\nSSPI=0\nLogin=sa\n"
               "Senha=S3nha do Banco;1}\nUsuario=kelvane\nPassw=P4ss do FTP\n"
               "Endereco=127.0.0.1\nDiretorio=/backups")) {
        cfg[chave] = valor;
    }
}

void Programa::Ferramentas() {
    if (Sistema().windows) {
#ifdef _WIN32 // the cache as this Windows program reaches it
        static const fs::path sete = Sistema().Caminho(AmbienteWindows("KELVANE_7Z_WINDOWS"));
#else
        static const fs::path sete = AmbienteWindows("KELVANE_7Z_WINDOWS");
#endif
        // Removed first: overwrite_existing fails on Windows with GCC 12's libstdc++.
        for (const char* nome : {"7z.exe", "7z.dll", "ncftpput.exe"}) {
            fs::remove(dir / nome);
        }
        fs::copy_file(sete / "7z.exe", dir / "7z.exe");
        fs::copy_file(sete / "7z.dll", dir / "7z.dll");
        fs::copy_file(Sistema().compilacao / "ponte" / "ponte.exe", dir / "ncftpput.exe");
        fs::remove(dir / "7z.sh");
        fs::remove(dir / "ncftpput.sh");
        return;
    }
    for (const fs::path real : {"/usr/lib/p7zip/7z", "/usr/lib/p7zip/7z.so", "/usr/bin/ncftpput"}) {
        fs::remove(dir / real.filename());
        fs::create_symlink(real, dir / real.filename());
    }
}

void Programa::Falsa(const std::string& ferramenta, const std::string& script) {
    auto arquivo = dir / ferramenta;
    if (Sistema().windows) { // the relay runs <tool>.sh beside it
        fs::remove(dir / (ferramenta + ".exe"));
        fs::copy_file(Sistema().compilacao / "ponte" / "ponte.exe", dir / (ferramenta + ".exe"));
        arquivo += ".sh";
    }
    fs::remove(arquivo);
    Gravar(arquivo, "#!/bin/sh\n" + script + "\n");
    fs::permissions(arquivo, fs::perms::owner_all);
}

void Programa::Servidores(const std::string& modo, long tamanho) {
    std::vector<std::string> tdsArgs{"--user=" + cfg["Login"], "--password=" + cfg["Senha"],
                                     "--database=" + cfg["Banco"], "--mode=" + modo};
    tdsArgs.insert(tdsArgs.end(), {"--backup-size=" + std::to_string(tamanho),
                                   "--batches=" + (raiz.p / "lotes.txt").string(),
                                   "--logins=" + (raiz.p / "logins.txt").string()});
    if (Sistema().windows) {
        tdsArgs.push_back("--wine");
    }
    tdsArgs.insert(tdsArgs.end(), opcoesTds.begin(), opcoesTds.end());
    tds = std::make_unique<Servidor>("tds_server.py", tdsArgs);
    std::vector<std::string> ftpArgs{"--root=" + ftp.string(), "--user=" + cfg["Usuario"],
                                     "--password=" + cfg["Passw"]};
    ftpArgs.insert(ftpArgs.end(), opcoesFtp.begin(), opcoesFtp.end());
    servidorFtp = std::make_unique<Servidor>("ftp_server.py", ftpArgs);
    cfg["ServidorDB"] = "127.0.0.1," + std::to_string(tds->porta);
    cfg["Porta"] = std::to_string(servidorFtp->porta);
}

void Programa::Separar() {
    dados = raiz.p / "dados";
    fs::create_directory(dados);
    Privado(dados);
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    Gravar(dir / "pasta-dados", Sistema().Caminho(dados) + (Sistema().windows ? "\r\n" : "\n"));
    fs::permissions(dir / "pasta-dados", fs::perms::owner_read | fs::perms::owner_write |
                                             fs::perms::group_read | fs::perms::others_read);
    Ini();
}

void Programa::Ini() {
    fs::remove(dir / "info.ini");
    fs::remove(dados / "info.ini");
    const bool claras = cfg.count("NCripto") && cfg["NCripto"] == "1";
    for (const auto& [chave, valor] : cfg) {
        const bool credencial = chave == "Login" || chave == "Senha" || chave == "Usuario" ||
                                chave == "Passw" || chave == "SenhaArquivo";
        // One too long to scramble goes as it is: a value the job cannot unscramble.
        const bool embaralhar = credencial && !claras && valor.size() <= kTamanhoMaximoCripto;
        GravarINI(kSecaoInfos, chave, embaralhar ? Cripto(valor) : valor, dados / "info.ini");
    }
}

std::vector<std::string> Programa::Comando(const std::vector<std::string>& argumentos,
                                           bool limite) const {
    // A run that hangs fails its test instead of stopping the suite.
    auto c = limite ? std::vector<std::string>{"/usr/bin/timeout", "-s", "KILL", "120"}
                    : std::vector<std::string>{};
    c.insert(c.end(), envolver.begin(), envolver.end());
    if (Sistema().windows) {
        // The run's TMPDIR becomes Windows' TEMP (wine_temp_proprio, scripts/ambiente_windows.sh).
        c = {"/bin/bash", "-c",
             "source \"$0\" && wine_temp_proprio && "
             "WINEDEBUG=${KELVANE_WINEDEBUG:-$WINEDEBUG} "
             "exec ${1:+timeout -s KILL 120} \"$WINE64\" \"${@:2}\"",
             KELVANE_FONTES "/scripts/ambiente_windows.sh", limite ? "1" : ""};
    }
    c.push_back(Executavel().string());
    c.insert(c.end(), argumentos.begin(), argumentos.end());
    return c;
}

std::vector<std::string> Programa::Log() const {
    std::vector<std::string> linhas;
    for (const auto& arquivo : Arquivos(dados / "Log", ".Log")) {
        for (auto l : Linhas(arquivo)) {
            if (Sistema().windows) { // CR LF, in the ANSI code page
                EXPECT_TRUE(l.ends_with('\r')) << l;
                l = Cp1252ParaUtf8(l.substr(0, l.size() - l.ends_with('\r')));
            }
            linhas.push_back(l.size() > 22 ? l.substr(22) : l); // after "DD/MM/YYYY HH:MM:SS : "
        }
    }
    return linhas;
}

std::string Programa::LogTexto(std::size_t desde) const {
    std::string texto;
    const auto linhas = Log();
    for (auto i = desde; i < linhas.size(); ++i) {
        texto += linhas[i] + "\n";
    }
    return texto;
}

std::string Hoje() {
    char hoje[16];
    const auto agora = std::time(nullptr);
    std::strftime(hoje, sizeof hoje, "%d/%m/%Y", std::localtime(&agora));
    return hoje;
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
