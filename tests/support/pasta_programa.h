// A throw-away program folder holding a copy of the built executable and the tools, so that
// each test runs the real program exactly as it is installed.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kelvane::teste {

struct Execucao {
    int codigo = -1;
    std::string saida; // stdout and stderr
};

class PastaTemporaria {
public:
    PastaTemporaria();
    ~PastaTemporaria();
    PastaTemporaria(const PastaTemporaria&) = delete;
    PastaTemporaria& operator=(const PastaTemporaria&) = delete;
    const std::filesystem::path& caminho() const { return caminho_; }

private:
    std::filesystem::path caminho_;
};

class PastaPrograma {
public:
    // With `ferramentas`, 7z, 7z.so and ncftpput are laid in as links to the real tools.
    explicit PastaPrograma(bool ferramentas = true);
    const std::filesystem::path& caminho() const { return pasta_.caminho(); }
    std::filesystem::path ini() const { return caminho() / "info.ini"; }

    // Replaces one tool with the fake tool, driven by these instruction lines.
    void FerramentaFalsa(const std::string& nome, const std::vector<std::string>& instrucoes);
    void EscreverIni(const std::vector<std::pair<std::string, std::string>>& chaves);

    Execucao Executar(const std::vector<std::string>& argumentos) const;
    // The same with no display in reach: DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM and
    // XAUTHORITY unset, then the variables of `ambiente` set.
    using Ambiente = std::vector<std::pair<std::string, std::string>>;
    Execucao ExecutarSemTela(const std::vector<std::string>& argumentos,
                             const Ambiente& ambiente = {}) const;

    // Every log file of the folder, by name.
    std::vector<std::string> ArquivosLog() const;
    // The messages of all log files (the text after "DD/MM/YYYY HH:MM:SS : "), in order.
    std::vector<std::string> MensagensLog() const;
    // The raw lines of all log files.
    std::vector<std::string> LinhasLog() const;

private:
    PastaTemporaria pasta_;
};

std::string LerArquivo(const std::filesystem::path& caminho);
// The file's lines, without their line feeds.
std::vector<std::string> LinhasDoArquivo(const std::filesystem::path& caminho);
void GravarArquivo(const std::filesystem::path& caminho, const std::string& conteudo);
// Runs a command (argument vector) and returns its status and output.
Execucao Rodar(const std::vector<std::string>& argumentos);

} // namespace kelvane::teste

namespace kelvane::teste {
// Runs `f` in a child process that, when the tests run as root, first drops to the unprivileged
// user "nobody" (so that file permissions bind). Returns f's result, or -1 if the child died.
int SemPrivilegio(const std::function<int()>& f);
} // namespace kelvane::teste
