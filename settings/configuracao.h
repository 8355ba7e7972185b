// The settings of info.ini as one record: read once, checked by one set of rules, saved whole.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kelvane {

// Every key of the [infos] section, as the file holds it (blanks and quotes around a value
// removed); the credentials in clear.
struct Configuracao {
    std::string ncripto, codigoCliente, nomeCliente, servidorDB, banco, driverODBC, sspi;
    std::string login, senha; // the database's
    std::string servidorFTP, endereco, porta, diretorio;
    std::string usuario, passw;               // the FTP server's
    std::string senhaArquivo;                 // the archive's password; empty: not encrypted
    std::string certificadoFTP, chaveHostFTP; // whom the encrypted schemes trust
    std::string manterArquivos, silencioBackup, limiteEtapa, avisoURL, executado;
    std::string verificarBackup; // "1": the server checks the backup it wrote before it is packed
    // Days between restore drills after EXEC ("0" or empty: never); the last drill that passed.
    std::string testeRestauracao, ultimoTesteRestauracao;

    // A credential that could not be unscrambled: the key's name and why (its field stays
    // empty).
    struct Ilegivel {
        std::string_view chave;
        std::string motivo;
    };
    std::vector<Ilegivel> ilegiveis;
    const Ilegivel* IlegivelEm(std::string Configuracao::*campo) const;
};

using CampoConfiguracao = std::string Configuracao::*;

struct DefinicaoChave {
    std::string_view nome; // as info.ini and every message spell it
    CampoConfiguracao campo;
    bool embaralhada; // scrambled unless NCripto is 1
};

// The only place a key's name is spelled.
inline const std::array<DefinicaoChave, 26> kChaves = {{
    {"NCripto", &Configuracao::ncripto, false},
    {"CodigoCliente", &Configuracao::codigoCliente, false},
    {"NomeCliente", &Configuracao::nomeCliente, false},
    {"ServidorDB", &Configuracao::servidorDB, false},
    {"Banco", &Configuracao::banco, false},
    {"DriverODBC", &Configuracao::driverODBC, false},
    {"SSPI", &Configuracao::sspi, false},
    {"Login", &Configuracao::login, true},
    {"Senha", &Configuracao::senha, true},
    {"ServidorFTP", &Configuracao::servidorFTP, false},
    {"Endereco", &Configuracao::endereco, false},
    {"Porta", &Configuracao::porta, false},
    {"Diretorio", &Configuracao::diretorio, false},
    {"Usuario", &Configuracao::usuario, true},
    {"Passw", &Configuracao::passw, true},
    {"SenhaArquivo", &Configuracao::senhaArquivo, true},
    {"CertificadoFTP", &Configuracao::certificadoFTP, false},
    {"ChaveHostFTP", &Configuracao::chaveHostFTP, false},
    {"ManterArquivos", &Configuracao::manterArquivos, false},
    {"SilencioBackup", &Configuracao::silencioBackup, false},
    {"LimiteEtapa", &Configuracao::limiteEtapa, false},
    {"AvisoURL", &Configuracao::avisoURL, false},
    {"Executado", &Configuracao::executado, false},
    {"VerificarBackup", &Configuracao::verificarBackup, false},
    {"TesteRestauracao", &Configuracao::testeRestauracao, false},
    {"UltimoTesteRestauracao", &Configuracao::ultimoTesteRestauracao, false},
}};

// The key's name.
std::string_view NomeChave(CampoConfiguracao campo);

struct LeituraConfiguracao {
    Configuracao valores;
    bool existe = false;  // the file is there
    std::error_code erro; // it is there and could not be read: every value is empty
};

// Reads `arquivo` once. The credentials are unscrambled as the file's NCripto says, or as
// `ncripto` says when given (a window's run, which saved with it).
LeituraConfiguracao LerConfiguracao(const std::filesystem::path& arquivo,
                                    std::optional<bool> ncripto = std::nullopt);

// Whether the credentials are kept in clear.
bool NCriptoEmVigor(const Configuracao& c);

struct AlteracaoConfiguracao {
    CampoConfiguracao campo;
    std::string valor; // credentials in clear
};

// Saves every change or none (EditarArquivoINI), in the order given. Credentials are scrambled
// as NCripto will then say: the one among the changes, or the file's. NCripto itself is written
// only when the file does not already mean the same; when it changes meaning, every scrambled key
// in the file that is not among the changes is rewritten to match (an unreadable one stays). A
// credential that cannot be stored (see ValidarConfiguracao) fails the whole save with
// errc::invalid_argument.
std::error_code GravarConfiguracao(const std::filesystem::path& arquivo,
                                   const std::vector<AlteracaoConfiguracao>& alteracoes);
// Why a save failed, in the user's words: the folder's lock held past its wait, a file that may
// not be written, or the system's words for the rest.
std::string MotivoGravacao(std::error_code erro);

} // namespace kelvane
