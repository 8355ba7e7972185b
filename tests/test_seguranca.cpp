// Security of the unattended job: passwords never in a process list, a log, an error text or a
// message box; private files; hostile values in every field that reaches the BACKUP statement,
// the connection string, an argument vector, a file name or info.ini.
#include "apoio_job.h"
#include "job/backup.h"
#include "job/codigos.h"
#include "job/log.h"
#include "job/observador.h"
#include "job/programa.h"
#include "settings/codificacao.h"

#include <iostream>
#include <sys/stat.h>

using namespace kelvane;
using namespace kelvane::teste;

namespace {

class Seguranca : public JobReal {
public:
    // Every form a password could leak in: in clear and scrambled.
    std::vector<std::string> Segredos() const {
        std::vector<std::string> s;
        for (const auto& senha : {config.senha, config.passw}) {
            s.push_back(senha);
            s.push_back(Cripto(senha));
        }
        return s;
    }
    void SemSegredo(const std::string& texto, const std::string& onde) const {
        for (const auto& s : Segredos()) {
            EXPECT_EQ(texto.find(s), std::string::npos) << "senha em " << onde << ": " << texto;
        }
    }
};

TEST_F(Seguranca, EnviadorNaoMostraSenhaELoginSomeQuandoEleMorre) {
    Servidores();
    const auto args = tmp() / "argumentos.txt";
    pasta->FerramentaFalsa("ncftpput", {"argumentos " + args.string(), "dormir 60"});
    auto job = Iniciar();
    ASSERT_TRUE(Esperar([&] { return fs::exists(args); })) << TodoLog();

    // What anyone on the machine can read of the running job and its uploader.
    pid_t enviador = -1;
    auto processos = Descendentes(job.pid);
    processos.push_back(job.pid);
    for (pid_t p : processos) {
        const auto linha = LerProc(p, "cmdline");
        if (linha.rfind((pasta->caminho() / "ncftpput").string(), 0) == 0) {
            enviador = p;
        }
        SemSegredo(linha, "/proc/" + std::to_string(p) + "/cmdline");
        SemSegredo(LerProc(p, "environ"), "/proc/" + std::to_string(p) + "/environ");
    }
    ASSERT_GT(enviador, 0);

    // The password lives only in the login file, which is its owner's alone.
    const auto argumentos = teste::LinhasDoArquivo(args);
    ASSERT_GE(argumentos.size(), 2u);
    ASSERT_EQ(argumentos[0], "-f");
    const fs::path login = argumentos[1];
    EXPECT_EQ(login.parent_path().parent_path(), tmp());
    struct stat st {};
    ASSERT_EQ(::stat(login.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    ASSERT_EQ(::stat(login.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_NE(LerArquivo(login).find("\npass " + config.passw + "\n"), std::string::npos);

    ::kill(enviador, SIGKILL);
    const auto r = job.fim.get();
    EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::EnvioFalhou));
    EXPECT_EQ(UltimaMensagem(), "Erro: 137 - Envio falhou: ncftpput interrompido pelo sinal 9");
    EXPECT_FALSE(fs::exists(login.parent_path()));
    EXPECT_EQ(LoginsRestantes(), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(Bak()));
    SemSegredo(r.saida + TodoLog(), "log ou saída");
}

struct Falha {
    std::string caso;
    std::function<void(Seguranca&)> preparar;
};

TEST_F(Seguranca, NenhumaSenhaEmLogSaidaOuCaixaEmQualquerFalha) {
    const std::vector<Falha> casos = {
        {"servidor de banco fora do ar",
         [](Seguranca& t) {
             t.Servidores();
             t.portaTds = portaLivreFechada();
         }},
        {"senha do banco recusada",
         [](Seguranca& t) {
             t.Servidores();
             t.config.senha = "Outra S3nha;recusada";
         }},
        {"senha que o driver não aceita",
         [](Seguranca& t) {
             t.Servidores();
             t.config.senha = "S3nha};recusada";
         }},
        {"backup falha",
         [](Seguranca& t) {
             t.Servidores({.modo = "fail30"});
         }},
        {"conexão cai",
         [](Seguranca& t) {
             t.Servidores({.modo = "drop30"});
         }},
        {"7z falha",
         [](Seguranca& t) {
             t.Servidores();
             t.pasta->FerramentaFalsa("7z", {"stderr disco cheio", "sair 2"});
         }},
        {"senha do FTP recusada",
         [](Seguranca& t) {
             t.Servidores();
             t.config.passw = "Errada P4ss secreta";
         }},
        {"pasta remota inexistente",
         [](Seguranca& t) {
             t.Servidores();
             t.config.diretorio = "/nao/existe";
         }},
        {"enviador repete o arquivo de login na saída",
         [](Seguranca& t) {
             t.Servidores();
             t.pasta->FerramentaFalsa("ncftpput", {"copiar-login /dev/stderr", "sair 3"});
         }},
        {"usuário do FTP com quebra de linha",
         [](Seguranca& t) {
             t.Servidores();
             t.config.usuario = "kelvane\nhost outro";
         }},
        {"pasta temporária inexistente",
         [](Seguranca& t) {
             t.Servidores();
             ::setenv("TMPDIR", (t.tmp() / "nao-existe").c_str(), 1);
         }},
        {"log impossível de gravar",
         [](Seguranca& t) {
             t.Servidores();
             GravarArquivo(t.pasta->caminho() / "Log", "um arquivo no lugar da pasta");
         }},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        caso.preparar(*this);
        const auto r = Rodar();
        EXPECT_NE(r.codigo, 0) << TodoLog();
        SemSegredo(r.saida, "saída do programa");
        SemSegredo(TodoLog(), "log");

        // The same failure from the window: what its message boxes would show.
        std::vector<std::string> caixas;
        DefinirPastaPrograma(pasta->caminho());
        ArquivoLog = "Log_janela.Log";
        ObservadorJob janela;
        janela.caixaErro = [&](const std::string& t) {
            caixas.push_back(t);
        };
        janela.ncripto = [this] {
            return config.ncripto;
        };
        ExecutarBackup(&janela);
        for (const auto& c : caixas) {
            SemSegredo(c, "caixa de mensagem");
        }
        SemSegredo(TodoLog(), "log da janela");

        ::setenv("TMPDIR", tmp().c_str(), 1);
        Limpar();
        config = ConfigJob{};
        tds.reset();
        ftp.reset();
    }
}

TEST_F(Seguranca, NadaRodaOndeOutraContaPodeTrocarOQueOJobExecuta) {
    struct Caso {
        const char* nome;
        std::function<fs::path(Seguranca&)> preparar; // the path the refusal names
        bool roda;
    } const casos[] = {
        {"pasta gravável por todos, sem o bit sticky",
         [](Seguranca& t) {
             fs::permissions(t.pasta->caminho(), fs::perms::all);
             return t.pasta->caminho();
         },
         false},
        {"ferramenta gravável pelo grupo, atrás de um link",
         [](Seguranca& t) {
             const auto copia = t.tmp() / "ncftpput";
             fs::copy_file("/usr/bin/ncftpput", copia);
             fs::permissions(copia, fs::perms::owner_all | fs::perms::group_all);
             fs::remove(t.pasta->caminho() / "ncftpput");
             fs::create_symlink(copia, t.pasta->caminho() / "ncftpput");
             return copia;
         },
         false},
        {"pasta root:grupo 1770, como para a conta do servidor",
         [](Seguranca& t) {
             fs::permissions(t.pasta->caminho(),
                             fs::perms::owner_all | fs::perms::group_all | fs::perms::sticky_bit);
             return fs::path();
         },
         true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Servidores();
        const auto culpado = c.preparar(*this);
        const auto r = Rodar();
        if (c.roda) {
            ConferirSucesso(r);
        } else {
            EXPECT_EQ(r.codigo, ComoInteiro(CodigoSaida::PermissoesInseguras)) << TodoLog();
            EXPECT_EQ(UltimaMensagem().rfind("Permissões inseguras: " + culpado.string() + " ", 0),
                      0u)
                << UltimaMensagem();
            EXPECT_TRUE(tds->lotes().empty()); // nothing reached the server
            EXPECT_FALSE(fs::exists(Bak()));
        }
        fs::permissions(pasta->caminho(), fs::perms::owner_all);
        fs::remove(tmp() / "ncftpput");
        Limpar();
        tds.reset();
        ftp.reset();
    }
}

TEST(InfoIniPrivado, CriadoSomenteParaODonoMesmoSemUmask) {
    PastaTemporaria pasta;
    const auto ini = pasta.caminho() / "info.ini";
    const mode_t antes = ::umask(0);
    const bool gravou = GravarValorINI(kSecaoInfos, "Senha", Cripto("segredo"), ini);
    ::umask(antes);
    ASSERT_TRUE(gravou);
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // Rewriting keeps the mode the administrator gave it.
    ::chmod(ini.c_str(), 0640);
    ASSERT_TRUE(GravarValorINI(kSecaoInfos, "Executado", "01/01/2026", ini));
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// ---------------------------------------------------------------- hostile values

// What info.ini can hold of a value: one line of Windows-1252.
std::string FormaGuardada(const std::string& valor) {
    std::string v = Cp1252ParaUtf8(Utf8ParaCp1252(valor));
    for (char& c : v) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    return v;
}

bool TemControle(const std::string& s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The BACKUP statement split into its fixed text and the values it quotes, quoting undone: the
// same reading the server gives it.
struct Comando {
    std::string molde;
    std::vector<std::string> valores;
};

Comando Decompor(const std::string& sql) {
    Comando c;
    for (std::size_t i = 0; i < sql.size();) {
        const bool nome = sql[i] == '[';
        const bool texto = sql.compare(i, 2, "N'") == 0;
        if (!nome && !texto) {
            c.molde += sql[i++];
            continue;
        }
        const char fecha = nome ? ']' : '\'';
        i += nome ? 1 : 2;
        std::string valor;
        for (;; ++i) {
            if (i >= sql.size()) {
                c.molde += "<sem fim>";
                return c;
            }
            if (sql[i] == fecha) {
                if (i + 1 < sql.size() && sql[i + 1] == fecha) {
                    valor += fecha;
                    ++i;
                    continue;
                }
                ++i;
                break;
            }
            valor += sql[i];
        }
        c.molde += nome ? "[?]" : "N'?'";
        c.valores.push_back(valor);
    }
    return c;
}

struct Hostil {
    std::string nome;
    std::string valor;
    // Exit status of a job with the value in every field but the database login, and of one
    // with the value as database login and password. The failures: a file name longer than the
    // file system allows; a line break or NUL that survives scrambling, which the uploader's
    // login file refuses; a login FreeTDS refuses (empty, too long, with "};", or with "\",
    // which it takes for a Windows domain); a NUL, which ends the login where FreeTDS reads it.
    CodigoSaida campos;
    CodigoSaida login;
};

const CodigoSaida kOk = CodigoSaida::Sucesso;
const CodigoSaida kBackup = CodigoSaida::BackupFalhou;
const CodigoSaida kEnvio = CodigoSaida::EnvioFalhou;
const CodigoSaida kConexao = CodigoSaida::ConexaoFalhou;

const std::vector<Hostil>& Hostis() {
    static const std::vector<Hostil> valores = {
        {"aspa", "'", kOk, kOk},
        {"aspa no meio", "O'Brien", kOk, kOk},
        {"fim de comando", "x'; DROP DATABASE master; --", kOk, kOk},
        {"colchete", "]", kOk, kOk},
        {"colchetes", "[a]]b]", kOk, kOk},
        {"aspas duplas", "\"aspas\"", kOk, kOk},
        {"ponto e vírgula", ";", kOk, kOk},
        {"atribuição", "a;UID=intruso;PWD=x", kOk, kOk},
        {"abre chave", "{", kOk, kOk},
        {"fecha chave", "}", kOk, kOk},
        {"fecha chave e ponto e vírgula", "x};UID=intruso", kOk, kConexao},
        {"entre chaves", "{chaves}", kOk, kOk},
        {"brancos nas pontas", "  nas pontas  ", kOk, kOk},
        {"tabulações", "\tcom\ttab\t", kOk, kOk},
        {"tabulação que o embaralhamento faz quebra", "ab\tcd", kOk, kOk},
        {"quebra de linha", "linha1\nlinha2", kEnvio, kOk},
        {"CR LF e chave", "a\r\nPWD=outra", kEnvio, kOk},
        {"seção", "x\n[infos]\nPorta=1", kEnvio, kOk},
        {"NUL", std::string("a\0b", 3), kEnvio, kConexao},
        {"4000 caracteres", std::string(4000, 'x'), kBackup, kConexao},
        {"acentos do Windows-1252", "Ação Ñandú ü €", kOk, kOk},
        {"letras fora do Windows-1252", "Łódź Őrség", kOk, kOk},
        {"cirílico", "Жук", kOk, kOk},
        {"CJK", "日本語", kOk, kOk},
        {"emoji", "😀🎉", kOk, kOk},
        {"controle de direção", "abc\u202Edef", kOk, kOk},
        {"subida de pasta", "../../fora", kOk, kOk},
        {"caminho absoluto", "/tmp/fora", kOk, kOk},
        {"barra invertida", "a\\b", kOk, kConexao},
        {"opção", "-x", kOk, kOk},
        {"opção longa", "--help", kOk, kOk},
        {"lista do 7z", "@lista", kOk, kOk},
        {"curingas", "a*b?c", kOk, kOk},
        {"shell", "$(touch /tmp/kelvane-hostil)`id`", kOk, kOk},
        {"formato", "%s%n%x", kOk, kOk},
        {"igual no começo", "=valor", kOk, kOk},
        {"comentário", ";comentário", kOk, kOk},
        {"vazio", "", kOk, kConexao},
    };
    return valores;
}

TEST(ValoresHostis, InfoIniGuardaCadaCampoSemTocarOsOutros) {
    const std::vector<std::string> campos = {"CodigoCliente", "NomeCliente", "ServidorDB", "Banco",
                                             "Login",         "Senha",       "Usuario",    "Passw",
                                             "Endereco",      "Porta",       "Diretorio"};
    const std::set<std::string> credenciais = {"Login", "Senha", "Usuario", "Passw"};
    PastaTemporaria pasta;
    const auto ini = pasta.caminho() / "info.ini";
    for (const auto& campo : campos) {
        GravarINI(kSecaoInfos, campo, "base", ini);
    }
    const auto linhas = teste::LinhasDoArquivo(ini).size();
    std::vector<std::string> perdidos;
    for (const auto& h : Hostis()) {
        for (const auto& campo : campos) {
            for (const bool embaralhar : {false, true}) {
                if (embaralhar && !credenciais.count(campo)) {
                    continue;
                }
                SCOPED_TRACE(h.nome + " em " + campo + (embaralhar ? " embaralhado" : ""));
                if (embaralhar && DecodificarUtf8(h.valor).size() > kTamanhoMaximoCripto) {
                    EXPECT_THROW(Cripto(h.valor), ErroCripto); // the window refuses to save
                    continue;
                }
                GravarINI(kSecaoInfos, campo, embaralhar ? Cripto(h.valor) : h.valor, ini);
                std::string lido = LerINI(kSecaoInfos, campo, ini);
                lido = embaralhar ? Cripto(lido) : lido;
                if (lido != h.valor && lido != FormaGuardada(h.valor)) {
                    // A control character can come out of the scrambling as a line break,
                    // which the file cannot hold.
                    EXPECT_TRUE(embaralhar && TemControle(h.valor)) << lido;
                    perdidos.push_back(h.nome + " em " + campo);
                }
                for (const auto& outro : campos) {
                    if (outro != campo) {
                        EXPECT_EQ(LerINI(kSecaoInfos, outro, ini), "base") << outro;
                    }
                }
                EXPECT_EQ(teste::LinhasDoArquivo(ini).size(), linhas);
                GravarINI(kSecaoInfos, campo, "base", ini);
            }
        }
    }
    for (const auto& p : perdidos) {
        std::cout << "[ info ] embaralhado, não volta igual do info.ini: " << p << "\n";
    }
}

class ValoresHostisNoJob : public Seguranca {
public:
    // The values reach the job in the form info.ini gives them back; credentials that cannot be
    // scrambled are stored in clear, as the window requires.
    void Usar(const std::string& valor) {
        config.ncripto = DecodificarUtf8(valor).size() > kTamanhoMaximoCripto;
    }

    void ConferirFalhaClara(const Execucao& r) {
        const auto m = UltimaMensagem();
        const auto traco = m.find(" - ");
        EXPECT_TRUE(
            (m.rfind("Erro: ", 0) == 0 && traco != std::string::npos && traco + 3 < m.size()) ||
            m == "Tarefa não executada. SAINDO")
            << m << "\n"
            << r.saida;
    }
};

TEST_F(ValoresHostisNoJob, NenhumValorMudaOComandoAcrescentaArgumentoOuEscreveForaDaPasta) {
    const auto args = tmp() / "argumentos.txt";
    const auto login = tmp() / "login.txt";
    std::error_code erro; // a name too long for the file system is one of the cases
    for (const auto& h : Hostis()) {
        SCOPED_TRACE(h.nome);
        Usar(h.valor);
        config.codigo = config.nome = config.banco = h.valor;
        config.usuario = config.passw = config.endereco = config.diretorio = h.valor;
        config.porta = h.valor;
        Servidores({.tamanhoBackup = 64 * 1024}, false);
        pasta->FerramentaFalsa("ncftpput", {"argumentos " + args.string(),
                                            "copiar-login " + login.string(), "sair 0"});
        // A file the archiver would take along if the name worked as a pattern.
        std::string isca = NomeBase();
        std::replace_if(
            isca.begin(), isca.end(), [](char c) { return c == '*' || c == '?'; }, 'Z');
        const auto arquivoIsca = pasta->caminho() / (isca + ".BAK");
        if (isca != NomeBase() && isca.size() < 250) {
            GravarArquivo(arquivoIsca, "isca");
        }
        std::set<std::string> vizinhos;
        for (const auto& e : fs::directory_iterator(tmp())) {
            vizinhos.insert(e.path().filename().string());
        }

        const auto r = Rodar();
        EXPECT_EQ(r.codigo, ComoInteiro(h.campos)) << TodoLog() << r.saida;

        const auto lotes = Backups();
        ASSERT_EQ(lotes.size(), 1u);
        const auto comando = Decompor(lotes[0]);
        EXPECT_EQ(comando.molde,
                  "BACKUP DATABASE [?] TO  DISK = N'?' WITH NOFORMAT, INIT, "
                  "COMPRESSION,  NAME = N'?', SKIP, NOREWIND, NOUNLOAD,  STATS = 10");
        EXPECT_EQ(comando.valores,
                  (std::vector<std::string>{ValorLido(h.valor, false), Bak().string(),
                                            ValorLido(h.valor, false) + " - " +
                                                ValorLido(h.valor, false)}));
        EXPECT_EQ(Bak().parent_path(), pasta->caminho());

        if (r.codigo == 0) {
            const std::string p = ValorLido(h.valor, true);
            EXPECT_EQ(
                teste::LinhasDoArquivo(args),
                (std::vector<std::string>{"-f", teste::LinhasDoArquivo(args).at(1), "-P",
                                          ValorLido(h.valor, false), "-F", "-S", ".parcial", "--",
                                          ValorLido(h.valor, false), Arquivo7z().string()}));
            EXPECT_EQ(LerArquivo(login),
                      "host " + ValorLido(h.valor, false) + "\nuser " + p + "\npass " + p + "\n");
            // Exactly one file in the archive: the backup, never a file its name matches.
            const auto lista =
                ShellEspera({"/usr/lib/p7zip/7z", "l", "-slt", "-spd", Arquivo7z().string()});
            std::vector<std::string> caminhos;
            std::istringstream saida(lista.saida);
            for (std::string l; std::getline(saida, l);) {
                if (l.rfind("Path = ", 0) == 0) {
                    caminhos.push_back(l.substr(7));
                }
            }
            EXPECT_EQ(caminhos,
                      (std::vector<std::string>{Arquivo7z().string(), Bak().filename().string()}));
            EXPECT_FALSE(fs::exists(Bak(), erro));
        } else {
            ConferirFalhaClara(r);
        }
        if (isca != NomeBase() && isca.size() < 250) {
            EXPECT_TRUE(fs::exists(arquivoIsca));
        }
        std::set<std::string> depois;
        for (const auto& e : fs::directory_iterator(tmp())) {
            depois.insert(e.path().filename().string());
        }
        depois.erase(args.filename().string());
        depois.erase(login.filename().string());
        EXPECT_EQ(depois, vizinhos);
        EXPECT_FALSE(fs::exists("/tmp/fora"));
        EXPECT_FALSE(fs::exists("/tmp/kelvane-hostil"));

        fs::remove(arquivoIsca, erro);
        fs::remove(args);
        fs::remove(login);
        Limpar();
        config = ConfigJob{};
        tds.reset();
    }
}

TEST_F(ValoresHostisNoJob, LoginESenhaDoBancoChegamIguaisOuFalhamClaramente) {
    for (const auto& h : Hostis()) {
        SCOPED_TRACE(h.nome);
        Usar(h.valor);
        config.login = config.senha = h.valor;
        // The server takes only exactly these, so a success is the proof they arrived whole.
        Servidores({.tamanhoBackup = 64 * 1024}, false);
        pasta->FerramentaFalsa("ncftpput", {"sair 0"});
        const auto r = Rodar();
        EXPECT_EQ(r.codigo, ComoInteiro(h.login)) << TodoLog() << r.saida;
        if (r.codigo != 0) {
            ConferirFalhaClara(r);
            const auto m = Mensagens();
            ASSERT_GE(m.size(), 2u);
            EXPECT_EQ(m[m.size() - 2].rfind("Erro ao conetar no banco: ", 0), 0u)
                << m[m.size() - 2];
            EXPECT_GT(m[m.size() - 2].size(), std::string("Erro ao conetar no banco: ").size());
        }
        Limpar();
        config = ConfigJob{};
        tds.reset();
    }
}

} // namespace
