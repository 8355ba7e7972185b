// The Debian package as an administrator gets it: built with cpack from this build tree,
// unpacked with dpkg-deb into a scratch root, its control fields, layout and scheduling examples
// checked, and the unpacked program run against the database stand-in and an FTP server.
// Also `cmake --install` to another prefix: the same folder, nothing written outside it.
#include "settings/cripto.h"
#include "settings/ini.h"
#include "support/pasta_programa.h"
#include "support/servidores.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kelvane::teste::Execucao;
using kelvane::teste::LerArquivo;
using kelvane::teste::PastaTemporaria;
using kelvane::teste::Rodar;

const std::string kPasta = "/opt/kelvane";

// Every file and link of the package; the only one outside the program folder is the desktop
// menu's copy of the entry that opens the window.
const std::set<std::string> kConteudo = {
    "opt/kelvane/kelvane",
    "opt/kelvane/kelvane-janela.so",
    "opt/kelvane/7z",
    "opt/kelvane/7z.so",
    "opt/kelvane/ncftpput",
    "opt/kelvane/kelvane.png",
    "opt/kelvane/kelvane.desktop",
    "opt/kelvane/doc/README.md",
    "opt/kelvane/exemplos/kelvane.service",
    "opt/kelvane/exemplos/kelvane.timer",
    "opt/kelvane/exemplos/kelvane.cron",
    "usr/share/applications/kelvane.desktop",
};

const std::map<std::string, std::string> kFerramentas = {
    {"7z", "/usr/lib/p7zip/7z"},
    {"7z.so", "/usr/lib/p7zip/7z.so"},
    {"ncftpput", "/usr/bin/ncftpput"},
};

std::vector<std::string> Linhas(const std::string& texto) {
    std::vector<std::string> linhas;
    std::istringstream entrada(texto);
    std::string linha;
    while (std::getline(entrada, linha)) {
        linhas.push_back(linha);
    }
    return linhas;
}

std::string Aparado(std::string t) {
    const auto branco = [](unsigned char c) {
        return std::isspace(c) != 0;
    };
    t.erase(t.begin(), std::find_if_not(t.begin(), t.end(), branco));
    t.erase(std::find_if_not(t.rbegin(), t.rend(), branco).base(), t.end());
    return t;
}

std::string Substituir(std::string texto, const std::string& de, const std::string& para) {
    for (auto pos = texto.find(de); pos != std::string::npos;
         pos = texto.find(de, pos + para.size())) {
        texto.replace(pos, de.size(), para);
    }
    return texto;
}

// "[Section]" / "Key=Value" files (desktop entries, systemd units): "Section.Key" -> values.
std::map<std::string, std::vector<std::string>> Chaves(const std::string& texto) {
    std::map<std::string, std::vector<std::string>> chaves;
    std::string secao;
    for (auto linha : Linhas(texto)) {
        linha = Aparado(linha);
        if (linha.empty() || linha[0] == '#' || linha[0] == ';') {
            continue;
        }
        if (linha.front() == '[' && linha.back() == ']') {
            secao = linha.substr(1, linha.size() - 2);
            continue;
        }
        const auto igual = linha.find('=');
        if (igual != std::string::npos) {
            chaves[secao + "." + Aparado(linha.substr(0, igual))].push_back(
                Aparado(linha.substr(igual + 1)));
        }
    }
    return chaves;
}

// The one value of a key; "" when missing or given more than once.
std::string Valor(const std::map<std::string, std::vector<std::string>>& chaves,
                  const std::string& chave) {
    const auto it = chaves.find(chave);
    return it != chaves.end() && it->second.size() == 1 ? it->second.front() : "";
}

// Files and links under `raiz` (relative, "/"-separated), and the folders.
struct Arvore {
    std::set<std::string> arquivos;
    std::set<std::string> pastas;
};

Arvore LerArvore(const fs::path& raiz) {
    Arvore a;
    for (auto it = fs::recursive_directory_iterator(raiz); it != fs::recursive_directory_iterator();
         ++it) {
        const auto relativo = it->path().lexically_relative(raiz).generic_string();
        if (it->is_directory() && !it->is_symlink()) {
            a.pastas.insert(relativo);
        } else {
            a.arquivos.insert(relativo);
        }
    }
    return a;
}

// Folders that hold none of the files: a package or an install should leave none behind.
std::vector<std::string> PastasVazias(const Arvore& a) {
    std::vector<std::string> vazias;
    for (const auto& pasta : a.pastas) {
        const bool usada = std::any_of(a.arquivos.begin(), a.arquivos.end(),
                                       [&](const auto& f) { return f.rfind(pasta + "/", 0) == 0; });
        if (!usada) {
            vazias.push_back(pasta);
        }
    }
    return vazias;
}

// Width and height from a PNG's header; {0, 0} when it is no PNG.
std::pair<unsigned, unsigned> TamanhoPng(const std::string& png) {
    if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
        png.compare(12, 4, "IHDR") != 0) {
        return {0, 0};
    }
    const auto be32 = [&](std::size_t i) {
        unsigned v = 0;
        for (std::size_t k = i; k < i + 4; ++k) {
            v = (v << 8) | static_cast<unsigned char>(png[k]);
        }
        return v;
    };
    return {be32(16), be32(20)};
}

struct Alternativa {
    std::string nome;
    std::string operador; // "" when unversioned
    std::string versao;
};

// "a (>= 1), b | c" -> {{a >= 1}, {b, c}}
std::vector<std::vector<Alternativa>> LerDepends(const std::string& depends) {
    std::vector<std::vector<Alternativa>> clausulas;
    std::istringstream lista(depends);
    std::string clausula;
    while (std::getline(lista, clausula, ',')) {
        std::vector<Alternativa> alternativas;
        std::istringstream partes(clausula);
        std::string parte;
        while (std::getline(partes, parte, '|')) {
            Alternativa a;
            const auto abre = parte.find('(');
            a.nome = Aparado(parte.substr(0, abre));
            a.nome = a.nome.substr(0, a.nome.find(':')); // drop an architecture qualifier
            if (abre != std::string::npos) {
                std::istringstream restricao(parte.substr(abre + 1, parte.find(')') - abre - 1));
                restricao >> a.operador >> a.versao;
            }
            alternativas.push_back(a);
        }
        clausulas.push_back(alternativas);
    }
    return clausulas;
}

// Whether dpkg would take this dependency as met on this machine.
bool Satisfeita(const Alternativa& a) {
    const auto r =
        Rodar({KELVANE_DPKG_QUERY, "-W", "--showformat=${db:Status-Status} ${Version}", a.nome});
    std::istringstream saida(r.saida);
    std::string estado, versao;
    saida >> estado >> versao;
    if (r.codigo != 0 || estado != "installed") {
        return false;
    }
    return a.operador.empty() ||
           Rodar({KELVANE_DPKG, "--compare-versions", versao, a.operador, a.versao}).codigo == 0;
}

std::string Explicar(const Execucao& r) {
    return "exit " + std::to_string(r.codigo) + ":\n" + r.saida;
}

class Pacote : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        trabalho_ = std::make_unique<PastaTemporaria>();
        const auto saida = trabalho_->caminho() / "pacote";
        const auto r = Rodar({KELVANE_CPACK, "--config", KELVANE_DIR_BUILD "/CPackConfig.cmake",
                              "-G", "DEB", "-B", saida.string()});
        if (r.codigo != 0) {
            falha_ = "cpack failed, " + Explicar(r);
            return;
        }
        std::vector<fs::path> pacotes;
        for (const auto& item : fs::directory_iterator(saida)) {
            if (item.path().extension() == ".deb") {
                pacotes.push_back(item.path());
            }
        }
        if (pacotes.size() != 1) {
            falha_ = "expected one .deb in " + saida.string() + ", found " +
                     std::to_string(pacotes.size());
            return;
        }
        deb_ = pacotes.front();
        raiz_ = trabalho_->caminho() / "raiz";
        const auto x = Rodar({KELVANE_DPKG_DEB, "-x", deb_.string(), raiz_.string()});
        if (x.codigo != 0) {
            falha_ = "dpkg-deb -x failed, " + Explicar(x);
        }
    }
    static void TearDownTestSuite() { trabalho_.reset(); }

    void SetUp() override { ASSERT_EQ(falha_, ""); }

    static fs::path Instalado(const std::string& caminho) {
        return raiz_ / fs::path(caminho).relative_path();
    }
    static fs::path PastaInstalada() { return Instalado(kPasta); }

    static std::unique_ptr<PastaTemporaria> trabalho_;
    static std::string falha_;
    static fs::path deb_;
    static fs::path raiz_;
};

std::unique_ptr<PastaTemporaria> Pacote::trabalho_;
std::string Pacote::falha_;
fs::path Pacote::deb_;
fs::path Pacote::raiz_;

TEST_F(Pacote, CamposDeControleEDependencias) {
    const auto campo = [](const char* nome) {
        return Aparado(Rodar({KELVANE_DPKG_DEB, "--field", deb_.string(), nome}).saida);
    };
    EXPECT_EQ(campo("Package"), "kelvane");
    EXPECT_EQ(campo("Version"), KELVANE_VERSAO);
    EXPECT_EQ(campo("Architecture"), Aparado(Rodar({KELVANE_DPKG, "--print-architecture"}).saida));
    EXPECT_FALSE(campo("Maintainer").empty());

    const auto depends = campo("Depends");
    const auto clausulas = LerDepends(depends);
    std::set<std::string> nomes;
    for (const auto& alternativas : clausulas) {
        for (const auto& a : alternativas) {
            nomes.insert(a.nome);
        }
        // Every clause is met here, where the program runs: no misspelt or foreign name.
        EXPECT_TRUE(std::any_of(alternativas.begin(), alternativas.end(), Satisfeita))
            << "not met on this machine: " << alternativas.front().nome;
    }
    for (const char* necessario :
         {"libqt6widgets6", "libodbc2", "unixodbc", "tdsodbc", "p7zip-full", "ncftp"}) {
        EXPECT_TRUE(nomes.count(necessario)) << necessario << " missing from Depends: " << depends;
    }
}

TEST_F(Pacote, ConteudoSoNaPastaDoProgramaEMenu) {
    const auto r = Rodar({KELVANE_DPKG_DEB, "-c", deb_.string()});
    ASSERT_EQ(r.codigo, 0) << Explicar(r);
    for (const auto& linha : Linhas(r.saida)) {
        std::istringstream campos(linha);
        std::string modo, dono;
        campos >> modo >> dono;
        EXPECT_EQ(dono, "root/root") << linha;
    }
    const auto arvore = LerArvore(raiz_);
    EXPECT_EQ(arvore.arquivos, kConteudo);
    EXPECT_EQ(PastasVazias(arvore), std::vector<std::string>{});
}

TEST_F(Pacote, PastaDoProgramaCompleta) {
    const auto executavel = PastaInstalada() / "kelvane";
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(executavel)));
    const auto modo = fs::status(executavel).permissions();
    for (const auto bit : {fs::perms::owner_exec, fs::perms::group_exec, fs::perms::others_exec}) {
        EXPECT_NE(modo & bit, fs::perms::none);
    }
    EXPECT_EQ(LerArquivo(executavel).rfind("\177ELF", 0), 0u);
    EXPECT_EQ(LerArquivo(PastaInstalada() / "kelvane-janela.so").rfind("\177ELF", 0), 0u);

    for (const auto& [nome, alvo] : kFerramentas) {
        const auto link = PastaInstalada() / nome;
        ASSERT_TRUE(fs::is_symlink(link)) << nome;
        EXPECT_EQ(fs::read_symlink(link), alvo) << nome;
        EXPECT_TRUE(fs::exists(link)) << nome << " -> " << alvo << " is dangling here";
    }

    const auto icone = LerArquivo(PastaInstalada() / "kelvane.png");
    EXPECT_EQ(TamanhoPng(icone), (std::pair<unsigned, unsigned>{32, 32}));
    EXPECT_EQ(icone, LerArquivo(KELVANE_ICONE));
}

TEST_F(Pacote, EntradaDeMenuAbreAJanelaInstalada) {
    const auto texto = LerArquivo(PastaInstalada() / "kelvane.desktop");
    EXPECT_EQ(LerArquivo(Instalado("/usr/share/applications/kelvane.desktop")), texto);
    const auto chaves = Chaves(texto);
    EXPECT_EQ(Valor(chaves, "Desktop Entry.Type"), "Application");
    EXPECT_EQ(Valor(chaves, "Desktop Entry.Name"), "Kelvane");
    // No argument: the window, never the job.
    EXPECT_EQ(Valor(chaves, "Desktop Entry.Exec"), "\"" + kPasta + "/kelvane\"");
    EXPECT_EQ(Valor(chaves, "Desktop Entry.Path"), kPasta);
    EXPECT_EQ(Valor(chaves, "Desktop Entry.Terminal"), "false");
    const auto icone = Valor(chaves, "Desktop Entry.Icon");
    EXPECT_TRUE(fs::is_regular_file(Instalado(icone))) << icone;
}

TEST_F(Pacote, ServicoETimerDeExemplo) {
    const auto servico = LerArquivo(PastaInstalada() / "exemplos/kelvane.service");
    const auto timer = LerArquivo(PastaInstalada() / "exemplos/kelvane.timer");
    const auto s = Chaves(servico);
    EXPECT_EQ(Valor(s, "Service.Type"), "oneshot");
    EXPECT_EQ(Valor(s, "Service.ExecStart"), "\"" + kPasta + "/kelvane\" EXEC");
    // Every code but 0 must leave the unit failed.
    EXPECT_EQ(s.count("Service.SuccessExitStatus"), 0u);
    EXPECT_EQ(s.count("Service.ExecStart"), 1u);
    const auto t = Chaves(timer);
    EXPECT_FALSE(Valor(t, "Timer.OnCalendar").empty());
    EXPECT_EQ(Valor(t, "Timer.Unit"), "kelvane.service");
    EXPECT_EQ(Valor(t, "Install.WantedBy"), "timers.target");

    const std::string analisador = KELVANE_SYSTEMD_ANALYZE;
    if (analisador.find("NOTFOUND") != std::string::npos) {
        GTEST_SKIP() << "systemd-analyze not installed: units not verified by systemd";
    }
    // systemd's own reading, with the program folder moved to where the package was unpacked.
    PastaTemporaria unidades;
    kelvane::teste::GravarArquivo(unidades.caminho() / "kelvane.service",
                                  Substituir(servico, kPasta, PastaInstalada().string()));
    kelvane::teste::GravarArquivo(unidades.caminho() / "kelvane.timer", timer);
    const auto r = Rodar({analisador, "verify", (unidades.caminho() / "kelvane.service").string(),
                          (unidades.caminho() / "kelvane.timer").string()});
    EXPECT_EQ(r.codigo, 0) << r.saida;
    EXPECT_EQ(r.saida, "");
}

TEST_F(Pacote, LinhaDoCronRelataFalha) {
    std::vector<std::string> tarefas;
    for (const auto& linha : Linhas(LerArquivo(PastaInstalada() / "exemplos/kelvane.cron"))) {
        const auto l = Aparado(linha);
        // Neither a comment nor a variable ("MAILTO=...").
        if (!l.empty() && l[0] != '#' && l.substr(0, l.find(' ')).find('=') == std::string::npos) {
            tarefas.push_back(l);
        }
    }
    ASSERT_EQ(tarefas.size(), 1u);
    std::istringstream campos(tarefas.front());
    std::string minuto, hora, dia, mes, semana, usuario;
    campos >> minuto >> hora >> dia >> mes >> semana >> usuario;
    EXPECT_GE(std::stoi(minuto), 0);
    EXPECT_LE(std::stoi(minuto), 59);
    EXPECT_GE(std::stoi(hora), 0);
    EXPECT_LE(std::stoi(hora), 23);
    EXPECT_EQ(dia + mes + semana, "***");
    EXPECT_EQ(usuario, "root");
    std::string comando;
    std::getline(campos, comando);
    comando = Aparado(comando);
    EXPECT_NE(comando.find("\"" + kPasta + "/kelvane\" EXEC"), std::string::npos) << comando;
    EXPECT_EQ(comando.find('%'), std::string::npos) << "cron turns % into a line break";

    // Run as cron would, from a folder that holds only the executable: the job ends with code 2
    // (tools missing) and the line prints the code, so cron mails it.
    PastaTemporaria pasta;
    fs::copy_file(PastaInstalada() / "kelvane", pasta.caminho() / "kelvane");
    const auto r = Rodar({"/bin/sh", "-c", Substituir(comando, kPasta, pasta.caminho().string())});
    EXPECT_EQ(r.codigo, 0) << r.saida;
    EXPECT_NE(r.saida.find("exit code 2"), std::string::npos) << r.saida;
    // What the job leaves in the folder is private to its account (the archive holds the
    // database): the log it wrote shows the line's umask.
    std::vector<fs::path> logs;
    for (const auto& item : fs::directory_iterator(pasta.caminho() / "Log")) {
        logs.push_back(item.path());
    }
    ASSERT_EQ(logs.size(), 1u);
    const auto outros = fs::perms::group_all | fs::perms::others_all;
    EXPECT_EQ(fs::status(logs.front()).permissions() & outros, fs::perms::none);
}

TEST_F(Pacote, BackupComOProgramaInstalado) {
    // A root of its own, so the other cases see the package as it came.
    PastaTemporaria raiz;
    const auto x = Rodar({KELVANE_DPKG_DEB, "-x", deb_.string(), raiz.caminho().string()});
    ASSERT_EQ(x.codigo, 0) << Explicar(x);
    const auto pasta = raiz.caminho() / fs::path(kPasta).relative_path();

    PastaTemporaria raizFtp;
    fs::create_directory(raizFtp.caminho() / "backups");
    kelvane::teste::OpcoesTds opcoes;
    opcoes.tamanhoBackup = 3u << 20;
    kelvane::teste::ServidorTds tds(opcoes);
    kelvane::teste::ServidorFtp ftp({raizFtp.caminho(), "kelvane", "senha com espaco"});

    // As the window saves it: credentials scrambled.
    const auto ini = pasta / "info.ini";
    const auto gravar = [&](const char* chave, const std::string& valor) {
        kelvane::GravarINI("infos", chave, valor, ini);
    };
    gravar("CodigoCliente", "00 42");
    gravar("NomeCliente", "Casa Azul");
    gravar("ServidorDB", "127.0.0.1," + std::to_string(tds.porta()));
    gravar("Banco", "Vendas");
    gravar("SSPI", "0");
    gravar("Login", kelvane::Cripto(opcoes.usuario));
    gravar("Senha", kelvane::Cripto(opcoes.senha));
    gravar("Usuario", kelvane::Cripto("kelvane"));
    gravar("Passw", kelvane::Cripto("senha com espaco"));
    gravar("ServidorFTP", "1");
    gravar("Endereco", "127.0.0.1");
    gravar("Porta", std::to_string(ftp.porta()));
    gravar("Diretorio", "/backups");

    const auto r = Rodar({(pasta / "kelvane").string(), "EXEC"});
    std::string log;
    for (const auto& item : fs::directory_iterator(pasta / "Log")) {
        log += LerArquivo(item.path());
    }
    ASSERT_EQ(r.codigo, 0) << Explicar(r) << "\nlog:\n" << log;
    const auto linhas = Linhas(log);
    ASSERT_FALSE(linhas.empty());
    EXPECT_NE(linhas.back().find(" : Fim do Processo"), std::string::npos) << log;
    EXPECT_FALSE(kelvane::LerINI("infos", "Executado", ini).empty());

    // The server was told to write into the installed program folder, not the build tree.
    bool noLugar = false;
    for (const auto& lote : tds.lotes()) {
        noLugar =
            noLugar || lote.find("DISK = N'" + pasta.string() + "/KVLN_") != std::string::npos;
    }
    EXPECT_TRUE(noLugar);

    std::vector<fs::path> enviados;
    for (const auto& item : fs::directory_iterator(raizFtp.caminho() / "backups")) {
        enviados.push_back(item.path());
    }
    ASSERT_EQ(enviados.size(), 1u);
    const auto enviado = enviados.front();
    EXPECT_EQ(enviado.extension(), ".7z");
    EXPECT_EQ(LerArquivo(enviado), LerArquivo(pasta / enviado.filename()));
    // The archive holds the whole backup the server wrote, and no .BAK is left behind.
    const auto lista = Rodar({(pasta / "7z").string(), "l", "-slt", enviado.string()});
    ASSERT_EQ(lista.codigo, 0) << lista.saida;
    EXPECT_NE(lista.saida.find("Size = " + std::to_string(opcoes.tamanhoBackup) + "\n"),
              std::string::npos)
        << lista.saida;
    for (const auto& item : fs::directory_iterator(pasta)) {
        EXPECT_NE(item.path().extension(), ".BAK") << item.path();
    }
}

TEST(Instalacao, OutroPrefixoSemNadaFora) {
    PastaTemporaria destino;
    const std::string prefixo = "/srv/kelvane-teste";
    const auto r = Rodar({"/usr/bin/env", "DESTDIR=" + destino.caminho().string(), KELVANE_CMAKE,
                          "--install", KELVANE_DIR_BUILD, "--prefix", prefixo});
    ASSERT_EQ(r.codigo, 0) << Explicar(r);

    // The package's program folder, moved to the prefix; no menu entry, nothing else.
    std::set<std::string> esperado;
    for (const auto& caminho : kConteudo) {
        if (caminho.rfind("opt/kelvane/", 0) == 0) {
            esperado.insert("srv/kelvane-teste/" + caminho.substr(12));
        }
    }
    const auto arvore = LerArvore(destino.caminho());
    EXPECT_EQ(arvore.arquivos, esperado);
    EXPECT_EQ(PastasVazias(arvore), std::vector<std::string>{});

    // Every path the examples and the desktop entry name follows the prefix.
    const auto pasta = destino.caminho() / "srv/kelvane-teste";
    for (const char* arquivo :
         {"kelvane.desktop", "exemplos/kelvane.service", "exemplos/kelvane.cron"}) {
        const auto texto = LerArquivo(pasta / arquivo);
        EXPECT_EQ(texto.find(kPasta), std::string::npos) << arquivo;
        EXPECT_NE(texto.find("\"" + prefixo + "/kelvane\""), std::string::npos) << arquivo;
    }
    EXPECT_EQ(Valor(Chaves(LerArquivo(pasta / "kelvane.desktop")), "Desktop Entry.Icon"),
              prefixo + "/kelvane.png");
}

} // namespace
