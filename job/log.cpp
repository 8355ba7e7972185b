#include "log.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "../settings/codificacao.h"
#include "../settings/conversao.h"
#include "observador.h"
#include "programa.h"
#include "textos.h"

#include <cstdio>
#include <cstring>

namespace kelvane {

std::string ArquivoLog;

std::string NomeArquivoLog(const std::tm& m) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Log_%02d%02d%02d_%02d%02d.Log", m.tm_mday, m.tm_mon + 1,
                  (m.tm_year + 1900) % 100, m.tm_hour, m.tm_min);
    return buf;
}

void GravarLog(const std::string& Mensagem, const ObservadorJob* observador) {
    if (observador && observador->mensagem) {
        observador->mensagem(Mensagem);
    }
    GravarLinhaLog(PastaDados() / "Log" / ArquivoLog, Mensagem, AgoraLocal());
}

void GravarLinhaLog(const std::filesystem::path& caminho, const std::string& Mensagem,
                    const std::tm& momento) {
    // One message, one line: a server's or a tool's text with line breaks must not add lines
    // of its own (a false "Fim do Processo").
    std::string texto = Mensagem;
    for (char& c : texto) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            c = ' ';
        }
    }
    std::string linha = TextoDataHora(momento) + " : " + texto;
    if constexpr (plataforma::kTextoEmCp1252) {
        linha = Utf8ParaCp1252(linha);
    }
    linha += plataforma::kFimDeLinha;
    bool aberto = false;
    const auto erro = plataforma::AcrescentarLinha(caminho, linha, aberto);
    if (!aberto) {
        throw ErroLog("não foi possível abrir o log " + plataforma::TextoCaminho(caminho) + ": " +
                      TextoErroSistema(erro));
    }
    if (erro) {
        throw ErroLog("não foi possível gravar no log " + plataforma::TextoCaminho(caminho) + ": " +
                      TextoErroSistema(erro));
    }
}

} // namespace kelvane
