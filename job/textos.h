// The user's words for a run's outcome, in one place: the log's lines, the heartbeat, the boxes,
// the system's event log and stderr all take them from here.
#pragma once

#include "../plataforma/erro_sistema.h"
#include "contexto.h"

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kelvane {

// The system's words for `erro` (a number of errno's, as the platform unit returns them), in
// Portuguese for the ones a save, a load, a run or a send meets in practice.
std::string TextoErroSistema(std::error_code erro);
// What was being done when the system's call failed, then its words (and the system's own number
// where it differs from errno's).
std::string TextoErroSistema(const plataforma::ErroSistema& erro);
// A database driver's own text, the one text from outside that may hold the system's words
// (strerror's, in English): those put in Portuguese as TextoErroSistema words them.
std::string TraduzirErrosSistema(std::string texto);

// A failure's words: "<step>: <what its fields say>", or its `descricao` where it is not typed; the
// restore drill's after "Teste de restauração falhou: ".
std::string TextoDescricao(const Falha& falha);

// "Está faltando o arquivo: <nome>"
std::string TextoFaltandoArquivo(std::string_view nome);
// The one message box for the tools `nomes` missing from the program folder `pasta`: each one's
// missing-file text, where to put them, where ncftpput comes from when it is one of them, and
// "O backup não será efetuado!", lines joined with CR LF.
std::string TextoCaixaFerramentasFaltando(const std::vector<std::string>& nomes,
                                          const std::string& pasta);

// Fills the words of `r` (linhas, aviso, caixa) from what it holds: "Erro: <n> - <step>: ..." for a
// failed step; a refusal's own line; one line per missing tool and their box; the connection's
// "Tarefa não executada. SAINDO" (its heartbeat the line the connection logged, no box).
// `programa` names the program folder in the missing tools' box.
void TextosResultado(Resultado& r, const std::filesystem::path& programa);

// For the Application log, which every user of the machine reads: the outcome alone (the step,
// the number, the exit status), never a server's name, a port, a path or a tool's words; the
// details are in the log `arquivoLog`.
std::string TextoEvento(CodigoSaida codigo, long numero, const std::string& arquivoLog);

// "Erro: 0 - Execução interrompida (<motivo>): o backup não foi concluído."
std::string TextoInterrupcao(const std::string& motivo);

} // namespace kelvane
