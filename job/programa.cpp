#include "programa.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "../plataforma/sistema.h"
#include "../settings/texto.h"
#include "textos.h"

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace kelvane {

namespace {

std::filesystem::path gPasta;
std::filesystem::path gDados;

} // namespace

std::filesystem::path LocalizarPastaPrograma() {
    return plataforma::PastaDoExecutavel();
}

const std::filesystem::path& PastaPrograma() {
    return gPasta;
}

void DefinirPastaPrograma(std::filesystem::path pasta) {
    gPasta = std::move(pasta);
}

std::filesystem::path LocalizarPastaDados(const std::filesystem::path& programa) {
    const auto arquivo = programa / kArquivoPastaDados;
    bool existe = false;
    std::error_code erro;
    const auto texto = plataforma::LerArquivoInteiro(arquivo, existe, erro);
    if (!texto) {
        throw std::runtime_error("não foi possível ler " + plataforma::TextoCaminho(arquivo) +
                                 ": " + TextoErroSistema(erro));
    }
    if (!existe) {
        return programa;
    }
    std::string linha = texto->substr(0, texto->find('\n'));
    while (!linha.empty() &&
           (linha.back() == '\r' || linha.back() == ' ' || linha.back() == '\t')) {
        linha.pop_back();
    }
    const auto dados = plataforma::Caminho(linha).lexically_normal();
    if (linha.empty() || !dados.is_absolute() || linha.find('\0') != std::string::npos) {
        throw std::runtime_error(plataforma::TextoCaminho(arquivo) +
                                 " não indica uma pasta de dados (um caminho absoluto na primeira "
                                 "linha)");
    }
    // "/var/opt/kelvane/" and "/var/opt/kelvane" are one folder.
    return dados.has_filename() ? dados : dados.parent_path();
}

const std::filesystem::path& PastaDados() {
    return gDados.empty() ? gPasta : gDados;
}

void DefinirPastaDados(std::filesystem::path pasta) {
    gDados = std::move(pasta);
}

std::filesystem::path PastaBackups() {
    return plataforma::kSubpastaBackups.empty() ? PastaDados()
                                                : PastaDados() / plataforma::kSubpastaBackups;
}

std::string InstanciaServidor(const std::string& servidorDB) {
    const auto barra = servidorDB.find('\\');
    if (barra == std::string::npos) {
        return {};
    }
    const auto fim = servidorDB.find(',', barra);
    return std::string(Aparar(std::string_view(servidorDB).substr(barra + 1, fim - barra - 1)));
}

std::string ContaServicoBanco(const std::string& servidorDB) {
    if (plataforma::kServicoBancoPadrao.empty()) {
        return {};
    }
    const std::string instancia = InstanciaServidor(servidorDB);
    std::string nome = instancia;
    for (auto& c : nome) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (nome.empty() || nome == "MSSQLSERVER") {
        return std::string(plataforma::kServicoBancoPadrao);
    }
    return std::string(plataforma::kServicoBancoInstancia) + instancia;
}

std::filesystem::path ArquivoIni() {
    return PastaDados() / "info.ini";
}

std::tm AgoraLocal() {
    return plataforma::HoraLocal(std::time(nullptr));
}

} // namespace kelvane
