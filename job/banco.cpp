#include "banco.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "../settings/cripto.h"
#include "../settings/texto.h"
#include "etapas.h"
#include "ferramentas.h"
#include "log.h"
#include "programa.h"

#include <algorithm>

namespace kelvane {

std::string DriverOdbc() {
    if (std::string escolhido = LerInfo("DriverODBC"); !escolhido.empty()) {
        return escolhido;
    }
    const auto instalados = DriversOdbc();
    for (const auto nome : plataforma::kDriversOdbc) {
        if (std::find(instalados.begin(), instalados.end(), nome) != instalados.end()) {
            return std::string(nome);
        }
    }
    return "FreeTDS";
}

std::optional<std::string> DriverOdbcInseguro() {
    const std::string driver = LerInfo("DriverODBC");
    if (driver.empty()) {
        return std::nullopt;
    }
    const auto instalados = DriversOdbc();
    if (std::find(instalados.begin(), instalados.end(), driver) != instalados.end()) {
        return std::nullopt;
    }
    if (const auto caminho = plataforma::Caminho(driver); caminho.is_absolute()) {
        return CaminhoInseguro(caminho);
    }
    // A bare or relative name would be looked up where the loader or the working folder says.
    return "Permissões inseguras: DriverODBC=" + driver + " não é um driver registrado no " +
           std::string(plataforma::kGerenciadorOdbc) +
           " nem o caminho completo de uma biblioteca; nada foi executado. Corrija com: " +
           std::string(plataforma::kListarDriversOdbc);
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
