// Running a tool and the termination registry, once for both systems over the primitives of
// processo_sistema.h.
#include "processo_sistema.h"

#include <atomic>
#include <csignal>
#include <string>

namespace kelvane::plataforma {

using namespace interno;

namespace {

// What a termination request must not leave behind: the tool at work (it would go on competing
// with the next run) and the uploader's login file (a password on disk). The job runs one tool at
// a time. Read by a signal handler on Linux: lock-free atomics and plain arrays only.
std::atomic<IdFilho> gFilho{0};
std::atomic<bool> gLoginPronto{false};
static_assert(std::atomic<IdFilho>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
constexpr std::size_t kMaximoCaminho = 32768;
std::filesystem::path::value_type gLoginArquivo[kMaximoCaminho];
std::filesystem::path::value_type gLoginPasta[kMaximoCaminho];

std::mutex gRegistroTrava;
std::mutex gInicioTrava;
std::function<void(const std::string&)> gRegistrar;
std::atomic<bool> gInterrompido{false};

} // namespace

std::optional<ErroSistema> interno::Executar(const Partida& partida, std::chrono::seconds limite,
                                             const std::function<void(std::int64_t)>& aoIniciar,
                                             const Saida& saida, FimPrograma& fim) {
    fim = FimPrograma{};
    std::unique_ptr<Ferramenta> ferramenta;
    if (auto erro = Iniciar(partida, ferramenta)) {
        return erro;
    }
    const auto prazo = Prazo(limite);
    if (aoIniciar) {
        aoIniciar(ferramenta->Id());
    }
    // The tool's end, its output and its limit each wake this thread; nothing else does.
    bool terminou = false;
    while (!terminou && !ferramenta->Falhou()) {
        if (!fim.parado && std::chrono::steady_clock::now() >= prazo) {
            ferramenta->Matar();
            fim.parado = true;
        }
        terminou = ferramenta->Aguardar(fim.parado ? Instante::max() : prazo, saida);
    }
    if (terminou) {
        ferramenta->Esvaziar(saida);
    } else {
        ferramenta->Abandonar();
    }
    RegistrarFilho(0);
    AguardarSeInterrompido(); // the tool was stopped for it: its end is no failure to report
    return ferramenta->Resultado(terminou, fim);
}

std::unique_lock<std::mutex> interno::TravarInicio() {
    return std::unique_lock(gInicioTrava);
}

void interno::RegistrarFilho(IdFilho filho) {
    gFilho = filho;
}

void interno::Limpar() {
    PararFilho(gFilho.load());
    if (gLoginPronto.load()) {
        ApagarLogin(gLoginArquivo, gLoginPasta);
    }
}

void interno::Interromper(const char* motivo, int sinal) {
    if (gInterrompido.exchange(true)) {
        for (;;) {
            Dormir();
        }
    }
    {
        std::lock_guard trava(gRegistroTrava);
        if (gRegistrar) {
            try {
                gRegistrar(motivo);
            } catch (...) { // the process ends as the request ends it all the same
            }
        }
    }
    gInicioTrava.lock();
    Limpar();
    TerminarComo(sinal);
}

std::optional<ErroSistema>
ExecutarPrograma(const std::vector<std::string>& argumentos, Descritor herdar,
                 std::chrono::seconds limite, const std::function<void(std::int64_t)>& aoIniciar,
                 const std::function<void(const char*, std::size_t)>& saida, FimPrograma& fim,
                 const std::string& entrada) {
    return Executar({argumentos, herdar, entrada, AmbienteFerramenta()}, limite, aoIniciar, saida,
                    fim);
}

void ApagarAoTerminar(const std::filesystem::path& arquivo, const std::filesystem::path& pasta) {
    InstalarLimpezaAoTerminar();
    const auto& a = arquivo.native();
    const auto& p = pasta.native();
    if (a.size() < kMaximoCaminho && p.size() < kMaximoCaminho) {
        gLoginPronto = false;
        std::copy(a.c_str(), a.c_str() + a.size() + 1, gLoginArquivo);
        std::copy(p.c_str(), p.c_str() + p.size() + 1, gLoginPasta);
        gLoginPronto = true;
    }
}

void EsquecerAoTerminar() {
    gLoginPronto = false;
}

void AoInterromper(std::function<void(const std::string& motivo)> registrar) {
    std::lock_guard trava(gRegistroTrava);
    gRegistrar = std::move(registrar);
}

void EsquecerInterrupcao() {
    AoInterromper(nullptr);
}

void InterromperAgora(const std::string& motivo) {
    Interromper(motivo.c_str(), SIGTERM);
}

void AguardarSeInterrompido() {
    while (gInterrompido) {
        Dormir();
    }
}

} // namespace kelvane::plataforma
