// The Windows side of apoio.cpp, for the window's suite built as a Windows program and run under
// Wine: Linux programs (the test servers, 7z, bash) run through Wine's ntdll, as
// tests/windows/ponte.cpp does, with Windows paths in their arguments made Linux ones.
#include "apoio.h"
#include "plataforma/sistema.h"

#include <chrono>
#include <cstdlib>
#include <random>
#include <regex>
#include <thread>
#include <windows.h>

namespace kelvane::teste {

namespace {

// Runs argv (argv[0] a Linux program) and waits: its output goes to `saida` (a Linux path).
long SpawnLinux(const std::vector<std::string>& argv, const std::string& saida,
                const std::string& entrada = "/dev/null") {
    using Executar = long(__cdecl*)(char* const*, int);
    static const auto executar = reinterpret_cast<Executar>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    if (!executar) {
        throw std::runtime_error("a suíte do Windows roda sob o Wine");
    }
    std::vector<std::string> args{"/bin/sh", "-c", "e=$1; shift; exec \"$@\" >\"$0\" 2>&1 <\"$e\"",
                                  saida, entrada};
    for (const auto& a : argv) {
        args.push_back(CaminhoLinux(a));
    }
    std::vector<char*> ponteiros;
    for (auto& a : args) {
        ponteiros.push_back(a.data());
    }
    ponteiros.push_back(nullptr);
    return executar(ponteiros.data(), 1);
}

std::string ArquivoTemporarioLinux() {
    static int n = 0;
    return "/tmp/kelvane-apoio." + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(++n);
}

} // namespace

std::string CaminhoLinux(const std::string& argumento) {
    // "Z:\a\b" and "--opcao=Z:\a\b": Wine's Z: is the Linux root.
    static const std::regex windows(R"(^(--[a-z-]+=)?[Zz]:\\(.*)$)");
    std::smatch m;
    if (!std::regex_match(argumento, m, windows)) {
        return argumento;
    }
    std::string resto = m[2];
    std::replace(resto.begin(), resto.end(), '\\', '/');
    return m[1].str() + "/" + resto;
}

Execucao Rodar(const std::vector<std::string>& argv, const std::string& entrada) {
    const std::string saida = ArquivoTemporarioLinux();
    const std::string arquivoEntrada = entrada.empty() ? "/dev/null" : ArquivoTemporarioLinux();
    if (!entrada.empty()) {
        Gravar(Sistema().Caminho(arquivoEntrada), entrada);
    }
    const long r = SpawnLinux(argv, saida, arquivoEntrada);
    if (!entrada.empty()) {
        fs::remove(Sistema().Caminho(arquivoEntrada));
    }
    const fs::path arquivo = Sistema().Caminho(saida);
    Execucao e{r >= 0 && r <= 255 ? int(r) : 127, Ler(arquivo)};
    fs::remove(arquivo);
    return e;
}

const Alvo& Sistema() {
    // This program is the build under test; the Windows build's folder is the one above its own.
    static const Alvo alvo{true, plataforma::PastaDoExecutavel().parent_path(), ".exe", "\\"};
    return alvo;
}

Pasta::Pasta() {
    // Not below /tmp (nor a clone there): Wine shows no sticky bit. The Windows cache is ours
    // alone (scripts/ambiente_windows.sh, which starts this program, names it).
    const char* cache = std::getenv("KELVANE_CACHE");
    if (cache == nullptr || *cache != '/') {
        throw std::runtime_error("KELVANE_CACHE não definido: rode pelo CTest");
    }
    const fs::path base = fs::path(Sistema().Caminho(cache)) / "testes";
    fs::create_directories(base);
    std::mt19937 aleatorio{std::random_device{}()};
    do {
        p = base / ("kelvane-teste." + std::to_string(aleatorio() % 1000000));
    } while (!fs::create_directory(p));
}

Servidor::Servidor(const std::string& script, const std::vector<std::string>& argumentos,
                   const std::vector<std::string>& envolver) {
    // The server writes to a file, in the background, watched by a shell that ends it when this
    // process ($PPID of the command Wine starts) ends without the destructor.
    const std::string arquivo = ArquivoTemporarioLinux();
    std::vector<std::string> argv{
        "/bin/sh", "-c",
        "d=$PPID; \"$@\" >\"$0\" 2>&1 </dev/null & s=$!; (while kill -0 $d && kill -0 $s; do "
        "sleep 1; done; kill $s) >/dev/null 2>&1 </dev/null &",
        arquivo};
    argv.insert(argv.end(), envolver.begin(), envolver.end());
    argv.insert(argv.end(), {"/usr/bin/python3", "-I", KELVANE_SERVIDORES "/" + script});
    argv.insert(argv.end(), argumentos.begin(), argumentos.end());
    SpawnLinux(argv, "/dev/null");
    const fs::path saidaWindows = Sistema().Caminho(arquivo);
    long long numero = 0;
    for (int i = 0; i < 300 && numero <= 0; ++i) { // 30 s at most
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::sscanf(Ler(saidaWindows).c_str(), "LISTENING %d %lld", &porta, &numero);
    }
    pid = static_cast<pid_t>(numero);
    fs::remove(saidaWindows); // the server keeps writing to it, unnamed
    if (pid <= 0) {
        throw std::runtime_error("servidor de teste não iniciou: " + script);
    }
}

Servidor::~Servidor() {
    Rodar({"/bin/kill", "-TERM", std::to_string(pid)});
}

} // namespace kelvane::teste
