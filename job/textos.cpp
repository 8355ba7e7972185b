#include "textos.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"

#include <algorithm>

namespace kelvane {

std::string TextoFaltandoArquivo(std::string_view nome) {
    return "Está faltando o arquivo: " + std::string(nome);
}

std::string TextoCaixaFerramentasFaltando(const std::vector<std::string>& nomes,
                                          const std::string& pasta) {
    std::string texto;
    for (const auto& nome : nomes) {
        texto += TextoFaltandoArquivo(nome) + "\r\n";
    }
    texto += (nomes.size() > 1 ? "Coloque-os" : "Coloque-o") +
             std::string(" na pasta do programa: ") + pasta + "\r\n";
    if (std::find(nomes.begin(), nomes.end(), plataforma::kNomeEnviador) != nomes.end()) {
        texto += std::string(plataforma::kOrigemEnviador) + "\r\n";
    }
    return texto + "O backup não será efetuado!";
}

void TextosResultado(Resultado& r, const std::filesystem::path& programa) {
    const std::string& descricao = r.falha.descricao;
    switch (r.etapa) {
    case Etapa::Nenhuma:
        return;
    case Etapa::Ferramentas:
        r.linhas.clear();
        r.aviso.clear();
        for (const auto& nome : r.faltando) {
            r.linhas.push_back(TextoFaltandoArquivo(nome));
            r.aviso += (r.aviso.empty() ? "" : "; ") + r.linhas.back();
        }
        r.caixa = TextoCaixaFerramentasFaltando(r.faltando, plataforma::TextoCaminho(programa));
        return;
    case Etapa::Conexao:
        r.linhas = {"Tarefa não executada. SAINDO"};
        r.aviso = descricao; // the line the connection logged
        r.caixa.clear();
        return;
    case Etapa::Log: // nothing more can be logged
        r.linhas.clear();
        r.aviso = r.caixa = "Erro: " + descricao;
        return;
    case Etapa::Permissoes:
    case Etapa::Ocupada:
        r.linhas = {descricao};
        r.aviso = r.caixa = descricao;
        return;
    default:
        r.linhas = {TextoFalha(r.falha)};
        r.aviso = r.caixa = r.linhas.front();
    }
}

std::string TextoEvento(CodigoSaida codigo, long numero, const std::string& arquivoLog) {
    const char* etapa = "o job não pôde gravar, ler ou apagar um arquivo";
    switch (codigo) {
    case CodigoSaida::FerramentaFaltando:
        etapa = "falta uma ferramenta na pasta do programa";
        break;
    case CodigoSaida::ConexaoFalhou:
        etapa = "conexão com o banco falhou";
        break;
    case CodigoSaida::BackupFalhou:
        etapa = "backup do banco falhou";
        break;
    case CodigoSaida::CompactacaoFalhou:
        etapa = "compactação falhou";
        break;
    case CodigoSaida::EnvioFalhou:
        etapa = "envio falhou";
        break;
    case CodigoSaida::JobEmExecucao:
        etapa = "outro backup estava em execução";
        break;
    case CodigoSaida::PermissoesInseguras:
        etapa = "permissões inseguras";
        break;
    case CodigoSaida::TesteRestauracaoFalhou:
        etapa = "teste de restauração falhou";
        break;
    default:
        break;
    }
    return "Erro: " + std::to_string(numero) + " - " + etapa + " (código de saída " +
           std::to_string(ComoInteiro(codigo)) + "); os detalhes estão no log " + arquivoLog +
           " da pasta de dados.";
}

std::string TextoInterrupcao(const std::string& motivo) {
    return TextoFalha(Falha{CodigoSaida::ErroOutro, 0,
                            "Execução interrompida (" + motivo + "): o backup não foi concluído."});
}

} // namespace kelvane
