// libFuzzer target over the INI reader and writer: an arbitrary file, then one write.
// Beyond not crashing: the written value reads back in its stored form, and every key the file
// held before reads back as it did.
#include "apoio.h"
#include "settings/ini.h"

#include <cstdio>
#include <fstream>
#include <fuzzer/FuzzedDataProvider.h>
#include <iterator>
#include <utility>
#include <vector>

using namespace kelvane;
using namespace kelvane::fuzz;

namespace {

// Names as the program uses them (fixed ASCII, any case), and now and then anything at all.
std::string Nome(FuzzedDataProvider& dados, const std::vector<const char*>& conhecidos) {
    if (dados.ConsumeIntegralInRange(0, 7) == 0) {
        return dados.ConsumeRandomLengthString(16);
    }
    return conhecidos[dados.ConsumeIntegralInRange<std::size_t>(0, conhecidos.size() - 1)];
}

bool NomeComum(std::string_view nome) {
    if (nome.empty()) {
        return false;
    }
    for (char c : nome) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string Aparado(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return std::string(s);
}

// (section, key) of every plain key line of the file, as UTF-8 names.
std::vector<std::pair<std::string, std::string>> Chaves(const std::string& conteudo) {
    std::vector<std::pair<std::string, std::string>> chaves;
    std::string secao;
    std::size_t inicio = 0;
    while (inicio <= conteudo.size()) {
        auto fim = conteudo.find('\n', inicio);
        if (fim == std::string::npos) {
            fim = conteudo.size();
        }
        std::string linha = Aparado(std::string_view(conteudo).substr(inicio, fim - inicio));
        if (!linha.empty() && linha.back() == '\r') {
            linha.pop_back();
        }
        if (!linha.empty() && linha.front() == '[') {
            secao = Aparado(linha.substr(1, linha.find(']') - 1));
        } else if (const auto igual = linha.find('=');
                   igual != std::string::npos && !linha.empty() && linha.front() != ';') {
            const std::string chave = Aparado(linha.substr(0, igual));
            if (NomeComum(chave) && NomeComum(secao)) {
                chaves.emplace_back(Cp1252ParaUtf8(secao), Cp1252ParaUtf8(chave));
            }
        }
        inicio = fim + 1;
    }
    return chaves;
}

// Control bytes as \xNN, so that the report shows every byte.
std::string Visivel(std::string_view s) {
    std::string r;
    for (const unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            r += buf;
        } else {
            r += static_cast<char>(c);
        }
    }
    return r;
}

bool MesmoNome(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        x = (x >= 'a' && x <= 'z') ? static_cast<unsigned char>(x - 32) : x;
        y = (y >= 'a' && y <= 'z') ? static_cast<unsigned char>(y - 32) : y;
        if (x != y) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t tamanho) {
    FuzzedDataProvider dados(bytes, tamanho);
    const std::string secao = Nome(dados, {"infos", "INFOS", "Infos", "outra"});
    const std::string chave = Nome(dados, {"Senha", "SENHA", "Passw", "Executado", "x"});
    const std::string valor = dados.ConsumeRandomLengthString(600);
    const std::string conteudo = dados.ConsumeRemainingBytesAsString();

    // Shown with a failure, so that a finding can be turned into a test case.
    auto mostrar = [&](const std::string& depois) {
        std::fprintf(stderr, "secao=[%s] chave=[%s]\nvalor=[%s]\nantes=[%s]\ndepois=[%s]\n",
                     Visivel(secao).c_str(), Visivel(chave).c_str(), Visivel(valor).c_str(),
                     Visivel(conteudo).c_str(), Visivel(depois).c_str());
    };
    const auto arquivo = Rascunho() / "info.ini";
    {
        std::ofstream saida(arquivo, std::ios::binary | std::ios::trunc);
        saida << conteudo;
    }
    const auto chaves = Chaves(conteudo);
    std::vector<std::string> antes;
    for (const auto& [s, k] : chaves) {
        antes.push_back(LerINI(s, k, arquivo));
    }
    (void)LerINI(secao, chave, arquivo);

    if (!GravarValorINI(secao, chave, valor, arquivo)) {
        Falha("gravação num arquivo legível numa pasta gravável falhou");
    }
    auto lerTudo = [&] {
        std::ifstream entrada(arquivo, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(entrada), {});
    };
    // The program's names are plain words; any other name is only fuzzed for crashes (a line
    // break in a name would write a line of its own).
    if (!NomeComum(secao) || !NomeComum(chave)) {
        return 0;
    }
    if (LerINI(secao, chave, arquivo) != FormaGuardada(valor)) {
        mostrar(lerTudo());
        Falha("o valor gravado não volta igual");
    }
    for (std::size_t i = 0; i < chaves.size(); ++i) {
        const auto& [s, k] = chaves[i];
        if (MesmoNome(s, secao) && MesmoNome(k, chave)) {
            continue;
        }
        if (LerINI(s, k, arquivo) != antes[i]) {
            mostrar(lerTudo());
            std::fprintf(stderr, "mudou: [%s] %s\n", s.c_str(), k.c_str());
            Falha("gravar uma chave mudou outra");
        }
    }
    return 0;
}
