#include "banco.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/driver_odbc.h"
#include "../plataforma/nomes.h"
#include "../settings/cripto.h"
#include "../settings/texto.h"
#include "etapas.h"
#include "ferramentas.h"
#include "log.h"
#include "programa.h"

#include <algorithm>

namespace kelvane {

namespace {

std::string Escolher(const std::vector<std::string>& instalados) {
    if (std::string escolhido = LerInfo("DriverODBC"); !escolhido.empty()) {
        return escolhido;
    }
    for (const auto nome : plataforma::kDriversOdbc) {
        if (std::find(instalados.begin(), instalados.end(), nome) != instalados.end()) {
            return std::string(nome);
        }
    }
    return "FreeTDS";
}

} // namespace

std::string DriverOdbc() {
    return Escolher(DriversOdbc());
}

std::optional<std::string> DriverOdbcInseguro() {
    const auto instalados = DriversOdbc();
    const std::string driver = Escolher(instalados);
    if (!LerInfo("DriverODBC").empty() &&
        std::find(instalados.begin(), instalados.end(), driver) == instalados.end()) {
        const auto caminho = plataforma::Caminho(driver);
        if (!caminho.is_absolute()) {
            // A bare or relative name would be looked up where the loader or the working folder
            // says.
            return "Permissões inseguras: DriverODBC=" + driver +
                   " não é um driver registrado no " + std::string(plataforma::kGerenciadorOdbc) +
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

std::unique_ptr<ConexaoOdbc> ConectarBanco(ObservadorJob* observador, std::string& motivo) {
    std::string senha;
    try {
        const std::string servidor = LerInfo("ServidorDB");
        GravarLog("Conectando ao Servidor de Banco: " + servidor, observador);
        auto conexao = std::make_unique<ConexaoOdbc>();
        const std::string driver = DriverOdbc();
        if (LerInfo("SSPI") == "1") {
            conexao->Abrir(TextoConexaoIntegrada(driver, servidor));
        } else {
            const bool ncripto = ConsultarNCripto(observador);
            const std::string login = AplicarNCripto(LerInfo("Login"), ncripto);
            senha = AplicarNCripto(LerInfo("Senha"), ncripto);
            conexao->Abrir(TextoConexao(driver, servidor, login, senha));
        }
        GravarLog("Banco de dados conectado!", observador);
        return conexao;
    } catch (const ErroLog&) {
        throw; // the job's trap reports a log that cannot be written
    } catch (const std::exception& e) {
        motivo = "Erro ao conetar no banco: " + OcultarSegredos(e.what(), {senha});
        GravarLog(motivo, observador);
        return nullptr;
    }
}

std::optional<Falha> TestarConexaoBanco(const std::string& servidor, const std::string& login,
                                        const std::string& senha, bool integrado) {
    if (auto inseguro = DriverOdbcInseguro()) {
        return Falha{CodigoSaida::PermissoesInseguras, 0, std::move(*inseguro)};
    }
    try {
        ConexaoOdbc conexao;
        const std::string driver = DriverOdbc();
        conexao.Abrir(integrado ? TextoConexaoIntegrada(driver, servidor)
                                : TextoConexao(driver, servidor, login, senha));
        return std::nullopt;
    } catch (const ErroBanco& e) {
        return Falha{CodigoSaida::ConexaoFalhou, e.numero(),
                     OcultarSegredos(e.descricao(), {senha})};
    } catch (const std::exception& e) {
        return Falha{CodigoSaida::ConexaoFalhou, 0, OcultarSegredos(e.what(), {senha})};
    }
}

} // namespace kelvane
