// Who may change what we load, run, read or write: the owners and permissions of a path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kelvane::plataforma {

// The program folder and how this start was asked for, to word the fix.
struct ContextoPermissao {
    std::filesystem::path pasta;
    bool janela = false;
};

// `caminho` (absolute) and every folder above it, each owned by the system or us and writable by
// no one else; links are followed to what they lead to. A folder above may let others create
// names when only their owner can remove them, the last one when `estrito` may not. Returns the
// one line that names the first path at fault and the fix; nothing for what cannot be reached.
std::optional<std::string> ProblemaPermissao(const std::filesystem::path& caminho, bool estrito,
                                             const ContextoPermissao& contexto);

} // namespace kelvane::plataforma
