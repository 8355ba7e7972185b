#include "backup.h"

#include "../settings/conversao.h"
#include "../settings/cripto.h"
#include "../settings/ini.h"
#include "aviso.h"
#include "banco.h"
#include "ferramentas.h"
#include "log.h"
#include "programa.h"
#include "retencao.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <unistd.h>

namespace kelvane {

namespace {

std::mutex gMutexGanchos;
GanchosJanela gGanchos;

GanchosJanela Ganchos() {
    std::lock_guard trava(gMutexGanchos);
    return gGanchos;
}

void CaixaErro(const std::string& texto) {
    if (auto g = Ganchos(); ModoJanela && g.caixaErro) {
        g.caixaErro(texto);
    }
}

// A failure of one step of the job, reported as "Erro: <numero> - <descricao>".
struct ErroEtapa {
    CodigoSaida codigo;
    long numero;
    std::string descricao;
};

std::string Ler(const char* chave) {
    return LerINI(kSecaoInfos, chave, ArquivoIni());
}

std::string Substituir(std::string texto, std::string_view de, std::string_view para) {
    for (auto pos = texto.find(de); pos != std::string::npos;
         pos = texto.find(de, pos + para.size())) {
        texto.replace(pos, de.size(), para);
    }
    return texto;
}

// Held for the whole job, and by each tool the job runs (they inherit the descriptor): the
// kernel lets it go once the process and a tool it left running are both gone.
class TravaJob {
public:
    TravaJob() {
        const auto caminho = PastaPrograma() / "kelvane.lock";
        fd_ = ::open(caminho.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            throw ErroEtapa{CodigoSaida::ErroOutro, errno,
                            "não foi possível abrir " + caminho.string() + ": " +
                                std::strerror(errno)};
        }
        obtida_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~TravaJob() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    TravaJob(const TravaJob&) = delete;
    TravaJob& operator=(const TravaJob&) = delete;
    bool obtida() const { return obtida_; }
    int descritor() const { return fd_; }

private:
    int fd_ = -1;
    bool obtida_ = false;
};

void ExecutarFerramenta(const std::vector<std::string>& linha, const OpcoesProcesso& opcoes,
                        CodigoSaida codigo, const std::string& etapa, const std::string& ferramenta,
                        std::string (*significado)(int)) {
    ResultadoProcesso r;
    try {
        r = ShellEspera(linha, opcoes);
    } catch (const ErroProcesso& e) {
        throw ErroEtapa{codigo, 0, etapa + ": " + e.what()};
    }
    if (!r.sucesso()) {
        throw ErroEtapa{codigo, NumeroFalha(r), DescricaoFalha(etapa, ferramenta, r, significado)};
    }
}

void Excluir(const std::filesystem::path& arquivo) {
    if (::unlink(arquivo.c_str()) != 0 && errno != ENOENT) {
        throw ErroEtapa{CodigoSaida::ErroOutro, errno,
                        "não foi possível excluir " + arquivo.string() + ": " +
                            std::strerror(errno)};
    }
}

// A heartbeat to AvisoURL, when set; one that cannot be delivered is logged and changes nothing.
void Avisar(TipoAviso tipo, const std::string& corpo = {}) {
    const std::string base = Ler("AvisoURL");
    if (base.empty()) {
        return;
    }
    if (const auto falha = EnviarAviso(EnderecoAviso(base, tipo), corpo)) {
        try {
            GravarLog("Aviso de monitoramento não entregue a " + DestinoAviso(base) + ": " +
                      *falha);
        } catch (const ErroLog&) {
        }
    }
}

void Backup(const std::string& sql) {
    const auto ganchos = Ganchos();
    Conexao->Executar(sql, [&](const Diagnostico& d) {
        const int percentual = PercentualProcessado(d.mensagem);
        if (percentual >= 0 && ModoJanela && ganchos.progresso) {
            ganchos.progresso(percentual);
        }
    });
}

} // namespace

void DefinirGanchosJanela(GanchosJanela ganchos) {
    std::lock_guard trava(gMutexGanchos);
    gGanchos = std::move(ganchos);
}

bool ConsultarNCripto() {
    if (auto g = Ganchos(); ModoJanela && g.ncripto) {
        return g.ncripto();
    }
    // Without a window the state comes from the file, as a hidden window's load would set it.
    return NCriptoEmVigor(LerINI(kSecaoInfos, "NCripto", ArquivoIni()));
}

std::string NomeArquivoBackup(const std::string& codigo, const std::string& nome,
                              const std::tm& data) {
    std::string c;
    for (char ch : codigo) {
        if (ch != ' ') {
            c += ch;
        }
    }
    std::string n = Substituir(nome, " ", "_");
    // A separator or NUL would put the file outside the program folder or cut its name.
    for (std::string* s : {&c, &n}) {
        for (char& ch : *s) {
            if (ch == '/' || ch == '\0') {
                ch = '_';
            }
        }
    }
    char dia[40];
    std::snprintf(dia, sizeof dia, "%02d%02d%02d", data.tm_mday, data.tm_mon + 1,
                  (data.tm_year + 1900) % 100);
    return "/KVLN_" + c + "_" + n + "_" + dia + ".BAK";
}

std::string NomeArquivoCompactado(const std::string& nomeBackup) {
    return Substituir(nomeBackup, ".BAK", ".7z");
}

std::string ComandoBackup(const std::string& banco, const std::string& caminho,
                          const std::string& nomeConjunto, bool compressao) {
    return "BACKUP DATABASE [" + Substituir(banco, "]", "]]") + "] TO  DISK = N'" +
           Substituir(caminho, "'", "''") + "' WITH NOFORMAT, INIT, " +
           (compressao ? "COMPRESSION, " : "") + " NAME = N'" +
           Substituir(nomeConjunto, "'", "''") + "', SKIP, NOREWIND, NOUNLOAD,  STATS = 10";
}

CodigoSaida ExecutarBackup() {
    std::vector<std::string> segredos;
    try {
        GravarLog("Inicio do Processo");
        Avisar(TipoAviso::Inicio);
        const TravaJob trava;
        if (!trava.obtida()) {
            const std::string texto =
                "Outro backup já está em execução nesta pasta; este não será executado.";
            GravarLog(texto);
            Avisar(TipoAviso::Falha, texto);
            CaixaErro(texto);
            return CodigoSaida::JobEmExecucao;
        }
        if (const auto faltando = FerramentaFaltando(PastaPrograma())) {
            GravarLog(TextoFaltandoArquivo(*faltando));
            Avisar(TipoAviso::Falha, TextoFaltandoArquivo(*faltando));
            CaixaErro(TextoCaixaFerramentaFaltando(*faltando));
            return CodigoSaida::FerramentaFaltando;
        }
        if (const auto inseguro = PermissaoInsegura(PastaPrograma())) {
            GravarLog(*inseguro);
            CaixaErro(*inseguro);
            return CodigoSaida::PermissoesInseguras;
        }
        if (!ConectarBanco()) {
            GravarLog("Tarefa não executada. SAINDO");
            Avisar(TipoAviso::Falha, "Erro ao conetar no banco");
            return CodigoSaida::ConexaoFalhou;
        }

        const std::string nomeBackup =
            NomeArquivoBackup(Ler("CodigoCliente"), Ler("NomeCliente"), AgoraLocal());
        GravarLog("Backup...: " + Ler("Banco") + " > " + nomeBackup);
        const std::string caminhoBackup = PastaPrograma().string() + nomeBackup;
        const std::string banco = Ler("Banco");
        const std::string conjunto = Ler("CodigoCliente") + " - " + Ler("NomeCliente");
        try {
            try {
                Backup(ComandoBackup(banco, caminhoBackup, conjunto, true));
            } catch (const ErroBanco& e) {
                if (e.numero() != 1844) {
                    throw;
                }
                // Express editions cannot compress backups; 7z still compresses the file.
                GravarLog("O servidor não aceita backup com compressão (edição Express); "
                          "repetindo o backup sem compressão.");
                Backup(ComandoBackup(banco, caminhoBackup, conjunto, false));
            }
        } catch (const ErroBanco& e) {
            throw ErroEtapa{CodigoSaida::BackupFalhou, e.numero(),
                            "Backup do banco falhou: " + e.descricao()};
        }

        const std::string nomeArquivo = NomeArquivoCompactado(nomeBackup);
        const auto caminhoArquivo = std::filesystem::path(PastaPrograma().string() + nomeArquivo);
        Excluir(caminhoArquivo);
        GravarLog("Compactando...: " + nomeArquivo);
        OpcoesProcesso comTrava;
        comTrava.herdar = trava.descritor();
        ExecutarFerramenta(LinhaCompactador(PastaPrograma(), caminhoArquivo, caminhoBackup),
                           comTrava, CodigoSaida::CompactacaoFalhou, "Compactação falhou", "7z",
                           SignificadoCompactador);
        // The .BAK is deleted only once an archive that really holds it exists.
        ExecutarFerramenta(LinhaTesteArquivo(PastaPrograma(), caminhoArquivo), comTrava,
                           CodigoSaida::CompactacaoFalhou, "Teste do arquivo compactado falhou",
                           "7z t", SignificadoCompactador);

        GravarLog("Enviando...: " + nomeArquivo + " > " + Ler("Endereco"));
        const bool ncripto = ConsultarNCripto();
        DadosFtp ftp;
        try {
            ftp.usuario = AplicarNCripto(Ler("Usuario"), ncripto);
            ftp.senha = AplicarNCripto(Ler("Passw"), ncripto);
        } catch (const ErroCripto& e) {
            throw ErroEtapa{CodigoSaida::EnvioFalhou, 0,
                            std::string("Envio falhou: usuário ou senha do FTP ilegível: ") +
                                e.what()};
        }
        segredos.push_back(ftp.senha);
        ftp.porta = Ler("Porta");
        ftp.endereco = Ler("Endereco");
        ftp.diretorio = Ler("Diretorio");
        ResultadoProcesso envio;
        try {
            envio = EnviarArquivoFtp(PastaPrograma(), ftp, caminhoArquivo, comTrava);
        } catch (const std::exception& e) {
            throw ErroEtapa{CodigoSaida::EnvioFalhou, 0, std::string("Envio falhou: ") + e.what()};
        }
        if (!envio.sucesso()) {
            throw ErroEtapa{CodigoSaida::EnvioFalhou, NumeroFalha(envio),
                            DescricaoFalha("Envio falhou", "ncftpput", envio, SignificadoEnviador)};
        }

        GravarLog("Excluindo...: " + nomeBackup);
        Excluir(caminhoBackup);
        if (!GravarValorINI(kSecaoInfos, "Executado", TextoDataGeral(AgoraLocal()), ArquivoIni())) {
            GravarLog("Aviso: não foi possível gravar Executado em " + ArquivoIni().string() +
                      " (arquivo somente leitura ou sem permissão de escrita).");
        }
        GravarLog("Fim do Processo");
        LimparArquivosAntigos(PastaPrograma(), Ler("ManterArquivos"), Ler("CodigoCliente"),
                              Ler("NomeCliente"), nomeArquivo.substr(1));
        Avisar(TipoAviso::Sucesso);
        return CodigoSaida::Sucesso;
    } catch (const ErroEtapa& e) {
        const std::string texto =
            OcultarSegredos("Erro: " + std::to_string(e.numero) + " - " + e.descricao, segredos);
        try {
            GravarLog(texto);
        } catch (const ErroLog& erroLog) {
            std::fprintf(stderr, "Kelvane: %s\nKelvane: %s\n", texto.c_str(), erroLog.what());
        }
        Avisar(TipoAviso::Falha, texto);
        CaixaErro(texto);
        return e.codigo;
    } catch (const ErroLog& e) {
        std::fprintf(stderr, "Kelvane: %s\n", e.what());
        Avisar(TipoAviso::Falha, std::string("Erro: ") + e.what());
        CaixaErro(std::string("Erro: ") + e.what());
        return CodigoSaida::ErroOutro;
    } catch (const std::exception& e) {
        const std::string texto = OcultarSegredos(std::string("Erro: 0 - ") + e.what(), segredos);
        try {
            GravarLog(texto);
        } catch (const ErroLog&) {
            std::fprintf(stderr, "Kelvane: %s\n", texto.c_str());
        }
        Avisar(TipoAviso::Falha, texto);
        CaixaErro(texto);
        return CodigoSaida::ErroOutro;
    }
}

} // namespace kelvane
