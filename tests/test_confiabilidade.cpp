// Reliability of the unattended job: runs killed at each step, a process killed in the middle of
// saving info.ini, folders it may not write, a full disk, and two runs started together.
#include "apoio_job.h"
#include "job/codigos.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <latch>
#include <random>
#include <regex>
#include <sys/mount.h>

using namespace kelvane;
using namespace kelvane::teste;

namespace {

class Confiabilidade : public JobReal {
public:
    fs::path Marca() const { return tmp() / "etapa.txt"; }
    std::string enviadoAntes; // the archive a first run of the day left on the server
};

struct Interrupcao {
    std::string etapa;
    std::function<void(Confiabilidade&)> preparar;
    std::function<bool(Confiabilidade&)> chegou; // the job is inside the step
};

bool Cresceu(const fs::path& p) {
    std::error_code e;
    return fs::file_size(p, e) > 0 && !e;
}

TEST_F(Confiabilidade, JobInterrompidoEmCadaEtapaNaoPerdeNadaEAProximaRoda) {
    const std::vector<Interrupcao> etapas = {
        {"backup", [](Confiabilidade& t) { t.Servidores({.atrasoPasso = 0.5}); },
         [](Confiabilidade& t) {
             return fs::exists(t.Bak());
         }},
        {"compactador",
         [](Confiabilidade& t) {
             t.Servidores();
             // Half an archive on disk, and the archiver still at work.
             t.pasta->FerramentaFalsa("7z", {"criar " + t.Arquivo7z().string(),
                                             "argumentos " + t.Marca().string(), "dormir 60"});
         },
         [](Confiabilidade& t) {
             return fs::exists(t.Marca());
         }},
        {"envio",
         [](Confiabilidade& t) {
             t.Servidores();
             t.pasta->FerramentaFalsa("ncftpput",
                                      {"argumentos " + t.Marca().string(), "dormir 60"});
         },
         [](Confiabilidade& t) {
             return fs::exists(t.Marca());
         }},
        {"envio do segundo backup do dia",
         [](Confiabilidade& t) {
             t.opcoesFtp.taxa = 50 * 1024;
             t.Servidores();
             t.ConferirSucesso(t.Rodar());
             t.enviadoAntes = LerArquivo(t.Enviado());
             fs::remove(t.Arquivo7z());
         },
         [](Confiabilidade& t) {
             return Cresceu(t.Enviado().string() + ".parcial");
         }},
    };
    for (const auto& etapa : etapas) {
        for (const int sinal : {SIGTERM, SIGKILL}) {
            SCOPED_TRACE(etapa.etapa + ", sinal " + std::to_string(sinal));
            etapa.preparar(*this);
            auto job = Iniciar();
            ASSERT_TRUE(Esperar([&] { return etapa.chegou(*this); })) << TodoLog();
            const auto r = Matar(job, sinal);
            EXPECT_EQ(r.codigo, 128 + sinal) << r.saida << TodoLog();

            // No verified archive exists, so the backup must still be there.
            EXPECT_TRUE(fs::exists(Bak()));
            // A good archive already on the server stays whole.
            EXPECT_EQ(LerArquivo(Enviado()), enviadoAntes);
            EXPECT_EQ(LerINI(kSecaoInfos, "Executado", pasta->ini()), "");
            if (sinal == SIGTERM) {
                // Asked to stop, the job takes its tool and its login file with it.
                EXPECT_TRUE(Esperar([&] { return !OrfaoVivo(); }, 10))
                    << "a ferramenta continua rodando depois do fim do job";
                EXPECT_EQ(LoginsRestantes(), std::vector<std::string>{});
            }

            if (sinal == SIGKILL && OrfaoVivo()) {
                // The tool a killed job left keeps the folder's lock until it ends.
                EXPECT_EQ(pasta->Executar({"EXEC"}).codigo,
                          ComoInteiro(CodigoSaida::JobEmExecucao));
            }
            // The next run finds the lock free and replaces the stale archive.
            EncerrarOrfaos();
            enviadoAntes.clear();
            opcoesFtp = {};
            fs::remove(Marca());
            fs::remove_all(pasta->caminho() / "Log");
            FerramentasReais();
            tds.reset();
            ftp.reset();
            Servidores();
            ConferirSucesso(Rodar());
            // A login folder a killed job could not remove is gone once the next upload ran.
            EXPECT_EQ(LoginsRestantes(), std::vector<std::string>{});
            Limpar();
            tds.reset();
            ftp.reset();
        }
    }
}

TEST(InfoIni, ProcessoMortoNoMeioDaGravacaoDeixaOAntigoOuONovoInteiro) {
    PastaTemporaria pasta;
    const auto ini = pasta.caminho() / "info.ini";
    // A long value, so that a save takes long enough to be cut at any point of it.
    const std::string a(2 << 20, 'a');
    const std::string b(2 << 20, 'b');
    for (const char* chave : {"CodigoCliente", "Passw", "Porta"}) {
        GravarINI(kSecaoInfos, chave, chave, ini);
    }
    GravarINI(kSecaoInfos, "Executado", a, ini);
    const std::string comA = LerArquivo(ini);
    GravarINI(kSecaoInfos, "Executado", b, ini);
    const std::string comB = LerArquivo(ini);
    ASSERT_NE(comA, comB);

    // How long a child takes to start and save, so that the kills land all over the save.
    const auto inicio = std::chrono::steady_clock::now();
    if (const pid_t filho = ::fork(); filho == 0) {
        GravarINI(kSecaoInfos, "Executado", a, ini);
        ::_exit(0);
    } else {
        ::waitpid(filho, nullptr, 0);
    }
    const auto umaGravacao = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - inicio)
                                 .count();
    std::mt19937 sorte(42);
    std::uniform_int_distribution<long> espera(0, umaGravacao * 5 / 4);
    int antigos = 0;
    int novos = 0;
    for (int i = 0; i < 60; ++i) {
        const std::string antes = LerArquivo(ini);
        const std::string& novo = antes == comA ? comB : comA;
        const pid_t filho = ::fork();
        if (filho == 0) {
            GravarINI(kSecaoInfos, "Executado", &novo == &comA ? a : b, ini);
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(espera(sorte)));
        ::kill(filho, SIGKILL);
        ::waitpid(filho, nullptr, 0);
        const std::string depois = LerArquivo(ini);
        ASSERT_TRUE(depois == antes || depois == novo)
            << "rodada " << i << ": " << depois.size() << " bytes, nem o antigo nem o novo";
        (depois == antes ? antigos : novos)++;
    }
    int temporarios = 0;
    for (const auto& e : fs::directory_iterator(pasta.caminho())) {
        temporarios += e.path().filename() != "info.ini";
    }
    std::cout << "[ info ] uma gravação: " << umaGravacao << " us; 60 mortes: " << antigos
              << " deixaram o antigo, " << novos << " o novo; " << temporarios
              << " arquivos temporários ficaram na pasta\n";
}

// Found by the INI fuzz target: a file whose last line ends in a lone CR read that CR as part of
// the value until a write completed the line break.
TEST(InfoIni, DoisProcessosGravandoChavesDiferentesNaoPerdemNenhuma) {
    // The window saving while the job records Executado: each write reads, changes one key and
    // replaces the file.
    PastaTemporaria pasta;
    const auto ini = pasta.caminho() / "info.ini";
    GravarINI(kSecaoInfos, "Banco", "Vendas", ini);
    constexpr int kChaves = 150;
    std::vector<pid_t> filhos;
    for (const char* prefixo : {"Senha", "Executado"}) {
        if (const pid_t filho = ::fork(); filho == 0) {
            for (int i = 0; i < kChaves; ++i) {
                GravarINI(kSecaoInfos, prefixo + std::to_string(i), std::to_string(i), ini);
            }
            ::_exit(0);
        } else {
            filhos.push_back(filho);
        }
    }
    for (const pid_t filho : filhos) {
        ::waitpid(filho, nullptr, 0);
    }
    int perdidas = 0;
    for (const char* prefixo : {"Senha", "Executado"}) {
        for (int i = 0; i < kChaves; ++i) {
            perdidas += LerINI(kSecaoInfos, prefixo + std::to_string(i), ini) != std::to_string(i);
        }
    }
    EXPECT_EQ(perdidas, 0);
    EXPECT_EQ(LerINI(kSecaoInfos, "Banco", ini), "Vendas");
}

TEST(InfoIni, CrNoFimDoArquivoNaoMudaAoGravarOutraChave) {
    PastaTemporaria pasta;
    const auto ini = pasta.caminho() / "info.ini";
    GravarArquivo(ini, "[infos]\nPorta=21\r");
    EXPECT_EQ(LerINI(kSecaoInfos, "Porta", ini), "21");
    GravarINI(kSecaoInfos, "Executado", "x", ini);
    EXPECT_EQ(LerINI(kSecaoInfos, "Porta", ini), "21");
    EXPECT_EQ(LerArquivo(ini), "[infos]\nPorta=21\r\nExecutado=x\n");
}

// `kelvane EXEC` as the unprivileged user when the tests run as root, so that modes bind.
Execucao ExecutarSemPrivilegio(const PastaPrograma& pasta) {
    const auto saida = pasta.caminho().parent_path() / "saida-sem-privilegio.txt";
    const int fd = ::open(saida.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int codigo = SemPrivilegio([&] {
        const auto r = ShellEspera({(pasta.caminho() / "kelvane").string(), "EXEC"});
        const bool ok =
            ::write(fd, r.saida.data(), r.saida.size()) == static_cast<ssize_t>(r.saida.size());
        return ok ? (r.sinal ? 128 + r.sinal : r.codigo) : 98;
    });
    ::close(fd);
    const std::string texto = LerArquivo(saida);
    fs::remove(saida);
    return {codigo, texto};
}

// Every file of the folder tree with its size: what "nothing deleted" is checked against.
std::map<std::string, std::uintmax_t> Arquivos(const fs::path& pasta) {
    std::map<std::string, std::uintmax_t> arquivos;
    for (const auto& e : fs::recursive_directory_iterator(pasta)) {
        if (e.is_regular_file() || e.is_symlink()) {
            arquivos[fs::relative(e.path(), pasta).string()] =
                e.is_symlink() ? 0 : fs::file_size(e.path());
        }
    }
    return arquivos;
}

void EntregarAoUsuarioSemPrivilegio(const fs::path& pasta) {
    if (::geteuid() != 0) {
        return;
    }
    ::lchown(pasta.c_str(), 65534, 65534);
    for (const auto& e : fs::recursive_directory_iterator(pasta)) {
        ::lchown(e.path().c_str(), 65534, 65534);
    }
}

struct SemEscrita {
    std::string caso;
    std::function<void(Confiabilidade&)> preparar;
    std::vector<int> codigos;
    std::string mensagem; // in the log or, where the log cannot be written, on stderr
};

TEST_F(Confiabilidade, PastaSemPermissaoDeEscritaFalhaComMensagemClara) {
    const std::vector<SemEscrita> casos = {
        {"pasta Log somente leitura",
         [](Confiabilidade& t) {
             fs::permissions(t.pasta->caminho() / "Log",
                             fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                 fs::perms::others_read);
         },
         {ComoInteiro(CodigoSaida::ErroOutro)},
         "não foi possível abrir o log"},
        {"pasta do programa somente leitura",
         [](Confiabilidade& t) {
             fs::permissions(t.pasta->caminho(), fs::perms::owner_write, fs::perm_options::remove);
         },
         {ComoInteiro(CodigoSaida::ErroOutro)},
         "kelvane.lock"},
        {"pasta do programa somente leitura depois de uma execução",
         [](Confiabilidade& t) {
             GravarArquivo(t.pasta->caminho() / "kelvane.lock", "");
             EntregarAoUsuarioSemPrivilegio(t.pasta->caminho());
             fs::permissions(t.pasta->caminho(), fs::perms::owner_write, fs::perm_options::remove);
         },
         // The database server writes the .BAK or refuses to, as its account allows.
         {ComoInteiro(CodigoSaida::BackupFalhou), ComoInteiro(CodigoSaida::CompactacaoFalhou)},
         "Erro: "},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        Servidores();
        EscreverIni();
        fs::create_directory(pasta->caminho() / "Log");
        EntregarAoUsuarioSemPrivilegio(pasta->caminho());
        const auto iniAntes = LerArquivo(pasta->ini());
        caso.preparar(*this);
        const auto antes = Arquivos(pasta->caminho());

        const auto r = ExecutarSemPrivilegio(*pasta);
        EXPECT_NE(std::find(caso.codigos.begin(), caso.codigos.end(), r.codigo), caso.codigos.end())
            << r.codigo << "\n"
            << r.saida << TodoLog();
        const std::string onde = r.saida + TodoLog();
        EXPECT_NE(onde.find(caso.mensagem), std::string::npos) << onde;
        // Nothing was deleted; the server's .BAK is the only file that may have appeared.
        const auto depois = Arquivos(pasta->caminho());
        for (const auto& [nome, tamanho] : antes) {
            if (nome.rfind("Log/", 0) != 0) {
                EXPECT_EQ(depois.count(nome), 1u) << nome << " sumiu";
            }
        }
        for (const auto& [nome, tamanho] : depois) {
            EXPECT_TRUE(antes.count(nome) || nome.rfind("Log/", 0) == 0 ||
                        nome == Bak().filename().string())
                << nome << " apareceu";
        }
        EXPECT_EQ(LerArquivo(pasta->ini()), iniAntes);

        fs::permissions(pasta->caminho(), fs::perms::owner_all, fs::perm_options::add);
        fs::permissions(pasta->caminho() / "Log", fs::perms::owner_all, fs::perm_options::add);
        fs::remove(pasta->caminho() / "kelvane.lock");
        Limpar();
        tds.reset();
        ftp.reset();
    }
}

// A small file system mounted over the program folder for the length of a test.
class Tmpfs {
public:
    Tmpfs(const fs::path& ponto, std::uintmax_t bytes) : ponto_(ponto) {
        const std::string opcoes = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("kelvane-teste", ponto.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                    opcoes.c_str()) == 0) {
            montado_ = true;
        } else {
            erro_ = std::strerror(errno);
        }
    }
    ~Tmpfs() {
        if (montado_) {
            ::umount2(ponto_.c_str(), MNT_DETACH);
        }
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool montado() const { return montado_; }
    const std::string& erro() const { return erro_; }

private:
    fs::path ponto_;
    bool montado_ = false;
    std::string erro_;
};

TEST_F(Confiabilidade, DiscoCheioNaCompactacaoGuardaOBak) {
    Servidores();
    const auto programa = pasta->caminho() / "kelvane";
    const std::string executavel = LerArquivo(programa);
    // Room for the program, the backup and the log; not for the archive as well.
    const std::uintmax_t tamanho = (executavel.size() / 4096 + 1) * 4096 + (1 << 20) + 64 * 1024;
    Tmpfs disco(pasta->caminho(), tamanho);
    if (disco.montado()) {
        GravarArquivo(programa, executavel);
        fs::permissions(programa, fs::perms::owner_all);
        FerramentasReais();
        fs::create_symlink("/usr/lib/p7zip/7z.so", pasta->caminho() / "7z.so");
    } else {
        std::cout << "[ info ] um tmpfs não pôde ser montado (" << disco.erro()
                  << "): o disco cheio vem de um 7z falso com a mensagem do 7z\n";
        pasta->FerramentaFalsa("7z", {"stderr ERROR: E_FAIL",
                                      "stderr There is not enough space on the disk", "sair 2"});
    }
    const auto r = Rodar();
    const std::string onde = r.saida + TodoLog();
    EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::CompactacaoFalhou)) << onde;
    EXPECT_NE(onde.find("Compactação falhou: 7z terminou com código 2"), std::string::npos) << onde;
    ASSERT_TRUE(fs::exists(Bak()));
    EXPECT_EQ(fs::file_size(Bak()), 1u << 20);
    EXPECT_FALSE(fs::exists(Enviado()));
    EXPECT_EQ(LerINI(kSecaoInfos, "Executado", pasta->ini()), "");
    std::cout << "[ info ] disco cheio: " << UltimaMensagem() << "\n";
    if (disco.montado()) {
        fs::remove(Bak());
        fs::remove(Arquivo7z());
    }
}

TEST_F(Confiabilidade, DoisJobsAoMesmoTempoUmRodaOOutroAvisa) {
    // Slow enough steps that the two runs always overlap.
    Servidores({.atrasoPasso = 0.05});
    EscreverIni();
    const auto exe = (pasta->caminho() / "kelvane").string();
    const std::regex linhaDeLog(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d : .+)");
    for (int i = 1; i <= 10; ++i) {
        SCOPED_TRACE("rodada " + std::to_string(i));
        std::latch largada(2);
        auto rodar = [&] {
            largada.arrive_and_wait();
            return ShellEspera({exe, "EXEC"});
        };
        auto a = std::async(std::launch::async, rodar);
        auto b = std::async(std::launch::async, rodar);
        std::vector<int> codigos = {a.get().codigo, b.get().codigo};
        std::sort(codigos.begin(), codigos.end());
        EXPECT_EQ(codigos, (std::vector<int>{0, ComoInteiro(CodigoSaida::JobEmExecucao)}))
            << TodoLog();

        const auto mensagens = Mensagens();
        EXPECT_EQ(std::count(mensagens.begin(), mensagens.end(), "Fim do Processo"), i);
        EXPECT_EQ(std::count(mensagens.begin(), mensagens.end(),
                             "Outro backup já está em execução nesta pasta; este não será "
                             "executado."),
                  i);
        for (const auto& l : pasta->LinhasLog()) {
            EXPECT_TRUE(std::regex_match(l, linhaDeLog)) << l;
        }
        EXPECT_EQ(LerINI(kSecaoInfos, "Porta", pasta->ini()), std::to_string(portaFtp));
        EXPECT_EQ(Cripto(LerINI(kSecaoInfos, "Passw", pasta->ini())), config.passw);
        EXPECT_EQ(LerINI(kSecaoInfos, "Executado", pasta->ini()).size(), 19u);
        EXPECT_FALSE(fs::exists(Bak()));
        EXPECT_TRUE(ShellEspera({"/usr/lib/p7zip/7z", "t", Arquivo7z().string()}).sucesso());
        EXPECT_EQ(LerArquivo(Enviado()), LerArquivo(Arquivo7z()));
    }
    EXPECT_EQ(Backups().size(), 10u);
}

} // namespace
