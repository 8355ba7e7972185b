// File transfers with the client library (libcurl): the encrypted schemes' uploads, and the size
// of what an FTP server kept (and the deletion of the window's test file), whatever uploaded it;
// the restore's listing and download, every scheme.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::plataforma {

enum class Esquema { Ftp, Ftpes, Ftps, Sftp };

struct DestinoTransferencia {
    Esquema esquema = Esquema::Ftp;
    std::string host;
    std::string porta; // a number
    std::string usuario;
    std::string senha;
    std::string diretorio;             // as the server shows it; empty: the login folder
    std::filesystem::path certificado; // PEM trusted besides the system's store; empty: none
    std::string chaveHost;             // SFTP: "SHA256:<base64>"; empty: none is trusted
    std::chrono::seconds limite{0};    // for each operation; 0: none
    std::chrono::seconds conexao{30};  // for connecting and logging in
    // The window's test: a certificate nothing trusted is fetched to be shown (anonymously).
    bool sondar = false;
};

// A server's certificate as the library told it.
struct CertificadoServidor {
    // Whose ("CN = ..."), by whom, valid until ("DD/MM/AAAA hh:mm:ss GMT" when the library's
    // form is known, its own otherwise).
    std::string titular, emissor, validade;
    std::string impressao; // SHA-256 of the certificate (DER), "AB:CD:..."
    std::string pem;
};

struct FalhaTransferencia {
    std::string motivo; // Portuguese, never the password
    // SFTP: the key the server showed ("SHA256:...") and its type ("ECDSA", "ED25519", "RSA"),
    // when it was not the one pinned.
    std::string chaveServidor{}, tipoChave{};
    // FTPES/FTPS without CertificadoFTP, with `sondar`: the server's own certificate, which
    // nothing trusted (fetched on a connection of its own, where no credential is sent).
    std::optional<CertificadoServidor> certificado{};
    // The port answered as another protocol's server: SSH's, or one whose greeting is not FTP's.
    bool outroProtocolo = false;
    // The server went silent past the operation's limit (`limite`) or the connection's.
    bool tempoEsgotado = false;
};

// What the server said about a file's size.
struct TamanhoRemoto {
    std::optional<std::uintmax_t> bytes;
    std::string semResposta; // the server does not answer SIZE: its reply
};

// What the session's connection established (for a connection test).
struct DescricaoConexao {
    std::string protocolo;
    std::string tls;                                // "TLSv1.3 / ..." when the library tells
    std::optional<CertificadoServidor> certificado; // the server's, when the library tells
    std::string chaveHost, tipoChave; // SFTP: the key the server proved it holds, its type
};

// One server session: the first operation connects and logs in (the certificate or host key
// checked before any credential leaves), the next ones reuse that connection while it lasts.
// Each operation ends within `limite`; connecting and logging in within `conexao`.
class Transferencia {
public:
    explicit Transferencia(DestinoTransferencia destino);
    ~Transferencia();
    Transferencia(const Transferencia&) = delete;
    Transferencia& operator=(const Transferencia&) = delete;

    // Uploads `arquivo` into the folder as `nome`, replacing one there.
    std::optional<FalhaTransferencia> Enviar(const std::filesystem::path& arquivo,
                                             const std::string& nome);
    // The size of `nome` in the folder.
    std::optional<FalhaTransferencia> Tamanho(const std::string& nome, TamanhoRemoto& tamanho);
    // Renames `de` to `para` in the folder, replacing `para`.
    std::optional<FalhaTransferencia> Renomear(const std::string& de, const std::string& para);
    // Deletes `nome` in the folder.
    std::optional<FalhaTransferencia> Apagar(const std::string& nome);
    // Downloads `nome` from the folder into `arquivo`, replacing it; `progresso` (when set) gets
    // the bytes received so far as they arrive, and the whole as the server announced it (0 while
    // unknown).
    std::optional<FalhaTransferencia>
    Baixar(const std::string& nome, const std::filesystem::path& arquivo,
           const std::function<void(std::uintmax_t, std::uintmax_t)>& progresso = {});
    // The names of the files in the folder (the server's listing of names alone).
    std::optional<FalhaTransferencia> Listar(std::vector<std::string>& nomes);
    // The connection of the first operation that succeeded; empty before one did.
    const DescricaoConexao& Descrever() const;

private:
    struct Estado;
    std::unique_ptr<Estado> estado_;
};

} // namespace kelvane::plataforma
