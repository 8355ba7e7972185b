#include "permissoes.h"

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

// `caminho` (absolute) and every folder above it, each owned by root or us and writable by no one
// else; links are followed to what they lead to. A folder above may be writable by others with
// the sticky bit (only one name is followed through it), the last one when `estrito` may not:
// there anyone who can create a name can put one where we load or write.
std::optional<std::string> ConferirCaminho(const std::filesystem::path& caminho, bool estrito,
                                           const ContextoPermissao& ctx, int saltos = 0) {
    if (saltos > 40) {
        return Inseguro(caminho.string(), "tem links demais", "ls -l " + caminho.string());
    }
    const auto normal = caminho.lexically_normal();
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
        const bool pastaPrograma = atual == ctx.pasta;
        if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
            const std::string dono = NomeConta(st.st_uid);
            if (pastaPrograma) {
                const auto exe = (ctx.pasta / "kelvane").string();
                return Inseguro(p,
                                "pertence a " + dono + ", e o kelvane foi iniciado como " +
                                    NomeConta(::geteuid()),
                                // The window takes only the display along; that account
                                // is let in to it by xhost.
                                ctx.janela ? "xhost +SI:localuser:" + dono + " && sudo -u " + dono +
                                                 " DISPLAY=\"$DISPLAY\" " + exe
                                           : "sudo -u " + dono + " " + exe + " EXEC");
            }
            return Inseguro(p, "pertence a outra conta (" + dono + ")",
                            "chown " + NomeConta(::geteuid()) + " " + p);
        }
        const bool pasta = S_ISDIR(st.st_mode);
        const bool sticky = pasta && (st.st_mode & S_ISVTX) != 0 && !(estrito && ultimo);
        if (!S_ISLNK(st.st_mode) && (st.st_mode & 022) != 0 && !sticky) {
            std::string correcao = "chmod go-w " + p;
            if (pastaPrograma && ::geteuid() == 0 && (st.st_mode & 020) != 0 && st.st_gid != 0) {
                // The group that writes the .BAK here is the server's account: the folder
                // becomes that account's, and the job runs as it.
                const std::string grupo = NomeGrupo(st.st_gid);
                correcao = "chown " + grupo + ": " + p + " && chmod 0700 " + p +
                           ", e rode o kelvane como " + grupo + " (veja o README)";
            } else if (pasta && !(estrito && ultimo)) {
                correcao += " (ou chmod +t " + p + ", se outra conta precisa criar arquivos nela)";
            }
            return Inseguro(
                p, "pode ser alterado pelo grupo ou por outros (modo " + Octal(st.st_mode) + ")",
                correcao);
        }
        if (S_ISLNK(st.st_mode)) {
            std::error_code erro;
            const auto alvo = std::filesystem::read_symlink(atual, erro);
            if (erro) {
                return std::nullopt;
            }
            const auto resolvido = alvo.is_absolute() ? alvo : atual.parent_path() / alvo;
            if (auto problema = ConferirCaminho(resolvido, estrito && ultimo, ctx, saltos + 1)) {
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

std::optional<std::string> ProblemaPermissao(const std::filesystem::path& caminho, bool estrito,
                                             const ContextoPermissao& contexto) {
    return ConferirCaminho(caminho, estrito, contexto);
}

} // namespace kelvane::plataforma
