#include "driver_odbc.h"
#include "permissoes.h"

#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <glob.h>
#include <odbcinstext.h>
#include <sql.h>
#include <sqlext.h>
#include <string_view>
#include <unistd.h>
#include <vector>

// Exported by libodbcinst, declared only for unixODBC's own build: the files it reads.
extern "C" {
char* odbcinst_system_file_path(char* buffer);
char* odbcinst_system_file_name(char* buffer);
char* odbcinst_user_file_path(char* buffer);
char* odbcinst_user_file_name(char* buffer);
}

namespace kelvane::plataforma {

namespace {

namespace fs = std::filesystem;

std::optional<std::string> Recusa(const std::string& problema, const std::string& correcao) {
    return "Permissões inseguras: " + problema + "; nada foi executado. Corrija com: " + correcao;
}

std::vector<fs::path> Pastas(std::string_view lista, std::string_view separadores) {
    std::vector<fs::path> pastas;
    while (!lista.empty()) {
        const auto fim = lista.find_first_of(separadores);
        const auto pasta = lista.substr(0, fim);
        if (!pasta.empty()) {
            pastas.emplace_back(pasta);
        }
        lista = fim == std::string_view::npos ? std::string_view() : lista.substr(fim + 1);
    }
    return pastas;
}

// unixODBC's odbcinst.ini, the system's and the account's ($HOME/.odbcinst.ini), as its
// libodbcinst names them: the driver manager carries the same code.
std::vector<fs::path> ArquivosOdbcinst() {
    char pasta[FILENAME_MAX + 1] = {}, nome[FILENAME_MAX + 1] = {};
    const fs::path sistema =
        fs::path(odbcinst_system_file_path(pasta)) / odbcinst_system_file_name(nome);
    char pastaConta[FILENAME_MAX + 1] = {}, nomeConta[FILENAME_MAX + 1] = {};
    const fs::path conta =
        fs::path(odbcinst_user_file_path(pastaConta)) / odbcinst_user_file_name(nomeConta);
    return {sistema, conta};
}

std::string Valor(const std::string& driver, const char* chave) {
    char valor[INI_MAX_PROPERTY_VALUE + 1] = {};
    SQLGetPrivateProfileString(driver.c_str(), chave, "", valor, sizeof valor, "ODBCINST.INI");
    return valor;
}

// The folders libltdl searches first for a bare name: unixODBC hands it its driver folder (its
// build's MODULEDIR, /usr/lib/<arch>/odbc on Debian) just before it loads a driver, so a
// connection to a library that cannot exist has it do that, and loads nothing. One built
// without it leaves the folder we set before, where nothing can be.
std::vector<fs::path> PastasDosDrivers() {
    using Busca = const char* (*)();
    using Definir = int (*)(const char*);
    const auto busca = reinterpret_cast<Busca>(::dlsym(RTLD_DEFAULT, "lt_dlgetsearchpath"));
    const auto definir = reinterpret_cast<Definir>(::dlsym(RTLD_DEFAULT, "lt_dlsetsearchpath"));
    if (busca == nullptr || definir == nullptr) {
        return {}; // a driver manager without libltdl goes straight to the dynamic loader
    }
    constexpr const char* kNenhuma = "/proc/self/kelvane-nenhuma-pasta"; // nothing is made there
    definir(kNenhuma);
    SQLHENV ambiente = SQL_NULL_HENV;
    SQLHDBC conexao = SQL_NULL_HDBC;
    if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &ambiente))) {
        SQLSetEnvAttr(ambiente, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                      0);
        if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, ambiente, &conexao))) {
            SQLCHAR texto[] = "DRIVER={/proc/self/kelvane-nenhum-driver};";
            SQLDriverConnect(conexao, nullptr, texto, SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT);
            SQLFreeHandle(SQL_HANDLE_DBC, conexao);
        }
        SQLFreeHandle(SQL_HANDLE_ENV, ambiente);
    }
    const char* pastas = busca();
    if (pastas == nullptr || std::string_view(pastas) == kNenhuma) {
        return {};
    }
    return Pastas(pastas, ":");
}

// ld.so.conf and what it includes, as ldconfig reads it.
void LerConfiguracaoLd(const fs::path& arquivo, std::vector<fs::path>& pastas, int nivel) {
    std::ifstream entrada(arquivo);
    for (std::string linha; nivel < 8 && std::getline(entrada, linha);) {
        linha = linha.substr(0, linha.find('#'));
        const auto ini = linha.find_first_not_of(" \t\r");
        if (ini == std::string::npos) {
            continue;
        }
        linha = linha.substr(ini, linha.find_last_not_of(" \t\r") - ini + 1);
        if (linha.starts_with("include") && linha.size() > 7 &&
            (linha[7] == ' ' || linha[7] == '\t')) {
            std::string padrao = linha.substr(linha.find_first_not_of(" \t", 7));
            if (!padrao.starts_with('/')) {
                padrao = (arquivo.parent_path() / padrao).string();
            }
            glob_t achados{};
            if (::glob(padrao.c_str(), 0, nullptr, &achados) == 0) {
                for (std::size_t i = 0; i < achados.gl_pathc; ++i) {
                    LerConfiguracaoLd(achados.gl_pathv[i], pastas, nivel + 1);
                }
            }
            ::globfree(&achados);
        } else if (!linha.starts_with("hwcap ")) {
            pastas.emplace_back(linha.substr(0, linha.find('=')));
        }
    }
}

// Past the driver folders a bare name is looked for where the system finds libraries: libltdl's
// own list (the dynamic loader's configuration when it was built) and then the dynamic loader
// (LD_LIBRARY_PATH as this process was started with it, its configuration, its own folders),
// with their glibc-hwcaps subfolders.
std::vector<fs::path> PastasDoSistema() {
    std::vector<fs::path> pastas;
    std::ifstream ambiente("/proc/self/environ", std::ios::binary); // as it was at start
    for (std::string v; std::getline(ambiente, v, '\0');) {
        if (v.starts_with("LD_LIBRARY_PATH=") && v.size() > 16) {
            // Split as the loader does: an empty entry is the working folder.
            std::string_view lista = std::string_view(v).substr(16);
            for (auto fim = lista.find_first_of(":;");; fim = lista.find_first_of(":;")) {
                const auto pasta = lista.substr(0, fim);
                pastas.push_back(pasta.empty() ? fs::current_path() : fs::absolute(pasta));
                if (fim == std::string_view::npos) {
                    break;
                }
                lista.remove_prefix(fim + 1);
            }
        }
    }
    LerConfiguracaoLd("/etc/ld.so.conf", pastas, 0);
    for (const char* pasta :
         {"/lib/" KELVANE_TRIPLETO, "/usr/lib/" KELVANE_TRIPLETO, "/lib", "/usr/lib", "/lib64",
          "/usr/lib64", "/usr/local/lib", "/usr/local/lib/" KELVANE_TRIPLETO}) {
        pastas.emplace_back(pasta);
    }
    const std::size_t diretas = pastas.size();
    for (std::size_t i = 0; i < diretas; ++i) {
        std::error_code erro;
        for (const auto& e : fs::directory_iterator(pastas[i] / "glibc-hwcaps", erro)) {
            pastas.push_back(e.path());
        }
    }
    return pastas;
}

// No one else can add a name in `pasta`, or in what of it exists.
std::optional<std::string> PastaFechada(fs::path pasta) {
    std::error_code erro;
    while (!fs::exists(fs::symlink_status(pasta, erro)) && pasta.has_relative_path()) {
        pasta = pasta.parent_path();
    }
    return ProblemaPermissao(pasta, Regra::Carregado, {});
}

} // namespace

std::optional<std::string> ProblemaDriverOdbc(const std::string& driver) {
    // Whoever could change what the driver manager reads would choose the library.
    const auto arquivos = ArquivosOdbcinst();
    for (const auto& ini : arquivos) {
        if (auto problema = ProblemaPermissao(fs::absolute(ini), Regra::Carregado, {})) {
            return problema;
        }
    }
    // As the driver manager reads it: Driver64 first on a 64-bit build; a name that is not in
    // odbcinst.ini is taken as the library itself.
    std::string biblioteca = sizeof(long) == 8 ? Valor(driver, "Driver64") : "";
    if (biblioteca.empty()) {
        biblioteca = Valor(driver, "Driver");
    }
    if (biblioteca.empty()) {
        biblioteca = driver;
    }
    const std::string qual = "Driver=" + biblioteca + " do driver " + driver;
    const std::string correcao = "o caminho completo da biblioteca (.so) em Driver= de [" + driver +
                                 "] no " + arquivos.front().string() + " ou no " +
                                 arquivos.back().string();
    if (biblioteca.ends_with(".la")) {
        return Recusa(qual + " é um arquivo do libtool, que nomeia a biblioteca a carregar",
                      correcao);
    }
    if (biblioteca.find('/') != std::string::npos) {
        const fs::path caminho(biblioteca);
        if (!caminho.is_absolute()) {
            return Recusa(qual + " seria procurado a partir da pasta de trabalho", correcao);
        }
        return ProblemaPermissao(caminho, Regra::Carregado, {});
    }
    // A bare name: libltdl loads the first copy it can read in the driver folders, and only
    // without one goes on (LTDL_LIBRARY_PATH and LD_LIBRARY_PATH are removed at start).
    for (const auto& pasta : PastasDosDrivers()) {
        if (!pasta.is_absolute()) {
            return Recusa(qual + " seria procurado a partir da pasta de trabalho", correcao);
        }
        if (const auto copia = pasta / biblioteca; ::access(copia.c_str(), R_OK) == 0) {
            return ProblemaPermissao(copia, Regra::Carregado, {});
        }
        if (auto problema = PastaFechada(pasta)) {
            return problema;
        }
    }
    // Where the order past them is not ours to know, every place and every copy must pass.
    for (const auto& pasta : PastasDoSistema()) {
        if (auto problema = PastaFechada(pasta)) {
            return problema;
        }
        std::error_code erro;
        if (const auto copia = pasta / biblioteca; fs::exists(fs::symlink_status(copia, erro))) {
            if (auto problema = ProblemaPermissao(copia, Regra::Carregado, {})) {
                return problema;
            }
        }
    }
    return std::nullopt;
}

} // namespace kelvane::plataforma
