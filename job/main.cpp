#include "main.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/eventos.h"
#include "../plataforma/nomes.h"
#include "../plataforma/processo.h"
#include "../plataforma/sistema.h"
#include "../plataforma/terminal.h"
#include "../settings/configuracao.h"
#include "acompanhamento.h"
#include "backup.h"
#include "log.h"
#include "politica_permissoes.h"
#include "programa.h"
#include "restauracao.h"
#include "textos.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace kelvane {

namespace {

std::string TextoArgumentos(int argc, char** argv) {
    std::string texto;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            texto += ' ';
        }
        texto += argv[i];
    }
    return texto;
}

std::string Maiusculas(std::string texto) {
    for (char& c : texto) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 32);
        }
    }
    return texto;
}

// Sets SenhaArquivo to what is typed twice, or clears it, without a command line or an editor
// ever holding it; scrambled as the file's NCripto says.
// `lida`: info.ini as the permission check read it (its NCripto, which the save keeps).
CodigoSaida DefinirSenhaArquivo(const Configuracao& lida) {
    const std::string chave(NomeChave(&Configuracao::senhaArquivo));
    const std::string arquivo = plataforma::TextoCaminho(ArquivoIni());
    const auto primeira =
        plataforma::LerSemEco("Nova senha dos arquivos (" + chave + "; vazia apaga): ");
    const auto segunda =
        primeira ? plataforma::LerSemEco("Repita a senha: ") : std::optional<std::string>();
    if (!segunda || *primeira != *segunda) {
        std::fprintf(stderr, "Kelvane: %s; nada foi gravado.\n",
                     segunda ? "as duas senhas não conferem"
                             : "a entrada terminou antes das duas respostas");
        return CodigoSaida::ErroOutro;
    }
    if (const auto erro =
            GravarConfiguracao(ArquivoIni(), {{&Configuracao::senhaArquivo, *primeira}})) {
        const std::string motivo =
            erro == std::errc::invalid_argument
                ? "com NCripto diferente de 1 a senha é embaralhada, o que só é possível até 506 "
                  "caracteres e sem tabulações"
                : MotivoGravacao(erro);
        std::fprintf(stderr, "Kelvane: %s não foi gravada em %s: %s.\n", chave.c_str(),
                     arquivo.c_str(), motivo.c_str());
        return CodigoSaida::ErroOutro;
    }
    if (primeira->empty()) {
        std::printf("%s apagada de %s: os próximos arquivos não terão senha.\n", chave.c_str(),
                    arquivo.c_str());
    } else {
        const bool claras = NCriptoEmVigor(lida);
        std::printf("%s gravada em %s (%s). Os próximos arquivos só se abrem com ela: guarde-a "
                    "longe deste computador, sem ela o backup não pode ser restaurado.\n",
                    chave.c_str(), arquivo.c_str(), claras ? "em claro, NCripto=1" : "embaralhada");
    }
    return CodigoSaida::Sucesso;
}

// RESTAURAR's one progress line on a terminal, redrawn in place: the download's bytes and rate,
// then the restore's percent.
class ProgressoTerminal {
public:
    void Baixado(std::uintmax_t bytes, std::uintmax_t total) {
        const auto agora = std::chrono::steady_clock::now();
        if (!inicio_) {
            inicio_ = agora;
        }
        if (bytes == bytes_ ||
            (bytes != total && agora - ultimo_ < std::chrono::milliseconds(250))) {
            return; // redrawn a few times a second at most
        }
        ultimo_ = agora;
        bytes_ = bytes;
        const double segundos = std::chrono::duration<double>(agora - *inicio_).count();
        const double mb = static_cast<double>(bytes) / (1024 * 1024);
        char linha[160];
        std::snprintf(linha, sizeof linha, "\rBaixando: %.1f de %.1f MB (%.1f MB/s)   ", mb,
                      static_cast<double>(total) / (1024 * 1024),
                      segundos > 0 ? mb / segundos : 0.0);
        Escrever(linha);
    }
    void Restaurado(int percentual) {
        char linha[80];
        std::snprintf(linha, sizeof linha, "\rRestaurando: %d%%%40s", percentual, "");
        Escrever(linha);
    }
    void Terminar() {
        if (escrito_) {
            std::fputs("\n", stdout);
            std::fflush(stdout);
        }
    }

private:
    void Escrever(const char* linha) {
        escrito_ = true;
        std::fputs(linha, stdout);
        std::fflush(stdout);
    }
    std::optional<std::chrono::steady_clock::time_point> inicio_;
    std::chrono::steady_clock::time_point ultimo_{};
    std::uintmax_t bytes_ = 0;
    bool escrito_ = false;
};

// What the command line asks for.
struct Pedido {
    bool exec = false;
    bool senhaArquivo = false;
    // RESTAURAR [ARQUIVO] [BANCO]: runs as EXEC does, unattended or not, never the window.
    bool restaurar = false;
    bool listar = false;
    // Whoever opened the window has no stderr to read (a program opened from the desktop): a
    // refusal is shown in a box too, before anything is loaded from the program folder.
    bool janela = false;
    // One of the runs of the command line: the window is not opened.
    bool linha() const { return exec || senhaArquivo || restaurar || listar; }
};

Pedido LerPedido(int argc, char** argv, bool comJanela) {
    const std::string argumentos = Maiusculas(TextoArgumentos(argc, argv));
    Pedido p;
    p.exec = argumentos == "EXEC";
    p.senhaArquivo = argumentos == "SENHAARQUIVO";
    p.restaurar = argc >= 2 && argc <= 4 && Maiusculas(argv[1]) == "RESTAURAR";
    p.listar = argumentos == "LISTAR";
    p.janela = !p.linha() && comJanela;
    return p;
}

// A refusal before any run: stderr, and an unattended run's end also in the system's log, where
// monitoring tools look.
int Recusar(const Pedido& p, CodigoSaida codigo, const std::string& texto) {
    std::fprintf(stderr, "Kelvane: %s\n", texto.c_str());
    if (p.exec) {
        plataforma::RegistrarEvento(ComoInteiro(codigo), "Kelvane: " + texto);
    }
    if (p.janela) {
        std::fflush(stderr);
        plataforma::MostrarCaixaSistema(texto);
    }
    return ComoInteiro(codigo);
}

// The data folder found and, with the program folder, checked before anything is created or read
// there: whoever else could write there could choose what we load, run, read or write. For the
// runs of the command line info.ini is read here, once, as the one check lets it. The refusal's
// line otherwise (the scheduler keeps stderr).
std::optional<std::pair<CodigoSaida, std::string>> ConferirPastas(const Pedido& p,
                                                                  LeituraConfiguracao& lida) {
    auto inseguro = ArquivoPastaDadosInseguro(PastaPrograma());
    if (!inseguro && PastaDados() == PastaPrograma()) {
        try {
            DefinirPastaDados(LocalizarPastaDados(PastaPrograma()));
        } catch (const std::exception& e) {
            return std::pair(CodigoSaida::ErroOutro, std::string(e.what()));
        }
    }
    if (!inseguro && !p.linha() && PastaDados() != PastaPrograma()) {
        // Root's window (the menu's launcher) on the data of SQL Server's account: they stay
        // that account's, and so does the job run-now starts.
        plataforma::AdotarDonoDosDados(PastaDados());
    }
    if (!inseguro) {
        inseguro = PermissaoInsegura(PastaPrograma(), PastaDados(), !p.linha(),
                                     p.linha() ? &lida : nullptr);
    }
    if (inseguro) {
        return std::pair(CodigoSaida::PermissoesInseguras, std::move(*inseguro));
    }
    return std::nullopt;
}

// LISTAR reads the server's folder alone: no log, no lock.
int Listar(const Configuracao& cfg) {
    std::string saida;
    if (const auto falha = ListarArquivos(cfg, TransferenciasDoSistema(), AgoraLocal(), saida)) {
        std::fprintf(stderr, "Kelvane: %s\n", TextoFalha(*falha).c_str());
        return ComoInteiro(falha->codigo);
    }
    std::fputs(saida.c_str(), stdout);
    return ComoInteiro(CodigoSaida::Sucesso);
}

int Restaurar(int argc, char** argv, Configuracao cfg) {
    auto contexto = ContextoDoProcesso(nullptr);
    contexto.configuracao = std::move(cfg);
    const auto a = plataforma::ArgumentosUtf8(argc, argv);
    PedidoRestauracao pedido{argc > 2 ? a[2] : "", argc > 3 ? a[3] : ""};
    ProgressoTerminal terminal;
    if (plataforma::SaidaEmTerminal()) {
        pedido.baixado = [&terminal](std::uintmax_t bytes, std::uintmax_t total) {
            terminal.Baixado(bytes, total);
        };
        pedido.restaurado = [&terminal](int percentual) {
            terminal.Restaurado(percentual);
        };
    }
    const auto r = ExecutarRestauracao(std::move(contexto), pedido);
    terminal.Terminar();
    for (const auto& linha : r.linhas) {
        std::fprintf(stderr, "Kelvane: %s\n", linha.c_str());
    }
    return ComoInteiro(r.codigo());
}

int Exec(Configuracao cfg) {
    if (JobAcompanhado()) {
        // Started by root's window as the data's owner: it reports to that window, as the job
        // run in the window's own process does.
        auto observador = ObservadorPelaSaida();
        auto contexto = ContextoDoProcesso(&observador);
        contexto.configuracao = std::move(cfg);
        return ComoInteiro(ExecutarJob(std::move(contexto)));
    }
    std::string evento;
    auto contexto = ContextoDoProcesso(nullptr);
    contexto.configuracao = std::move(cfg);
    const auto codigo = ExecutarJob(std::move(contexto), &evento);
    plataforma::RegistrarEvento(ComoInteiro(codigo),
                                codigo == CodigoSaida::Sucesso ? "Fim do Processo" : evento);
    return ComoInteiro(codigo);
}

// The run's log named, its folder made (the window's run-now logs there too).
void PrepararLog() {
    ArquivoLog = NomeArquivoLog(AgoraLocal());
    const auto pastaLog = PastaDados() / "Log";
    if (const auto erro = plataforma::CriarPastaSeFaltar(pastaLog)) {
        // The job reports this again when it cannot write its first line.
        std::fprintf(stderr, "Kelvane: não foi possível criar a pasta %s: %s\n",
                     plataforma::TextoCaminho(pastaLog).c_str(), TextoErroSistema(erro).c_str());
    }
}

// The job's own program (Windows' console one), opened from Explorer: its console closes with it,
// so a box says it too.
int SemJanela() {
    const std::string texto =
        std::string(plataforma::kNomeExecutavelJob) +
        " executa o backup com o argumento EXEC (a tarefa agendada); para a janela de "
        "configuração, abra o " +
        std::string(plataforma::kNomeExecutavel) + ", na mesma pasta.";
    std::fprintf(stderr, "Kelvane: %s\n", texto.c_str());
    if (plataforma::ConsoleSoDesteProcesso()) {
        std::fflush(stderr);
        plataforma::MostrarCaixaSistema(texto);
    }
    return ComoInteiro(CodigoSaida::JanelaIndisponivel);
}

} // namespace

int Main(int argc, char** argv, const AbrirJanela& abrirJanela) {
    plataforma::PrepararProcesso();
    const Pedido p = LerPedido(argc, argv, static_cast<bool>(abrirJanela));
    if (PastaPrograma().empty()) {
        try {
            DefinirPastaPrograma(LocalizarPastaPrograma());
        } catch (const plataforma::ErroSistema& e) {
            return Recusar(p, CodigoSaida::ErroOutro, TextoErroSistema(e));
        }
    }
    // The menu's launcher words its own refusals in a box: the window module alone is loaded,
    // whatever the data folder is.
    if (argc == 3 && Maiusculas(argv[1]) == "AVISO" && abrirJanela) {
        if (const auto inseguro =
                CaminhoInseguro(PastaPrograma() / plataforma::kNomeModuloJanela)) {
            return Recusar(p, CodigoSaida::PermissoesInseguras, *inseguro);
        }
        return abrirJanela(argc, argv);
    }
    LeituraConfiguracao lida;
    if (const auto recusa = ConferirPastas(p, lida)) {
        return Recusar(p, recusa->first, recusa->second);
    }
    if (p.senhaArquivo) {
        return ComoInteiro(DefinirSenhaArquivo(lida.valores));
    }
    if (p.listar) {
        return Listar(lida.valores);
    }
    PrepararLog();
    if (p.restaurar) {
        return Restaurar(argc, argv, std::move(lida.valores));
    }
    if (p.exec) {
        return Exec(std::move(lida.valores));
    }
    return abrirJanela ? abrirJanela(argc, argv) : SemJanela();
}

} // namespace kelvane
