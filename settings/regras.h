// The rules every setting keeps, in one place: the window's save refuses what the job could not
// use, and the job falls back to a default, or stops, on what slipped past.
#pragma once

#include "../plataforma/transferencia.h"
#include "configuracao.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// What the values mean once checked; a value that breaks its rule leaves its default here.
struct ValoresConferidos {
    plataforma::Esquema esquema = plataforma::Esquema::Ftp; // Endereco's scheme
    std::string host;                                       // Endereco without its scheme
    std::string porta = "21";                 // the FTP port, blanks trimmed; the scheme's if empty
    std::int64_t limiteEtapa = 30 * 60;       // seconds before any tool step
    int silencioBackup = 6 * 60 * 60;         // seconds the server may stay silent
    std::optional<unsigned long long> manter; // archives kept; nullopt: keep them all
    bool avisoValido = true;                  // AvisoURL empty or http(s)
    bool verificarBackup = false;             // RESTORE VERIFYONLY after the backup
};

// Who asks: the window's save (which refuses to write what the job could not use) or the job.
enum class Uso { Gravar, Executar };

// The facts of this machine the rules of a save need.
struct ContextoGravacao {
    std::string nomeComputador;
    long tamanhoMaximoNome = 255; // bytes the data folder's file system takes in a name
    std::tm agora{};
};

struct ProblemaConfiguracao {
    CampoConfiguracao campo;
    std::string texto; // as the window's box or the job's log shows it
};

struct Validacao {
    ValoresConferidos valores;
    std::vector<ProblemaConfiguracao> problemas; // in the order the rules run
};

// Every rule a value must keep, in one place. For Uso::Gravar the problems are the window's
// refusals (the first one is shown and nothing is saved); for Uso::Executar they are the job's
// log lines for values that fall back to their default.
Validacao ValidarConfiguracao(const Configuracao& c, Uso uso,
                              const ContextoGravacao& contexto = {});

// The port check every FTP use shares: the trimmed value, `padrao` when empty; nullopt when it is
// not a whole number from 1 to 65535.
std::optional<std::string> PortaFtpValida(std::string_view valor, std::string_view padrao = "21");

// What to type in Porta, naming the scheme's port `padrao` (which an empty Porta takes).
std::string DicaPorta(std::string_view padrao);

// Endereco's scheme: none or ftp:// (plain FTP), ftpes:// (AUTH TLS), ftps:// (implicit TLS),
// sftp://; nullopt for any other.
struct EnderecoFtp {
    plataforma::Esquema esquema = plataforma::Esquema::Ftp;
    std::string host;
    std::string_view portaPadrao = "21";
};
std::optional<EnderecoFtp> LerEnderecoFtp(std::string_view endereco);

// ManterArquivos as a count: blanks around one whole number of 1 or more (a number too large to
// hold keeps every archive). Anything else (empty included) is not a count.
std::optional<unsigned long long> ManterArquivos(std::string_view valor);

// TesteRestauracao as days between restore drills: empty is 0 (never); nullopt when it is not a
// whole number.
std::optional<unsigned> DiasTesteRestauracao(std::string_view valor);

// Whether AvisoURL is an http:// or https:// address; nothing else is ever sent.
bool EnderecoAvisoValido(std::string_view base);

// The problem of the key `campo`, if it has one.
const ProblemaConfiguracao* ProblemaEm(const Validacao& v, CampoConfiguracao campo);

} // namespace kelvane
