#include "transferencia.h"

#include "curl.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <vector>

namespace kelvane::plataforma {

namespace {

// A key no server has: with nothing pinned, every host key is refused, and libcurl's refusal
// names the one the server showed.
constexpr const char* kChaveNenhuma = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

std::string Minusculas(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

size_t Descartar(char*, size_t tamanho, size_t n, void*) {
    return tamanho * n;
}

size_t Ler(char* destino, size_t tamanho, size_t n, void* dados) {
    auto* arquivo = static_cast<std::ifstream*>(dados);
    arquivo->read(destino, static_cast<std::streamsize>(tamanho * n));
    if (arquivo->bad()) {
        return CURL_READFUNC_ABORT;
    }
    return static_cast<size_t>(arquivo->gcount());
}

} // namespace

struct Transferencia::Estado {
    DestinoTransferencia d;
    const Curl& curl = CarregarCurl();
    CURL* c = nullptr;
    char erro[CURL_ERROR_SIZE] = {};
    std::string comando;      // the last FTP command sent
    std::string respostaSize; // the reply to SIZE
    std::string tls;
    curl_slist* comandos = nullptr;

    ~Estado() {
        if (c != nullptr) {
            curl.easy_cleanup(c);
        }
        if (comandos != nullptr) {
            curl.slist_free_all(comandos);
        }
    }

    static int Depurar(CURL* c, curl_infotype tipo, char* dados, size_t tamanho, void* p) {
        auto* e = static_cast<Estado*>(p);
        const std::string linha(dados, tamanho);
        if (e->tls.empty() && (tipo == CURLINFO_HEADER_IN || tipo == CURLINFO_HEADER_OUT)) {
            e->tls = TlsDaConexao(e->curl, c);
        }
        if (tipo == CURLINFO_HEADER_OUT) {
            e->comando = linha.substr(0, 5);
        } else if (tipo == CURLINFO_HEADER_IN && e->comando == "SIZE " && e->respostaSize.empty()) {
            e->respostaSize = linha.substr(0, linha.find_last_not_of("\r\n") + 1);
        } else if (tipo == CURLINFO_TEXT && linha.rfind("SSL connection using ", 0) == 0) {
            e->tls = linha.substr(21, linha.find_last_not_of("\r\n") - 20);
        }
        return 0;
    }

    bool Ftp() const { return d.esquema != Esquema::Sftp; }

    std::string Escapar(const std::string& s) const {
        char* e = curl.easy_escape(c, s.c_str(), static_cast<int>(s.size()));
        std::string r = e != nullptr ? e : "";
        curl.free(e);
        return r;
    }

    // The path of `nome` in the folder as the server sees it: SFTP's paths start at the root, so
    // one that does not is the login folder's ("/~/").
    std::string CaminhoSftp(const std::string& nome) const {
        std::string pasta = d.diretorio;
        if (pasta.empty() || pasta.front() != '/') {
            pasta = "/~/" + pasta;
        }
        if (pasta.back() != '/') {
            pasta += '/';
        }
        return pasta + nome;
    }

    std::string Url(const std::string& nome) const {
        const bool ipv6 = d.host.find(':') != std::string::npos;
        std::string url = std::string(d.esquema == Esquema::Sftp   ? "sftp"
                                      : d.esquema == Esquema::Ftps ? "ftps"
                                                                   : "ftp") +
                          "://" + (ipv6 ? "[" + d.host + "]" : d.host) + ":" + d.porta + "/";
        if (Ftp()) {
            // One CWD with the folder as written (an absolute one too), as the uploader does.
            if (!d.diretorio.empty()) {
                url += Escapar(d.diretorio) + "/";
            }
            return url + Escapar(nome);
        }
        const std::string caminho = CaminhoSftp(nome);
        std::string parte;
        for (size_t i = 1; i <= caminho.size(); ++i) {
            if (i == caminho.size() || caminho[i] == '/') {
                url += (parte == "~" ? parte : Escapar(parte)) + (i < caminho.size() ? "/" : "");
                parte.clear();
            } else {
                parte += caminho[i];
            }
        }
        return url;
    }

    std::optional<FalhaTransferencia> Preparar(const std::string& nome) {
        if (curl.easy_init == nullptr) {
            return FalhaTransferencia{curl.erro, {}};
        }
        // A connection of its own for each operation: nothing (folder, state of the server)
        // carries over from one to the next.
        if (c != nullptr) {
            curl.easy_cleanup(c);
        }
        if ((c = curl.easy_init()) == nullptr) {
            return FalhaTransferencia{"libcurl não iniciou", {}};
        }
        if (comandos != nullptr) {
            curl.slist_free_all(comandos);
            comandos = nullptr;
        }
        erro[0] = '\0';
        comando.clear();
        respostaSize.clear();
        const auto o = [&](CURLoption opcao, auto valor) {
            curl.easy_setopt(c, opcao, valor);
        };
        o(CURLOPT_URL, Url(nome).c_str());
        o(CURLOPT_PROTOCOLS_STR, "ftp,ftps,sftp");
        o(CURLOPT_USERNAME, d.usuario.c_str());
        o(CURLOPT_PASSWORD, d.senha.c_str());
        o(CURLOPT_ERRORBUFFER, erro);
        o(CURLOPT_NOSIGNAL, 1L); // may run on the window's worker thread
        o(CURLOPT_PROXY, "");    // straight to the server
        o(CURLOPT_VERBOSE, 1L);  // for Depurar, which keeps only SIZE's reply and TLS's version
        o(CURLOPT_DEBUGFUNCTION, &Estado::Depurar);
        o(CURLOPT_DEBUGDATA, this);
        o(CURLOPT_WRITEFUNCTION, Descartar);
        o(CURLOPT_CONNECTTIMEOUT, static_cast<long>(d.conexao.count()));
        o(CURLOPT_TIMEOUT, static_cast<long>(d.limite.count()));
        if (Ftp()) {
            o(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        }
        if (d.esquema == Esquema::Ftpes || d.esquema == Esquema::Ftps) {
            o(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL)); // control and data
            o(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
            o(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
            o(CURLOPT_SSL_VERIFYPEER, 1L);
            o(CURLOPT_SSL_VERIFYHOST, 2L);
            o(CURLOPT_CERTINFO, 1L);
            if (!d.certificado.empty()) {
                o(CURLOPT_CAINFO, d.certificado.string().c_str());
            }
        }
        if (d.esquema == Esquema::Sftp) {
            o(CURLOPT_SSH_AUTH_TYPES,
              static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
            const std::string chave =
                d.chaveHost.rfind("SHA256:", 0) == 0 ? d.chaveHost.substr(7) : std::string();
            chaveBase64 = chave.empty() ? kChaveNenhuma : chave;
            o(CURLOPT_SSH_HOST_PUBLIC_KEY_SHA256, chaveBase64.c_str());
        }
        return std::nullopt;
    }
    std::string chaveBase64;

    FalhaTransferencia Falha(CURLcode rc) const {
        const std::string detalhe = erro[0] != '\0' ? erro : curl.easy_strerror(rc);
        const std::string d2 = Minusculas(detalhe);
        const std::string nada =
            Ftp() ? "; o usuário e a senha não foram enviados" : "; a senha não foi enviada";
        FalhaTransferencia f;
        if (const auto p = detalhe.find("mismatch sha256 fingerprint. Remote ");
            !Ftp() && p != std::string::npos) {
            const auto ini = p + 36;
            std::string chave = detalhe.substr(ini, detalhe.find(' ', ini) - ini);
            chave.erase(chave.find_last_not_of('=') + 1);
            f.chaveServidor = "SHA256:" + chave;
            f.motivo = (d.chaveHost.empty()
                            ? "a chave do servidor SSH não está registrada em ChaveHostFTP" + nada +
                                  ". Confira com o administrador do servidor se a chave dele é "
                                  "esta e acrescente ao info.ini: ChaveHostFTP=" +
                                  f.chaveServidor
                            : "a chave do servidor SSH (" + f.chaveServidor +
                                  ") não é a registrada em ChaveHostFTP (" + d.chaveHost +
                                  "): pode ser outro servidor no lugar dele" + nada +
                                  ". Se o administrador do servidor confirmar que a chave mudou, "
                                  "troque no info.ini: ChaveHostFTP=" +
                                  f.chaveServidor);
            return f;
        }
        switch (rc) {
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CONNECT_ERROR:
            if (d2.find("expired") != std::string::npos ||
                d2.find("not_time_valid") != std::string::npos) {
                f.motivo = "o certificado do servidor expirou";
            } else if (d2.find("match") != std::string::npos ||
                       d2.find("principal") != std::string::npos) {
                f.motivo = "o certificado do servidor não é do nome " + d.host;
            } else if (rc == CURLE_SSL_CACERT_BADFILE) {
                f.motivo = "o arquivo de CertificadoFTP não pôde ser lido";
            } else if (rc == CURLE_SSL_CONNECT_ERROR) {
                f.motivo = "a conexão TLS falhou (TLS 1.2 ou posterior)";
            } else {
                f.motivo = "o certificado do servidor não é de confiança (um certificado próprio "
                           "ou de uma CA própria vai em CertificadoFTP)";
            }
            f.motivo += nada;
            break;
        case CURLE_USE_SSL_FAILED:
            f.motivo = "o servidor não aceitou TLS (AUTH TLS)" + nada;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
            f.motivo = "o nome do servidor não foi encontrado";
            break;
        case CURLE_COULDNT_CONNECT:
            f.motivo = "o servidor não aceitou a conexão na porta " + d.porta;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            f.motivo = "o servidor não respondeu a tempo";
            break;
        case CURLE_LOGIN_DENIED:
            f.motivo = "o servidor recusou o usuário ou a senha";
            break;
        case CURLE_REMOTE_ACCESS_DENIED:
            f.motivo = "o servidor recusou o acesso à pasta ou ao arquivo";
            break;
        case CURLE_REMOTE_FILE_NOT_FOUND:
            f.motivo = "o arquivo ou a pasta não existe no servidor";
            break;
        case CURLE_UPLOAD_FAILED:
            f.motivo = "o servidor recusou o arquivo";
            break;
        case CURLE_READ_ERROR:
            f.motivo = "o arquivo local não pôde ser lido";
            break;
        default:
            f.motivo = "a transferência falhou";
        }
        f.motivo += " (" + detalhe + ")";
        return f;
    }

    std::optional<FalhaTransferencia> Executar() {
        const CURLcode rc = curl.easy_perform(c);
        if (rc != CURLE_OK) {
            return Falha(rc);
        }
        return std::nullopt;
    }
};

Transferencia::Transferencia(DestinoTransferencia destino) : estado_(std::make_unique<Estado>()) {
    estado_->d = std::move(destino);
}

Transferencia::~Transferencia() = default;

std::optional<FalhaTransferencia> Transferencia::Enviar(const std::filesystem::path& arquivo,
                                                        const std::string& nome) {
    auto& e = *estado_;
    if (auto f = e.Preparar(nome)) {
        return f;
    }
    std::ifstream entrada(arquivo, std::ios::binary);
    std::error_code erro;
    const auto tamanho = std::filesystem::file_size(arquivo, erro);
    if (!entrada || erro) {
        return FalhaTransferencia{"o arquivo local não pôde ser lido", {}};
    }
    e.curl.easy_setopt(e.c, CURLOPT_UPLOAD, 1L);
    e.curl.easy_setopt(e.c, CURLOPT_READFUNCTION, Ler);
    e.curl.easy_setopt(e.c, CURLOPT_READDATA, &entrada);
    e.curl.easy_setopt(e.c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(tamanho));
    return e.Executar();
}

std::optional<FalhaTransferencia> Transferencia::Tamanho(const std::string& nome,
                                                         TamanhoRemoto& tamanho) {
    auto& e = *estado_;
    tamanho = {};
    if (auto f = e.Preparar(nome)) {
        return f;
    }
    e.curl.easy_setopt(e.c, CURLOPT_NOBODY, 1L);
    if (auto f = e.Executar()) {
        return f;
    }
    curl_off_t bytes = -1;
    e.curl.easy_getinfo(e.c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &bytes);
    if (bytes >= 0) {
        tamanho.bytes = static_cast<std::uintmax_t>(bytes);
    } else {
        tamanho.semResposta = e.Ftp() ? e.respostaSize : "o servidor não informou o tamanho";
    }
    return std::nullopt;
}

std::optional<FalhaTransferencia> Transferencia::Renomear(const std::string& de,
                                                          const std::string& para) {
    auto& e = *estado_;
    if (auto f = e.Preparar(de)) {
        return f;
    }
    const auto entre_aspas = [](const std::string& s) {
        std::string r = "\"";
        for (const char ch : s) {
            r += (ch == '"' || ch == '\\') ? std::string("\\") + ch : std::string(1, ch);
        }
        return r + "\"";
    };
    // After the transfer's own commands, in its folder. SFTP's rename does not replace a file
    // (OpenSSH's server), so the old copy goes first ("*": whether there was one or not).
    const std::vector<std::string> comandos =
        e.Ftp() ? std::vector<std::string>{"RNFR " + de, "RNTO " + para}
                : std::vector<std::string>{"*rm " + entre_aspas(e.CaminhoSftp(para)),
                                           "rename " + entre_aspas(e.CaminhoSftp(de)) + " " +
                                               entre_aspas(e.CaminhoSftp(para))};
    for (const auto& linha : comandos) {
        e.comandos = e.curl.slist_append(e.comandos, linha.c_str());
    }
    e.curl.easy_setopt(e.c, CURLOPT_NOBODY, 1L);
    e.curl.easy_setopt(e.c, CURLOPT_POSTQUOTE, e.comandos);
    if (auto f = e.Executar()) {
        f->motivo = "o servidor recusou renomear " + de + " para " + para + ": " + f->motivo;
        return f;
    }
    return std::nullopt;
}

std::optional<FalhaTransferencia> Transferencia::Conectar(DescricaoConexao& descricao) {
    auto& e = *estado_;
    if (auto f = e.Preparar("")) {
        return f;
    }
    e.curl.easy_setopt(e.c, CURLOPT_NOBODY, 1L);
    if (auto f = e.Executar()) {
        return f;
    }
    descricao.protocolo = e.d.esquema == Esquema::Sftp    ? "SFTP (SSH)"
                          : e.d.esquema == Esquema::Ftps  ? "FTPS (TLS implícito)"
                          : e.d.esquema == Esquema::Ftpes ? "FTPES (AUTH TLS)"
                                                          : "FTP";
    descricao.tls = e.tls;
    curl_certinfo* certificados = nullptr;
    if (e.d.esquema == Esquema::Ftpes || e.d.esquema == Esquema::Ftps) {
        e.curl.easy_getinfo(e.c, CURLINFO_CERTINFO, &certificados);
    }
    if (certificados != nullptr && certificados->num_of_certs > 0) {
        for (auto* campo = certificados->certinfo[0]; campo != nullptr; campo = campo->next) {
            const std::string linha = campo->data;
            for (const char* chave : {"Subject:", "Issuer:", "Expire date:"}) {
                if (linha.rfind(chave, 0) == 0) {
                    descricao.certificado += (descricao.certificado.empty() ? "" : "; ") + linha;
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace kelvane::plataforma
