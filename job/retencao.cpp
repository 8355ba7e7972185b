#include "retencao.h"

#include "backup.h"
#include "log.h"
#include "programa.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace kelvane {

namespace {

bool Digitos(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Numero(std::string_view s) {
    int n = 0;
    std::from_chars(s.data(), s.data() + s.size(), n);
    return n;
}

// The date of "..._DDMMYY.7z" as (year, month, day), when it names a real day.
std::optional<std::tuple<int, int, int>> DataDoNome(std::string_view nome, int anoHoje) {
    constexpr std::string_view sufixo = ".7z";
    if (nome.size() < 6 + sufixo.size() || !nome.ends_with(sufixo)) {
        return std::nullopt;
    }
    const auto ddmmyy = nome.substr(nome.size() - sufixo.size() - 6, 6);
    if (!Digitos(ddmmyy)) {
        return std::nullopt;
    }
    const int dia = Numero(ddmmyy.substr(0, 2));
    const int mes = Numero(ddmmyy.substr(2, 2));
    int ano = anoHoje - anoHoje % 100 + Numero(ddmmyy.substr(4, 2));
    if (ano > anoHoje) {
        ano -= 100;
    }
    std::tm t{};
    t.tm_year = ano - 1900;
    t.tm_mon = mes - 1;
    t.tm_mday = dia;
    t.tm_hour = 12;
    std::tm normalizado = t;
    ::timegm(&normalizado);
    if (mes < 1 || mes > 12 || normalizado.tm_mday != dia || normalizado.tm_mon != mes - 1) {
        return std::nullopt;
    }
    return std::tuple{ano, mes, dia};
}

} // namespace

std::optional<long> ManterArquivos(std::string_view valor) {
    while (!valor.empty() && (valor.front() == ' ' || valor.front() == '\t')) {
        valor.remove_prefix(1);
    }
    while (!valor.empty() && (valor.back() == ' ' || valor.back() == '\t')) {
        valor.remove_suffix(1);
    }
    if (!Digitos(valor) || valor.size() > 6) {
        return std::nullopt;
    }
    const long n = Numero(valor);
    if (n < 1 || n > 100000) {
        return std::nullopt;
    }
    return n;
}

std::vector<std::string> ArquivosAntigos(const std::vector<std::string>& nomes,
                                         const std::string& codigo, const std::string& nome,
                                         const std::string& atual, long manter,
                                         const std::tm& hoje) {
    const int anoHoje = hoje.tm_year + 1900;
    std::vector<std::pair<std::tuple<int, int, int>, std::string>> nossos;
    for (const auto& n : nomes) {
        const auto data = DataDoNome(n, anoHoje);
        if (!data) {
            continue;
        }
        std::tm dia{};
        dia.tm_year = std::get<0>(*data) - 1900;
        dia.tm_mon = std::get<1>(*data) - 1;
        dia.tm_mday = std::get<2>(*data);
        // Ours only if this folder's naming gives exactly this name for that day.
        if ("/" + n == NomeArquivoCompactado(NomeArquivoBackup(codigo, nome, dia)) && n != atual) {
            nossos.emplace_back(*data, n);
        }
    }
    // Newest first; the archive just made counts as the newest.
    std::sort(nossos.begin(), nossos.end(), [](const auto& a, const auto& b) { return a > b; });
    std::vector<std::string> antigos;
    for (std::size_t i = static_cast<std::size_t>(std::max(manter - 1, 0L)); i < nossos.size();
         ++i) {
        antigos.push_back(nossos[i].second);
    }
    std::reverse(antigos.begin(), antigos.end());
    return antigos;
}

void LimparArquivosAntigos(const std::filesystem::path& pasta, const std::string& valor,
                           const std::string& codigo, const std::string& nome,
                           const std::string& atual, const ObservadorJob* observador) {
    if (valor.empty()) {
        return;
    }
    const auto manter = ManterArquivos(valor);
    if (!manter) {
        GravarLog(
            "ManterArquivos inválido (\"" + valor +
                "\"): use um número inteiro a partir de 1; nenhum arquivo antigo foi excluído.",
            observador);
        return;
    }
    std::vector<std::string> nomes;
    std::error_code erro;
    for (const auto& e : std::filesystem::directory_iterator(pasta, erro)) {
        struct stat st {};
        // Regular files only, never through a link.
        if (::lstat(e.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            nomes.push_back(e.path().filename().string());
        }
    }
    if (erro) {
        GravarLog("Não foi possível listar " + pasta.string() + ": " + erro.message() +
                      "; nenhum arquivo antigo foi excluído.",
                  observador);
        return;
    }
    for (const auto& antigo : ArquivosAntigos(nomes, codigo, nome, atual, *manter, AgoraLocal())) {
        if (::unlink((pasta / antigo).c_str()) == 0) {
            GravarLog("Excluindo arquivo antigo...: " + antigo, observador);
        } else {
            GravarLog("Não foi possível excluir o arquivo antigo " + antigo + ": " +
                          std::strerror(errno),
                      observador);
        }
    }
}

} // namespace kelvane
