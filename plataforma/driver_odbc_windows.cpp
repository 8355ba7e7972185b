#include "comum_windows.h"
#include "driver_odbc.h"
#include "permissoes.h"

namespace kelvane::plataforma {

std::optional<std::string> ProblemaDriverOdbc(const std::string& driver) {
    // Windows' driver manager loads the file the driver's Driver value names (64-bit view).
    const std::wstring chave = L"SOFTWARE\\ODBC\\ODBCINST.INI\\" + win::Largo(driver);
    DWORD tamanho = 0;
    const DWORD tipos = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND | RRF_SUBKEY_WOW6464KEY;
    LSTATUS rc = RegGetValueW(HKEY_LOCAL_MACHINE, chave.c_str(), L"Driver", tipos, nullptr, nullptr,
                              &tamanho);
    std::wstring valor(tamanho / sizeof(wchar_t) + 1, L'\0');
    if (rc == ERROR_SUCCESS) {
        tamanho = static_cast<DWORD>(valor.size() * sizeof(wchar_t));
        rc = RegGetValueW(HKEY_LOCAL_MACHINE, chave.c_str(), L"Driver", tipos, nullptr,
                          valor.data(), &tamanho);
    }
    if (rc == ERROR_FILE_NOT_FOUND) {
        // Not registered, or registered without a library (Wine lists the host's unixODBC
        // drivers so): the driver manager has nothing to load for it.
        return std::nullopt;
    }
    const std::string registro = "HKLM\\SOFTWARE\\ODBC\\ODBCINST.INI\\" + driver;
    const std::string correcao =
        "o caminho completo da DLL no valor Driver de " + registro + " (reinstale o driver)";
    if (rc != ERROR_SUCCESS) {
        return "Permissões inseguras: o valor Driver de " + registro + " não pôde ser lido (" +
               win::TextoErro(static_cast<DWORD>(rc)) +
               "); nada foi executado. Corrija com: " + correcao;
    }
    valor.resize(valor.find(L'\0'));
    const std::filesystem::path caminho(valor);
    // Any other form is looked for along a search order we do not control.
    if (!caminho.is_absolute()) {
        return "Permissões inseguras: Driver=" + win::Utf8(valor) + " do driver " + driver +
               " não é um caminho completo; nada foi executado. Corrija com: " + correcao;
    }
    return ProblemaPermissao(caminho, Regra::Carregado, {});
}

} // namespace kelvane::plataforma
