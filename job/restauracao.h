// The restore (RESTAURAR): an archive the job sent, read back from the FTP server (or a local
// .7z or .BAK), unpacked and restored under a new database name, then checked with DBCC CHECKDB.
// Built from the backup's own steps, under the same lock and settings.
#pragma once

#include "codigos.h"
#include "contexto.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

// What RESTAURAR was given. `arquivo`: empty or "-", the newest archive of this client on the
// server; a name without a folder, that file of the server's folder; a path, a local .7z or
// .BAK (never removed nor changed). `banco`: the database to create; empty, "<Banco>_<DDMMYY>"
// with the archive's date (today's for a local file whose name carries none).
// `teste`: EXEC's drill, inside the backup's run (which holds the lock and reports the failure):
// the database is dropped once CHECKDB passed, and one already there is never touched.
// `baixado` and `restaurado`, when set: the download's bytes so far (and the whole), the
// restore's percent as the server reports it (RESTAURAR's progress line on a terminal).
struct PedidoRestauracao {
    std::string arquivo, banco;
    bool teste = false;
    std::function<void(std::uintmax_t, std::uintmax_t)> baixado{};
    std::function<void(int)> restaurado{};
    OpcoesProcesso ferramentas{}; // the drill's tools: they inherit the backup's lock
};

// RESTORE DATABASE [banco] FROM DISK = N'caminho' WITH MOVE N'<logical>' TO N'<physical>', ...,
// (CHECKSUM,) STATS = 10; names quoted so that no value can change the statement's meaning.
std::string ComandoRestauracao(const std::string& banco, const std::string& caminho,
                               const std::vector<std::pair<std::string, std::string>>& movimentos,
                               bool checksum);

// The newest of `nomes` that is an archive of the client (`codigo`, `nome`) as the job names
// them, by the date in the name (two-digit years read as the retention reads them); empty when
// none is. An upload cut short (".parcial") is never one.
std::string ArquivoMaisRecente(const std::vector<std::string>& nomes, const std::string& codigo,
                               const std::string& nome, int anoHoje);

// LISTAR: the archives of this client on the server, newest first, one a line: the date in the
// name, the size the server tells, the name RESTAURAR takes. Nothing is written anywhere.
std::optional<Falha> ListarArquivos(const Configuracao& c, Transferencias& transferencias,
                                    const std::tm& hoje, std::string& saida);

// Whether a drill is due `dias` after the last one (`ultimo`, in Executado's form; empty or
// unreadable: never happened).
bool TesteDevido(const std::string& ultimo, const std::tm& hoje, unsigned dias);

// The whole restore, reported in the log: "Inicio da Restauração", one line per step, "Fim da
// Restauração". `contexto.configuracao` must be set (info.ini as the permission check read it).
// What it downloaded or extracted is removed whatever happened; a database it created that the
// server left unusable (a restore refused part-way) is dropped, one CHECKDB found damaged kept.
Resultado ExecutarRestauracao(Contexto contexto, const PedidoRestauracao& pedido);

} // namespace kelvane
