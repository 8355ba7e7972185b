#include "falhas.h"

#include "job/banco.h"

namespace kelvane::janela {

std::string TextoFalhaFerramenta(const std::string& etapa, const std::string& ferramenta,
                                 const ResultadoProcesso& resultado,
                                 std::string (*significado)(int)) {
    // Numbered and worded as the job reports its own failures.
    return "Erro: " + std::to_string(NumeroFalha(resultado)) + " - " +
           DescricaoFalha(etapa, ferramenta, resultado, significado);
}

std::string TextoFalhaEtapa(const std::string& etapa, const std::string& motivo) {
    return "Erro: 0 - " + etapa + ": " + motivo;
}

std::string EnviarOuFalha(const std::filesystem::path& pasta, const DadosFtp& dados,
                          const std::filesystem::path& arquivo, const std::string& etapa,
                          bool teste) {
    try {
        const ArquivoLoginFtp login(dados);
        auto linha = LinhaEnviador(pasta, login.caminho(), dados.porta, dados.diretorio, arquivo);
        if (teste) {
            // By default the uploader redials a refused server twice, 20 s apart.
            linha.insert(linha.begin() + 1, {"-r", "1", "-t", "20"});
        }
        const auto r = ShellEspera(linha);
        if (r.sucesso()) {
            return {};
        }
        return OcultarSegredos(TextoFalhaFerramenta(etapa, "ncftpput", r, SignificadoEnviador),
                               {dados.senha});
    } catch (const std::exception& e) {
        return OcultarSegredos(TextoFalhaEtapa(etapa, e.what()), {dados.senha});
    }
}

} // namespace kelvane::janela
