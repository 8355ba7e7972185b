#include "pasta_programa.h"

#include "job/ferramentas.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace kelvane::teste {

namespace fs = std::filesystem;

PastaTemporaria::PastaTemporaria() {
    const char* tmp = std::getenv("TMPDIR");
    std::string modelo = std::string(tmp && *tmp ? tmp : "/tmp") + "/kelvane-teste.XXXXXX";
    if (::mkdtemp(modelo.data()) == nullptr) {
        throw std::runtime_error("mkdtemp falhou");
    }
    caminho_ = modelo;
}

PastaTemporaria::~PastaTemporaria() {
    std::error_code e;
    // Undo read-only modes that tests set, so the whole tree can go.
    for (auto it = fs::recursive_directory_iterator(caminho_, e);
         !e && it != fs::recursive_directory_iterator(); it.increment(e)) {
        if (it->is_directory(e) && !it->is_symlink(e)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, e);
        }
    }
    fs::permissions(caminho_, fs::perms::owner_all, fs::perm_options::add, e);
    fs::remove_all(caminho_, e);
}

PastaPrograma::PastaPrograma(bool ferramentas) {
    fs::copy_file(KELVANE_EXECUTAVEL, caminho() / "kelvane");
    fs::copy_file(KELVANE_MODULO_JANELA, caminho() / "kelvane-janela.so");
    if (ferramentas) {
        fs::create_symlink("/usr/lib/p7zip/7z", caminho() / "7z");
        fs::create_symlink("/usr/lib/p7zip/7z.so", caminho() / "7z.so");
        fs::create_symlink("/usr/bin/ncftpput", caminho() / "ncftpput");
    }
}

void PastaPrograma::FerramentaFalsa(const std::string& nome,
                                    const std::vector<std::string>& instrucoes) {
    std::error_code e;
    fs::remove(caminho() / nome, e);
    fs::copy_file(KELVANE_FERRAMENTA_FALSA, caminho() / nome);
    std::string texto;
    for (const auto& i : instrucoes) {
        texto += i + "\n";
    }
    GravarArquivo(caminho() / (nome + ".comportamento"), texto);
}

void PastaPrograma::EscreverIni(const std::vector<std::pair<std::string, std::string>>& chaves) {
    std::string texto = "[infos]\n";
    for (const auto& [chave, valor] : chaves) {
        texto += chave + "=" + valor + "\n";
    }
    GravarArquivo(ini(), texto);
}

Execucao PastaPrograma::Executar(const std::vector<std::string>& argumentos) const {
    std::vector<std::string> linha{(caminho() / "kelvane").string()};
    linha.insert(linha.end(), argumentos.begin(), argumentos.end());
    return Rodar(linha);
}

Execucao PastaPrograma::ExecutarSemTela(const std::vector<std::string>& argumentos,
                                        const Ambiente& ambiente) const {
    // The child inherits this environment; put it back afterwards.
    std::vector<std::pair<std::string, std::optional<std::string>>> guardadas;
    for (const char* nome : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"}) {
        const char* v = std::getenv(nome);
        guardadas.emplace_back(nome, v ? std::optional<std::string>(v) : std::nullopt);
        ::unsetenv(nome);
    }
    for (const auto& [nome, valor] : ambiente) {
        ::setenv(nome.c_str(), valor.c_str(), 1);
    }
    const auto r = Executar(argumentos);
    for (const auto& [nome, valor] : guardadas) {
        if (valor) {
            ::setenv(nome.c_str(), valor->c_str(), 1);
        } else {
            ::unsetenv(nome.c_str());
        }
    }
    return r;
}

std::vector<std::string> PastaPrograma::ArquivosLog() const {
    std::vector<std::string> nomes;
    std::error_code e;
    for (const auto& item : fs::directory_iterator(caminho() / "Log", e)) {
        nomes.push_back(item.path().filename().string());
    }
    std::sort(nomes.begin(), nomes.end());
    return nomes;
}

std::vector<std::string> PastaPrograma::LinhasLog() const {
    std::vector<std::string> linhas;
    for (const auto& nome : ArquivosLog()) {
        const auto doArquivo = LinhasDoArquivo(caminho() / "Log" / nome);
        linhas.insert(linhas.end(), doArquivo.begin(), doArquivo.end());
    }
    return linhas;
}

std::vector<std::string> PastaPrograma::MensagensLog() const {
    std::vector<std::string> mensagens;
    for (const auto& linha : LinhasLog()) {
        // "DD/MM/YYYY HH:MM:SS : " is 22 characters
        mensagens.push_back(linha.size() >= 22 ? linha.substr(22) : linha);
    }
    return mensagens;
}

std::string LerArquivo(const fs::path& caminho) {
    std::ifstream entrada(caminho, std::ios::binary);
    std::ostringstream s;
    s << entrada.rdbuf();
    return s.str();
}

std::vector<std::string> LinhasDoArquivo(const fs::path& caminho) {
    std::vector<std::string> linhas;
    std::istringstream entrada(LerArquivo(caminho));
    for (std::string l; std::getline(entrada, l);) {
        linhas.push_back(l);
    }
    return linhas;
}

void GravarArquivo(const fs::path& caminho, const std::string& conteudo) {
    std::ofstream saida(caminho, std::ios::binary | std::ios::trunc);
    saida << conteudo;
}

Execucao Rodar(const std::vector<std::string>& argumentos) {
    const auto r = ShellEspera(argumentos);
    return {r.sinal ? 128 + r.sinal : r.codigo, r.saida};
}

} // namespace kelvane::teste

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvane::teste {

int SemPrivilegio(const std::function<int()>& f) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
                ::_exit(99);
            }
        }
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace kelvane::teste
