#include "restauracao.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "../settings/nomes_arquivo.h"
#include "../settings/regras.h"
#include "../settings/texto.h"
#include "banco.h"
#include "etapas.h"
#include "ferramentas.h"
#include "log.h"
#include "politica_permissoes.h"
#include "programa.h"
#include "textos.h"
#include "trava.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <tuple>

namespace kelvane {

namespace {

std::string Colchetes(const std::string& nome) {
    return "[" + Substituir(nome, "]", "]]") + "]";
}

std::string Literal(const std::string& texto) {
    return "N'" + Substituir(texto, "'", "''") + "'";
}

// A database name as part of a file name on any server: separators, wildcards and controls as _.
std::string ParaArquivo(const std::string& nome) {
    std::string r = nome;
    for (char& ch : r) {
        if (static_cast<unsigned char>(ch) < 0x20 ||
            std::string_view("/\\:*?\"<>|").find(ch) != std::string_view::npos) {
            ch = '_';
        }
    }
    return r;
}

// The folder part of a server's path (up to and with its last separator), and its extension.
std::string PastaDe(const std::string& caminho) {
    const auto p = caminho.find_last_of("/\\");
    return p == std::string::npos ? std::string() : caminho.substr(0, p + 1);
}

std::string ExtensaoDe(const std::string& caminho) {
    const auto nome = caminho.substr(PastaDe(caminho).size());
    const auto p = nome.rfind('.');
    return p == std::string::npos ? std::string() : nome.substr(p);
}

// `pasta` ending in the separator the server uses in it.
std::string ComSeparador(std::string pasta) {
    if (!pasta.empty() && pasta.back() != '/' && pasta.back() != '\\') {
        pasta += pasta.find('\\') != std::string::npos ? '\\' : '/';
    }
    return pasta;
}

class Restauracao {
public:
    Restauracao(Contexto c, PedidoRestauracao p) : c_(std::move(c)), pedido_(std::move(p)) {}
    ~Restauracao() { Limpar(); }
    Restauracao(const Restauracao&) = delete;
    Restauracao& operator=(const Restauracao&) = delete;

    Resultado Executar() {
        std::optional<Resultado> parada;
        try {
            parada = Rodar();
        } catch (const ErroLog& e) {
            std::fprintf(stderr, "Kelvane: %s\n", e.what());
            parada = Parada(Etapa::Log, CodigoSaida::ErroOutro, e.what());
        } catch (const std::exception& e) {
            parada = Parada(Etapa::Interna, CodigoSaida::ErroOutro, e.what());
        }
        if (parada && !pedido_.teste) {
            Relatar(*parada);
        }
        Limpar();
        if (parada) {
            return std::move(*parada);
        }
        if (!pedido_.teste) {
            Registrar("Fim da Restauração");
        }
        return {};
    }

private:
    std::optional<Resultado> Rodar() {
        cfg_ = *c_.configuracao;
        regras_ = ValidarConfiguracao(cfg_, Uso::Executar);
        segredos_.push_back(cfg_.senhaArquivo);
        if (!pedido_.teste) {
            Registrar("Inicio da Restauração");
        }
        for (const auto passo :
             {&Restauracao::Conferir, &Restauracao::Conectar, &Restauracao::Obter,
              &Restauracao::Desempacotar, &Restauracao::Restaurar, &Restauracao::Checar}) {
            if (auto parada = (this->*passo)()) {
                return parada;
            }
        }
        return std::nullopt;
    }

    void Registrar(const std::string& linha) {
        if (c_.observador && c_.observador->mensagem) {
            c_.observador->mensagem(linha);
        }
        GravarLinhaLog(c_.dados / "Log" / c_.arquivoLog, linha, c_.agora());
    }

    void Relatar(Resultado& r) {
        TextosResultado(r, c_.programa);
        for (auto& linha : r.linhas) {
            linha = OcultarSegredos(linha, segredos_);
            const std::string& texto = linha;
            try {
                Registrar(texto);
            } catch (const ErroLog& e) {
                std::fprintf(stderr, "Kelvane: %s\nKelvane: %s\n", texto.c_str(), e.what());
            }
        }
    }

    bool Remoto() const {
        return pedido_.arquivo.empty() || pedido_.arquivo == "-" ||
               pedido_.arquivo.find_first_of(std::string("/") + plataforma::kSeparador) ==
                   std::string::npos;
    }

    std::optional<Resultado> Conferir() {
        // The drill: the backup's run holds the lock, and checked the tools and the driver.
        if (!pedido_.teste) {
            if (auto parada = Travar()) {
                return parada;
            }
        } else {
            comTrava_ = pedido_.ferramentas;
        }
        if (Remoto()) {
            if (auto falha = DadosFtpDe(cfg_, regras_, ftp_)) {
                return Parada(Etapa::Configuracao, std::move(*falha));
            }
            segredos_.push_back(ftp_.senha);
            if (const auto inseguro = CertificadoInseguro(ftp_.certificado)) {
                return Parada(Etapa::Permissoes, CodigoSaida::PermissoesInseguras, *inseguro);
            }
        }
        return std::nullopt;
    }

    std::optional<Resultado> Travar() {
        if (auto falha = trava_.Tentar(c_.dados)) {
            return Parada(Etapa::Trava, std::move(*falha));
        }
        if (!trava_.obtida()) {
            return Parada(Etapa::Ocupada, FalhaDe(PassoFalha::Nenhum, TipoFalha::RestauracaoOcupada,
                                                  CodigoSaida::JobEmExecucao));
        }
        comTrava_.herdar = trava_.descritor();
        // 7z and its library: every scheme is downloaded by the program itself.
        auto faltando = FerramentasFaltando(c_.programa, "sftp://");
        if (!faltando.empty()) {
            auto r = Parada(Etapa::Ferramentas, CodigoSaida::FerramentaFaltando, {});
            r.faltando = std::move(faltando);
            return r;
        }
        if (const auto inseguro = c_.banco->DriverInseguro(cfg_)) {
            return Parada(Etapa::Permissoes, CodigoSaida::PermissoesInseguras, *inseguro);
        }
        return std::nullopt;
    }

    std::optional<Resultado> Conectar() {
        return ConectarEtapa(
            *c_.banco, cfg_, [this](const std::string& l) { Registrar(l); }, conexao_);
    }

    Falha FalhaDownload(TipoFalha tipo, std::string texto = {}) const {
        auto falha =
            FalhaDe(PassoFalha::Download, tipo, CodigoSaida::EnvioFalhou, std::move(texto));
        falha.remoto = nome_;
        return falha;
    }

    // The archive: downloaded from the server's folder, or the user's local file as it is.
    std::optional<Resultado> Obter() {
        const auto hoje = c_.agora();
        if (!Remoto()) {
            arquivo_ = plataforma::Caminho(pedido_.arquivo);
            nome_ = plataforma::TextoCaminho(arquivo_.filename());
            DefinirBanco(hoje);
            return std::nullopt;
        }
        const auto limite = std::chrono::seconds(regras_.valores.limiteEtapa);
        try {
            const auto sessao = c_.transferencias->Abrir(DestinoDe(ftp_, limite));
            nome_ = pedido_.arquivo;
            if (nome_.empty() || nome_ == "-") {
                std::vector<std::string> nomes;
                if (const auto f = sessao->Listar(nomes)) {
                    auto falha = FalhaDownload(TipoFalha::PastaNaoListada);
                    falha.transferencia = *f;
                    return Parada(Etapa::Download, std::move(falha));
                }
                nome_ = ArquivoMaisRecente(nomes, cfg_.codigoCliente, cfg_.nomeCliente,
                                           hoje.tm_year + 1900);
                if (nome_.empty()) {
                    return Parada(Etapa::Download, FalhaDownload(TipoFalha::NenhumArquivo));
                }
            }
            DefinirBanco(hoje);
            Registrar("Baixando...: " + nome_ + " < " + ftp_.endereco);
            baixado_ = c_.dados / plataforma::Caminho("baixando_" + nome_);
            arquivo_ = baixado_;
            // The download before the size query, which opens no data connection: libcurl (7.88)
            // may sit out a whole second before it opens the data connection of a transfer that
            // is not the first on its control connection.
            if (const auto f = sessao->Baixar(nome_, baixado_, pedido_.baixado)) {
                auto falha = FalhaDownload(TipoFalha::Transferencia);
                falha.transferencia = *f;
                return Parada(Etapa::Download, std::move(falha));
            }
            plataforma::TamanhoRemoto tamanho;
            if (const auto f = sessao->Tamanho(nome_, tamanho)) {
                auto falha = FalhaDownload(TipoFalha::Transferencia);
                falha.transferencia = *f;
                return Parada(Etapa::Download, std::move(falha));
            }
            std::error_code erro;
            const auto local = std::filesystem::file_size(baixado_, erro);
            if (!tamanho.bytes) {
                Registrar("O servidor não informou o tamanho de " + nome_ + " (" +
                          tamanho.semResposta +
                          "); não foi possível conferir se o arquivo chegou inteiro.");
            } else if (erro || local != *tamanho.bytes) {
                auto falha = FalhaDownload(TipoFalha::ChegouMenos);
                falha.bytesLocal = erro ? 0 : local;
                falha.bytesServidor = *tamanho.bytes;
                return Parada(Etapa::Download, std::move(falha));
            }
        } catch (const std::exception& e) {
            auto falha = FalhaDownload(TipoFalha::Texto, e.what());
            return Parada(Etapa::Download, std::move(falha));
        }
        return std::nullopt;
    }

    void DefinirBanco(const std::tm& hoje) {
        banco_ = pedido_.banco;
        if (!banco_.empty()) {
            return;
        }
        char dia[40];
        std::snprintf(dia, sizeof dia, "%02d%02d%02d", hoje.tm_mday, hoje.tm_mon + 1,
                      (hoje.tm_year + 1900) % 100);
        std::string ddmmyy = dia;
        for (const char* sufixo : {".7z", ".BAK"}) {
            if (const auto data = DataDoNome(nome_, sufixo, hoje.tm_year + 1900)) {
                ddmmyy = nome_.substr(nome_.size() - std::strlen(sufixo) - 6, 6);
            }
        }
        banco_ = cfg_.banco + "_" + ddmmyy;
    }

    bool EhBak() const {
        std::string ext = plataforma::TextoCaminho(arquivo_.extension());
        for (char& ch : ext) {
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        }
        return !Remoto() && ext == ".BAK";
    }

    // A folder of this run's own, made anew where SQL Server's account reads (on Windows it may
    // only read there): a name already taken, whatever it is, is skipped and left alone, and said
    // in the log, as what an interrupted run left holds a backup nobody removes otherwise.
    std::optional<Resultado> CriarPastaExtracao() {
        const std::string conta = ContaServicoBanco(cfg_.servidorDB);
        std::filesystem::path pasta;
        std::error_code erro = plataforma::CriarPastaSeFaltar(c_.backups, conta);
        for (int n = 1; !erro && extraidos_.empty(); ++n) {
            pasta = c_.backups / ("restauracao_" + std::to_string(n));
            erro = plataforma::CriarPastaNova(pasta, conta);
            if (!erro) {
                extraidos_ = pasta;
            } else if (erro == std::errc::file_exists && n < 100) {
                erro.clear();
                Registrar(plataforma::TextoCaminho(pasta) +
                          " já existia e ficou como estava; se for a sobra de uma restauração "
                          "interrompida, apague-a.");
            }
        }
        if (erro) {
            return Parada(Etapa::Pasta, FalhaSistema(PassoFalha::Nenhum, TipoFalha::PastaNaoCriada,
                                                     CodigoSaida::ErroOutro,
                                                     plataforma::TextoCaminho(pasta), erro));
        }
        return std::nullopt;
    }

    // 7z t, then 7z x into a folder of its own where SQL Server's account reads.
    std::optional<Resultado> Desempacotar() {
        if (EhBak()) {
            bak_ = arquivo_;
            return std::nullopt;
        }
        Registrar("Extraindo...: " + nome_);
        if (auto falha = SenhaArquivoIlegivel(cfg_)) {
            return Parada(Etapa::Extracao, std::move(*falha));
        }
        if (auto parada = CriarPastaExtracao()) {
            return parada;
        }
        if (auto falha = Extrair(c_.programa, arquivo_, extraidos_, regras_.valores.limiteEtapa,
                                 comTrava_, cfg_.senhaArquivo, {c_.programas, c_.transferencias})) {
            return Parada(Etapa::Extracao, std::move(*falha));
        }
        int baks = 0;
        std::error_code erro;
        for (const auto& e : std::filesystem::directory_iterator(extraidos_, erro)) {
            bak_ = e.path();
            ++baks;
        }
        if (baks != 1) {
            auto falha = FalhaDe(PassoFalha::Extracao, TipoFalha::SemBakUnico,
                                 CodigoSaida::CompactacaoFalhou);
            falha.remoto = nome_;
            return Parada(Etapa::Extracao, std::move(falha));
        }
        return std::nullopt;
    }

    Falha FalhaBanco(const ErroBanco& e, PassoFalha passo, Desfecho desfecho = Desfecho::Nenhum,
                     TipoFalha tipo = TipoFalha::Servidor) {
        auto falha = FalhaDe(passo, tipo, CodigoSaida::BackupFalhou);
        falha.numero = e.numero();
        falha.textoServidor = e.descricao();
        falha.banco = banco_;
        falha.desfecho = desfecho;
        return falha;
    }

    bool Existe() {
        return !conexao_->Consultar("SELECT DB_ID(" + Literal(banco_) + ") AS id", Silencio())
                    .Valor(0, "id")
                    .empty();
    }

    int Silencio() const { return regras_.valores.silencioBackup; }

    // Where each file of the backup goes: the server's default folders (the original's when it
    // tells none), under names made from the new database's; whether the backup has checksums.
    // Throws ErroBanco.
    std::vector<std::pair<std::string, std::string>> Movimentos(const std::string& caminho,
                                                                bool& checksum) {
        std::vector<std::pair<std::string, std::string>> movimentos;
        const auto pastas = conexao_->Consultar(
            "SELECT CAST(SERVERPROPERTY('InstanceDefaultDataPath') AS NVARCHAR(4000)) AS "
            "dados, CAST(SERVERPROPERTY('InstanceDefaultLogPath') AS NVARCHAR(4000)) AS log",
            Silencio());
        const auto arquivos =
            conexao_->Consultar("RESTORE FILELISTONLY FROM DISK = " + Literal(caminho), Silencio());
        const auto cabecalho =
            conexao_->Consultar("RESTORE HEADERONLY FROM DISK = " + Literal(caminho), Silencio());
        checksum = cabecalho.Valor(0, "HasBackupChecksums") == "1";
        for (std::size_t i = 0; i < arquivos.linhas.size(); ++i) {
            const std::string fisico = arquivos.Valor(i, "PhysicalName");
            const bool log = arquivos.Valor(i, "Type") == "L";
            std::string pasta = pastas.Valor(0, log ? "log" : "dados");
            if (pasta.empty()) {
                pasta = PastaDe(fisico); // a server that does not tell: the original's
            }
            std::string id = arquivos.Valor(i, "FileId");
            if (id.empty()) {
                id = std::to_string(i + 1);
            }
            movimentos.emplace_back(arquivos.Valor(i, "LogicalName"),
                                    ComSeparador(pasta) + ParaArquivo(banco_) + "_" + id +
                                        ExtensaoDe(fisico));
        }
        return movimentos;
    }

    std::optional<Resultado> Restaurar() {
        const std::string caminho = plataforma::TextoCaminho(bak_);
        Registrar("Restaurando...: " + plataforma::TextoCaminho(bak_.filename()) + " > " +
                  Colchetes(banco_));
        std::vector<std::pair<std::string, std::string>> movimentos;
        bool checksum = false;
        try {
            // Never over a database that is there: nothing of it is touched.
            if (Existe()) {
                auto falha = FalhaDe(PassoFalha::Restauracao, TipoFalha::BancoExiste,
                                     CodigoSaida::BackupFalhou);
                falha.banco = banco_;
                falha.desfecho = pedido_.teste ? Desfecho::Mantido : Desfecho::NadaRestaurado;
                return Parada(Etapa::Restauracao, std::move(falha));
            }
            movimentos = Movimentos(caminho, checksum);
        } catch (const ErroBanco& e) {
            return Parada(Etapa::Restauracao,
                          FalhaBanco(e, PassoFalha::Restauracao, Desfecho::NadaRestaurado));
        }
        try {
            const auto progresso = [this](const Diagnostico& d) {
                const int percentual = PercentualProcessado(d.mensagem);
                if (percentual >= 0 && pedido_.restaurado) {
                    pedido_.restaurado(percentual);
                }
            };
            conexao_->Executar(ComandoRestauracao(banco_, caminho, movimentos, checksum), progresso,
                               Silencio());
        } catch (const ErroBanco& e) {
            // What the refused restore left cannot be used, and it is this run's: it goes.
            auto falha = FalhaBanco(e, PassoFalha::Restauracao, Desfecho::NadaRestaurado);
            try {
                // 3154: a database of the same name came meanwhile, not this run's.
                if (e.numero() != 3154 && Existe()) {
                    conexao_->Executar("DROP DATABASE " + Colchetes(banco_), {}, Silencio());
                    falha.desfecho = Desfecho::Apagado;
                }
            } catch (const ErroBanco& d) {
                falha.desfecho = Desfecho::NaoApagado;
                falha.textoDrop = d.descricao();
            }
            return Parada(Etapa::Restauracao, std::move(falha));
        }
        return std::nullopt;
    }

    std::optional<Resultado> Checar() {
        Registrar("Verificando integridade...: " + Colchetes(banco_));
        try {
            conexao_->Executar("DBCC CHECKDB (" + Colchetes(banco_) +
                                   ") WITH NO_INFOMSGS, ALL_ERRORMSGS",
                               {}, Silencio());
        } catch (const ErroBanco& e) {
            return Parada(Etapa::Integridade,
                          FalhaBanco(e, PassoFalha::Integridade, Desfecho::Mantido));
        }
        if (pedido_.teste) {
            try {
                conexao_->Executar("DROP DATABASE " + Colchetes(banco_), {}, Silencio());
            } catch (const ErroBanco& e) {
                return Parada(Etapa::Restauracao,
                              FalhaBanco(e, PassoFalha::Nenhum, Desfecho::Nenhum,
                                         TipoFalha::TesteNaoApagado));
            }
            Registrar("Restauração testada: " + nome_ + " > " + Colchetes(banco_) + ": íntegro");
            return std::nullopt;
        }
        Registrar("Restaurado: " + nome_ + " > " + Colchetes(banco_) + ": íntegro");
        return std::nullopt;
    }

    // Only what this run downloaded or extracted.
    void Limpar() {
        std::error_code erro;
        if (!baixado_.empty()) {
            plataforma::ApagarArquivo(baixado_);
            baixado_.clear();
        }
        if (!extraidos_.empty()) {
            // The folder is this run's alone: what 7z put in it, then the folder. Each entry on its
            // own, a link as a link; a folder 7z filled stays, with this one.
            for (const auto& e : plataforma::EntradasDaPasta(extraidos_, erro)) {
                std::filesystem::remove(e, erro);
            }
            std::filesystem::remove(extraidos_, erro);
            extraidos_.clear();
        }
    }

    Contexto c_;
    PedidoRestauracao pedido_;
    TravaJob trava_;
    OpcoesProcesso comTrava_;
    Configuracao cfg_;
    Validacao regras_;
    DadosFtp ftp_;
    std::vector<std::string> segredos_;
    std::unique_ptr<SessaoBanco> conexao_;
    std::string nome_, banco_;
    std::filesystem::path arquivo_, baixado_, extraidos_, bak_;
};

} // namespace

std::string ComandoRestauracao(const std::string& banco, const std::string& caminho,
                               const std::vector<std::pair<std::string, std::string>>& movimentos,
                               bool checksum) {
    std::string sql =
        "RESTORE DATABASE " + Colchetes(banco) + " FROM DISK = " + Literal(caminho) + " WITH ";
    for (const auto& [logico, fisico] : movimentos) {
        sql += "MOVE " + Literal(logico) + " TO " + Literal(fisico) + ", ";
    }
    return sql + (checksum ? "CHECKSUM, " : "") + "STATS = 10";
}

std::vector<std::pair<DataNome, std::string>>
ArquivosDoCliente(const std::vector<std::string>& nomes, const std::string& codigo,
                  const std::string& nome, int anoHoje) {
    std::vector<std::pair<DataNome, std::string>> r;
    for (const auto& n : nomes) {
        const auto data = DataDoNome(n, ".7z", anoHoje);
        if (!data) {
            continue;
        }
        const std::tm dia = DiaDe(*data);
        // Ours only if this client's naming gives exactly this name for that day.
        if (n == NomeArquivoCompactado(NomeArquivoBackup(codigo, nome, dia))) {
            r.emplace_back(*data, n);
        }
    }
    std::sort(r.rbegin(), r.rend());
    return r;
}

std::string ArquivoMaisRecente(const std::vector<std::string>& nomes, const std::string& codigo,
                               const std::string& nome, int anoHoje) {
    const auto arquivos = ArquivosDoCliente(nomes, codigo, nome, anoHoje);
    return arquivos.empty() ? std::string() : arquivos.front().second;
}

std::optional<Falha> ListarArquivos(const Configuracao& c, Transferencias& transferencias,
                                    const std::tm& hoje, std::string& saida) {
    const auto regras = ValidarConfiguracao(c, Uso::Executar);
    DadosFtp ftp;
    if (auto falha = DadosFtpDe(c, regras, ftp)) {
        return falha;
    }
    if (const auto inseguro = CertificadoInseguro(ftp.certificado)) {
        return Falha{CodigoSaida::PermissoesInseguras, 0, *inseguro};
    }
    const auto falhou = [&](const plataforma::FalhaTransferencia& f) {
        auto falha =
            FalhaDe(PassoFalha::Listagem, TipoFalha::Transferencia, CodigoSaida::EnvioFalhou);
        falha.transferencia = f;
        return falha;
    };
    try {
        const auto sessao =
            transferencias.Abrir(DestinoDe(ftp, std::chrono::seconds(regras.valores.limiteEtapa)));
        std::vector<std::string> nomes;
        if (const auto f = sessao->Listar(nomes)) {
            return falhou(*f);
        }
        for (const auto& [data, nome] :
             ArquivosDoCliente(nomes, c.codigoCliente, c.nomeCliente, hoje.tm_year + 1900)) {
            plataforma::TamanhoRemoto tamanho;
            if (const auto f = sessao->Tamanho(nome, tamanho)) {
                return falhou(*f);
            }
            char linha[64];
            std::snprintf(linha, sizeof linha, "%02d/%02d/%04d  %15s  ", std::get<2>(data),
                          std::get<1>(data), std::get<0>(data),
                          tamanho.bytes ? std::to_string(*tamanho.bytes).c_str() : "?");
            saida += linha + nome + "\n";
        }
    } catch (const std::exception& e) {
        return FalhaDe(PassoFalha::Listagem, TipoFalha::Texto, CodigoSaida::EnvioFalhou, e.what());
    }
    return std::nullopt;
}

bool TesteDevido(const std::string& ultimo, const std::tm& hoje, unsigned dias) {
    int d = 0, m = 0, a = 0;
    if (std::sscanf(ultimo.c_str(), "%d/%d/%d", &d, &m, &a) != 3) {
        return true;
    }
    using namespace std::chrono;
    const year_month_day antes{year(a), month(static_cast<unsigned>(m)),
                               day(static_cast<unsigned>(d))};
    const year_month_day agora{year(hoje.tm_year + 1900),
                               month(static_cast<unsigned>(hoje.tm_mon + 1)),
                               day(static_cast<unsigned>(hoje.tm_mday))};
    if (!antes.ok()) {
        return true;
    }
    return (sys_days(agora) - sys_days(antes)).count() >= static_cast<long>(dias);
}

Resultado ExecutarRestauracao(Contexto contexto, const PedidoRestauracao& pedido) {
    return Restauracao(std::move(contexto), pedido).Executar();
}

} // namespace kelvane
