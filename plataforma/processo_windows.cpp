#include "comum_windows.h"
#include "processo_sistema.h"

#include <aclapi.h>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>

namespace kelvane::plataforma {

namespace {

using win::Largo;

constexpr DWORD kCompartilharTudo = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The login file's lock: one byte far past any content (byte 2^62), which stops no reader. Wine
// keeps it as a POSIX lock on the same byte, which a job on Linux sharing the folder sees.
bool TravarVida(HANDLE h) {
    OVERLAPPED posicao{};
    posicao.OffsetHigh = 0x40000000;
    return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &posicao);
}

// The tools run inside this job object: closing its last handle, which happens when this process
// ends however it ends, ends them and whatever they started (a lock inherited by a tool does not
// outlive us on Windows, so the tool must not either).
HANDLE gJob = nullptr;

const char* Motivo(DWORD evento) {
    switch (evento) {
    case CTRL_C_EVENT:
        return "Ctrl+C";
    case CTRL_BREAK_EVENT:
        return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
        return "console fechado";
    case CTRL_LOGOFF_EVENT:
        return "logoff";
    case CTRL_SHUTDOWN_EVENT:
        return "desligamento do Windows";
    default:
        return nullptr;
    }
}
// The system runs it on a new thread of its own, whatever the job's thread is blocked in.
BOOL WINAPI AoTerminar(DWORD evento) {
    const char* motivo = Motivo(evento);
    if (motivo == nullptr) {
        return FALSE;
    }
    interno::Interromper(motivo, SIGTERM);
}

// One argument as the Microsoft C runtime (and CommandLineToArgvW) reads it back: quoted when it
// is empty or holds blanks or quotes; inside quotes, a run of backslashes is doubled before a
// quote (and before the closing one) and the quote escaped.
void AcrescentarArgumento(std::wstring& linha, const std::wstring& argumento) {
    if (!argumento.empty() && argumento.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        linha += argumento;
        return;
    }
    linha += L'"';
    for (auto c = argumento.begin();; ++c) {
        std::size_t barras = 0;
        while (c != argumento.end() && *c == L'\\') {
            ++c;
            ++barras;
        }
        if (c == argumento.end()) {
            linha.append(barras * 2, L'\\');
            break;
        }
        if (*c == L'"') {
            linha.append(barras * 2 + 1, L'\\');
        } else {
            linha.append(barras, L'\\');
        }
        linha += *c;
    }
    linha += L'"';
}

ErroSistema Falha(Operacao operacao, const std::string& programa, DWORD erro = GetLastError()) {
    return ErroSistema(operacao, win::CodigoDe(erro), programa, static_cast<long>(erro));
}

// Closes what it holds on every way out.
struct Handles {
    HANDLE leitura = nullptr;
    HANDLE escrita = nullptr;
    HANDLE nulo = INVALID_HANDLE_VALUE;
    HANDLE processo = nullptr;
    HANDLE entradaLeitura = nullptr; // the tool's stdin, when it is given bytes
    HANDLE entradaEscrita = nullptr;
    HANDLE escritor = nullptr; // the thread that writes them
    LPPROC_THREAD_ATTRIBUTE_LIST atributos = nullptr;

    ~Handles() {
        if (escritor != nullptr) {
            // A tool that ended without reading all of it (or something it started that holds
            // the pipe) must not keep the write waiting; the thread closes its end itself.
            if (WaitForSingleObject(escritor, 0) == WAIT_TIMEOUT) {
                CancelSynchronousIo(escritor);
            }
            CloseHandle(escritor);
        }
        for (HANDLE h : {leitura, escrita, processo, entradaLeitura, entradaEscrita}) {
            if (h != nullptr) {
                CloseHandle(h);
            }
        }
        if (nulo != INVALID_HANDLE_VALUE) {
            CloseHandle(nulo);
        }
        if (atributos != nullptr) {
            DeleteProcThreadAttributeList(atributos);
            HeapFree(GetProcessHeap(), 0, atributos);
        }
    }
};

// Writes the tool's input and closes the pipe, on a thread of its own: a tool that does not read
// cannot block the wait for its end. Owns what it is given.
struct Entrada {
    HANDLE escrita;
    std::string bytes;
};

DWORD WINAPI EscreverEntrada(LPVOID parametro) {
    const std::unique_ptr<Entrada> e(static_cast<Entrada*>(parametro));
    std::size_t feito = 0;
    while (feito < e->bytes.size()) {
        DWORD escrito = 0;
        if (!WriteFile(e->escrita, e->bytes.data() + feito,
                       static_cast<DWORD>(e->bytes.size() - feito), &escrito, nullptr) ||
            escrito == 0) {
            break; // the tool is gone, or the write was cancelled
        }
        feito += escrito;
    }
    CloseHandle(e->escrita);
    return 0;
}

// The tool's output: a pipe whose reading end is waited on together with the tool's end and its
// limit. An anonymous pipe cannot be (it knows no overlapped I/O), so this is a named one of a
// single instance with a name no one can guess, connected at once by its writing end, which the
// tool inherits. Only SYSTEM, the Administrators and this account may open it, no other computer
// may, and a pipe of that name made first by another program is refused.
bool CriarCanalSaida(HANDLE& leitura, HANDLE& escrita) {
    static std::atomic<unsigned> contador{0};
    std::random_device acaso;
    const std::wstring nome = L"\\\\.\\pipe\\kelvane-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(++contador) + L"-" + std::to_wstring(acaso()) +
                              std::to_wstring(acaso());
    win::SegurancaPrivada seguranca(false);
    if (seguranca.atributos() == nullptr) {
        leitura = escrita = nullptr;
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    leitura = CreateNamedPipeW(
        nome.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536,
        0, seguranca.atributos());
    if (leitura == INVALID_HANDLE_VALUE) {
        leitura = escrita = nullptr;
        return false;
    }
    SECURITY_ATTRIBUTES herdavel{sizeof herdavel, nullptr, TRUE};
    escrita = CreateFileW(nome.c_str(), GENERIC_WRITE, 0, &herdavel, OPEN_EXISTING,
                          SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
    if (escrita == INVALID_HANDLE_VALUE) {
        const DWORD erro = GetLastError();
        CloseHandle(leitura);
        leitura = escrita = nullptr;
        SetLastError(erro);
        return false;
    }
    return true;
}

// One read of the tool's output at a time, in flight while the tool runs; its event is set when
// bytes arrive or every writer is gone.
class LeituraSaida {
public:
    using Saida = std::function<void(const char*, std::size_t)>;
    explicit LeituraSaida(HANDLE canal) : canal_(canal) {
        pedido_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~LeituraSaida() {
        Cancelar(nullptr);
        if (pedido_.hEvent != nullptr) {
            CloseHandle(pedido_.hEvent);
        }
    }
    LeituraSaida(const LeituraSaida&) = delete;
    LeituraSaida& operator=(const LeituraSaida&) = delete;

    HANDLE evento() const { return pedido_.hEvent; }
    bool pendente() const { return pendente_; }

    // Starts a read unless one is in flight; what is there already is handed to `saida` at once.
    void Pedir(const Saida& saida) {
        while (aberta_ && !pendente_) {
            DWORD lidos = 0;
            if (ReadFile(canal_, bloco_, sizeof bloco_, &lidos, &pedido_)) {
                Entregar(lidos, saida);
            } else if (GetLastError() == ERROR_IO_PENDING) {
                pendente_ = true;
            } else {
                aberta_ = false; // ERROR_BROKEN_PIPE: every writer is gone
            }
        }
    }
    // The read in flight has ended (its event is set): hands its bytes to `saida`.
    void Concluir(const Saida& saida) {
        DWORD lidos = 0;
        pendente_ = false;
        if (GetOverlappedResult(canal_, &pedido_, &lidos, FALSE)) {
            Entregar(lidos, saida);
        } else {
            aberta_ = false;
        }
    }
    // What the tool wrote before it ended, and no more: something it started may hold the pipe
    // and keep writing. The read in flight is cancelled (what it got is kept), then exactly the
    // bytes the pipe holds now are read; each read asks no more than is there, so none waits.
    void Esvaziar(const Saida& saida) {
        Cancelar(&saida);
        DWORD resta = 0;
        if (!aberta_ || !PeekNamedPipe(canal_, nullptr, 0, nullptr, &resta, nullptr)) {
            return;
        }
        while (resta > 0) {
            DWORD lidos = 0;
            const DWORD pedir = std::min<DWORD>(resta, sizeof bloco_);
            if (!ReadFile(canal_, bloco_, pedir, &lidos, &pedido_) &&
                (GetLastError() != ERROR_IO_PENDING ||
                 !GetOverlappedResult(canal_, &pedido_, &lidos, TRUE))) {
                return;
            }
            if (lidos == 0) {
                return;
            }
            saida(bloco_, lidos);
            resta -= std::min(resta, lidos);
        }
    }

private:
    void Entregar(DWORD lidos, const Saida& saida) {
        if (lidos > 0) {
            saida(bloco_, lidos);
        }
    }
    // The buffer and the request must outlive the read: cancelled and waited for. A read that
    // had already ended keeps its bytes, handed to `saida` when there is one.
    void Cancelar(const Saida* saida) {
        if (pendente_) {
            CancelIoEx(canal_, &pedido_);
            DWORD lidos = 0;
            if (GetOverlappedResult(canal_, &pedido_, &lidos, TRUE) && saida != nullptr) {
                Entregar(lidos, *saida);
            }
            pendente_ = false;
        }
    }

    HANDLE canal_;
    OVERLAPPED pedido_{};
    char bloco_[16384];
    bool aberta_ = true;
    bool pendente_ = false;
};

// The command line the C runtime splits back into `argumentos`, or why there is none.
std::optional<ErroSistema> LinhaDeComando(const std::vector<std::string>& argumentos,
                                          std::wstring& linha) {
    for (const auto& a : argumentos) {
        // The command line is one NUL-terminated string: the rest would be lost.
        if (a.find('\0') != std::string::npos) {
            return ErroSistema(Operacao::ArgumentoComNul, {}, argumentos[0]);
        }
        if (!linha.empty()) {
            linha += L' ';
        }
        AcrescentarArgumento(linha, Largo(a));
    }
    return std::nullopt;
}

// A tool started by CreateProcessW inside the tools' job object, its output read from a named
// pipe. The job object holds only this tool and what it started (this process runs one tool at a
// time).
class FerramentaWindows final : public interno::Ferramenta {
public:
    explicit FerramentaWindows(std::string programa) : programa_(std::move(programa)) {}

    std::optional<ErroSistema> Iniciar(const interno::Partida& partida) {
        std::wstring linha;
        if (auto erro = LinhaDeComando(partida.argumentos, linha)) {
            return erro;
        }
        win::IniciarJobFerramentas();
        interno::InstalarLimpezaAoTerminar();
        if (auto erro = Canais(partida.entrada)) {
            return erro;
        }
        if (auto erro = Atributos(partida.herdar)) {
            return erro;
        }
        if (auto erro = Criar(linha)) {
            return erro;
        }
        Soltar(partida.entrada);
        return std::nullopt;
    }

    std::int64_t Id() const override { return id_; }

    bool Aguardar(interno::Instante prazo, const interno::Saida& saida) override {
        leitura_->Pedir(saida);
        // Its end first: something it started that keeps writing cannot hide it. What it wrote
        // before is taken after (Esvaziar).
        const HANDLE eventos[2] = {h_.processo, leitura_->evento()};
        const auto espera = interno::MilissegundosAte(prazo, INFINITE - 1);
        const DWORD r = WaitForMultipleObjects(leitura_->pendente() ? 2 : 1, eventos, FALSE,
                                               espera < 0 ? INFINITE : static_cast<DWORD>(espera));
        if (r == WAIT_FAILED) {
            erro_ = GetLastError();
            falhou_ = true;
        } else if (r == WAIT_OBJECT_0 + 1) {
            leitura_->Concluir(saida);
        }
        return r == WAIT_OBJECT_0;
    }

    bool Falhou() const override { return falhou_; }

    void Matar() override {
        if (gJob != nullptr) {
            TerminateJobObject(gJob, 1);
        }
        TerminateProcess(h_.processo, 1); // outside the job when it could not be assigned
    }

    void Esvaziar(const interno::Saida& saida) override { leitura_->Esvaziar(saida); }

    // Its end unknown, it is left to the job object, which ends it with this process.
    void Abandonar() override {}

    std::optional<ErroSistema> Resultado(bool terminou, FimPrograma& fim) override {
        DWORD codigo = 0;
        if (terminou && !GetExitCodeProcess(h_.processo, &codigo)) {
            terminou = false;
            erro_ = GetLastError();
        }
        if (!terminou) {
            return Falha(Operacao::ConhecerFim, programa_, erro_);
        }
        fim.codigo = static_cast<int>(codigo);
        fim.sinal = 0;
        return std::nullopt;
    }

private:
    // Its output's pipe and its input: a pipe that will hold `entrada`, or the null device.
    std::optional<ErroSistema> Canais(const std::string& entrada) {
        SECURITY_ATTRIBUTES herdavel{sizeof herdavel, nullptr, TRUE};
        if (!CriarCanalSaida(h_.leitura, h_.escrita)) {
            return Falha(Operacao::CriarCanalSaida, {});
        }
        if (leitura_.emplace(h_.leitura).evento() == nullptr) {
            return Falha(Operacao::CriarCanalSaida, {});
        }
        if (!entrada.empty()) {
            if (!CreatePipe(&h_.entradaLeitura, &h_.entradaEscrita, &herdavel,
                            static_cast<DWORD>(entrada.size()))) {
                h_.entradaLeitura = h_.entradaEscrita = nullptr;
                return Falha(Operacao::CriarCanalEntrada, {});
            }
            SetHandleInformation(h_.entradaEscrita, HANDLE_FLAG_INHERIT, 0);
        } else {
            h_.nulo = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &herdavel, OPEN_EXISTING, 0, nullptr);
            if (h_.nulo == INVALID_HANDLE_VALUE) {
                return Falha(Operacao::AbrirDispositivoNulo, programa_);
            }
        }
        entrada_ = h_.entradaLeitura != nullptr ? h_.entradaLeitura : h_.nulo;
        return std::nullopt;
    }

    // Only these handles reach the tool, whatever else this process holds inheritable.
    std::optional<ErroSistema> Atributos(Descritor herdar) {
        HANDLE lista[3] = {h_.escrita, entrada_};
        DWORD quantos = 2;
        if (herdar != kSemDescritor) {
            lista[quantos++] = reinterpret_cast<HANDLE>(herdar);
        }
        SIZE_T tamanho = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &tamanho);
        h_.atributos =
            static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, tamanho));
        if (h_.atributos == nullptr ||
            !InitializeProcThreadAttributeList(h_.atributos, 1, 0, &tamanho)) {
            if (h_.atributos != nullptr) {
                HeapFree(GetProcessHeap(), 0, h_.atributos);
                h_.atributos = nullptr;
            }
            return Falha(Operacao::PrepararExecucao, programa_);
        }
        if (!UpdateProcThreadAttribute(h_.atributos, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, lista,
                                       quantos * sizeof(HANDLE), nullptr, nullptr)) {
            return Falha(Operacao::PrepararExecucao, programa_);
        }
        return std::nullopt;
    }

    // The program is named apart, so nothing is searched for it; suspended until it is in the
    // job, so that nothing it starts escapes. Its output goes to the pipes above, so it needs no
    // console: one made for each tool (CREATE_NO_WINDOW) costs a console host process per start,
    // and a shared one would hand it our console's close and Ctrl+C events.
    std::optional<ErroSistema> Criar(std::wstring& linha) {
        STARTUPINFOEXW inicio{};
        inicio.StartupInfo.cb = sizeof inicio;
        inicio.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        inicio.StartupInfo.hStdInput = entrada_;
        inicio.StartupInfo.hStdOutput = h_.escrita;
        inicio.StartupInfo.hStdError = h_.escrita;
        inicio.lpAttributeList = h_.atributos;
        PROCESS_INFORMATION processo{};
        const std::wstring aplicacao = Largo(programa_);
        auto criando = interno::TravarInicio();
        for (int tentativa = 1;; ++tentativa) {
            if (CreateProcessW(aplicacao.c_str(), linha.data(), nullptr, nullptr, TRUE,
                               DETACHED_PROCESS | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                               nullptr, nullptr, &inicio.StartupInfo, &processo)) {
                break;
            }
            // A new process that died before its first instruction (seen under Wine, now and
            // then, while other programs start) is reported as ERROR_INTERNAL_ERROR. Nothing of
            // the tool ran, so it is started again; any other failure is final.
            if (GetLastError() != ERROR_INTERNAL_ERROR || tentativa == 3) {
                return Falha(Operacao::ExecutarPrograma, programa_);
            }
            Sleep(250);
        }
        h_.processo = processo.hProcess;
        id_ = processo.dwProcessId;
        // Inside a job of the scheduler's too: jobs nest since Windows 8. Where this fails the
        // tool runs on outside it, and a termination request still ends it.
        if (gJob != nullptr) {
            AssignProcessToJobObject(gJob, processo.hProcess);
        }
        interno::RegistrarFilho(reinterpret_cast<interno::IdFilho>(processo.hProcess));
        criando.unlock();
        ResumeThread(processo.hThread);
        CloseHandle(processo.hThread);
        return std::nullopt;
    }

    // Ours closed, the pipes end when the tool and what it started are done with them; its input
    // written on a thread of its own.
    void Soltar(const std::string& entrada) {
        CloseHandle(h_.escrita);
        h_.escrita = nullptr;
        if (h_.nulo != INVALID_HANDLE_VALUE) {
            CloseHandle(h_.nulo);
            h_.nulo = INVALID_HANDLE_VALUE;
        }
        if (h_.entradaLeitura == nullptr) {
            return;
        }
        CloseHandle(h_.entradaLeitura); // the tool's end: once it is gone, a write fails
        h_.entradaLeitura = nullptr;
        auto* dados = new Entrada{h_.entradaEscrita, entrada};
        h_.entradaEscrita = nullptr;
        h_.escritor = CreateThread(nullptr, 0, EscreverEntrada, dados, 0, nullptr);
        if (h_.escritor == nullptr) {
            // The tool reads the end of its input at once and fails for want of it.
            CloseHandle(dados->escrita);
            delete dados;
        }
    }

    std::string programa_;
    Handles h_;
    std::optional<LeituraSaida> leitura_; // cancelled before the handles it reads close
    HANDLE entrada_ = nullptr;            // the tool's stdin
    DWORD id_ = 0;
    DWORD erro_ = 0; // of the failed wait
    bool falhou_ = false;
};

} // namespace

void win::IniciarJobFerramentas() {
    static std::once_flag uma;
    std::call_once(uma, [] {
        HANDLE job = CreateJobObjectW(nullptr, nullptr);
        if (job == nullptr) {
            return;
        }
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limites{};
        limites.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limites,
                                     sizeof limites)) {
            CloseHandle(job);
            return;
        }
        gJob = job;
    });
}

// The window runs as the account that owns the data: there is no other account's to adopt.
bool AdotarDonoDosDados(const std::filesystem::path&) {
    return false;
}

bool DonoDosDadosAdotado() {
    return false;
}

std::int64_t IdDonoDosDados() {
    return -1;
}

ComoDonoDosDados::ComoDonoDosDados() = default;
ComoDonoDosDados::~ComoDonoDosDados() = default;

std::optional<ErroSistema>
ExecutarComoDonoDosDados(const std::vector<std::string>&, const std::vector<std::string>&,
                         const std::function<void(std::int64_t)>&,
                         const std::function<void(const char*, std::size_t)>&, FimPrograma& fim) {
    fim = FimPrograma{};
    return ErroSistema(Operacao::SemDonoAdotado, {});
}

std::int64_t IdProcesso() {
    return GetCurrentProcessId();
}

bool ProcessoVivo(std::int64_t pid) {
    const HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 static_cast<DWORD>(pid));
    if (h == nullptr) {
        // No such process; one we may not open may be alive.
        return GetLastError() != ERROR_INVALID_PARAMETER;
    }
    const bool vivo = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return vivo;
}

std::filesystem::path PastaTemporaria() {
    wchar_t temporaria[MAX_PATH + 2] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temporaria);
    std::wstring texto(temporaria, n > 0 && n <= MAX_PATH + 1 ? n : 0);
    while (texto.size() > 3 && (texto.back() == L'\\' || texto.back() == L'/')) {
        texto.pop_back();
    }
    std::filesystem::path pasta(texto);
    if (!pasta.is_absolute()) {
        // TMP naming an unset variable or a relative folder would put the login file wherever
        // the job was started from.
        wchar_t sistema[MAX_PATH] = {};
        const UINT m = GetWindowsDirectoryW(sistema, MAX_PATH);
        pasta = std::filesystem::path(m > 0 && m < MAX_PATH ? sistema : L"C:\\Windows") / L"Temp";
    }
    return pasta;
}

std::optional<std::filesystem::path> CriarPastaPrivada(const std::filesystem::path& pasta,
                                                       const std::string& inicio,
                                                       std::error_code& erro) {
    erro.clear();
    win::SegurancaPrivada seguranca(true);
    if (seguranca.atributos() == nullptr) {
        // Never a folder others could enter.
        erro = std::make_error_code(std::errc::permission_denied);
        return std::nullopt;
    }
    static constexpr char kLetras[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::mt19937_64 sorteio(std::random_device{}() ^ GetTickCount64());
    for (int tentativa = 0; tentativa < 100; ++tentativa) {
        std::string nome = inicio;
        for (int i = 0; i < 6; ++i) {
            nome += kLetras[sorteio() % (sizeof kLetras - 1)];
        }
        auto caminho = pasta / Caminho(nome);
        if (CreateDirectoryW(caminho.c_str(), seguranca.atributos())) {
            return caminho;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            erro = win::UltimoErro();
            return std::nullopt;
        }
    }
    erro = std::make_error_code(std::errc::file_exists);
    return std::nullopt;
}

bool PastaPropria(const std::filesystem::path& pasta) {
    const DWORD atributos = GetFileAttributesW(pasta.c_str());
    if (atributos == INVALID_FILE_ATTRIBUTES || (atributos & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (atributos & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    PSID dono = nullptr;
    PSECURITY_DESCRIPTOR descritor = nullptr;
    if (GetNamedSecurityInfoW(pasta.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &dono,
                              nullptr, nullptr, nullptr, &descritor) != ERROR_SUCCESS) {
        return false;
    }
    const bool nossa = win::Identidade::Processo().Nossa(dono);
    LocalFree(descritor);
    return nossa;
}

Descritor CriarArquivoPrivado(const std::filesystem::path& arquivo, const std::string& conteudo,
                              std::error_code& erro) {
    win::SegurancaPrivada seguranca(false);
    if (seguranca.atributos() == nullptr) {
        erro = std::make_error_code(std::errc::permission_denied);
        return kSemDescritor;
    }
    const HANDLE h = CreateFileW(arquivo.c_str(), GENERIC_WRITE, kCompartilharTudo,
                                 seguranca.atributos(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        erro = win::UltimoErro();
        return kSemDescritor;
    }
    // The lock is kept on a handle that only reads: the uploader may open the file without
    // sharing write access. Taken while the file is still empty; where it cannot be, the file is
    // made all the same (a stale file stays rather than a live one going).
    const HANDLE trava = CreateFileW(arquivo.c_str(), GENERIC_READ, kCompartilharTudo, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    erro.clear();
    if (trava == INVALID_HANDLE_VALUE) {
        erro = win::UltimoErro();
    } else {
        TravarVida(trava);
        DWORD escrito = 0;
        if (!WriteFile(h, conteudo.data(), static_cast<DWORD>(conteudo.size()), &escrito,
                       nullptr)) {
            erro = win::UltimoErro();
        } else if (escrito != conteudo.size()) {
            erro = std::make_error_code(std::errc::io_error); // a short write gives no reason
        }
    }
    if (!CloseHandle(h) && !erro) {
        erro = win::UltimoErro();
    }
    if (erro) {
        if (trava != INVALID_HANDLE_VALUE) {
            CloseHandle(trava);
        }
        return kSemDescritor;
    }
    return reinterpret_cast<Descritor>(trava);
}

bool ArquivoPrivadoAbandonado(const std::filesystem::path& arquivo) {
    const HANDLE h = CreateFileW(arquivo.c_str(), GENERIC_READ, kCompartilharTudo, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The size first: its owner locks it before writing, so content seen means a lock taken.
    LARGE_INTEGER tamanho{};
    const bool abandonado = GetFileSizeEx(h, &tamanho) && tamanho.QuadPart > 0 && TravarVida(h);
    CloseHandle(h); // and with it the lock just taken
    return abandonado;
}

std::optional<ErroSistema> interno::Iniciar(const Partida& partida,
                                            std::unique_ptr<Ferramenta>& ferramenta) {
    auto nova = std::make_unique<FerramentaWindows>(partida.argumentos[0]);
    auto erro = nova->Iniciar(partida);
    ferramenta = std::move(nova);
    return erro;
}

std::vector<std::string> interno::AmbienteFerramenta() {
    return {};
}

void interno::PararFilho(IdFilho filho) {
    if (gJob != nullptr) {
        TerminateJobObject(gJob, 1);
    }
    if (filho != 0) {
        TerminateProcess(reinterpret_cast<HANDLE>(filho), 1); // outside the job if not assigned
    }
}

void interno::ApagarLogin(const wchar_t* arquivo, const wchar_t* pasta) {
    DeleteFileW(arquivo);
    RemoveDirectoryW(pasta);
}

void interno::InstalarLimpezaAoTerminar() {
    static std::once_flag uma;
    std::call_once(uma, [] { SetConsoleCtrlHandler(AoTerminar, TRUE); });
}

// Ended as the system's handler ends it, and never with status 0 (Wine's does), so a scheduler
// sees that the run was cut.
void interno::TerminarComo(int) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    for (;;) {
        Sleep(INFINITE);
    }
}

void interno::Dormir() {
    Sleep(INFINITE);
}

void TratarTerminacao() {
    interno::InstalarLimpezaAoTerminar();
}

} // namespace kelvane::plataforma
