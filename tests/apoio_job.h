// What the reliability and security suites share: the real executable in a throw-away program
// folder, run against the database stand-in and an FTP server on 127.0.0.1, with its own TMPDIR
// so that whatever the job leaves in a temporary folder can be seen.
#pragma once

#include "job/ferramentas.h"
#include "settings/cripto.h"
#include "settings/ini.h"
#include "support/pasta_programa.h"
#include "support/servidores.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kelvane::teste {

namespace fs = std::filesystem;

inline std::string Hoje() {
    const std::time_t agora = std::time(nullptr);
    std::tm m{};
    ::localtime_r(&agora, &m);
    char buf[16];
    std::strftime(buf, sizeof buf, "%d%m%y", &m);
    return buf;
}

// Waits for a condition; the limit only keeps a broken test from hanging.
inline bool Esperar(const std::function<bool()>& condicao, int segundos = 60) {
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(segundos);
    while (!condicao()) {
        if (std::chrono::steady_clock::now() > limite) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The pids whose parent is `pai`, read from /proc.
inline std::vector<pid_t> Filhos(pid_t pai) {
    std::vector<pid_t> filhos;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return filhos;
    }
    while (const dirent* e = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) {
            continue;
        }
        const std::string stat = LerArquivo("/proc/" + std::string(e->d_name) + "/stat");
        const auto fecha = stat.rfind(')'); // the command name may hold blanks and parentheses
        if (fecha == std::string::npos) {
            continue;
        }
        std::istringstream resto(stat.substr(fecha + 2));
        char estado = 0;
        pid_t ppid = 0;
        resto >> estado >> ppid;
        if (ppid == pai && estado != 'Z') {
            filhos.push_back(pid);
        }
    }
    ::closedir(proc);
    return filhos;
}

inline std::vector<pid_t> Descendentes(pid_t pai) {
    std::vector<pid_t> todos;
    for (pid_t f : Filhos(pai)) {
        todos.push_back(f);
        const auto netos = Descendentes(f);
        todos.insert(todos.end(), netos.begin(), netos.end());
    }
    return todos;
}

// NUL-separated /proc files (cmdline, environ) with the NULs as blanks.
inline std::string LerProc(pid_t pid, const char* nome) {
    std::string texto = LerArquivo("/proc/" + std::to_string(pid) + "/" + nome);
    std::replace(texto.begin(), texto.end(), '\0', ' ');
    return texto;
}

struct ConfigJob {
    std::string codigo = "00 42";
    std::string nome = "Casa Azul";
    std::string banco = "Vendas";
    std::string sspi = "0";
    std::string login = "sa";
    std::string senha = "S3nha do Banco;1}";
    std::string usuario = "kelvane";
    std::string passw = "P4ss do FTP secreta";
    std::string endereco = "127.0.0.1";
    std::optional<std::string> porta; // the FTP server's when unset
    std::string diretorio = "/backups";
    bool ncripto = false;
};

// A run of the executable still going.
struct JobEmCurso {
    pid_t pid = -1;
    std::future<Execucao> fim;
};

class JobReal : public ::testing::Test {
public:
    void SetUp() override {
        // Tools orphaned by a killed job come to this process, which stops and reaps them.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        tmp_ = raiz_.caminho() / "tmp";
        fs::create_directory(tmp_);
        // World-writable like /tmp, for the runs as the unprivileged user.
        fs::permissions(tmp_, fs::perms::all | fs::perms::sticky_bit);
        fs::permissions(raiz_.caminho(),
                        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        if (const char* antes = std::getenv("TMPDIR")) {
            tmpdirAntes_ = antes;
        }
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        pasta = std::make_unique<PastaPrograma>(true);
        fs::create_directories(raizFtp() / "backups");
    }

    void TearDown() override {
        EncerrarOrfaos();
        tds.reset();
        ftp.reset();
        pasta.reset();
        if (tmpdirAntes_) {
            ::setenv("TMPDIR", tmpdirAntes_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    fs::path raizFtp() const { return raiz_.caminho() / "ftp"; }
    // TMPDIR of the job: the uploader's login folders are made here.
    const fs::path& tmp() const { return tmp_; }

    // The FTP server is left out where a fake uploader stands in.
    void Servidores(OpcoesTds opcoes = {}, bool comFtp = true) {
        opcoes.usuario = ValorLido(config.login, true);
        opcoes.senha = ValorLido(config.senha, true);
        const std::string banco = ValorLido(config.banco, false);
        if (std::find(opcoes.bancos.begin(), opcoes.bancos.end(), banco) == opcoes.bancos.end()) {
            opcoes.bancos.push_back(banco);
        }
        tds = std::make_unique<ServidorTds>(opcoes);
        portaTds = tds->porta();
        if (comFtp) {
            ReiniciarFtp();
        }
    }
    // (Re)starts the FTP server with opcoesFtp.
    void ReiniciarFtp() {
        ftp.reset();
        auto o = opcoesFtp;
        o.raiz = raizFtp();
        o.usuario = ValorLido(config.usuario, true);
        o.senha = ValorLido(config.passw, true);
        ftp = std::make_unique<ServidorFtp>(o);
        portaFtp = ftp->porta();
    }

    // A value as the job will get it back from info.ini (credentials unscrambled).
    std::string ValorLido(const std::string& valor, bool credencial) const {
        const auto rascunho = raiz_.caminho() / "rascunho.ini";
        const std::string gravado = credencial && !config.ncripto ? Cripto(valor) : valor;
        GravarINI(kSecaoInfos, "x", gravado, rascunho);
        const std::string lido = LerINI(kSecaoInfos, "x", rascunho);
        fs::remove(rascunho);
        return credencial && !config.ncripto ? Cripto(lido) : lido;
    }

    void EscreverIni() {
        const auto ini = pasta->ini();
        fs::remove(ini);
        auto credencial = [&](const std::string& v) {
            return config.ncripto ? v : Cripto(v);
        };
        GravarINI(kSecaoInfos, "NCripto", config.ncripto ? "1" : "0", ini);
        GravarINI(kSecaoInfos, "CodigoCliente", config.codigo, ini);
        GravarINI(kSecaoInfos, "NomeCliente", config.nome, ini);
        GravarINI(kSecaoInfos, "ServidorDB", "127.0.0.1," + std::to_string(portaTds), ini);
        GravarINI(kSecaoInfos, "Banco", config.banco, ini);
        GravarINI(kSecaoInfos, "SSPI", config.sspi, ini);
        GravarINI(kSecaoInfos, "Login", credencial(config.login), ini);
        GravarINI(kSecaoInfos, "Senha", credencial(config.senha), ini);
        GravarINI(kSecaoInfos, "Usuario", credencial(config.usuario), ini);
        GravarINI(kSecaoInfos, "Passw", credencial(config.passw), ini);
        GravarINI(kSecaoInfos, "ServidorFTP", "1", ini);
        GravarINI(kSecaoInfos, "Endereco", config.endereco, ini);
        GravarINI(kSecaoInfos, "Porta", config.porta.value_or(std::to_string(portaFtp)), ini);
        GravarINI(kSecaoInfos, "Diretorio", config.diretorio, ini);
    }

    Execucao Rodar() {
        EscreverIni();
        return pasta->Executar({"EXEC"});
    }

    // Starts `kelvane EXEC` and returns once it runs.
    JobEmCurso Iniciar() {
        EscreverIni();
        auto pid = std::make_shared<std::promise<pid_t>>();
        auto pidFuturo = pid->get_future();
        const auto exe = (pasta->caminho() / "kelvane").string();
        auto fim = std::async(std::launch::async, [exe, pid] {
            try {
                const auto r = ShellEspera({exe, "EXEC"}, {.aoIniciar = [&](pid_t p) {
                                               pid->set_value(p);
                                           }});
                return Execucao{r.sinal ? 128 + r.sinal : r.codigo, r.saida};
            } catch (...) {
                pid->set_exception(std::current_exception());
                throw;
            }
        });
        return {pidFuturo.get(), std::move(fim)};
    }

    // Kills `sinal` into the job and waits for its end; the tools it leaves behind are stopped
    // at the end of the test.
    Execucao Matar(JobEmCurso& job, int sinal) {
        const auto filhos = Descendentes(job.pid);
        ::kill(job.pid, sinal);
        const auto r = job.fim.get();
        orfaos_.insert(orfaos_.end(), filhos.begin(), filhos.end());
        return r;
    }
    // After SIGKILL a tool the job had started runs on; the test ends it.
    void EncerrarOrfaos() {
        for (pid_t p : orfaos_) {
            ::kill(p, SIGKILL);
            ::waitpid(p, nullptr, 0);
        }
        orfaos_.clear();
    }
    // Whether a tool the killed job had started still runs.
    bool OrfaoVivo() {
        std::erase_if(orfaos_, [](pid_t p) { return ::waitpid(p, nullptr, WNOHANG) != 0; });
        return !orfaos_.empty();
    }

    std::string NomeBase() const {
        std::string c;
        for (char ch : ValorLido(config.codigo, false)) {
            if (ch != ' ') {
                c += (ch == '/' || ch == '\0') ? '_' : ch;
            }
        }
        std::string n = ValorLido(config.nome, false);
        for (char& ch : n) {
            ch = (ch == ' ' || ch == '/' || ch == '\0') ? '_' : ch;
        }
        return "KVLN_" + c + "_" + n + "_" + Hoje();
    }
    fs::path Bak() const { return pasta->caminho() / (NomeBase() + ".BAK"); }
    fs::path Arquivo7z() const { return pasta->caminho() / (NomeBase() + ".7z"); }
    fs::path Enviado() const { return raizFtp() / "backups" / (NomeBase() + ".7z"); }

    std::vector<std::string> Mensagens() const { return pasta->MensagensLog(); }
    std::string TodoLog() const {
        std::string t;
        for (const auto& l : pasta->LinhasLog()) {
            t += l + "\n";
        }
        return t;
    }
    std::string UltimaMensagem() const {
        const auto m = Mensagens();
        return m.empty() ? "" : m.back();
    }

    // The BACKUP statements the database server received.
    std::vector<std::string> Backups() const {
        std::vector<std::string> lotes;
        for (const auto& l : tds->lotes()) {
            if (l.rfind("BACKUP", 0) == 0) {
                lotes.push_back(l);
            }
        }
        return lotes;
    }

    // The uploader's login folders still in the job's TMPDIR.
    std::vector<std::string> LoginsRestantes() const {
        std::vector<std::string> restos;
        for (const auto& e : fs::directory_iterator(tmp_)) {
            if (e.path().filename().string().rfind("kelvane-ftp", 0) == 0) {
                restos.push_back(e.path().string());
            }
        }
        return restos;
    }

    void FerramentasReais() {
        for (const char* f : {"7z", "ncftpput"}) {
            fs::remove(pasta->caminho() / f);
            fs::remove(pasta->caminho() / (std::string(f) + ".comportamento"));
        }
        fs::create_symlink("/usr/lib/p7zip/7z", pasta->caminho() / "7z");
        fs::create_symlink("/usr/bin/ncftpput", pasta->caminho() / "ncftpput");
    }

    // Back to a folder without anything a previous run left.
    void Limpar() {
        fs::remove_all(pasta->caminho() / "Log");
        for (const auto& p : {Bak(), Arquivo7z(), Enviado()}) {
            std::error_code nomeLongoDemais;
            fs::remove(p, nomeLongoDemais);
        }
        FerramentasReais();
    }

    // The job ran to its end: archive verified and sent, .BAK gone, Executado recorded.
    void ConferirSucesso(const Execucao& r) {
        ASSERT_EQ(r.codigo, 0) << r.saida << "\n" << TodoLog();
        EXPECT_EQ(UltimaMensagem(), "Fim do Processo");
        EXPECT_FALSE(fs::exists(Bak()));
        ASSERT_TRUE(fs::exists(Enviado()));
        EXPECT_EQ(LerArquivo(Enviado()), LerArquivo(Arquivo7z()));
        EXPECT_TRUE(ShellEspera({"/usr/lib/p7zip/7z", "t", Enviado().string()}).sucesso());
        EXPECT_EQ(LerINI(kSecaoInfos, "Executado", pasta->ini()).size(), 19u);
    }

    std::unique_ptr<PastaPrograma> pasta;
    std::unique_ptr<ServidorTds> tds;
    std::unique_ptr<ServidorFtp> ftp;
    ConfigJob config;
    OpcoesFtp opcoesFtp; // rate and renames of the FTP server; the rest comes from config
    int portaTds = 0;
    int portaFtp = 0;

private:
    PastaTemporaria raiz_;
    fs::path tmp_;
    std::optional<std::string> tmpdirAntes_;
    std::vector<pid_t> orfaos_;
};

} // namespace kelvane::teste
