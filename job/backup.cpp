#include "backup.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/eventos.h"
#include "../plataforma/nomes.h"
#include "../plataforma/processo.h"
#include "../settings/configuracao.h"
#include "../settings/conversao.h"
#include "../settings/nomes_arquivo.h"
#include "../settings/texto.h"
#include "aviso.h"
#include "banco.h"
#include "etapas.h"
#include "ferramentas.h"
#include "log.h"
#include "observador.h"
#include "politica_permissoes.h"
#include "programa.h"
#include "../settings/regras.h"
#include "retencao.h"
#include "textos.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace kelvane {

namespace {

// Held for the whole job, and by each tool the job runs (they inherit the descriptor): the
// kernel lets it go once the process and a tool it left running are both gone.
class TravaJob {
public:
    TravaJob() = default;
    ~TravaJob() {
        if (trava_ != plataforma::kSemDescritor) {
            plataforma::Fechar(trava_);
        }
    }
    TravaJob(const TravaJob&) = delete;
    TravaJob& operator=(const TravaJob&) = delete;

    // A failure when the lock file cannot be opened; otherwise whether the lock was free shows
    // in obtida().
    std::optional<Falha> Tentar() {
        const auto caminho = PastaDados() / "kelvane.lock";
        std::error_code erro;
        trava_ = plataforma::AbrirArquivoTrava(caminho, erro);
        if (trava_ == plataforma::kSemDescritor) {
            return Falha{CodigoSaida::ErroOutro, erro.value(),
                         "não foi possível abrir " + plataforma::TextoCaminho(caminho) + ": " +
                             std::strerror(erro.value())};
        }
        obtida_ = plataforma::TentarTravar(trava_);
        return std::nullopt;
    }
    bool obtida() const { return obtida_; }
    plataforma::Descritor descritor() const { return trava_; }

private:
    plataforma::Descritor trava_ = plataforma::kSemDescritor;
    bool obtida_ = false;
};

// How a run that did not reach its end is reported.
struct Desfecho {
    CodigoSaida codigo;
    std::vector<std::string> linhas; // logged in this order
    std::string aviso;               // the body of the failure heartbeat
    std::string caixa;               // the window's message box; none when empty
    long numero;                     // the failure's number (Falha::numero), or 0
};

Desfecho De(const Falha& falha) {
    const std::string texto = TextoFalha(falha);
    return {falha.codigo, {texto}, texto, texto, falha.numero};
}

Desfecho De(CodigoSaida codigo, const std::string& texto) {
    return {codigo, {texto}, texto, texto, 0};
}

// The Application log, where the run's end also goes, is readable by every user of the machine,
// the job's log by the job's account alone: there only the outcome, never a server's name, a
// port, a path or a tool's words.
std::string TextoEvento(CodigoSaida codigo, long numero) {
    const char* etapa = "o job não pôde gravar, ler ou apagar um arquivo";
    switch (codigo) {
    case CodigoSaida::FerramentaFaltando:
        etapa = "falta uma ferramenta na pasta do programa";
        break;
    case CodigoSaida::ConexaoFalhou:
        etapa = "conexão com o banco falhou";
        break;
    case CodigoSaida::BackupFalhou:
        etapa = "backup do banco falhou";
        break;
    case CodigoSaida::CompactacaoFalhou:
        etapa = "compactação falhou";
        break;
    case CodigoSaida::EnvioFalhou:
        etapa = "envio falhou";
        break;
    case CodigoSaida::JobEmExecucao:
        etapa = "outro backup estava em execução";
        break;
    case CodigoSaida::PermissoesInseguras:
        etapa = "permissões inseguras";
        break;
    default:
        break;
    }
    return "Erro: " + std::to_string(numero) + " - " + etapa + " (código de saída " +
           std::to_string(ComoInteiro(codigo)) + "); os detalhes estão no log " + ArquivoLog +
           " da pasta de dados.";
}

Falha BackupNaoEArquivo(const std::filesystem::path& backup, std::error_code erro) {
    const std::string inicio = "Compactação falhou: " + plataforma::TextoCaminho(backup);
    const std::string fim = "; nada foi compactado nem enviado.";
    if (erro == std::errc::too_many_symbolic_link_levels) {
        return {CodigoSaida::CompactacaoFalhou, 0,
                inicio +
                    " não é um arquivo comum: é um link (ou uma junção), que levaria o 7z a "
                    "outro lugar" +
                    fim};
    }
    if (erro == std::errc::is_a_directory || erro == std::errc::invalid_argument) {
        return {CodigoSaida::CompactacaoFalhou, 0,
                inicio + " não é um arquivo comum" +
                    (erro == std::errc::is_a_directory ? ": é uma pasta" : "") + fim};
    }
    return {CodigoSaida::CompactacaoFalhou, erro.value(),
            inicio + " não pôde ser aberto: " + std::strerror(erro.value()) + fim};
}

class Job {
public:
    explicit Job(ObservadorJob* observador) : observador_(observador) {}

    // The steps, in order; nothing once "Fim do Processo" is logged.
    std::optional<Desfecho> Executar();
    // The one place a failure is reported: log, heartbeat, the window's box; secrets masked.
    CodigoSaida Relatar(const Desfecho& desfecho);
    // A heartbeat to AvisoURL, when set; one that cannot be delivered is logged and changes
    // nothing.
    void Avisar(TipoAviso tipo, const std::string& corpo = {});

private:
    void Registrar(const std::string& linha) { GravarLog(linha, observador_); }
    std::optional<Falha> Backup(ConexaoOdbc& conexao, const std::string& banco,
                                const std::string& caminho, const std::string& conjunto);
    std::optional<Falha> Verificar(ConexaoOdbc& conexao, const std::string& caminho);

    ObservadorJob* observador_;
    TravaJob trava_;
    std::vector<std::string> segredos_;
    Configuracao cfg_; // read once info.ini passed the permission check
    Validacao regras_;
    bool avisoInvalidoRegistrado_ = false;
};

std::optional<Desfecho> Job::Executar() {
    Registrar("Inicio do Processo");
    const auto pasta = PastaPrograma();
    const auto dados = PastaDados();
    if (const auto inseguro = PermissaoInsegura(pasta, dados)) {
        return De(CodigoSaida::PermissoesInseguras, *inseguro);
    }
    // Read once, now that the file passed the check: every step uses what was checked here.
    std::optional<bool> ncripto;
    if (observador_ && observador_->ncripto) {
        ncripto = observador_->ncripto();
    }
    cfg_ = LerConfiguracao(ArquivoIni(), ncripto).valores;
    regras_ = ValidarConfiguracao(cfg_, Uso::Executar);
    segredos_.push_back(cfg_.senhaArquivo);
    const auto& valores = regras_.valores;
    Avisar(TipoAviso::Inicio);
    if (auto falha = trava_.Tentar()) {
        return De(*falha);
    }
    if (!trava_.obtida()) {
        return De(CodigoSaida::JobEmExecucao,
                  "Outro backup já está em execução nesta pasta; este não será executado.");
    }
    if (const auto faltando = FerramentasFaltando(pasta, cfg_.endereco); !faltando.empty()) {
        std::vector<std::string> linhas; // one each, in the order checked
        std::string aviso;
        for (const auto& nome : faltando) {
            linhas.push_back(TextoFaltandoArquivo(nome));
            aviso += (aviso.empty() ? "" : "; ") + linhas.back();
        }
        return Desfecho{CodigoSaida::FerramentaFaltando, linhas, aviso,
                        TextoCaixaFerramentasFaltando(faltando, plataforma::TextoCaminho(pasta)), 0};
    }
    if (const auto inseguro = DriverOdbcInseguro(cfg_.driverODBC)) {
        return De(CodigoSaida::PermissoesInseguras, *inseguro);
    }
    // Known now, not after the backup.
    for (const auto campo :
         {&Configuracao::endereco, &Configuracao::porta, &Configuracao::chaveHostFTP}) {
        if (const auto* problema = ProblemaEm(regras_, campo)) {
            return De(Falha{CodigoSaida::EnvioFalhou, 0, problema->texto});
        }
    }
    // Whoever could change the certificate trusted for the upload could read it on the way.
    if (const auto inseguro = CertificadoInseguro(plataforma::Caminho(cfg_.certificadoFTP))) {
        return De(CodigoSaida::PermissoesInseguras, *inseguro);
    }
    std::string motivo;
    const auto conexao = ConectarBanco(cfg_, observador_, motivo);
    if (!conexao) {
        return Desfecho{
            CodigoSaida::ConexaoFalhou, {"Tarefa não executada. SAINDO"}, motivo, {}, 0};
    }

    const std::string& codigo = cfg_.codigoCliente;
    const std::string& nome = cfg_.nomeCliente;
    const std::string nomeBackup = NomeArquivoBackup(codigo, nome, AgoraLocal());
    const std::string separador(1, plataforma::kSeparador);
    Registrar("Backup...: " + cfg_.banco + " > " + separador + nomeBackup);
    if (const auto erro =
            plataforma::CriarPastaSeFaltar(PastaBackups(), ContaServicoBanco(cfg_.servidorDB))) {
        return De(Falha{CodigoSaida::ErroOutro, erro.value(),
                        "não foi possível criar a pasta " +
                            plataforma::TextoCaminho(PastaBackups()) + ": " +
                            std::strerror(erro.value())});
    }
    const auto backup = PastaBackups() / plataforma::Caminho(nomeBackup);
    if (auto falha =
            Backup(*conexao, cfg_.banco, plataforma::TextoCaminho(backup), codigo + " - " + nome)) {
        return De(*falha);
    }
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::verificarBackup)) {
        Registrar(invalido->texto);
    } else if (valores.verificarBackup) {
        // Before 7z: an unreadable backup is neither packed nor sent, and stays for inspection.
        Registrar("Verificando...: " + separador + nomeBackup);
        if (auto falha = Verificar(*conexao, plataforma::TextoCaminho(backup))) {
            return De(*falha);
        }
    }

    const std::string nomeArquivo = NomeArquivoCompactado(nomeBackup);
    const auto arquivo = dados / plataforma::Caminho(nomeArquivo);
    Registrar("Compactando...: " + separador + nomeArquivo);
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::limiteEtapa)) {
        Registrar(invalido->texto); // once: the steps apply the default silently
    }
    if (auto falha = SenhaArquivoIlegivel(cfg_)) {
        return De(*falha);
    }
    OpcoesProcesso comTrava;
    comTrava.herdar = trava_.descritor();
    const std::string& senha = cfg_.senhaArquivo;
    {
        // What SQL Server's account left where the .BAK goes, held as checked while 7z packs it:
        // a link there would have 7z pack and send what it leads to.
        const plataforma::ArquivoRetido retido(backup);
        if (const auto erro = retido.erro()) {
            return De(BackupNaoEArquivo(backup, erro));
        }
        if (auto falha = Compactar(pasta, arquivo, backup, valores.limiteEtapa, comTrava, senha)) {
            return De(*falha);
        }
    }
    // The .BAK is deleted only once an archive that really holds it exists.
    if (auto falha = TestarArquivo(pasta, arquivo, valores.limiteEtapa, comTrava, senha)) {
        return De(*falha);
    }

    Registrar("Enviando...: " + separador + nomeArquivo + " > " + cfg_.endereco);
    DadosFtp ftp;
    if (auto falha = DadosFtpDe(cfg_, regras_, ftp)) {
        return De(*falha);
    }
    segredos_.push_back(ftp.senha);
    ftp.registrar = [this](const std::string& linha) {
        Registrar(linha);
    };
    if (auto falha =
            EnviarArquivo(pasta, ftp, arquivo, "Envio falhou", valores.limiteEtapa, comTrava)) {
        return De(*falha);
    }

    Registrar("Excluindo...: " + separador + nomeBackup);
    if (auto falha = Excluir(backup)) {
        return De(*falha);
    }
    if (const auto erro = GravarConfiguracao(
            ArquivoIni(), {{&Configuracao::executado, TextoDataGeral(AgoraLocal())}})) {
        const int e = erro.value();
        Registrar("Aviso: não foi possível gravar " +
                  std::string(NomeChave(&Configuracao::executado)) + " em " +
                  plataforma::TextoCaminho(ArquivoIni()) + " (" +
                  (e == EWOULDBLOCK ? "outro processo manteve a pasta travada"
                   : e == EACCES    ? "arquivo somente leitura ou sem permissão de escrita"
                                    : std::strerror(e)) +
                  ").");
    }
    Registrar("Fim do Processo");
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::manterArquivos)) {
        Registrar(invalido->texto);
    } else if (valores.manter) {
        LimparArquivosAntigos(dados, PastaBackups(), *valores.manter, codigo, nome, nomeArquivo,
                              ContaServicoBanco(cfg_.servidorDB), observador_);
    }
    return std::nullopt;
}

std::optional<Falha> Job::Backup(ConexaoOdbc& conexao, const std::string& banco,
                                 const std::string& caminho, const std::string& conjunto) {
    // With STATS = 10 a live server speaks at every tenth of the backup: one silent for longer
    // than any tenth takes (6 h: see the README) is stuck. The statement has no time limit.
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::silencioBackup)) {
        Registrar(invalido->texto);
    }
    const int silencio = regras_.valores.silencioBackup;
    const auto executar = [&](bool compressao) {
        conexao.Executar(
            ComandoBackup(banco, caminho, conjunto, compressao, regras_.valores.verificarBackup),
            [this](const Diagnostico& d) {
                const int percentual = PercentualProcessado(d.mensagem);
                if (percentual >= 0 && observador_ && observador_->progresso) {
                    observador_->progresso(percentual);
                }
            },
            silencio);
    };
    try {
        try {
            executar(true);
        } catch (const ErroBanco& e) {
            if (e.numero() != 1844) {
                throw;
            }
            // Express editions cannot compress backups; 7z still compresses the file.
            Registrar("O servidor não aceita backup com compressão (edição Express); "
                      "repetindo o backup sem compressão.");
            executar(false);
        }
    } catch (const ErroBanco& e) {
        return Falha{CodigoSaida::BackupFalhou, e.numero(),
                     "Backup do banco falhou: " + e.descricao()};
    }
    return std::nullopt;
}

std::optional<Falha> Job::Verificar(ConexaoOdbc& conexao, const std::string& caminho) {
    // It reads the whole backup again, as long as the backup's own read: STATS keeps a live
    // server speaking, so the backup's silence limit means the same here.
    try {
        conexao.Executar(ComandoVerificacao(caminho), {}, regras_.valores.silencioBackup);
    } catch (const ErroBanco& e) {
        return Falha{CodigoSaida::BackupFalhou, e.numero(),
                     "Verificação do backup falhou: " + e.descricao()};
    }
    return std::nullopt;
}

CodigoSaida Job::Relatar(const Desfecho& desfecho) {
    for (const auto& linha : desfecho.linhas) {
        const std::string texto = OcultarSegredos(linha, segredos_);
        try {
            Registrar(texto);
        } catch (const ErroLog& erroLog) {
            std::fprintf(stderr, "Kelvane: %s\nKelvane: %s\n", texto.c_str(), erroLog.what());
        }
    }
    Avisar(TipoAviso::Falha, OcultarSegredos(desfecho.aviso, segredos_));
    if (!desfecho.caixa.empty() && observador_ && observador_->caixaErro) {
        observador_->caixaErro(OcultarSegredos(desfecho.caixa, segredos_));
    }
    return desfecho.codigo;
}

void Job::Avisar(TipoAviso tipo, const std::string& corpo) {
    const std::string& base = cfg_.avisoURL; // empty until the file passed the check
    if (base.empty()) {
        return;
    }
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::avisoURL)) {
        if (!avisoInvalidoRegistrado_) {
            avisoInvalidoRegistrado_ = true;
            try {
                Registrar(invalido->texto);
            } catch (const ErroLog&) {
            }
        }
        return;
    }
    if (const auto falha = EnviarAviso(EnderecoAviso(base, tipo), corpo)) {
        try {
            Registrar("Aviso de monitoramento não entregue a " + DestinoAviso(base) + ": " +
                      *falha);
        } catch (const ErroLog&) {
        }
    }
}

} // namespace

std::string ComandoBackup(const std::string& banco, const std::string& caminho,
                          const std::string& nomeConjunto, bool compressao, bool checksum) {
    return "BACKUP DATABASE [" + Substituir(banco, "]", "]]") + "] TO  DISK = N'" +
           Substituir(caminho, "'", "''") + "' WITH NOFORMAT, INIT, " +
           (compressao ? "COMPRESSION, " : "") + (checksum ? "CHECKSUM, " : "") + " NAME = N'" +
           Substituir(nomeConjunto, "'", "''") + "', SKIP, NOREWIND, NOUNLOAD,  STATS = 10";
}

std::string ComandoVerificacao(const std::string& caminho) {
    return "RESTORE VERIFYONLY FROM DISK = N'" + Substituir(caminho, "'", "''") +
           "' WITH CHECKSUM, STATS = 10";
}

std::string TextoInterrupcao(const std::string& motivo) {
    return TextoFalha(Falha{CodigoSaida::ErroOutro, 0,
                            "Execução interrompida (" + motivo + "): o backup não foi concluído."});
}

CodigoSaida ExecutarBackup(ObservadorJob* observador, std::string* evento) {
    // Without it, a run cut short leaves a log that stops mid-step, as if it still ran.
    const bool semJanela = observador == nullptr;
    plataforma::AoInterromper([semJanela](const std::string& motivo) {
        const std::string texto = TextoInterrupcao(motivo);
        try {
            GravarLog(texto);
        } catch (const ErroLog& e) {
            std::fprintf(stderr, "Kelvane: %s\nKelvane: %s\n", texto.c_str(), e.what());
        }
        if (semJanela) {
            plataforma::RegistrarEvento(ComoInteiro(CodigoSaida::ErroOutro), texto);
        }
    });
    struct Esquecer {
        ~Esquecer() { plataforma::EsquecerInterrupcao(); }
    } esquecer;
    Job job(observador);
    std::optional<Desfecho> desfecho;
    try {
        desfecho = job.Executar();
    } catch (const ErroLog& e) {
        // Nothing more can be logged.
        std::fprintf(stderr, "Kelvane: %s\n", e.what());
        const std::string texto = std::string("Erro: ") + e.what();
        desfecho = Desfecho{CodigoSaida::ErroOutro, {}, texto, texto, 0};
    } catch (const std::exception& e) {
        desfecho = De(Falha{CodigoSaida::ErroOutro, 0, e.what()});
    }
    if (desfecho) {
        const auto codigo = job.Relatar(*desfecho);
        if (evento) {
            *evento = TextoEvento(codigo, desfecho->numero);
        }
        return codigo;
    }
    job.Avisar(TipoAviso::Sucesso);
    return CodigoSaida::Sucesso;
}

} // namespace kelvane
