// File transfers with the client library (libcurl): the encrypted schemes' uploads, and the size
// of what an FTP server kept, whatever uploaded it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

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
};

struct FalhaTransferencia {
    std::string motivo;        // Portuguese, never the password
    std::string chaveServidor; // SFTP: "SHA256:..." the server showed, when it was not pinned
};

// What the server said about a file's size.
struct TamanhoRemoto {
    std::optional<std::uintmax_t> bytes;
    std::string semResposta; // the server does not answer SIZE: its reply
};

// What a connection established: protocol, TLS, the server's certificate (for a connection test).
struct DescricaoConexao {
    std::string protocolo;
    std::string tls;         // "TLSv1.3 / ..." when the library tells
    std::string certificado; // subject, issuer, valid until
};

// One server session: the operations below reuse its connection.
// One server; each operation on a connection of its own.
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
    // Logs in and opens the folder.
    std::optional<FalhaTransferencia> Conectar(DescricaoConexao& descricao);

private:
    struct Estado;
    std::unique_ptr<Estado> estado_;
};

} // namespace kelvane::plataforma
