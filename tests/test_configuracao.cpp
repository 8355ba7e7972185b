// The settings record: the INI edit as today's saves leave the file, the save as all or nothing,
// and the rules of each value, without a window or a job.
#include "apoio.h"
#include "settings/configuracao.h"
#include "settings/cripto.h"
#include "settings/ini.h"
#include "settings/regras.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelvane;
using namespace kelvane::teste;

namespace {

KELVANE_LINHA_PELO_NOME

// What the window's save and the job's Executado leave, key after key, pinned from the saves of
// the build before the record: comments, the byte-order mark, CR LF, a final line without its
// ending, repeated keys, other cases and sections stay byte for byte.
struct Edicao {
    std::string nome, antes, depois;
};
class EdicaoIni : public ::testing::TestWithParam<Edicao> {};
TEST_P(EdicaoIni, IgualAoQueCadaChaveGravadaDeixava) {
    const AlteracoesINI janela = Pares(
        "CodigoCliente=0042\nNomeCliente= Casa Azul \nServidorDB=SRV\\SQL,1433\nBanco=Vendas\n"
        "SSPI=0\nNCripto=1\nLogin=sa\nSenha=S3nha;\"x\"\nUsuario=kel\nPassw=p\nServidorFTP=1\n"
        "Endereco=ftp.exemplo\nPorta=21\nDiretorio=/backups\nExecutado=07/12/2026 02:00:00");
    EXPECT_EQ(EditarINI(GetParam().antes, "infos", janela), GetParam().depois);
}

const Edicao edicoes[] = {
    {"ArquivoNovo", "",
     "[infos]\nCodigoCliente=0042\nNomeCliente=\" Casa Azul \"\nServidorDB=SRV\\SQL,1433\n"
     "Banco=Vendas\nSSPI=0\nNCripto=1\nLogin=sa\nSenha=\"S3nha;\"x\"\"\nUsuario=kel\nPassw=p\n"
     "ServidorFTP=1\nEndereco=ftp.exemplo\nPorta=21\nDiretorio=/backups\n"
     "Executado=07/12/2026 02:00:00\n"},
    {"BomCrLfComentariosERepetidas",
     "\xEF\xBB\xBF; Kelvane\r\n[Outra]\r\nBanco=outro\r\n\r\n[INFOS]\r\ncodigocliente = 7\r\n"
     "Banco=antigo\r\nBanco=repetido\r\n; Senha=comentada\r\n\r\n[infos]\r\nPorta=99\r\n[Fim]\r\n"
     "X=1",
     "\xEF\xBB\xBF; Kelvane\r\n[Outra]\r\nBanco=outro\r\n\r\n[INFOS]\r\ncodigocliente=0042\r\n"
     "Banco=Vendas\r\nBanco=repetido\r\n; Senha=comentada\r\nNomeCliente=\" Casa Azul \"\r\n"
     "ServidorDB=SRV\\SQL,1433\r\nSSPI=0\r\nNCripto=1\r\nLogin=sa\r\nSenha=\"S3nha;\"x\"\"\r\n"
     "Usuario=kel\r\nPassw=p\r\nServidorFTP=1\r\nEndereco=ftp.exemplo\r\nPorta=21\r\n"
     "Diretorio=/backups\r\nExecutado=07/12/2026 02:00:00\r\n\r\n[infos]\r\nPorta=99\r\n[Fim]\r\n"
     "X=1"},
    {"OutraSecaoDepois", "[infos]\nNCripto=1\nLogin=sa\n\n[ftp]\nHost=h",
     "[infos]\nNCripto=1\nLogin=sa\nCodigoCliente=0042\nNomeCliente=\" Casa Azul \"\n"
     "ServidorDB=SRV\\SQL,1433\nBanco=Vendas\nSSPI=0\nSenha=\"S3nha;\"x\"\"\nUsuario=kel\nPassw=p\n"
     "ServidorFTP=1\nEndereco=ftp.exemplo\nPorta=21\nDiretorio=/backups\n"
     "Executado=07/12/2026 02:00:00\n\n[ftp]\nHost=h"},
    // Completing the final CR makes CR LF the file's style from the second key on.
    {"CrNoFim", "x=1\r",
     "x=1\r\n[infos]\nCodigoCliente=0042\nNomeCliente=\" Casa Azul \"\r\n"
     "ServidorDB=SRV\\SQL,1433\r\nBanco=Vendas\r\nSSPI=0\r\nNCripto=1\r\nLogin=sa\r\n"
     "Senha=\"S3nha;\"x\"\"\r\nUsuario=kel\r\nPassw=p\r\nServidorFTP=1\r\nEndereco=ftp.exemplo\r\n"
     "Porta=21\r\nDiretorio=/backups\r\nExecutado=07/12/2026 02:00:00\r\n"},
};
INSTANTIATE_TEST_SUITE_P(Ini, EdicaoIni, ::testing::ValuesIn(edicoes), PeloNome());

// One save is every key or none: a save cut part-way through its write (the file size limit
// reached, as a full disk would) leaves the file exactly as it was; NCripto is only written when
// the file means otherwise, and the credentials follow the NCripto the file will have.
TEST(Configuracao, GravaTudoOuNadaEASenhaSegueONCripto) {
    Pasta pasta;
    const auto ini = pasta.p / "info.ini";
    const std::string antes =
        "; nada muda\n[infos]\nNCripto=1\nLogin=sa\n" + std::string(64 * 1024, ';') + "\n";
    Gravar(ini, antes);
    const std::vector<AlteracaoConfiguracao> grandes = {
        {&Configuracao::banco, "Vendas"}, {&Configuracao::diretorio, std::string(128 * 1024, 'd')}};
    const pid_t filho = ::fork();
    if (filho == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limite{96 * 1024, 96 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limite);
        ::_exit(GravarConfiguracao(ini, grandes) == std::errc::file_too_large ? 0 : 1);
    }
    int status = 0;
    ::waitpid(filho, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Ler(ini), antes);

    Gravar(ini, "[infos]\nNCripto=1\n");
    ASSERT_FALSE(
        GravarConfiguracao(ini, {{&Configuracao::ncripto, "1"}, {&Configuracao::senha, "abc"}}));
    EXPECT_EQ(Ler(ini), "[infos]\nNCripto=1\nSenha=abc\n");
    ASSERT_FALSE(
        GravarConfiguracao(ini, {{&Configuracao::ncripto, "0"}, {&Configuracao::senha, "abc"}}));
    EXPECT_EQ(Ler(ini), "[infos]\nNCripto=0\nSenha=" + Cripto("abc") + "\n");
    EXPECT_EQ(LerConfiguracao(ini).valores.senha, "abc");
    EXPECT_EQ(LerConfiguracao(ini, true).valores.senha, Cripto("abc")); // a window's run
    // Too long to scramble: nothing is written.
    EXPECT_EQ(GravarConfiguracao(ini, {{&Configuracao::banco, "x"},
                                       {&Configuracao::passw, std::string(600, 'p')}}),
              std::errc::invalid_argument);
    EXPECT_EQ(Ler(ini), "[infos]\nNCripto=0\nSenha=" + Cripto("abc") + "\n");
    // A save that flips NCripto without naming a scrambled key (the window's fields hold no
    // archive password) keeps that key's meaning.
    Gravar(ini, "[infos]\nSenhaArquivo=" + Cripto("do arquivo") + "\n");
    ASSERT_FALSE(GravarConfiguracao(ini, {{&Configuracao::ncripto, "1"}}));
    EXPECT_EQ(LerConfiguracao(ini).valores.senhaArquivo, "do arquivo");
    ASSERT_FALSE(GravarConfiguracao(ini, {{&Configuracao::ncripto, "0"}}));
    EXPECT_EQ(LerConfiguracao(ini).valores.senhaArquivo, "do arquivo");
    Gravar(ini, "[infos]\nUsuario=" + std::string(600, 'u') + "\nPassw=" + Cripto("p") + "\n");
    const auto ilegivel = LerConfiguracao(ini).valores;
    ASSERT_NE(ilegivel.IlegivelEm(&Configuracao::usuario), nullptr);
    EXPECT_EQ(ilegivel.IlegivelEm(&Configuracao::passw), nullptr);
    EXPECT_EQ(ilegivel.passw, "p");
}

// Every rule, as the window's save and the job see it: the problem's key and its exact text.
struct Regra {
    std::string nome;
    Uso uso;
    CampoConfiguracao campo;
    std::string valor;
    std::string chave = ""; // of the first problem; empty when there is none
    std::string texto = "";
    bool claras = false; // NCripto=1
};
class Regras : public ::testing::TestWithParam<Regra> {};
TEST_P(Regras, ProblemaComOTextoDeHoje) {
    const auto& r = GetParam();
    Configuracao c;
    c.ncripto = r.claras ? "1" : "0", c.servidorDB = "SERVIDOR01\\SQL", c.porta = "21";
    c.codigoCliente = "42", c.nomeCliente = "Casa";
    c.*r.campo = r.valor;
    ContextoGravacao contexto{"Servidor01", 40, {}};
    const auto v = ValidarConfiguracao(c, r.uso, contexto);
    if (r.chave.empty()) {
        EXPECT_TRUE(v.problemas.empty()) << v.problemas.at(0).texto;
        return;
    }
    ASSERT_FALSE(v.problemas.empty());
    EXPECT_EQ(NomeChave(v.problemas[0].campo), r.chave);
    EXPECT_EQ(v.problemas[0].texto, r.texto);
}

const std::string kRecusa = "As configurações não foram gravadas: ";
const std::string kOutraMaquina =
    "Este progama deve executado somente no Servidor de Banco de Dados!\r\nInforme o nome do "
    "Servidor de Banco corretamente!\r\nNome deste Servidor: Servidor01";
const std::string kPorta = kRecusa + "a Porta do FTP deve ser um número inteiro de 1 a 65535.\r\n"
                                     "Digite na Porta o número da porta do servidor FTP "
                                     "(normalmente 21).";
constexpr auto kServidor = &Configuracao::servidorDB, kPortaFtp = &Configuracao::porta;
constexpr auto kGravar = Uso::Gravar, kExecutar = Uso::Executar;

const Regra regras[] = {
    {"ServidorLocalComPortaEInstancia", kGravar, kServidor, "(local),1433"},
    {"NomeEmMinusculasComInstancia", kGravar, kServidor, "servidor01\\SQLEXPRESS"},
    {"EnderecoLocalEPorta", kGravar, kServidor, "127.0.0.1,1433"},
    {"PontoEInstancia", kGravar, kServidor, ".\\SQL"},
    {"BrancoAntesDoNome", kGravar, kServidor, " SERVIDOR01", "ServidorDB", kOutraMaquina},
    {"NomeDeDominio", kGravar, kServidor, "servidor01.empresa.local", "ServidorDB", kOutraMaquina},
    {"OutroEnderecoDeRetorno", kGravar, kServidor, "127.0.0.2", "ServidorDB", kOutraMaquina},
    {"ServidorVazio", kGravar, kServidor, "", "ServidorDB",
     kRecusa + "informe o Servidor de Banco de Dados (este computador: Servidor01, localhost ou "
               "127.0.0.1)."},
    {"ServidorDeOutraMaquina", kGravar, kServidor, "SERVIDOR012", "ServidorDB", kOutraMaquina},
    {"PortaVaziaNaJanelaFicaADoEsquema", kGravar, kPortaFtp, ""},
    {"PortaComSeisDigitos", kGravar, kPortaFtp, "000021", "Porta", kPorta},
    {"PortaForaDaFaixa", kGravar, kPortaFtp, "65536", "Porta", kPorta},
    {"NomeDoArquivoLongoDemais", kGravar, &Configuracao::nomeCliente, "Casa Azul da Esquina Sul",
     "NomeCliente",
     kRecusa + "com este código e este nome de cliente o arquivo do backup teria um nome de 43 "
               "bytes, e o sistema de arquivos aceita até 40.\r\nEncurte o código ou o nome do "
               "cliente."},
    {"SenhaLongaDemaisParaEmbaralhar", kGravar, &Configuracao::senha, std::string(507, 's'),
     "Senha",
     kRecusa + "a senha do banco tem 507 caracteres, e só é possível embaralhar até 506.\r\n"
               "Encurte o texto ou marque NCripto."},
    {"SenhaLongaEmClaro", kGravar, &Configuracao::passw, std::string(507, 's'), "", "", true},
    {"TabulacaoQueEmbaralhadaQuebraALinha", kGravar, &Configuracao::usuario, "ab\tcd", "Usuario",
     kRecusa + "o usuário do FTP contém um caractere de controle (tabulação ou quebra de linha) "
               "que não pode ser gravado.\r\nRedigite o texto sem ele."},
    {"JobPortaInvalida", kExecutar, kPortaFtp, "21x", "Porta",
     "Envio falhou: a porta do FTP (Porta=21x) não é um número de 1 a 65535; nada foi enviado."},
    {"JobAceitaPortaVazia", kExecutar, kPortaFtp, ""},
    {"JobAceitaBrancosNasPontas", kExecutar, &Configuracao::manterArquivos, " 3 "},
    {"JobAceitaAvisoHttps", kExecutar, &Configuracao::avisoURL, "https://monitor/x"},
    {"JobLimiteEtapaZero", kExecutar, &Configuracao::limiteEtapa, "0", "LimiteEtapa",
     "LimiteEtapa inválido (\"0\"): use um número inteiro de segundos a partir de 1; vale o "
     "padrão de 1800 s."},
    {"JobSilencioBackupComUnidade", kExecutar, &Configuracao::silencioBackup, "10s",
     "SilencioBackup",
     "SilencioBackup inválido (\"10s\"): use um número inteiro de segundos a partir de 1; vale o "
     "padrão de 21600 s."},
    {"JobManterArquivosZero", kExecutar, &Configuracao::manterArquivos, "0", "ManterArquivos",
     "ManterArquivos inválido (\"0\"): use um número inteiro a partir de 1; nenhum arquivo antigo "
     "foi excluído."},
    {"JobManterArquivosDecimal", kExecutar, &Configuracao::manterArquivos, "2.5", "ManterArquivos",
     "ManterArquivos inválido (\"2.5\"): use um número inteiro a partir de 1; nenhum arquivo "
     "antigo foi excluído."},
    // Meant as yes in other words: the night must not pass for checked.
    {"JobVerificarBackupSim", kExecutar, &Configuracao::verificarBackup, "sim", "VerificarBackup",
     "VerificarBackup inválido (\"sim\"): use 1 para verificar o backup ou 0 para não verificar; "
     "o backup não foi verificado."},
    {"JobAvisoSemHttp", kExecutar, &Configuracao::avisoURL, "ftp://monitor/segredo", "AvisoURL",
     "AvisoURL não começa com http:// nem https://; nenhum aviso de monitoramento foi enviado."},
};
INSTANTIATE_TEST_SUITE_P(Configuracao, Regras, ::testing::ValuesIn(regras), PeloNome());

} // namespace
