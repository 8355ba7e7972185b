#include "permissoes.h"
#include "processo.h"

#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane::plataforma {

namespace {

std::string Octal(mode_t modo) {
    char texto[8];
    std::snprintf(texto, sizeof texto, "%04o", static_cast<unsigned>(modo & 07777));
    return texto;
}

std::string NomeConta(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? pw->pw_name : std::to_string(uid);
}

std::string NomeGrupo(gid_t gid) {
    const group* gr = ::getgrgid(gid);
    return gr ? gr->gr_name : std::to_string(gid);
}

std::optional<std::string> Inseguro(const std::string& caminho, const std::string& problema,
                                    const std::string& correcao) {
    return "Permissões inseguras: " + caminho + " " + problema +
           "; nada foi executado. Corrija com: " + correcao;
}

// `caminho` (absolute) and every folder above it, each owned by root or us (root alone for the
// program apart from its data) and writable by no one else; links are followed to what they lead
// to. A folder above may be writable by others with the sticky bit (only one name is followed
// through it), the last one may not: there anyone who can create a name can put one where we load
// or write. The last one as `regra` asks besides: the data ours alone, and readable by no one
// else.
std::optional<std::string> ConferirCaminho(const std::filesystem::path& caminho, Regra regra,
                                           const ContextoPermissao& ctx, int saltos = 0) {
    if (saltos > 40) {
        return Inseguro(caminho.string(), "tem links demais", "ls -l " + caminho.string());
    }
    const auto normal = caminho.lexically_normal();
    // Root's window on another account's data takes that account for ours there: the job it
    // starts runs as it.
    const bool dados = regra == Regra::Dados || regra == Regra::Backup;
    const uid_t eu =
        dados && DonoDosDadosAdotado() ? static_cast<uid_t>(IdDonoDosDados()) : ::geteuid();
    std::filesystem::path atual;
    for (auto parte = normal.begin(); parte != normal.end(); ++parte) {
        atual /= *parte;
        const bool ultimo = std::next(parte) == normal.end();
        struct stat st {};
        if (::lstat(atual.c_str(), &st) != 0) {
            return std::nullopt; // what we cannot reach we cannot load either; missing tools
                                 // are reported on their own
        }
        const std::string p = atual.string();
        const bool link = S_ISLNK(st.st_mode);
        const bool pasta = S_ISDIR(st.st_mode);
        // The rule of the last name applies to what a link there leads to.
        const bool proprio = ultimo && !link;
        if (dados && proprio && st.st_uid != eu) {
            const std::string dono = NomeConta(st.st_uid);
            if (atual == ctx.dados && st.st_uid == 0) {
                // Made by root before SQL Server's account existed: the job runs as that
                // account, never as root.
                return Inseguro(p,
                                "pertence a root, e o kelvane foi iniciado como " + NomeConta(eu),
                                "sudo chown -R " + NomeConta(eu) + ": " + p);
            }
            if (atual == ctx.dados) {
                const auto exe = (ctx.pasta / "kelvane").string();
                // The window: root's, through the menu's launcher, on data apart from the
                // program; a portable copy's own account's, in its own session.
                return Inseguro(
                    p, "pertence a " + dono + ", e o kelvane foi iniciado como " + NomeConta(eu),
                    !ctx.janela              ? "sudo -u " + dono + " " + exe + " EXEC"
                    : ctx.pasta != ctx.dados ? "pkexec " + (ctx.pasta / "kelvane-janela").string()
                                             : "entre na sessão de " + dono + " e abra " + exe);
            }
            return Inseguro(p, "pertence a outra conta (" + dono + ")",
                            "chown " + NomeConta(eu) + " " + p);
        }
        if (st.st_uid != 0 && (regra == Regra::Sistema || st.st_uid != eu)) {
            const std::string dono = NomeConta(st.st_uid);
            return Inseguro(p, "pertence a outra conta (" + dono + ")",
                            "chown " +
                                (regra == Regra::Sistema ? std::string("root") : NomeConta(eu)) +
                                " " + p);
        }
        const bool sticky = pasta && (st.st_mode & S_ISVTX) != 0 && !ultimo;
        if (!link && (st.st_mode & 022) != 0 && !sticky) {
            std::string correcao = "chmod go-w " + p;
            if (atual == ctx.dados && eu == 0 && (st.st_mode & 020) != 0 && st.st_gid != 0) {
                // The group that writes the .BAK here is the server's account: the folder
                // becomes that account's, and the job runs as it.
                const std::string grupo = NomeGrupo(st.st_gid);
                correcao = "chown " + grupo + ": " + p + " && chmod 0700 " + p +
                           ", e rode o kelvane como " + grupo + " (veja o README)";
            } else if (pasta && !ultimo) {
                correcao += " (ou chmod +t " + p + ", se outra conta precisa criar arquivos nela)";
            }
            return Inseguro(
                p, "pode ser alterado pelo grupo ou por outros (modo " + Octal(st.st_mode) + ")",
                correcao);
        }
        if (dados && proprio && (st.st_mode & 077) != 0) {
            return Inseguro(
                p, "pode ser lido pelo grupo ou por outros (modo " + Octal(st.st_mode) + ")",
                "chmod go-rwx " + p);
        }
        if (link) {
            std::error_code erro;
            const auto alvo = std::filesystem::read_symlink(atual, erro);
            if (erro) {
                return std::nullopt;
            }
            const auto resolvido = alvo.is_absolute() ? alvo : atual.parent_path() / alvo;
            // Only the last name's rule reaches the target; a folder on the way is a folder above.
            const Regra acima = regra == Regra::Sistema ? Regra::Sistema : Regra::Carregado;
            if (auto problema =
                    ConferirCaminho(resolvido, ultimo ? regra : acima, ctx, saltos + 1)) {
                return problema;
            }
            atual = std::filesystem::canonical(atual, erro);
            if (erro) {
                return std::nullopt;
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> ProblemaPermissao(const std::filesystem::path& caminho, Regra regra,
                                             const ContextoPermissao& contexto) {
    return ConferirCaminho(caminho, regra, contexto);
}

} // namespace kelvane::plataforma
