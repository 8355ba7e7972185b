#include "transferencia.h"

#include "../settings/resumo.h"
#include "curl.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <vector>

namespace kelvane::plataforma {

namespace {

// What the library hands the read callback at a time: SFTP keeps as many writes in flight as fit
// in it, so the default 64 KiB caps an upload at a few round trips' worth per round trip.
constexpr long kBufferEnvio = 1024 * 1024;

// The longest wait for a server to close a connection after us: what libcurl gives it to answer
// once a transfer's data has gone.
constexpr std::chrono::seconds kFechamento{60};

// How long a new SFTP connection waits for the server's first bytes before libssh2 speaks: an SSH
// server sends its greeting at once, and one that waits for the client's loses this much.
constexpr std::chrono::milliseconds kEsperaSaudacao{3000};

// Whether a connection's first bytes are an FTP reply: a three-digit code, then a space or "-".
bool RespostaFtp(std::string_view linha) {
    const auto digito = [&](std::size_t i) {
        return linha.size() > i && std::isdigit(static_cast<unsigned char>(linha[i]));
    };
    return digito(0) && digito(1) && digito(2) &&
           (linha.size() == 3 || linha[3] == ' ' || linha[3] == '-' || linha[3] == '\r');
}

// The longest time limit libcurl takes (INT_MAX ms); a longer one would be refused, leaving the
// previous operation's in force.
long Segundos(std::chrono::seconds s) {
    return static_cast<long>(std::min<std::int64_t>(s.count(), INT_MAX / 1000));
}

std::string Minusculas(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A path in an SFTP command line.
std::string EntreAspas(const std::string& s) {
    std::string r = "\"";
    for (const char ch : s) {
        r += (ch == '"' || ch == '\\') ? std::string("\\") + ch : std::string(1, ch);
    }
    return r + "\"";
}

// OpenSSL's "Jan  6 13:48:59 2027 GMT" as "06/01/2027 13:48:59 GMT"; another form as it is.
std::string DataNumerica(const std::string& data) {
    static const std::string meses = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char mes[4] = {};
    int dia = 0, ano = 0;
    char hora[9] = {};
    char zona[4] = {};
    const auto m = meses.find(data.substr(0, 3));
    if (data.size() < 3 || m == std::string::npos || m % 3 != 0 ||
        std::sscanf(data.c_str(), "%3s %d %8s %d %3s", mes, &dia, hora, &ano, zona) != 5) {
        return data;
    }
    char r[40];
    std::snprintf(r, sizeof r, "%02d/%02zu/%04d %s %s", dia, m / 3 + 1, ano, hora, zona);
    return r;
}

size_t Descartar(char*, size_t tamanho, size_t n, void*) {
    return tamanho * n;
}

// The first certificate of the chain libcurl gathered (the server's own), or nullopt.
std::optional<CertificadoServidor> PrimeiroCertificado(const curl_certinfo* certificados) {
    if (certificados == nullptr || certificados->num_of_certs <= 0) {
        return std::nullopt;
    }
    CertificadoServidor r;
    for (auto* campo = certificados->certinfo[0]; campo != nullptr; campo = campo->next) {
        const std::string linha = campo->data;
        const auto valor = [&](const char* chave) {
            const std::string c = chave;
            return linha.rfind(c, 0) == 0 && linha.size() > c.size()
                       ? linha.substr(linha.find_first_not_of(' ', c.size()))
                       : std::string();
        };
        for (auto [chave, destino] :
             {std::pair{"Subject:", &r.titular}, std::pair{"Issuer:", &r.emissor},
              std::pair{"Expire date:", &r.validade}, std::pair{"Cert:", &r.pem}}) {
            if (const auto v = valor(chave); !v.empty()) {
                *destino = v;
            }
        }
    }
    r.validade = DataNumerica(r.validade);
    const auto ini = r.pem.find('\n'), fim = r.pem.find("-----END");
    if (ini != std::string::npos && fim != std::string::npos && ini < fim) {
        if (const auto der = DeBase64(r.pem.substr(ini, fim - ini))) {
            r.impressao = HexadecimalComDoisPontos(Sha256(*der));
        }
    }
    return r;
}

// The names OpenSSH gives the types of host key.
const char* TipoChave(int tipo) {
    switch (tipo) {
    case CURLKHTYPE_RSA1:
    case CURLKHTYPE_RSA:
        return "RSA";
    case CURLKHTYPE_DSS:
        return "DSA";
    case CURLKHTYPE_ECDSA:
        return "ECDSA";
    case CURLKHTYPE_ED25519:
        return "ED25519";
    default:
        return "de tipo desconhecido";
    }
}

size_t Gravar(char* dados, size_t tamanho, size_t n, void* destino) {
    auto* arquivo = static_cast<std::ofstream*>(destino);
    arquivo->write(dados, static_cast<std::streamsize>(tamanho * n));
    return arquivo->good() ? tamanho * n : 0;
}

size_t Acrescentar(char* dados, size_t tamanho, size_t n, void* destino) {
    static_cast<std::string*>(destino)->append(dados, tamanho * n);
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
    DescricaoConexao descricao;
    std::chrono::steady_clock::time_point inicio; // of the operation under way
    // SFTP: the key the server showed, its type, and whether it was refused.
    std::string chaveVista, tipoVisto;
    bool chaveRecusada = false;
    // FTP: the connection's first line is yet to come; it came and was not an FTP reply.
    bool aguardandoSaudacao = false, outroProtocolo = false;
    std::vector<curl_socket_t> abertos; // the sockets libcurl has open, the newest last
    std::function<void(std::uintmax_t, std::uintmax_t)> progresso; // the download under way's

    ~Estado() {
        if (c != nullptr) {
            inicio = std::chrono::steady_clock::now(); // the goodbye is one more exchange
            curl.easy_cleanup(c);
        }
        if (comandos != nullptr) {
            curl.slist_free_all(comandos);
        }
    }

    static int Depurar(CURL* c, curl_infotype tipo, char* dados, size_t tamanho, void* p) {
        // Called for every block of the file too: only the protocol's lines are looked at.
        if (tipo != CURLINFO_TEXT && tipo != CURLINFO_HEADER_IN && tipo != CURLINFO_HEADER_OUT) {
            return 0;
        }
        auto* e = static_cast<Estado*>(p);
        const std::string linha(dados, tamanho);
        if (e->tls.empty() && (tipo == CURLINFO_HEADER_IN || tipo == CURLINFO_HEADER_OUT)) {
            e->tls = TlsDaConexao(e->curl, c);
        }
        if (tipo == CURLINFO_HEADER_IN && e->aguardandoSaudacao && e->Ftp()) {
            // An SSH server greets with "SSH-", a TLS one (FTPS's port) answers nothing.
            e->aguardandoSaudacao = false;
            e->outroProtocolo = !RespostaFtp(linha);
        }
        if (tipo == CURLINFO_TEXT && !e->Ftp() && linha.rfind("Connected to ", 0) == 0 &&
            !e->abertos.empty()) {
            // Connected, and libssh2 has not read yet: an FTP server's greeting ends it here
            // (the others of the name's addresses were closed before this was said).
            if (RespostaFtp(EspiarInicio(e->abertos.back(), kEsperaSaudacao))) {
                e->outroProtocolo = true;
                InterromperConexao(e->abertos.back());
            }
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

    // Every connection ends with the server having read all that was sent: its upload whole, and
    // no reset that would make it throw away the end (within the operation's limit).
    static int Fechar(void* p, curl_socket_t s) {
        auto* e = static_cast<Estado*>(p);
        std::erase(e->abertos, s);
        const auto agora = std::chrono::steady_clock::now();
        const auto passado = std::chrono::duration_cast<std::chrono::seconds>(agora - e->inicio);
        // (A limit too long to add to a clock's time is never the nearer end.)
        FecharConexao(s, e->d.limite.count() > 0 && e->d.limite - passado < kFechamento
                             ? e->inicio + e->d.limite
                             : agora + kFechamento);
        return 0;
    }

    bool Ftp() const { return d.esquema != Esquema::Sftp; }

    // A new connection: its greeting is the next line (the data connections' sockets come
    // after it, and the reply that follows them starts with a code too).
    static int NovoSocket(void* p, curl_socket_t s, curlsocktype) {
        auto* e = static_cast<Estado*>(p);
        e->aguardandoSaudacao = true;
        e->abertos.push_back(s);
        return CURL_SOCKOPT_OK;
    }

    // Called as the transfer goes on, right after each read too: a first line that is not an
    // FTP reply ends it there instead of at the time limit (an SSH server, for one, then waits
    // for the client to speak).
    static int Progresso(void* p, curl_off_t total, curl_off_t recebidos, curl_off_t, curl_off_t) {
        auto* e = static_cast<Estado*>(p);
        if (e->progresso && recebidos > 0) {
            e->progresso(static_cast<std::uintmax_t>(recebidos),
                         static_cast<std::uintmax_t>(std::max<curl_off_t>(total, 0)));
        }
        return e->outroProtocolo ? 1 : 0;
    }

    // SFTP: the host key, checked against ChaveHostFTP by its SHA-256 (as OpenSSH shows it).
    static int ConferirChave(void* p, int tipo, const char* chave, size_t tamanho) {
        auto* e = static_cast<Estado*>(p);
        const auto resumo = Sha256(std::string_view(chave, tamanho));
        e->chaveVista =
            "SHA256:" +
            Base64(std::string_view(reinterpret_cast<const char*>(resumo.data()), resumo.size()),
                   false);
        e->tipoVisto = TipoChave(tipo);
        std::string fixada = e->d.chaveHost;
        fixada.erase(fixada.find_last_not_of('=') + 1);
        e->chaveRecusada = fixada != e->chaveVista;
        return e->chaveRecusada ? CURLKHMATCH_MISMATCH : CURLKHMATCH_OK;
    }

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
        // One handle for the session: it keeps the connection for the next operation.
        if (c == nullptr && (c = curl.easy_init()) == nullptr) {
            return FalhaTransferencia{"libcurl não iniciou", {}};
        }
        if (comandos != nullptr) {
            curl.slist_free_all(comandos);
            comandos = nullptr;
        }
        erro[0] = '\0';
        chaveRecusada = outroProtocolo = false;
        comando.clear();
        respostaSize.clear();
        const auto o = [&](CURLoption opcao, auto valor) {
            curl.easy_setopt(c, opcao, valor);
        };
        o(CURLOPT_URL, Url(nome).c_str());
        // What an earlier operation set for itself.
        o(CURLOPT_UPLOAD, 0L);
        o(CURLOPT_NOBODY, 0L);
        o(CURLOPT_POSTQUOTE, static_cast<curl_slist*>(nullptr));
        o(CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
        o(CURLOPT_READDATA, static_cast<void*>(nullptr));
        o(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
        o(CURLOPT_PROTOCOLS_STR, "ftp,ftps,sftp");
        o(CURLOPT_USERNAME, d.usuario.c_str());
        o(CURLOPT_PASSWORD, d.senha.c_str());
        o(CURLOPT_ERRORBUFFER, erro);
        o(CURLOPT_NOSIGNAL, 1L); // may run on the window's worker thread
        o(CURLOPT_PROXY, "");    // straight to the server
        o(CURLOPT_VERBOSE, 1L);  // for Depurar, which keeps only SIZE's reply and TLS's version
        o(CURLOPT_DEBUGFUNCTION, &Estado::Depurar);
        o(CURLOPT_DEBUGDATA, this);
        o(CURLOPT_SOCKOPTFUNCTION, &Estado::NovoSocket);
        o(CURLOPT_SOCKOPTDATA, this);
        o(CURLOPT_NOPROGRESS, 0L);
        o(CURLOPT_XFERINFOFUNCTION, &Estado::Progresso);
        o(CURLOPT_XFERINFODATA, this);
        o(CURLOPT_WRITEFUNCTION, Descartar);
        o(CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
        o(CURLOPT_DIRLISTONLY, 0L);
        o(CURLOPT_CLOSESOCKETFUNCTION, &Estado::Fechar);
        o(CURLOPT_CLOSESOCKETDATA, this);
        o(CURLOPT_CONNECTTIMEOUT, Segundos(d.conexao));
        o(CURLOPT_TIMEOUT, Segundos(d.limite));
        // FTP's control connection stays silent during a long upload: a router that forgets it
        // meanwhile would leave the end of the transfer unheard until the time limit.
        o(CURLOPT_TCP_KEEPALIVE, 1L);
        o(CURLOPT_UPLOAD_BUFFERSIZE, kBufferEnvio);
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
            o(CURLOPT_SSH_HOSTKEYFUNCTION, &Estado::ConferirChave);
            o(CURLOPT_SSH_HOSTKEYDATA, this);
        }
        return std::nullopt;
    }

    // The server's certificate, on a connection of its own that trusts it only to read it:
    // anonymous, so no credential of ours goes to a server nobody vouched for.
    std::optional<CertificadoServidor> Sondar() const {
        CURL* s = curl.easy_init();
        if (s == nullptr) {
            return std::nullopt;
        }
        const bool ipv6 = d.host.find(':') != std::string::npos;
        const std::string url = std::string(d.esquema == Esquema::Ftps ? "ftps" : "ftp") + "://" +
                                (ipv6 ? "[" + d.host + "]" : d.host) + ":" + d.porta + "/";
        const auto o = [&](CURLoption opcao, auto valor) {
            curl.easy_setopt(s, opcao, valor);
        };
        o(CURLOPT_URL, url.c_str());
        o(CURLOPT_PROTOCOLS_STR, "ftp,ftps");
        o(CURLOPT_NOBODY, 1L);
        o(CURLOPT_NOSIGNAL, 1L);
        o(CURLOPT_PROXY, "");
        o(CURLOPT_CONNECTTIMEOUT, Segundos(d.conexao));
        o(CURLOPT_TIMEOUT, Segundos(d.conexao));
        o(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        o(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        o(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        o(CURLOPT_SSL_VERIFYPEER, 0L);
        o(CURLOPT_SSL_VERIFYHOST, 0L);
        o(CURLOPT_CERTINFO, 1L);
        curl.easy_perform(s); // the anonymous login may well be refused: the certificate came first
        curl_certinfo* certificados = nullptr;
        curl.easy_getinfo(s, CURLINFO_CERTINFO, &certificados);
        auto r = PrimeiroCertificado(certificados);
        curl.easy_cleanup(s);
        if (!r || r->impressao.empty()) {
            return std::nullopt;
        }
        return r;
    }

    FalhaTransferencia Falha(CURLcode rc) const {
        const std::string detalhe = erro[0] != '\0' ? erro : curl.easy_strerror(rc);
        const std::string d2 = Minusculas(detalhe);
        const std::string nada =
            Ftp() ? "; o usuário e a senha não foram enviados" : "; a senha não foi enviada";
        FalhaTransferencia f;
        if (outroProtocolo) {
            f.outroProtocolo = true;
            f.motivo = Ftp() ? "o servidor não respondeu como um servidor FTP na porta " + d.porta +
                                   " (é de outro protocolo, como o SSH: para SFTP, use sftp:// "
                                   "no endereço)" +
                                   nada
                             : "o servidor respondeu como um servidor FTP na porta " + d.porta +
                                   ", não como um servidor SSH (para FTP, use ftp:// ou ftpes:// "
                                   "no endereço; o SFTP costuma estar na porta 22)" +
                                   nada;
            return f;
        }
        if (!Ftp() && chaveRecusada) {
            f.chaveServidor = chaveVista;
            f.tipoChave = tipoVisto;
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
            } else if (rc == CURLE_SSL_CACERT_BADFILE && !d.certificado.empty()) {
                f.motivo = "o arquivo de CertificadoFTP não pôde ser lido";
            } else if (rc == CURLE_SSL_CACERT_BADFILE) {
                // No CertificadoFTP: the system's trust store is missing (Debian: ca-certificates).
                f.motivo = "os certificados de confiança do sistema não puderam ser lidos "
                           "(no Debian, o pacote ca-certificates)";
            } else if (rc == CURLE_SSL_CONNECT_ERROR) {
                f.motivo = "a conexão TLS falhou (TLS 1.2 ou posterior)";
            } else {
                f.motivo = "o certificado do servidor não é de confiança (um certificado próprio "
                           "ou de uma CA própria vai em CertificadoFTP)";
                if (d.certificado.empty() && d.sondar) {
                    f.certificado = Sondar();
                }
            }
            f.motivo += nada;
            break;
        case CURLE_WEIRD_SERVER_REPLY: {
            // A greeting other than 220, among others.
            long codigo = 0;
            curl.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &codigo);
            f.motivo = "o servidor respondeu fora do esperado de um servidor FTP" +
                       (codigo > 0 ? " (código " + std::to_string(codigo) + ")" : std::string());
            break;
        }
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
            f.tempoEsgotado = true;
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
        inicio = std::chrono::steady_clock::now();
        const CURLcode rc = curl.easy_perform(c);
        if (rc != CURLE_OK) {
            return Falha(rc);
        }
        if (descricao.protocolo.empty()) {
            Descrever();
        }
        return std::nullopt;
    }

    // The certificate is told only by the operation whose handshake it was.
    void Descrever() {
        descricao.protocolo = d.esquema == Esquema::Sftp    ? "SFTP (SSH)"
                              : d.esquema == Esquema::Ftps  ? "FTPS (TLS implícito)"
                              : d.esquema == Esquema::Ftpes ? "FTPES (AUTH TLS)"
                                                            : "FTP, sem criptografia";
        descricao.tls = tls;
        if (d.esquema == Esquema::Sftp) {
            descricao.chaveHost = chaveVista;
            descricao.tipoChave = tipoVisto;
        }
        curl_certinfo* certificados = nullptr;
        if (d.esquema == Esquema::Ftpes || d.esquema == Esquema::Ftps) {
            curl.easy_getinfo(c, CURLINFO_CERTINFO, &certificados);
            descricao.certificado = PrimeiroCertificado(certificados);
        }
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
    // After the transfer's own commands, in its folder. SFTP's rename does not replace a file
    // (OpenSSH's server), so the old copy goes first ("*": whether there was one or not).
    const std::vector<std::string> comandos =
        e.Ftp() ? std::vector<std::string>{"RNFR " + de, "RNTO " + para}
                : std::vector<std::string>{"*rm " + EntreAspas(e.CaminhoSftp(para)),
                                           "rename " + EntreAspas(e.CaminhoSftp(de)) + " " +
                                               EntreAspas(e.CaminhoSftp(para))};
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

std::optional<FalhaTransferencia> Transferencia::Apagar(const std::string& nome) {
    auto& e = *estado_;
    if (auto f = e.Preparar("")) {
        return f;
    }
    const std::string linha = e.Ftp() ? "DELE " + nome : "rm " + EntreAspas(e.CaminhoSftp(nome));
    e.comandos = e.curl.slist_append(e.comandos, linha.c_str());
    e.curl.easy_setopt(e.c, CURLOPT_NOBODY, 1L);
    e.curl.easy_setopt(e.c, CURLOPT_POSTQUOTE, e.comandos);
    if (auto f = e.Executar()) {
        f->motivo = "o servidor recusou apagar " + nome + ": " + f->motivo;
        return f;
    }
    return std::nullopt;
}

std::optional<FalhaTransferencia>
Transferencia::Baixar(const std::string& nome, const std::filesystem::path& arquivo,
                      const std::function<void(std::uintmax_t, std::uintmax_t)>& progresso) {
    auto& e = *estado_;
    if (auto f = e.Preparar(nome)) {
        return f;
    }
    std::ofstream saida(arquivo, std::ios::binary | std::ios::trunc);
    if (!saida) {
        return FalhaTransferencia{"o arquivo local não pôde ser criado", {}};
    }
    e.curl.easy_setopt(e.c, CURLOPT_WRITEFUNCTION, Gravar);
    e.curl.easy_setopt(e.c, CURLOPT_WRITEDATA, static_cast<void*>(&saida));
    e.progresso = progresso;
    auto f = e.Executar();
    e.progresso = nullptr;
    saida.close();
    if (!f && !saida) {
        return FalhaTransferencia{"o arquivo local não pôde ser gravado", {}};
    }
    return f;
}

std::optional<FalhaTransferencia> Transferencia::Listar(std::vector<std::string>& nomes) {
    auto& e = *estado_;
    nomes.clear();
    if (auto f = e.Preparar("")) {
        return f;
    }
    std::string lista;
    e.curl.easy_setopt(e.c, CURLOPT_DIRLISTONLY, 1L);
    e.curl.easy_setopt(e.c, CURLOPT_WRITEFUNCTION, Acrescentar);
    e.curl.easy_setopt(e.c, CURLOPT_WRITEDATA, static_cast<void*>(&lista));
    if (auto f = e.Executar()) {
        return f;
    }
    for (size_t i = 0; i < lista.size();) {
        auto fim = lista.find('\n', i);
        if (fim == std::string::npos) {
            fim = lista.size();
        }
        std::string nome = lista.substr(i, fim - i);
        if (!nome.empty() && nome.back() == '\r') {
            nome.pop_back();
        }
        if (!nome.empty() && nome != "." && nome != "..") {
            nomes.push_back(nome);
        }
        i = fim + 1;
    }
    return std::nullopt;
}

const DescricaoConexao& Transferencia::Descrever() const {
    return estado_->descricao;
}

} // namespace kelvane::plataforma
