#include "regras.h"

#include "codificacao.h"
#include "cripto.h"
#include "nomes_arquivo.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

namespace kelvane {

namespace {

constexpr std::string_view kRecusa = "As configurações não foram gravadas";

// A whole number of seconds from 1; nullopt for anything else.
template <typename T> std::optional<T> Segundos(const std::string& valor) {
    T n{};
    const char* fim = valor.data() + valor.size();
    if (const auto r = std::from_chars(valor.data(), fim, n);
        r.ec != std::errc() || r.ptr != fim || n < 1) {
        return std::nullopt;
    }
    return n;
}

std::string Inteiro(std::int64_t n) {
    return std::to_string(n);
}

// Letters of Windows-1252 in capitals, as the system compares computer names.
std::string Maiusculas(std::string_view utf8) {
    std::string s = Utf8ParaCp1252(utf8);
    for (char& ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
            ch = static_cast<char>(c - 0x20);
        }
    }
    return s;
}

// The rules of ServidorDB for a save: set, and naming this machine (the job backs up the server
// it runs on).
std::optional<std::string> ServidorRecusado(const std::string& servidor,
                                            const std::string& computador) {
    if (servidor.empty()) {
        return std::string(kRecusa) +
               ": informe o Servidor de Banco de Dados (este computador: " + computador +
               ", localhost ou 127.0.0.1).";
    }
    // The host ends where an instance name ("\") or a port (",") begins.
    const std::string host = servidor.substr(0, servidor.find_first_of("\\,"));
    const std::string h = Maiusculas(host);
    const bool confere = !host.empty() && (h == Maiusculas(computador) || h == "LOCALHOST" ||
                                           h == "127.0.0.1" || h == "." || h == "(LOCAL)");
    if (confere) {
        return std::nullopt;
    }
    return "Este progama deve executado somente no Servidor de Banco de Dados!\r\nInforme o nome "
           "do Servidor de Banco corretamente!\r\nNome deste Servidor: " +
           computador;
}

struct Credencial {
    CampoConfiguracao campo;
    const char* descricao;
};
constexpr Credencial kCredenciais[] = {
    {&Configuracao::login, "o login do banco"},
    {&Configuracao::senha, "a senha do banco"},
    {&Configuracao::usuario, "o usuário do FTP"},
    {&Configuracao::passw, "a senha do FTP"},
};

// OpenSSH's fingerprint: "SHA256:" and the 32 bytes of the hash in base64, without padding.
bool ChaveHostValida(const std::string& chave) {
    constexpr std::string_view kPrefixo = "SHA256:";
    if (chave.rfind(kPrefixo, 0) != 0) {
        return false;
    }
    std::string base64 = chave.substr(kPrefixo.size());
    base64.erase(base64.find_last_not_of('=') + 1);
    return base64.size() == 43 &&
           base64.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                    "0123456789+/") == std::string::npos;
}

} // namespace

std::optional<EnderecoFtp> LerEnderecoFtp(std::string_view endereco) {
    using plataforma::Esquema;
    struct Prefixo {
        std::string_view texto;
        Esquema esquema;
        std::string_view porta;
    };
    constexpr Prefixo kPrefixos[] = {{"ftp://", Esquema::Ftp, "21"},
                                     {"ftpes://", Esquema::Ftpes, "21"},
                                     {"ftps://", Esquema::Ftps, "990"},
                                     {"sftp://", Esquema::Sftp, "22"}};
    std::string minusculas(endereco);
    for (char& ch : minusculas) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    for (const auto& p : kPrefixos) {
        if (minusculas.rfind(p.texto, 0) == 0) {
            std::string host(endereco.substr(p.texto.size()));
            host = host.substr(0, host.find_last_not_of('/') + 1);
            return EnderecoFtp{p.esquema, host, p.porta};
        }
    }
    if (endereco.find("://") != std::string_view::npos) {
        return std::nullopt;
    }
    return EnderecoFtp{Esquema::Ftp, std::string(endereco), "21"};
}

std::string DicaPorta(std::string_view padrao) {
    return "Digite na Porta o número da porta do servidor FTP (normalmente " + std::string(padrao) +
           ").";
}

std::optional<std::string> PortaFtpValida(std::string_view valor, std::string_view padrao) {
    // The uploader would redial a port it cannot use for 40 s and then blame the connection.
    const auto ini = valor.find_first_not_of(" \t");
    const std::string porta =
        ini == std::string_view::npos
            ? std::string(padrao)
            : std::string(valor.substr(ini, valor.find_last_not_of(" \t") - ini + 1));
    long numero = 0;
    const auto [fim, erro] = std::from_chars(porta.data(), porta.data() + porta.size(), numero);
    if (erro != std::errc() || fim != porta.data() + porta.size() || numero < 1 || numero > 65535) {
        return std::nullopt;
    }
    return porta;
}

bool EnderecoAvisoValido(std::string_view base) {
    const auto comeca = [&](std::string_view esquema) {
        if (base.size() < esquema.size()) {
            return false;
        }
        for (std::size_t i = 0; i < esquema.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(base[i])) != esquema[i]) {
                return false;
            }
        }
        return true;
    };
    return comeca("http://") || comeca("https://");
}

std::optional<unsigned long long> ManterArquivos(std::string_view valor) {
    while (!valor.empty() && (valor.front() == ' ' || valor.front() == '\t')) {
        valor.remove_prefix(1);
    }
    while (!valor.empty() && (valor.back() == ' ' || valor.back() == '\t')) {
        valor.remove_suffix(1);
    }
    if (valor.empty() ||
        !std::all_of(valor.begin(), valor.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    unsigned long long n = 0;
    if (std::from_chars(valor.data(), valor.data() + valor.size(), n).ec != std::errc()) {
        n = std::numeric_limits<unsigned long long>::max(); // more than any folder holds
    }
    return n >= 1 ? std::optional(n) : std::nullopt;
}

std::optional<unsigned> DiasTesteRestauracao(std::string_view valor) {
    unsigned n = 0;
    const auto fim = valor.data() + valor.size();
    if (valor.empty()) {
        return 0u;
    }
    const auto r = std::from_chars(valor.data(), fim, n);
    if (r.ec != std::errc() || r.ptr != fim) {
        return std::nullopt;
    }
    return n;
}

const ProblemaConfiguracao* ProblemaEm(const Validacao& v, CampoConfiguracao campo) {
    for (const auto& p : v.problemas) {
        if (p.campo == campo) {
            return &p;
        }
    }
    return nullptr;
}

Validacao ValidarConfiguracao(const Configuracao& c, Uso uso, const ContextoGravacao& contexto) {
    Validacao v;
    auto& p = v.problemas;
    const auto nome = [](CampoConfiguracao campo) {
        return std::string(NomeChave(campo));
    };
    const auto endereco = LerEnderecoFtp(c.endereco);
    const auto porta = PortaFtpValida(c.porta, endereco ? endereco->portaPadrao : "21");
    if (endereco) {
        v.valores.esquema = endereco->esquema;
        v.valores.host = endereco->host;
    }
    const auto recusa = [&](std::string_view texto) {
        return std::string(uso == Uso::Gravar ? std::string(kRecusa) + ": "
                                              : std::string("Envio falhou: ")) +
               std::string(texto);
    };
    if (!endereco) {
        p.push_back({&Configuracao::endereco,
                     recusa("o " + nome(&Configuracao::endereco) + " (" + c.endereco +
                            ") começa com um protocolo desconhecido; use ftp://, ftpes://, "
                            "ftps:// ou sftp://, ou nenhum para FTP") +
                         (uso == Uso::Gravar ? "." : "; nada foi enviado.")});
    }
    if (!c.chaveHostFTP.empty() && !ChaveHostValida(c.chaveHostFTP)) {
        p.push_back({&Configuracao::chaveHostFTP,
                     recusa(nome(&Configuracao::chaveHostFTP) + " (" + c.chaveHostFTP +
                            ") não está no formato SHA256:<base64> das impressões digitais do "
                            "OpenSSH") +
                         (uso == Uso::Gravar ? "." : "; nada foi enviado.")});
    }
    if (uso == Uso::Gravar) {
        if (auto recusa = ServidorRecusado(c.servidorDB, contexto.nomeComputador)) {
            p.push_back({&Configuracao::servidorDB, std::move(*recusa)});
        }
        // The window stores a port of at most five digits as a number, or none: the scheme's.
        if (c.porta.size() > 5 || !porta) {
            p.push_back({&Configuracao::porta,
                         std::string(kRecusa) +
                             ": a Porta do FTP deve ser um número inteiro de 1 a 65535.\r\n" +
                             DicaPorta(endereco ? endereco->portaPadrao : "21")});
        } else if (!c.porta.empty()) {
            v.valores.porta = std::to_string(std::stoi(*porta));
        } else {
            v.valores.porta.clear();
        }
        // The server and 7z write the archive under this name; it must fit the file system, or
        // every run fails.
        const auto arquivo = NomeArquivoBackup(c.codigoCliente, c.nomeCliente, contexto.agora);
        if (static_cast<long>(arquivo.size()) > contexto.tamanhoMaximoNome) {
            p.push_back({&Configuracao::nomeCliente,
                         std::string(kRecusa) +
                             ": com este código e este nome de cliente o arquivo do backup teria "
                             "um nome de " +
                             Inteiro(static_cast<std::int64_t>(arquivo.size())) +
                             " bytes, e o sistema de arquivos aceita até " +
                             Inteiro(contexto.tamanhoMaximoNome) +
                             ".\r\nEncurte o código ou o nome do cliente."});
        }
        const bool claras = NCriptoEmVigor(c);
        for (const auto& [campo, descricao] : kCredenciais) {
            try {
                // A line of info.ini cannot hold a line break or NUL: a tab, scrambled, can
                // become one, and the file would keep another password than the one typed.
                if (AplicarNCripto(c.*campo, claras).find_first_of(std::string("\r\n\0", 3)) !=
                    std::string::npos) {
                    p.push_back({campo, std::string(kRecusa) + ": " + descricao +
                                            " contém um caractere de controle (tabulação ou "
                                            "quebra de linha) que não pode ser gravado.\r\n"
                                            "Redigite o texto sem ele."});
                }
            } catch (const ErroCripto& e) {
                p.push_back({campo, std::string(kRecusa) + ": " + descricao + " tem " +
                                        Inteiro(static_cast<std::int64_t>(e.tamanho())) +
                                        " caracteres, e só é possível embaralhar até " +
                                        Inteiro(kTamanhoMaximoCripto) +
                                        ".\r\nEncurte o texto ou marque " +
                                        nome(&Configuracao::ncripto) + "."});
            }
        }
        return v;
    }

    if (porta) {
        v.valores.porta = *porta;
    } else {
        p.push_back({&Configuracao::porta,
                     "Envio falhou: a porta do FTP (" + nome(&Configuracao::porta) + "=" + c.porta +
                         ") não é um número de 1 a 65535; nada foi enviado."});
    }
    const auto segundos = [&](CampoConfiguracao campo, auto& destino) {
        const std::string& valor = c.*campo;
        if (valor.empty()) {
            return;
        }
        if (const auto n = Segundos<std::remove_reference_t<decltype(destino)>>(valor)) {
            destino = *n;
            return;
        }
        p.push_back({campo, nome(campo) + " inválido (\"" + valor +
                                "\"): use um número inteiro de segundos a partir de 1; vale o "
                                "padrão de " +
                                Inteiro(destino) + " s."});
    };
    segundos(&Configuracao::limiteEtapa, v.valores.limiteEtapa);
    segundos(&Configuracao::silencioBackup, v.valores.silencioBackup);
    if (!c.manterArquivos.empty()) {
        v.valores.manter = ManterArquivos(c.manterArquivos);
        if (!v.valores.manter) {
            p.push_back({&Configuracao::manterArquivos,
                         nome(&Configuracao::manterArquivos) + " inválido (\"" + c.manterArquivos +
                             "\"): use um número inteiro a partir de 1; nenhum arquivo antigo foi "
                             "excluído."});
        }
    }
    // Exactly "1", as SSPI; a value meant as yes in other words must not pass for a check.
    v.valores.verificarBackup = c.verificarBackup == "1";
    if (!c.verificarBackup.empty() && c.verificarBackup != "0" && !v.valores.verificarBackup) {
        p.push_back({&Configuracao::verificarBackup,
                     nome(&Configuracao::verificarBackup) + " inválido (\"" + c.verificarBackup +
                         "\"): use 1 para verificar o backup ou 0 para não verificar; o backup "
                         "não foi verificado."});
    }
    if (!c.avisoURL.empty() && !EnderecoAvisoValido(c.avisoURL)) {
        v.valores.avisoValido = false;
        // The path may hold the monitor's secret: not logged.
        p.push_back({&Configuracao::avisoURL, nome(&Configuracao::avisoURL) +
                                                  " não começa com http:// nem https://; "
                                                  "nenhum aviso de monitoramento foi enviado."});
    }
    return v;
}

} // namespace kelvane
