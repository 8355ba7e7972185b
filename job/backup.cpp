#include "backup.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/eventos.h"
#include "../plataforma/nomes.h"
#include "../plataforma/processo.h"
#include "../settings/configuracao.h"
#include "../settings/conversao.h"
#include "../settings/nomes_arquivo.h"
#include "../settings/regras.h"
#include "../settings/texto.h"
#include "aviso.h"
#include "banco.h"
#include "etapas.h"
#include "ferramentas.h"
#include "log.h"
#include "politica_permissoes.h"
#include "programa.h"
#include "restauracao.h"
#include "retencao.h"
#include "textos.h"
#include "trava.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace kelvane {

// The run's state from step to step.
class Execucao::Passos {
public:
    explicit Passos(Contexto c) : c_(std::move(c)) {}

    // The steps, in order; nothing once "Fim do Processo" is logged.
    std::optional<Resultado> Rodar();
    // The one place a failure is reported: log, heartbeat, the window's box; secrets masked.
    void Relatar(Resultado& r);
    // A heartbeat to AvisoURL, when set; one that cannot be delivered is logged and changes
    // nothing.
    void Avisar(TipoAviso tipo, const std::string& corpo = {});
    void Registrar(const std::string& linha);

private:
    std::optional<Resultado> LerConfiguracaoConferida();
    std::optional<Resultado> Conferir();
    std::optional<Resultado> Conectar();
    std::optional<Resultado> FazerBackup();
    std::optional<Resultado> ComandoBanco(bool verificar);
    std::optional<Resultado> CompactarETestar();
    std::optional<Resultado> Enviar();
    std::optional<Resultado> Concluir();
    std::optional<Resultado> EnviarAvulso();
    std::optional<Resultado> ConferirFtp();
    std::optional<Resultado> TestarFtp();
    std::optional<Resultado> TestarRestauracao();
    Meios meios() const { return {c_.programas, c_.transferencias}; }
    // One of the window's runs of a few steps: no log, lock or heartbeat.
    bool avulso() const { return c_.avulso.has_value() || c_.testeFtp.has_value(); }
    std::string Separado(const std::string& nome) const {
        return std::string(1, plataforma::kSeparador) + nome;
    }

    Contexto c_;
    TravaJob trava_;
    std::vector<std::string> segredos_;
    Configuracao cfg_; // read once info.ini passed the permission check
    Validacao regras_;
    bool avisoInvalidoRegistrado_ = false;
    std::unique_ptr<SessaoBanco> conexao_;
    std::string nomeBackup_, nomeArquivo_;
    std::filesystem::path backup_, arquivo_;
    OpcoesProcesso comTrava_;
};

void Execucao::Passos::Registrar(const std::string& linha) {
    if (c_.observador && c_.observador->mensagem) {
        c_.observador->mensagem(linha);
    }
    if (avulso()) {
        return;
    }
    GravarLinhaLog(c_.dados / "Log" / c_.arquivoLog, linha, c_.agora());
}

std::optional<Resultado> Execucao::Passos::Rodar() {
    if (avulso()) {
        if (auto parada = LerConfiguracaoConferida()) {
            return parada;
        }
        return c_.testeFtp ? TestarFtp() : EnviarAvulso();
    }
    Registrar("Inicio do Processo");
    for (const auto passo :
         {&Passos::LerConfiguracaoConferida, &Passos::Conferir, &Passos::Conectar,
          &Passos::FazerBackup, &Passos::CompactarETestar, &Passos::Enviar, &Passos::Concluir}) {
        if (auto parada = (this->*passo)()) {
            return parada;
        }
    }
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::LerConfiguracaoConferida() {
    if (!c_.configuracao) {
        // Not handed in: checked and read here, once (the window's run-now).
        std::optional<bool> ncripto;
        if (c_.observador && c_.observador->ncripto) {
            ncripto = c_.observador->ncripto();
        }
        LeituraConfiguracao lida;
        if (const auto inseguro = PermissaoInsegura(c_.programa, c_.dados, false, &lida, ncripto)) {
            return Parada(Etapa::Permissoes, CodigoSaida::PermissoesInseguras, *inseguro);
        }
        c_.configuracao = std::move(lida.valores);
    }
    cfg_ = *c_.configuracao;
    regras_ = ValidarConfiguracao(cfg_, Uso::Executar);
    segredos_.push_back(cfg_.senhaArquivo);
    Avisar(TipoAviso::Inicio);
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::Conferir() {
    if (auto falha = trava_.Tentar(c_.dados)) {
        return Parada(Etapa::Trava, std::move(*falha));
    }
    if (!trava_.obtida()) {
        return Parada(Etapa::Ocupada,
                      FalhaDe(PassoFalha::Nenhum, TipoFalha::Ocupada, CodigoSaida::JobEmExecucao));
    }
    comTrava_.herdar = trava_.descritor();
    if (auto faltando = FerramentasFaltando(c_.programa, cfg_.endereco); !faltando.empty()) {
        auto r = Parada(Etapa::Ferramentas, CodigoSaida::FerramentaFaltando, {});
        r.faltando = std::move(faltando);
        return r;
    }
    if (const auto inseguro = c_.banco->DriverInseguro(cfg_)) {
        return Parada(Etapa::Permissoes, CodigoSaida::PermissoesInseguras, *inseguro);
    }
    return ConferirFtp(); // known now, not after the backup
}

std::optional<Resultado> Execucao::Passos::ConferirFtp() {
    for (const auto campo :
         {&Configuracao::endereco, &Configuracao::porta, &Configuracao::chaveHostFTP}) {
        if (const auto* problema = ProblemaEm(regras_, campo)) {
            return Parada(Etapa::Configuracao, CodigoSaida::EnvioFalhou, problema->texto);
        }
    }
    // Whoever could change the certificate trusted for the upload could read it on the way.
    if (const auto inseguro = CertificadoInseguro(plataforma::Caminho(cfg_.certificadoFTP))) {
        return Parada(Etapa::Permissoes, CodigoSaida::PermissoesInseguras, *inseguro);
    }
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::Conectar() {
    return ConectarEtapa(
        *c_.banco, cfg_, [this](const std::string& l) { Registrar(l); }, conexao_);
}

std::optional<Resultado> Execucao::Passos::FazerBackup() {
    nomeBackup_ = NomeArquivoBackup(cfg_.codigoCliente, cfg_.nomeCliente, c_.agora());
    Registrar("Backup...: " + cfg_.banco + " > " + Separado(nomeBackup_));
    if (const auto erro =
            plataforma::CriarPastaSeFaltar(c_.backups, ContaServicoBanco(cfg_.servidorDB))) {
        return Parada(Etapa::Pasta, FalhaSistema(PassoFalha::Nenhum, TipoFalha::PastaNaoCriada,
                                                 CodigoSaida::ErroOutro,
                                                 plataforma::TextoCaminho(c_.backups), erro));
    }
    backup_ = c_.backups / plataforma::Caminho(nomeBackup_);
    if (auto parada = ComandoBanco(false)) {
        return parada;
    }
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::verificarBackup)) {
        Registrar(invalido->texto);
    } else if (regras_.valores.verificarBackup) {
        // Before 7z: an unreadable backup is neither packed nor sent, and stays for inspection.
        Registrar("Verificando...: " + Separado(nomeBackup_));
        return ComandoBanco(true);
    }
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::ComandoBanco(bool verificar) {
    // With STATS = 10 a live server speaks at every tenth of the backup: one silent for longer
    // than any tenth takes (6 h: see the README) is stuck. The statement has no time limit. The
    // check reads the whole backup again, so the same silence means the same there.
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::silencioBackup);
        !verificar && invalido) {
        Registrar(invalido->texto);
    }
    const int silencio = regras_.valores.silencioBackup;
    const std::string caminho = plataforma::TextoCaminho(backup_);
    const auto progresso = [this](const Diagnostico& d) {
        const int percentual = PercentualProcessado(d.mensagem);
        if (percentual >= 0 && c_.observador && c_.observador->progresso) {
            c_.observador->progresso(percentual);
        }
    };
    const auto backup = [&](bool compressao) {
        conexao_->Executar(ComandoBackup(cfg_.banco, caminho,
                                         cfg_.codigoCliente + " - " + cfg_.nomeCliente, compressao,
                                         regras_.valores.verificarBackup),
                           progresso, silencio);
    };
    try {
        if (verificar) {
            conexao_->Executar(ComandoVerificacao(caminho), {}, silencio);
            return std::nullopt;
        }
        try {
            backup(true);
        } catch (const ErroBanco& e) {
            if (e.numero() != 1844) {
                throw;
            }
            // Express editions cannot compress backups; 7z still compresses the file.
            Registrar("O servidor não aceita backup com compressão (edição Express); "
                      "repetindo o backup sem compressão.");
            backup(false);
        }
    } catch (const ErroBanco& e) {
        auto falha = FalhaDe(verificar ? PassoFalha::Verificacao : PassoFalha::Backup,
                             TipoFalha::Servidor, CodigoSaida::BackupFalhou);
        falha.numero = e.numero();
        falha.textoServidor = e.descricao();
        return Parada(verificar ? Etapa::Verificacao : Etapa::Backup, std::move(falha));
    }
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::CompactarETestar() {
    nomeArquivo_ = NomeArquivoCompactado(nomeBackup_);
    arquivo_ = c_.dados / plataforma::Caminho(nomeArquivo_);
    Registrar("Compactando...: " + Separado(nomeArquivo_));
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::limiteEtapa)) {
        Registrar(invalido->texto); // once: the steps apply the default silently
    }
    if (auto falha = SenhaArquivoIlegivel(cfg_)) {
        return Parada(Etapa::Compactacao, std::move(*falha));
    }
    const auto limite = regras_.valores.limiteEtapa;
    const std::string& senha = cfg_.senhaArquivo;
    {
        // What SQL Server's account left where the .BAK goes, held as checked while 7z packs it:
        // a link there would have 7z pack and send what it leads to.
        const plataforma::ArquivoRetido retido(backup_);
        if (const auto erro = retido.erro()) {
            auto falha = FalhaSistema(PassoFalha::Compactacao, TipoFalha::OrigemInvalida,
                                      CodigoSaida::CompactacaoFalhou,
                                      plataforma::TextoCaminho(backup_), erro);
            // A link or what is not a file is no system's failure: no number.
            if (erro == std::errc::too_many_symbolic_link_levels ||
                erro == std::errc::is_a_directory || erro == std::errc::invalid_argument) {
                falha.numero = 0;
            }
            return Parada(Etapa::Compactacao, std::move(falha));
        }
        if (auto falha =
                Compactar(c_.programa, arquivo_, backup_, limite, comTrava_, senha, meios())) {
            return Parada(Etapa::Compactacao, std::move(*falha));
        }
    }
    // The .BAK is deleted only once an archive that really holds it exists.
    if (auto falha = TestarArquivo(c_.programa, arquivo_, limite, comTrava_, senha, meios())) {
        return Parada(Etapa::Teste, std::move(*falha));
    }
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::Enviar() {
    Registrar("Enviando...: " + Separado(nomeArquivo_) + " > " + cfg_.endereco);
    DadosFtp ftp;
    if (auto falha = DadosFtpDe(cfg_, regras_, ftp)) {
        return Parada(Etapa::Configuracao, std::move(*falha));
    }
    segredos_.push_back(ftp.senha);
    ftp.registrar = [this](const std::string& linha) {
        Registrar(linha);
    };
    if (auto falha = EnviarArquivo(c_.programa, ftp, arquivo_, PassoFalha::Envio,
                                   regras_.valores.limiteEtapa, comTrava_, {}, nullptr, meios())) {
        return Parada(Etapa::Envio, std::move(*falha));
    }
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::Concluir() {
    Registrar("Excluindo...: " + Separado(nomeBackup_));
    if (auto falha = Excluir(backup_)) {
        return Parada(Etapa::Exclusao, std::move(*falha));
    }
    const auto ini = c_.dados / "info.ini";
    if (const auto erro =
            GravarConfiguracao(ini, {{&Configuracao::executado, TextoDataGeral(c_.agora())}})) {
        Registrar("Aviso: não foi possível gravar " +
                  std::string(NomeChave(&Configuracao::executado)) + " em " +
                  plataforma::TextoCaminho(ini) + " (" + MotivoGravacao(erro) + ").");
    }
    if (auto parada = TestarRestauracao()) {
        return parada;
    }
    Registrar("Fim do Processo");
    if (const auto* invalido = ProblemaEm(regras_, &Configuracao::manterArquivos)) {
        Registrar(invalido->texto);
    } else if (regras_.valores.manter) {
        LimparArquivosAntigos(c_.dados, c_.backups, *regras_.valores.manter, cfg_.codigoCliente,
                              cfg_.nomeCliente, nomeArquivo_, ContaServicoBanco(cfg_.servidorDB),
                              c_.agora(), [this](const std::string& l) { Registrar(l); });
    }
    return std::nullopt;
}

// The drill (TesteRestauracao=N days): the archive just sent, read back from the server and
// restored into <Banco>_KelvaneTeste, checked and dropped; the date recorded once it passed.
std::optional<Resultado> Execucao::Passos::TestarRestauracao() {
    const auto dias = DiasTesteRestauracao(cfg_.testeRestauracao);
    if (!dias) {
        Registrar(std::string(NomeChave(&Configuracao::testeRestauracao)) + " inválido (\"" +
                  cfg_.testeRestauracao +
                  "\"): use um número inteiro de dias; a restauração não foi testada.");
        return std::nullopt;
    }
    const auto hoje = c_.agora();
    if (*dias == 0 || !TesteDevido(cfg_.ultimoTesteRestauracao, hoje, *dias)) {
        return std::nullopt;
    }
    const std::string banco = cfg_.banco + "_KelvaneTeste";
    Registrar("Testando a restauração...: " + nomeArquivo_ + " > [" + banco + "]");
    auto contexto = c_;
    contexto.configuracao = cfg_;
    PedidoRestauracao pedido{nomeArquivo_, banco, true};
    pedido.ferramentas = comTrava_;
    auto r = ExecutarRestauracao(std::move(contexto), pedido);
    if (r.etapa != Etapa::Nenhuma) {
        r.falha.codigo = CodigoSaida::TesteRestauracaoFalhou;
        r.falha.noTesteRestauracao = true;
        return Parada(Etapa::TesteRestauracao, std::move(r.falha));
    }
    const auto ini = c_.dados / "info.ini";
    if (const auto erro = GravarConfiguracao(
            ini, {{&Configuracao::ultimoTesteRestauracao, TextoDataGeral(hoje)}})) {
        Registrar("Aviso: não foi possível gravar " +
                  std::string(NomeChave(&Configuracao::ultimoTesteRestauracao)) + " em " +
                  plataforma::TextoCaminho(ini) + " (" + MotivoGravacao(erro) + ").");
    }
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::EnviarAvulso() {
    std::string arquivo = c_.avulso->arquivo;
    const auto limite = regras_.valores.limiteEtapa;
    if (c_.avulso->compactar) {
        // Packed with SenhaArquivo, as the job packs the backups.
        if (auto falha = SenhaArquivoIlegivel(cfg_)) {
            return Parada(Etapa::Compactacao, std::move(*falha));
        }
        Registrar("Compactando...: " + arquivo + ".7z");
        if (auto falha =
                Compactar(c_.programa, plataforma::Caminho(arquivo + ".7z"),
                          plataforma::Caminho(arquivo), limite, {}, cfg_.senhaArquivo, meios())) {
            return Parada(Etapa::Compactacao, std::move(*falha));
        }
        arquivo += ".7z";
    }
    DadosFtp ftp;
    if (auto falha = DadosFtpDe(cfg_, regras_, ftp)) {
        return Parada(Etapa::Configuracao, std::move(*falha));
    }
    Registrar("Enviando...: " + arquivo + " > " + ftp.endereco);
    if (auto falha = EnviarArquivo(c_.programa, ftp, plataforma::Caminho(arquivo),
                                   PassoFalha::Envio, limite, {}, {}, nullptr, meios())) {
        return Parada(Etapa::Envio, std::move(*falha));
    }
    return std::nullopt;
}

std::optional<Resultado> Execucao::Passos::TestarFtp() {
    if (auto parada = ConferirFtp()) {
        return parada;
    }
    DadosFtp ftp;
    if (auto falha = DadosFtpDe(cfg_, regras_, ftp)) {
        return Parada(Etapa::Configuracao, std::move(*falha));
    }
    ftp.teste = true;
    // Only plain FTP goes through the uploader.
    if (ftp.esquema == plataforma::Esquema::Ftp &&
        !FerramentaPresente(c_.programa, plataforma::kNomeEnviador)) {
        Falha falha{CodigoSaida::FerramentaFaltando, 0,
                    TextoFaltandoArquivo(plataforma::kNomeEnviador)};
        falha.passo = PassoFalha::TesteFtp;
        auto r = Parada(Etapa::Ferramentas, std::move(falha));
        r.faltando = {std::string(plataforma::kNomeEnviador)};
        return r;
    }
    if (auto falha =
            EnviarArquivo(c_.programa, ftp, c_.testeFtp->arquivo, PassoFalha::TesteFtp,
                          regras_.valores.limiteEtapa, {}, c_.testeFtp->apos, nullptr, meios())) {
        return Parada(Etapa::Envio, std::move(*falha));
    }
    return std::nullopt;
}

void Execucao::Passos::Relatar(Resultado& r) {
    TextosResultado(r, c_.programa);
    if (avulso()) {
        return; // the window words it in its own box
    }
    for (const auto& linha : r.linhas) {
        const std::string texto = OcultarSegredos(linha, segredos_);
        try {
            Registrar(texto);
        } catch (const ErroLog& erroLog) {
            std::fprintf(stderr, "Kelvane: %s\nKelvane: %s\n", texto.c_str(), erroLog.what());
        }
    }
    if (c_.observador && c_.observador->falha) {
        c_.observador->falha(OcultarSegredos(r.aviso, segredos_));
    }
    Avisar(TipoAviso::Falha, OcultarSegredos(r.aviso, segredos_));
    if (!r.caixa.empty() && c_.observador && c_.observador->caixaErro) {
        c_.observador->caixaErro(OcultarSegredos(r.caixa, segredos_));
    }
}

void Execucao::Passos::Avisar(TipoAviso tipo, const std::string& corpo) {
    // Empty until the file passed the check; send-file sends none.
    const std::string& base = cfg_.avisoURL;
    if (base.empty() || avulso()) {
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

Execucao::Execucao(Contexto contexto) : passos_(std::make_unique<Passos>(std::move(contexto))) {}

Execucao::~Execucao() = default;

Resultado Execucao::Executar() {
    std::optional<Resultado> parada;
    try {
        parada = passos_->Rodar();
    } catch (const ErroLog& e) {
        // Nothing more can be logged.
        std::fprintf(stderr, "Kelvane: %s\n", e.what());
        parada = Parada(Etapa::Log, CodigoSaida::ErroOutro, e.what());
    } catch (const std::exception& e) {
        parada = Parada(Etapa::Interna, CodigoSaida::ErroOutro, e.what());
    }
    if (parada) {
        passos_->Relatar(*parada);
        return std::move(*parada);
    }
    passos_->Avisar(TipoAviso::Sucesso);
    return {};
}

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

Contexto ContextoDoProcesso(ObservadorJob* observador) {
    Contexto c;
    c.programa = PastaPrograma();
    c.dados = PastaDados();
    c.backups = PastaBackups();
    c.arquivoLog = ArquivoLog;
    c.agora = AgoraLocal;
    c.observador = observador;
    c.programas = &ProgramasDoSistema();
    c.transferencias = &TransferenciasDoSistema();
    c.banco = &BancoDoSistema();
    return c;
}

CodigoSaida ExecutarJob(Contexto contexto, std::string* evento) {
    // Without it, a run cut short leaves a log that stops mid-step, as if it still ran.
    const bool semJanela = contexto.observador == nullptr;
    const auto log = contexto.dados / "Log" / contexto.arquivoLog;
    plataforma::AoInterromper([semJanela, log, agora = contexto.agora](const std::string& motivo) {
        const std::string texto = TextoInterrupcao(motivo);
        try {
            GravarLinhaLog(log, texto, agora());
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
    const std::string arquivoLog = contexto.arquivoLog;
    const auto r = Execucao(std::move(contexto)).Executar();
    if (evento && r.etapa != Etapa::Nenhuma) {
        *evento = TextoEvento(r.codigo(), r.falha.numero, arquivoLog);
    }
    return r.codigo();
}

CodigoSaida ExecutarBackup(ObservadorJob* observador, std::string* evento) {
    return ExecutarJob(ContextoDoProcesso(observador), evento);
}

} // namespace kelvane
