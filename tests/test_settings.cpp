// info.ini access, credential scrambling, accent stripping.
#include "apoio.h"
#include "settings/codificacao.h"
#include "settings/cripto.h"
#include "settings/ini.h"
#include "settings/texto.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace kelvane;
using namespace kelvane::teste;
using namespace std::chrono_literals;

namespace {

TEST(Ini, LeComoOWindows) {
    Pasta pasta;
    const auto ini = pasta.p / "info.ini";
    Gravar(ini,
           "; x\r\n[Outra]\r\nBanco=errado\r\n[INFOS]\r\n; Banco=comentado\r\n"
           "  codigoCLIENTE  =   0042  \r\nNomeCliente=\"  Casa Azul \"\r\nBanco = 'Vendas'\r\n"
           "Diretorio=/a=b\r\nBanco=segunda\r\nSemIgual\r\n[infos]\r\nPorta=99\r\n[Fim]\r\nX=1\r");
    std::string lidos; // then [Fim]'s X: a lone CR ending the file is no part of the value
    for (const char* chave :
         {"CodigoCliente", "NOMECLIENTE", "Banco", "Diretorio", "Porta", "SemIgual"}) {
        lidos += LerINI("infos", chave, ini) + "|";
    }
    EXPECT_EQ(lidos + LerINI("fim", "X", ini), "0042|  Casa Azul |Vendas|/a=b|||1");
    // Writing one key leaves every other line as it was, in place.
    GravarINI("Infos", "banco", "novo", ini);
    GravarINI("infos", "Porta", "21", ini);
    GravarINI("ftp", "Host", "h", ini);
    EXPECT_EQ(Ler(ini), "; x\r\n[Outra]\r\nBanco=errado\r\n[INFOS]\r\n; Banco=comentado\r\n"
                        "  codigoCLIENTE  =   0042  \r\nNomeCliente=\"  Casa Azul \"\r\n"
                        "Banco=novo\r\nDiretorio=/a=b\r\nBanco=segunda\r\nSemIgual\r\nPorta=21\r\n"
                        "[infos]\r\nPorta=99\r\n[Fim]\r\nX=1\r\n[ftp]\r\nHost=h\r\n");
}

TEST(Ini, ValoresVoltamIguais) {
    Pasta pasta;
    const auto ini = pasta.p / "info.ini";
    std::vector<std::string> valores = {
        " a", "a ", "  ", "\"", "\"a\"", "'a'", "", "=", ";x", "a \" b", std::string(300, 'x')};
    for (int b = 0x20; b <= 0xFF; ++b) { // every Windows-1252 byte, stored as itself
        valores.push_back(Cp1252ParaUtf8(std::string(1, static_cast<char>(b)) + "x"));
    }
    for (const auto& v : valores) {
        GravarINI("infos", "Senha", v, ini);
        EXPECT_EQ(LerINI("infos", "Senha", ini), v) << "[" << v << "]";
        EXPECT_NE(Ler(ini).find(Utf8ParaCp1252(v)), std::string::npos) << "[" << v << "]";
    }
    GravarINI("infos", "Banco", "x\r\nSSPI=1", ini); // a line break cannot add a key
    EXPECT_EQ(LerINI("infos", "SSPI", ini), "");
}

TEST(Ini, ModoDonoLinkSomenteLeituraEBom) {
    Pasta pasta;
    const auto ini = pasta.p / "info.ini", alvo = pasta.p / "real.ini";
    const std::string banco = "[infos]\nBanco=a\n", porta = banco + "Porta=21\n";
    const std::tuple<const char*, std::string, std::function<void()>, std::string> casos[] = {
        // what is there; how; after writing Porta=21 (the link's target for the link)
        {"dono e grupo de outra conta", banco, [&] { ::chown(ini.c_str(), 65534, 65534); }, porta},
        {"link para o arquivo", banco,
         [&] {
             fs::rename(ini, alvo);
             fs::create_symlink("real.ini", ini);
         },
         porta},
        {"somente leitura: não grava", banco, [&] { ::chmod(ini.c_str(), 0444); }, banco},
        {"marca UTF-8 no início", "\xEF\xBB\xBF[infos]\r\nBanco=a\r\n", [] {},
         "\xEF\xBB\xBF[infos]\r\nBanco=a\r\nPorta=21\r\n"},
    };
    const mode_t mascara = ::umask(0); // a new file is its owner's only, whatever the mask
    GravarINI("infos", "Senha", "x", ini);
    ::umask(mascara);
    EXPECT_EQ(fs::status(ini).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Ler(ini), "[infos]\nSenha=x\n");
    for (const auto& [caso, antes, preparar, depois] : casos) {
        fs::remove(ini);
        fs::remove(alvo);
        Gravar(ini, antes);
        ::chmod(ini.c_str(), 0640);
        preparar();
        struct stat a = {}, d = {};
        ::stat(ini.c_str(), &a);
        EXPECT_EQ(LerINI("infos", "Banco", ini), "a") << caso;
        EXPECT_EQ(!GravarINI("infos", "Porta", "21", ini), antes != depois) << caso;
        EXPECT_EQ(Ler(ini), depois) << caso;
        ::stat(ini.c_str(), &d);
        EXPECT_EQ(std::tie(d.st_mode, d.st_uid, d.st_gid), std::tie(a.st_mode, a.st_uid, a.st_gid))
            << caso;
        EXPECT_EQ(fs::is_symlink(ini), fs::exists(alvo)) << caso;
    }
}

TEST(Ini, DoisProcessosGravandoNaoPerdemChaves) {
    // The window saving while the job records Executado: each reads, changes a key, replaces.
    Pasta pasta;
    const auto ini = pasta.p / "info.ini";
    const pid_t filho = ::fork();
    for (int i = 0; i < 150; ++i) {
        GravarINI("infos", (filho ? "Job" : "Janela") + std::to_string(i), std::to_string(i), ini);
    }
    if (filho == 0) {
        ::_exit(0);
    }
    ::waitpid(filho, nullptr, 0);
    for (const char* prefixo : {"Janela", "Job"}) {
        for (int i = 0; i < 150; ++i) {
            EXPECT_EQ(LerINI("infos", prefixo + std::to_string(i), ini), std::to_string(i));
        }
    }
}

TEST(Ini, MortoNoMeioDaGravacaoDeixaOAntigoOuONovo) {
    Pasta pasta;
    const auto ini = pasta.p / "info.ini";
    const std::string a(2 << 20, 'a'), b(2 << 20, 'b');
    GravarINI("infos", "Porta", "21", ini);
    const auto inicio = std::chrono::steady_clock::now(); // how long one save takes
    GravarINI("infos", "Executado", a, ini);
    const auto umaGravacao = (std::chrono::steady_clock::now() - inicio) / 1us;
    for (int i = 0; i < 40; ++i) { // kills spread over the whole save
        const std::string antes = Ler(ini);
        const pid_t filho = ::fork();
        if (filho == 0) {
            GravarINI("infos", "Executado", i % 2 ? a : b, ini);
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(umaGravacao * i / 32));
        ::kill(filho, SIGKILL);
        ::waitpid(filho, nullptr, 0);
        const auto depois = LerINI("infos", "Executado", ini);
        ASSERT_TRUE(Ler(ini) == antes || depois == (i % 2 ? a : b)) << i << ": " << depois.size();
        ASSERT_EQ(LerINI("infos", "Porta", ini), "21");
    }
}

TEST(Cripto, ParConhecidoAutoInversoELimite) {
    EXPECT_EQ(Cripto("Senha123ção"), "Qdmcd116àæm"); // Windows-1252 codes, not UTF-8 bytes
    std::string todos, x; // x: 'x' under the key's 506 letters, its 23-letter phrase repeated
    for (std::size_t i = 0; i < 506; ++i) {
        todos += Cp1252ParaUtf8(std::string(1, static_cast<char>(0x20 + i % 0xE0)));
        x += "zy{s}x{}\x7F}zwvyv}~}upwr}"[i % 23];
    }
    EXPECT_EQ(Cripto(std::string(506, 'x')), x);
    EXPECT_EQ(Cripto(Cripto(todos)), todos);
    EXPECT_THROW(Cripto(std::string(507, 'a')), ErroCripto);
}

TEST(Cp1252, Faixa80a9F) { // round trips use one table both ways: they miss two codes swapped
    const std::string bytes = "\x80\x81\x8D\x91\x92\x93\x94\x9F", texto = "€\u0081\u008D‘’“”Ÿ";
    EXPECT_EQ(Cp1252ParaUtf8(bytes) + "|" + Utf8ParaCp1252(texto), texto + "|" + bytes);
}

TEST(RemoverAcentos, Tabela) {
    const std::pair<const char*, const char*> casos[] = {
        {"ÁÀÂÄÃÉÈÊËÍÌÎÏÓÒÔÖÕÚÙÛÜÇÑ", "AAAAAEEEEIIIIOOOOOUUUUCN"},
        {"áàâäãªéèêëíìîïóòôöõºúùûüçñ", "aaaaaaeeeeiiiioooooouuuucn"},
        {"'-@#%&*()!;:\\[]{}.|=/+ 09_,\"$?<>~^\tÅÆØß", " 09_,\"$?<>~^\tÅÆØß"},
        {"  Açaí & Cia.  ", "  Acai  Cia  "}};
    for (const auto& [entrada, saida] : casos) {
        EXPECT_EQ(RemoverAcentos(entrada), saida) << entrada;
    }
}

} // namespace
