#include "banco.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/driver_odbc.h"
#include "../plataforma/nomes.h"
#include "../plataforma/rede.h"
#include "../plataforma/sistema.h"
#include "../settings/cripto.h"
#include "../settings/texto.h"
#include "etapas.h"
#include "log.h"
#include "politica_permissoes.h"
#include "prazo.h"
#include "programa.h"
#include "textos.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace kelvane {

namespace {

// Why the login was kept from a server on this machine.
struct ErroOuvinte : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool MesmoNome(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool Loopback(const plataforma::EnderecoIp& e) {
    static constexpr plataforma::EnderecoIp kIpv6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const bool ipv4 = std::all_of(e.begin(), e.begin() + 10, [](auto b) { return b == 0; }) &&
                      e[10] == 0xff && e[11] == 0xff;
    return e == kIpv6 || (ipv4 && e[12] == 127);
}

// 0.0.0.0 or ::: a socket bound to every address, and a connection to it reaches this machine.
bool Qualquer(const plataforma::EnderecoIp& e) {
    const auto zero = [](auto b) {
        return b == 0;
    };
    return std::all_of(e.begin(), e.end(), zero) ||
           (std::all_of(e.begin(), e.begin() + 10, zero) && e[10] == 0xff && e[11] == 0xff &&
            std::all_of(e.begin() + 12, e.end(), zero));
}

// How long the name in ServidorDB may take to resolve, as a heartbeat's: the system's resolver
// has no deadline of its own, and one that never answers must not hold the night's run.
constexpr long kTempoNomeMs = 5000;

// The addresses `nome` resolves to, within kTempoNomeMs. Throws ErroOuvinte otherwise: a name
// this cannot resolve may still be one the driver maps itself (freetds.conf, a client alias),
// to a server here as well as anywhere.
std::vector<plataforma::EnderecoIp> EnderecosDoServidor(const std::string& nome) {
    struct Busca {
        int rc = 0;
        std::vector<plataforma::EnderecoIp> enderecos;
    };
    std::optional<Busca> busca;
    try {
        busca = AntesDe(std::chrono::steady_clock::now() + std::chrono::milliseconds(kTempoNomeMs),
                        [nome] {
                            Busca b;
                            b.rc = plataforma::EnderecosDe(nome, b.enderecos);
                            return b;
                        });
    } catch (const std::system_error& e) {
        throw ErroOuvinte("o nome " + nome + " (ServidorDB) não pôde ser resolvido: " + e.what() +
                          "; o login não foi enviado");
    }
    if (!busca) {
        throw ErroOuvinte("o nome " + nome + " (ServidorDB) não foi resolvido em " +
                          std::to_string(kTempoNomeMs / 1000) + " s; o login não foi enviado");
    }
    if (busca->rc != 0 || busca->enderecos.empty()) {
        throw ErroOuvinte(
            "o nome " + nome + " (ServidorDB) não foi resolvido (" +
            (busca->rc != 0 ? plataforma::TextoErroResolucao(busca->rc) : "nenhum endereço IP") +
            "); o login não foi enviado");
    }
    return std::move(busca->enderecos);
}

// ServidorDB is "host", "host,port" or "host\instance" (with ",port" or not; "tcp:" before it
// names the protocol). For a server on this machine (named by an alias, its name, or any name or
// address that leads to one of its addresses) the port is that of SQL Server or of the system:
// any account may listen on a port above 1023 while SQL Server is down, and FreeTDS hands such a
// listener the login with the password barely scrambled. The driver is then given host,port:
// what was checked is where it connects, never where a browser's answer (UDP 1434, which anyone
// may answer here as well) or a driver's own settings would send it. Named pipes and shared
// memory, whose listeners this cannot tell apart, are refused.
// Throws ErroOuvinte when the login must not leave.
std::string ServidorConferido(const std::string& servidor) {
    const auto virgula = servidor.find(',');
    const std::string antes = servidor.substr(0, virgula);
    for (const std::string_view protocolo : {"np:", "lpc:", "admin:", "via:"}) {
        const auto texto = Aparar(antes);
        if (texto.size() >= protocolo.size() &&
            MesmoNome(texto.substr(0, protocolo.size()), protocolo)) {
            throw ErroOuvinte("o protocolo " + std::string(texto.substr(0, protocolo.size())) +
                              " em ServidorDB não é aceito, só TCP; o login não foi enviado. "
                              "Escreva o servidor sem ele (servidor,porta)");
        }
    }
    const auto barra = antes.find('\\');
    std::string host = std::string(Aparar(antes.substr(0, barra)));
    std::string prefixo;
    if (host.size() > 4 && MesmoNome(host.substr(0, 4), "tcp:")) {
        prefixo = host.substr(0, 4);
        host = std::string(Aparar(host.substr(4)));
    }
    const std::string instancia = InstanciaServidor(servidor);
    const std::string nome = host.size() > 2 && host.front() == '[' && host.back() == ']'
                                 ? host.substr(1, host.size() - 2)
                                 : host;
    // Windows' names for this machine, which FreeTDS does not know.
    const bool apelido = nome.empty() || nome == "." || MesmoNome(nome, "(local)");
    const auto alvos = EnderecosDoServidor(apelido ? "localhost" : nome);
    bool desteComputador = apelido || MesmoNome(nome, "localhost") ||
                           MesmoNome(nome, plataforma::NomeMaquina()) ||
                           MesmoNome(nome, NomeComputador()) ||
                           std::any_of(alvos.begin(), alvos.end(),
                                       [](const auto& e) { return Loopback(e) || Qualquer(e); });
    if (!desteComputador) { // or one of its network's addresses, however it was named
        std::vector<plataforma::EnderecoIp> locais;
        try {
            locais = plataforma::EnderecosLocais();
        } catch (const plataforma::ErroSistema& e) {
            throw ErroOuvinte("os endereços deste computador não puderam ser lidos (" +
                              TextoErroSistema(e) + "); o login não foi enviado");
        }
        desteComputador = std::any_of(alvos.begin(), alvos.end(), [&](const auto& e) {
            return std::find(locais.begin(), locais.end(), e) != locais.end();
        });
    }
    if (!desteComputador) {
        return servidor; // another machine's
    }

    int porta = 1433;
    if (virgula != std::string::npos) {
        const std::string texto =
            std::string(Aparar(std::string_view(servidor).substr(virgula + 1)));
        porta = texto.empty() || texto.size() > 5 ||
                        !std::all_of(texto.begin(), texto.end(),
                                     [](char c) { return c >= '0' && c <= '9'; })
                    ? 0
                    : std::stoi(texto);
        if (porta < 1 || porta > 65535) {
            throw ErroOuvinte("a porta em ServidorDB (" + texto +
                              ") não é um número de 1 a 65535; o login não foi enviado");
        }
    } else if (!instancia.empty() && (porta = plataforma::PortaDaInstancia(instancia)) == 0) {
        throw ErroOuvinte("a porta TCP da instância " + instancia +
                          " não foi encontrada neste computador; o login não foi enviado. "
                          "Escreva a porta em ServidorDB (servidor,porta)");
    }
    std::vector<plataforma::Ouvinte> ouvintes;
    try {
        ouvintes = plataforma::OuvintesTcp(porta, instancia);
    } catch (const plataforma::ErroSistema& e) {
        throw ErroOuvinte("não foi possível saber quem atende a porta " + std::to_string(porta) +
                          " deste computador (" + TextoErroSistema(e) +
                          "); o login não foi enviado");
    }
    // Those a connection to the server's addresses reaches: bound to one of them or to every
    // address (of either family: an IPv6 socket on :: may take IPv4 connections too).
    std::erase_if(ouvintes, [&](const auto& o) {
        return !Qualquer(o.endereco) &&
               std::find(alvos.begin(), alvos.end(), o.endereco) == alvos.end();
    });
    if (ouvintes.empty()) {
        throw ErroOuvinte("nenhum programa aguarda conexões na porta " + std::to_string(porta) +
                          " deste computador; o login não foi enviado. Inicie o SQL Server");
    }
    for (const auto& o : ouvintes) {
        if (!o.doServidor) {
            throw ErroOuvinte("a porta " + std::to_string(porta) +
                              " deste computador está aberta por outro programa que não o "
                              "SQL Server (" +
                              o.dono + "); o login não foi enviado. Inicie o SQL Server");
        }
    }
    return prefixo + (apelido ? "localhost" : host) + "," + std::to_string(porta);
}

std::string Escolher(const std::string& definido, const std::vector<std::string>& instalados) {
    if (!definido.empty()) {
        return definido;
    }
    for (const auto nome : plataforma::kDriversOdbc) {
        if (std::find(instalados.begin(), instalados.end(), nome) != instalados.end()) {
            return std::string(nome);
        }
    }
    return "FreeTDS";
}

} // namespace

std::string DriverOdbc(const std::string& definido) {
    return Escolher(definido, DriversOdbc());
}

std::optional<std::string> DriverOdbcInseguro(const std::string& definido) {
    const auto instalados = DriversOdbc();
    const std::string driver = Escolher(definido, instalados);
    if (!definido.empty() &&
        std::find(instalados.begin(), instalados.end(), driver) == instalados.end()) {
        const auto caminho = plataforma::Caminho(driver);
        if (!caminho.is_absolute()) {
            // A bare or relative name would be looked up where the loader or the working folder
            // says.
            return "Permissões inseguras: " + std::string(NomeChave(&Configuracao::driverODBC)) +
                   "=" + driver + " não é um driver registrado no " +
                   std::string(plataforma::kGerenciadorOdbc) +
                   " nem o caminho completo de uma biblioteca; nada foi executado. Corrija com: " +
                   std::string(plataforma::kListarDriversOdbc);
        }
        if (auto inseguro = CaminhoInseguro(caminho)) {
            return inseguro;
        }
    }
    // What the driver manager loads for the driver chosen, named or the first default
    // installed: a registered driver's library, and what names it.
    return plataforma::ProblemaDriverOdbc(driver);
}

std::unique_ptr<ConexaoOdbc> ConectarBanco(const Configuracao& c,
                                           const std::function<void(const std::string&)>& registrar,
                                           std::optional<Falha>& falha) {
    std::string senha;
    try {
        registrar("Conectando ao Servidor de Banco: " + c.servidorDB);
        auto conexao = std::make_unique<ConexaoOdbc>();
        const std::string driver = DriverOdbc(c.driverODBC);
        const std::string conferido = ServidorConferido(c.servidorDB);
        if (c.sspi == "1") {
            conexao->Abrir(TextoConexaoIntegrada(driver, conferido));
        } else {
            for (const auto campo : {&Configuracao::login, &Configuracao::senha}) {
                if (const auto* ilegivel = c.IlegivelEm(campo)) {
                    throw std::runtime_error(ilegivel->motivo);
                }
            }
            senha = c.senha;
            conexao->Abrir(TextoConexao(driver, conferido, c.login, senha));
        }
        registrar("Banco de dados conectado!");
        return conexao;
    } catch (const ErroLog&) {
        throw; // the job's trap reports a log that cannot be written
    } catch (const std::exception& e) {
        falha = FalhaDe(PassoFalha::Conexao, TipoFalha::Texto, CodigoSaida::ConexaoFalhou,
                        OcultarSegredos(e.what(), {senha}));
        registrar(TextoDescricao(*falha));
        return nullptr;
    }
}

std::optional<Falha> TestarConexaoBanco(const std::string& driverODBC, const std::string& servidor,
                                        const std::string& login, const std::string& senha,
                                        bool integrado) {
    if (auto inseguro = DriverOdbcInseguro(driverODBC)) {
        return Falha{CodigoSaida::PermissoesInseguras, 0, std::move(*inseguro)};
    }
    try {
        ConexaoOdbc conexao;
        const std::string driver = DriverOdbc(driverODBC);
        const std::string conferido = ServidorConferido(servidor);
        conexao.Abrir(integrado ? TextoConexaoIntegrada(driver, conferido)
                                : TextoConexao(driver, conferido, login, senha));
        return std::nullopt;
    } catch (const ErroOuvinte& e) {
        auto falha =
            FalhaDe(PassoFalha::Conexao, TipoFalha::Texto, CodigoSaida::ConexaoFalhou, e.what());
        falha.origem = Falha::Origem::Ouvinte;
        return falha;
    } catch (const ErroBanco& e) {
        return Falha{CodigoSaida::ConexaoFalhou, e.numero(),
                     OcultarSegredos(e.descricao(), {senha})};
    } catch (const std::exception& e) {
        return Falha{CodigoSaida::ConexaoFalhou, 0, OcultarSegredos(e.what(), {senha})};
    }
}

} // namespace kelvane
