// The uploader: its login file, its argument vector, and one file sent with it.
#pragma once

#include "../plataforma/arquivos.h"
#include "../plataforma/transferencia.h"
#include "execucao.h"
#include "meios.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

struct DadosFtp {
    std::string endereco; // the host, without the scheme
    std::string usuario;
    std::string senha;
    std::string porta;
    std::string diretorio;
    // A connection test: one dial, and a server silent for 20 s fails, so the answer comes at
    // once (by default the uploader redials a refused server twice, 20 s apart).
    bool teste = false;
    plataforma::Esquema esquema = plataforma::Esquema::Ftp;
    std::filesystem::path certificado{}; // CertificadoFTP
    std::string chaveHost{};             // ChaveHostFTP
    // Where a line that is no failure goes (a size the server would not tell).
    std::function<void(const std::string&)> registrar{};
};

// The uploader's login file ("host", "user", "pass" lines), mode 0600 inside a private temporary
// folder, removed with the folder when the object goes away, or by SIGTERM, SIGINT or SIGHUP
// (which also stop the running tool) where the program does not handle those itself. The folder
// is named after the process, and the file stays locked while the object lives, so one left by
// a process that was killed outright is removed by the next upload, and one whose process only
// looks dead from here (another PID namespace, Wine) is not. Throws std::runtime_error when a
// value holds a line break (it would add lines to the file) or the file cannot be made.
class ArquivoLoginFtp {
public:
    explicit ArquivoLoginFtp(const DadosFtp& dados);
    ~ArquivoLoginFtp();
    ArquivoLoginFtp(const ArquivoLoginFtp&) = delete;
    ArquivoLoginFtp& operator=(const ArquivoLoginFtp&) = delete;
    const std::filesystem::path& caminho() const { return arquivo_; }

private:
    std::filesystem::path pasta_;
    std::filesystem::path arquivo_;
    plataforma::Descritor trava_ = plataforma::kSemDescritor;
};

// The suffix of the name an archive is uploaded under until it is whole.
inline constexpr std::string_view kSufixoEnvio = ".parcial";

// <P>/ncftpput -f <login> -P <porta> -F -S .parcial -- <diretorio> <arquivo>: the file arrives
// under a temporary name that is renamed to its own only once the transfer is complete, so a
// broken upload never replaces a good remote copy.
std::vector<std::string> LinhaEnviador(const std::filesystem::path& pasta,
                                       const std::filesystem::path& arquivoLogin,
                                       const std::string& porta, const std::string& diretorio,
                                       const std::filesystem::path& arquivo);

// Sends one file with the uploader; the login file exists only while it runs.
ResultadoProcesso EnviarArquivoFtp(const std::filesystem::path& pasta, const DadosFtp& dados,
                                   const std::filesystem::path& arquivo,
                                   const OpcoesProcesso& opcoes = {},
                                   Programas& programas = ProgramasDoSistema());

} // namespace kelvane
