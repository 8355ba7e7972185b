// Who may change what we load, run, read or write: the owners and permissions of a path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kelvane::plataforma {

// The two places and how this start was asked for, to word the fix.
struct ContextoPermissao {
    std::filesystem::path pasta; // the program
    std::filesystem::path dados; // the job's data; the program folder in a portable copy
    bool janela = false;
    // On Windows, the account of the SQL Server service that writes the .BAK (NT SERVICE\...),
    // trusted to write the backup folder and nothing else; empty where there is none.
    std::string servicoBanco;
};

enum class Regra {
    // What we load or read settings from: the system's or ours, changed by no one else.
    Carregado,
    // The program apart from its data: the system's alone (root, SYSTEM, Administrators), every
    // folder on its way too, since whoever could swap it would have it run by the system's own
    // accounts.
    Sistema,
    // The job's data: ours, and no one else may change or read it (it holds passwords and whole
    // databases).
    Dados,
    // On Windows, the folder SQL Server's service writes the .BAK into: as Dados, with that
    // service allowed to write. Elsewhere the same as Dados.
    Backup,
};

// `caminho` (absolute) and every folder above it, each owned by the system or us and writable by
// no one else, and the last one as `regra` asks; links are followed to what they lead to. A folder
// above may let others create names when only their owner can remove them. Returns the one line
// that names the first path at fault and the fix; nothing for what does not exist.
std::optional<std::string> ProblemaPermissao(const std::filesystem::path& caminho, Regra regra,
                                             const ContextoPermissao& contexto);

} // namespace kelvane::plataforma
