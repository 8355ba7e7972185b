#include "arquivos.h"
#include "comum_windows.h"
#include "nomes.h"
#include "permissoes.h"

#include <aclapi.h>
#include <algorithm>
#include <iterator>
#include <vector>

namespace kelvane::plataforma {

namespace {

using win::Utf8;

// Rights that change a file or folder, its entries, its permissions or its owner.
constexpr ACCESS_MASK kEscrita = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                 FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                 FILE_DELETE_CHILD | GENERIC_WRITE | GENERIC_ALL;
// On a folder above the last one others may create entries (Windows' own C:\ lets every
// account do so) as long as they cannot remove or rename ours.
constexpr ACCESS_MASK kCriarEntradas = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;

std::wstring TextoSid(PSID sid) {
    wchar_t* texto = nullptr;
    if (!ConvertSidToStringSidW(sid, &texto)) {
        return L"?";
    }
    std::wstring s = texto;
    LocalFree(texto);
    return s;
}

bool SidIgual(PSID sid, const wchar_t* texto) {
    PSID outro = nullptr;
    if (!ConvertStringSidToSidW(texto, &outro)) {
        return false;
    }
    const bool igual = EqualSid(sid, outro);
    LocalFree(outro);
    return igual;
}

// A service's own account (NT SERVICE\<name>, S-1-5-80-...): only an administrator installs a
// service, its processes can act as the system anyway, and SQL Server's must write the .BAK here.
// The installer's service (TrustedInstaller) is one.
bool ContaDeServico(PSID sid) {
    const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    const auto* autoridade = GetSidIdentifierAuthority(sid);
    return std::equal(std::begin(autoridade->Value), std::end(autoridade->Value),
                      std::begin(nt.Value)) &&
           *GetSidSubAuthorityCount(sid) > 1 &&
           *GetSidSubAuthority(sid, 0) == SECURITY_SERVICE_ID_BASE_RID;
}

// The system, the administrators, services, or us: who may own and change what we run (root or us
// on Linux). CREATOR OWNER and OWNER RIGHTS stand for the owner.
bool Confiavel(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) {
        return false;
    }
    if (win::Identidade::Processo().Nossa(sid) || ContaDeServico(sid)) {
        return true;
    }
    for (const wchar_t* conhecido : {L"S-1-5-18", L"S-1-5-32-544", L"S-1-3-0", L"S-1-3-4"}) {
        if (SidIgual(sid, conhecido)) {
            return true;
        }
    }
    return false;
}

std::string NomeConta(PSID sid) {
    wchar_t nome[256];
    wchar_t dominio[256];
    DWORD n = std::size(nome);
    DWORD d = std::size(dominio);
    SID_NAME_USE tipo{};
    if (sid != nullptr && LookupAccountSidW(nullptr, sid, nome, &n, dominio, &d, &tipo)) {
        return d > 0 ? Utf8(dominio) + "\\" + Utf8(nome) : Utf8(nome);
    }
    return sid != nullptr ? Utf8(TextoSid(sid)) : std::string("(desconhecido)");
}

std::string NomeDireitos(ACCESS_MASK m, bool pasta) {
    std::string texto;
    const auto juntar = [&](ACCESS_MASK bits, const char* nome) {
        if ((m & bits) != 0) {
            texto += (texto.empty() ? "" : ", ") + std::string(nome);
        }
    };
    juntar(GENERIC_ALL, "controle total");
    juntar(GENERIC_WRITE, "gravar");
    juntar(FILE_WRITE_DATA, pasta ? "criar arquivos" : "gravar");
    juntar(FILE_APPEND_DATA, pasta ? "criar pastas" : "acrescentar");
    juntar(FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES, "alterar atributos");
    juntar(DELETE, "excluir");
    juntar(FILE_DELETE_CHILD, "excluir o conteúdo");
    juntar(WRITE_DAC, "alterar permissões");
    juntar(WRITE_OWNER, "tomar posse");
    return texto;
}

std::string Aspas(const std::string& caminho) {
    return "\"" + caminho + "\"";
}

std::optional<std::string> Inseguro(const std::string& caminho, const std::string& problema,
                                    const std::string& correcao) {
    return "Permissões inseguras: " + caminho + " " + problema +
           "; nada foi executado. Corrija com: " + correcao;
}

// Where a link or junction leads, as a plain path.
std::optional<std::filesystem::path> Destino(const std::filesystem::path& caminho) {
    const HANDLE h = CreateFileW(caminho.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::wstring final(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    if (n == 0 || n >= final.size()) {
        return std::nullopt;
    }
    final.resize(n);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        final = L"\\\\" + final.substr(8);
    } else if (final.rfind(L"\\\\?\\", 0) == 0) {
        final = final.substr(4);
    }
    return std::filesystem::path(final);
}

bool MesmoCaminho(const std::filesystem::path& a, const std::filesystem::path& b) {
    const auto& x = a.native();
    const auto& y = b.native();
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

struct Seguranca {
    PSECURITY_DESCRIPTOR descritor = nullptr;
    PSID dono = nullptr;
    PACL dacl = nullptr;
    DWORD atributos = 0;

    Seguranca() = default;
    Seguranca(const Seguranca&) = delete;
    Seguranca& operator=(const Seguranca&) = delete;
    ~Seguranca() { LocalFree(descritor); }

    // The entry itself, never what a link leads to; false when it cannot be read.
    bool Ler(const std::filesystem::path& caminho) {
        const HANDLE h = CreateFileW(
            caminho.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return false;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        bool ok = GetFileInformationByHandle(h, &info) != 0;
        atributos = info.dwFileAttributes;
        ok = ok && GetSecurityInfo(h, SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &dono,
                                   nullptr, &dacl, nullptr, &descritor) == ERROR_SUCCESS;
        CloseHandle(h);
        return ok;
    }
};

std::optional<std::string> ConferirCaminho(const std::filesystem::path& caminho, bool estrito,
                                           const ContextoPermissao& ctx, int saltos = 0) {
    if (saltos > 40) {
        return Inseguro(TextoCaminho(caminho), "tem links demais",
                        "dir /al " + Aspas(TextoCaminho(caminho.parent_path())));
    }
    const auto normal = caminho.lexically_normal();
    const auto& eu = win::Identidade::Processo();
    // From the root ("C:\", or a share) down; a share's root may not be readable.
    std::vector<std::filesystem::path> partes = {normal.root_path()};
    for (const auto& parte : normal.relative_path()) {
        partes.push_back(partes.back() / parte);
    }
    for (std::size_t i = 0; i < partes.size(); ++i) {
        auto atual = partes[i];
        const bool ultimo = i + 1 == partes.size();
        Seguranca s;
        if (!s.Ler(atual)) {
            if (i == 0) {
                continue;
            }
            return std::nullopt; // what we cannot reach we cannot load either; missing tools
                                 // are reported on their own
        }
        const std::string p = TextoCaminho(atual);
        const bool pastaPrograma = MesmoCaminho(atual, ctx.dados);
        const bool pasta = (s.atributos & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!Confiavel(s.dono)) {
            const std::string dono = NomeConta(s.dono);
            if (pastaPrograma) {
                const auto exe = TextoCaminho(ctx.pasta / kNomeExecutavel);
                return Inseguro(p,
                                "pertence a " + dono + ", e o kelvane foi iniciado como " +
                                    NomeConta(eu.Usuario()),
                                ctx.janela
                                    ? "runas /user:" + dono + " " + Aspas(exe)
                                    : "runas /user:" + dono + " \"\\\"" + exe + "\\\" EXEC\"");
            }
            return Inseguro(p, "pertence a outra conta (" + dono + ")",
                            "icacls " + Aspas(p) + " /setowner " + Aspas(NomeConta(eu.Usuario())));
        }
        if (s.dacl == nullptr) {
            return Inseguro(p, "pode ser alterado por qualquer conta (não tem permissões)",
                            "icacls " + Aspas(p) + " /reset");
        }
        // FILE_DELETE_CHILD means nothing on a file.
        const ACCESS_MASK tolerado = pasta && !(estrito && ultimo) ? kCriarEntradas
                                     : pasta                       ? 0
                                                                   : FILE_DELETE_CHILD;
        for (DWORD a = 0; a < s.dacl->AceCount; ++a) {
            void* ace = nullptr;
            if (!GetAce(s.dacl, a, &ace)) {
                continue;
            }
            const auto* cabecalho = static_cast<const ACE_HEADER*>(ace);
            // Entries only for what is created inside, and denials, give no one anything here.
            if (cabecalho->AceType != ACCESS_ALLOWED_ACE_TYPE ||
                (cabecalho->AceFlags & INHERIT_ONLY_ACE) != 0) {
                continue;
            }
            const auto* permite = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            auto* sid = reinterpret_cast<PSID>(const_cast<DWORD*>(&permite->SidStart));
            const ACCESS_MASK direitos = permite->Mask & kEscrita & ~tolerado;
            if (direitos == 0 || Confiavel(sid)) {
                continue;
            }
            return Inseguro(p,
                            "pode ser alterado por " + NomeConta(sid) + " (" +
                                NomeDireitos(direitos, pasta) + ")",
                            "icacls " + Aspas(p) + " /inheritance:d /remove:g *" +
                                Utf8(TextoSid(sid)));
        }
        if ((s.atributos & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            const auto alvo = Destino(atual);
            if (!alvo) {
                return std::nullopt;
            }
            if (auto problema = ConferirCaminho(*alvo, estrito && ultimo, ctx, saltos + 1)) {
                return problema;
            }
            // What follows lies below the target.
            for (std::size_t j = i + 1; j < partes.size(); ++j) {
                partes[j] = *alvo / partes[j].lexically_relative(partes[i]);
            }
            partes[i] = *alvo;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> ProblemaPermissao(const std::filesystem::path& caminho, Regra,
                                             const ContextoPermissao& contexto) {
    return ConferirCaminho(caminho, true, contexto);
}

} // namespace kelvane::plataforma
