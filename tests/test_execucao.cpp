// The run's steps in this process, against tools, a transfer and a database of the test's own:
// after each kind of failure, what stays on the disk, what is logged, the exit status.
#include "apoio.h"
#include "job/backup.h"
#include "job/textos.h"
#include "job/trava.h"
#include "plataforma/nomes.h"
#include "settings/nomes_arquivo.h"

#include <fstream>

using namespace kelvane;

namespace {

KELVANE_LINHA_PELO_NOME

std::tm Dia() {
    std::tm t{};
    t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 8, t.tm_hour = 1;
    return t;
}

struct Linha {
    std::string nome;
    std::string endereco;                                // ftp:// (ncftpput) or sftp:// (transfer)
    long recusaBackup = 0;                               // the server's error number; 0: written
    int compactar = 0, testar = 0, enviador = 0;         // the tools' exit statuses
    std::optional<plataforma::FalhaTransferencia> envio; // the transfer's upload
    long menos = 0;                                      // bytes the server keeps fewer than sent
    CodigoSaida codigo;
    Etapa etapa;
    std::string ultima; // the log's last line (its start)
    bool bakFica, arquivoFica;
    bool ocupada = false; // another run holds the folder's lock
};

// The tools: 7z a writes the archive; each ends with the row's status.
struct Ferramentas final : Programas {
    const Linha& l;
    explicit Ferramentas(const Linha& linha) : l(linha) {}
    ResultadoProcesso Executar(const std::vector<std::string>& a, const OpcoesProcesso&) override {
        ResultadoProcesso r;
        const bool sete = a[0].ends_with(plataforma::kNome7z);
        r.codigo = !sete ? l.enviador : a[1] == "a" ? l.compactar : l.testar;
        if (sete && a[1] == "a" && r.codigo == 0) {
            std::ofstream(a[a.size() - 2]) << "7z";
        }
        r.saida = r.codigo ? "disco cheio" : "Everything is Ok";
        return r;
    }
};

using Talvez = std::optional<plataforma::FalhaTransferencia>;
const plataforma::FalhaTransferencia kNaoUsado{"o backup não baixa nem lista"};

struct Sessao final : SessaoTransferencia {
    const Linha& l;
    std::uintmax_t enviado = 2; // the archive the fake 7z writes, as ncftpput sends it
    plataforma::DescricaoConexao d;
    explicit Sessao(const Linha& linha) : l(linha) {}
    Talvez Enviar(const std::filesystem::path& a, const std::string&) override {
        enviado = std::filesystem::file_size(a);
        return l.envio;
    }
    Talvez Tamanho(const std::string&, plataforma::TamanhoRemoto& t) override {
        t.bytes = enviado - l.menos;
        return std::nullopt;
    }
    Talvez Renomear(const std::string&, const std::string&) override { return std::nullopt; }
    Talvez Apagar(const std::string&) override { return std::nullopt; }
    // The restore's, which the backup never asks for.
    Talvez Baixar(const std::string&, const std::filesystem::path&,
                  const std::function<void(std::uintmax_t, std::uintmax_t)>&) override {
        return kNaoUsado;
    }
    Talvez Listar(std::vector<std::string>&) override { return kNaoUsado; }
    const plataforma::DescricaoConexao& Descrever() const override { return d; }
};

struct Envios final : Transferencias {
    const Linha& l;
    explicit Envios(const Linha& linha) : l(linha) {}
    std::unique_ptr<SessaoTransferencia> Abrir(const plataforma::DestinoTransferencia&) override {
        return std::make_unique<Sessao>(l);
    }
};

// The server writes the .BAK, or refuses with the row's number.
struct SessaoFalsa final : SessaoBanco {
    const Linha& l;
    std::filesystem::path bak;
    SessaoFalsa(const Linha& linha, std::filesystem::path b) : l(linha), bak(std::move(b)) {}
    void Executar(const std::string&, const std::function<void(const Diagnostico&)>&,
                  int) override {
        if (l.recusaBackup) {
            throw ErroBanco(l.recusaBackup, "disco do servidor cheio");
        }
        std::ofstream(bak) << std::string(1000, 'b');
    }
    Tabela Consultar(const std::string&, int) override {
        throw ErroBanco(0, "o backup não consulta");
    }
};
struct BancoFalso final : Banco {
    SessaoFalsa sessao;
    BancoFalso(const Linha& linha, std::filesystem::path b) : sessao(linha, std::move(b)) {}
    std::optional<std::string> DriverInseguro(const Configuracao&) override { return {}; }
    std::unique_ptr<SessaoBanco> Conectar(const Configuracao&, const Registro& r,
                                          std::optional<Falha>&) override {
        r("Banco de dados conectado!");
        return std::make_unique<SessaoFalsa>(sessao);
    }
};

const plataforma::FalhaTransferencia kRecusado{"o servidor recusou o arquivo"};
const plataforma::FalhaTransferencia kCalado{.motivo = "o servidor não respondeu a tempo",
                                             .tempoEsgotado = true};

const std::string kArquivo = NomeArquivoCompactado(NomeArquivoBackup("7", "Loja", Dia()));

const Linha linhas[] = {
    {"Sucesso", "sftp://h", 0, 0, 0, 0, std::nullopt, 0, CodigoSaida::Sucesso, Etapa::Nenhuma,
     "Fim do Processo", false, true},
    {"BackupRecusado", "sftp://h", 3202, 0, 0, 0, std::nullopt, 0, CodigoSaida::BackupFalhou,
     Etapa::Backup, "Erro: 3202 - Backup do banco falhou: disco do servidor cheio", false, false},
    {"SeteZipFalha", "sftp://h", 0, 2, 0, 0, std::nullopt, 0, CodigoSaida::CompactacaoFalhou,
     Etapa::Compactacao,
     "Erro: 2 - Compactação falhou: 7z terminou com código 2 (erro fatal): disco cheio", true,
     false},
    {"TesteFalha", "sftp://h", 0, 0, 2, 0, std::nullopt, 0, CodigoSaida::CompactacaoFalhou,
     Etapa::Teste, "Erro: 2 - Teste do arquivo compactado falhou: 7z t terminou com código 2", true,
     true},
    {"EnvioRecusado", "sftp://h", 0, 0, 0, 0, kRecusado, 0, CodigoSaida::EnvioFalhou, Etapa::Envio,
     "Erro: 0 - Envio falhou: o servidor recusou o arquivo", true, true},
    {"EnvioCalado", "sftp://h", 0, 0, 0, 0, kCalado, 0, CodigoSaida::EnvioFalhou, Etapa::Envio,
     "Erro: 0 - Envio falhou: o servidor não respondeu a tempo (limite da etapa: 1800 s", true,
     true},
    {"TamanhoMenor", "sftp://h", 0, 0, 0, 0, std::nullopt, 1, CodigoSaida::EnvioFalhou,
     Etapa::Envio, "Erro: 0 - Envio falhou: o servidor guardou 1 de 2 bytes de ", true, true},
    {"EnviadorFalha", "h", 0, 0, 0, 3, std::nullopt, 0, CodigoSaida::EnvioFalhou, Etapa::Envio,
     "Erro: 3 - Envio falhou: ncftpput terminou com código 3", true, true},
    {"EnviadorCurto", "h", 0, 0, 0, 0, std::nullopt, 1, CodigoSaida::EnvioFalhou, Etapa::Envio,
     "Erro: 0 - Envio falhou: o servidor guardou 1 de 2 bytes de " + kArquivo +
         "; o que chegou ficou no servidor como " + kArquivo + ".parcial",
     true, true},
    {"Ocupada", "sftp://h", 0, 0, 0, 0, std::nullopt, 0, CodigoSaida::JobEmExecucao, Etapa::Ocupada,
     "Outro backup já está em execução nesta pasta; este não será executado.", false, false, true},
};
class CadaLinha : public ::testing::TestWithParam<Linha> {};
TEST_P(CadaLinha, GuardaERegistraOQueSuaFalhaPede) {
    const auto& l = GetParam();
    teste::Pasta pasta;
    const auto& raiz = pasta.p;
    std::filesystem::create_directories(raiz / "Log");
    TravaJob outra;
    if (l.ocupada) {
        ASSERT_FALSE(outra.Tentar(raiz));
    }
    for (const auto nome :
         {plataforma::kNome7z, plataforma::kNomeBiblioteca7z, plataforma::kNomeEnviador}) {
        std::ofstream(raiz / nome) << "";
    }
    Configuracao cfg;
    cfg.endereco = l.endereco, cfg.codigoCliente = "7", cfg.nomeCliente = "Loja";
    const auto bak = raiz / NomeArquivoBackup("7", "Loja", Dia());
    Ferramentas ferramentas(l);
    Envios envios(l);
    BancoFalso servidor(l, bak);
    std::vector<std::string> log;
    std::string caixa;
    ObservadorJob observador{[&](const std::string& t) { log.push_back(t); },
                             {},
                             [&](const std::string& t) { caixa = t; },
                             {},
                             {}};
    const auto r = Execucao(Contexto{raiz, raiz, raiz, "Log_teste.Log", cfg, Dia, &observador,
                                     &ferramentas, &envios, &servidor})
                       .Executar();
    EXPECT_EQ(r.codigo(), l.codigo);
    EXPECT_EQ(r.etapa, l.etapa);
    // What the step saw, typed: the tool's end, the transfer's failure.
    EXPECT_EQ(r.falha.ferramenta.has_value(), l.compactar || l.testar || l.enviador);
    EXPECT_EQ(r.falha.transferencia.has_value(), l.envio.has_value());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind(l.ultima, 0), 0u) << log.back();
    const auto arquivo = teste::Ler(raiz / "Log" / "Log_teste.Log");
    EXPECT_TRUE(arquivo.ends_with(" : " + log.back() + "\n")) << arquivo;
    EXPECT_EQ(caixa, l.codigo == CodigoSaida::Sucesso ? "" : log.back());
    EXPECT_EQ(std::filesystem::exists(bak), l.bakFica);
    EXPECT_EQ(std::filesystem::exists(raiz / NomeArquivoCompactado(bak.filename().string())),
              l.arquivoFica);
}

INSTANTIATE_TEST_SUITE_P(Execucao, CadaLinha, ::testing::ValuesIn(linhas), teste::PeloNome());

// A tool that cannot be started reaches the step typed: the program and the system's error.
TEST(Execucao, FerramentaAusenteDitaPeloSistema) {
    teste::Pasta pasta;
    const std::string programa = (pasta.p / "7z").string();
    try {
        ShellEspera({programa});
        ADD_FAILURE() << "started";
    } catch (const ErroProcesso& e) {
        EXPECT_EQ(TextoErroSistema(e),
                  "não foi possível executar " + programa + ": arquivo ou pasta inexistente");
    }
}

} // namespace
