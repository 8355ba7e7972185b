#include "arquivos.h"
#include "comum_windows.h"
#include "nomes.h"
#include "permissoes.h"

#include <aclapi.h>
#include <algorithm>
#include <bcrypt.h>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <vector>
#include <winioctl.h>

namespace kelvane::plataforma {

namespace win {

std::unique_ptr<BYTE[]> SidDaConta(std::string_view conta) {
    static constexpr std::wstring_view kServicos = L"NT SERVICE\\";
    const std::wstring largo = Largo(conta);
    if (largo.size() > kServicos.size() &&
        CompareStringOrdinal(largo.c_str(), static_cast<int>(kServicos.size()), kServicos.data(),
                             static_cast<int>(kServicos.size()), TRUE) == CSTR_EQUAL) {
        const std::wstring nome = largo.substr(kServicos.size());
        std::wstring maiusculas(nome.size(), L'\0');
        if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, nome.c_str(),
                          static_cast<int>(nome.size()), maiusculas.data(),
                          static_cast<int>(maiusculas.size()), nullptr, nullptr,
                          0) != static_cast<int>(nome.size())) {
            return nullptr;
        }
        // CNG: the legacy CryptoAPI provider would load the certificate store's DLLs with it.
        BCRYPT_ALG_HANDLE algoritmo = nullptr;
        if (!BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&algoritmo, BCRYPT_SHA1_ALGORITHM, nullptr, 0))) {
            return nullptr;
        }
        UCHAR sha1[20];
        const bool ok = BCRYPT_SUCCESS(
            BCryptHash(algoritmo, nullptr, 0,
                       reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(maiusculas.data())),
                       static_cast<ULONG>(maiusculas.size() * sizeof(wchar_t)), sha1, sizeof sha1));
        BCryptCloseAlgorithmProvider(algoritmo, 0);
        if (!ok) {
            return nullptr;
        }
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        auto sid = std::make_unique<BYTE[]>(GetSidLengthRequired(6));
        InitializeSid(sid.get(), &nt, 6);
        *GetSidSubAuthority(sid.get(), 0) = SECURITY_SERVICE_ID_BASE_RID;
        for (DWORD i = 0; i < 5; ++i) {
            DWORD parte = 0; // as Windows reads the digest: little-endian
            std::memcpy(&parte, sha1 + 4 * i, sizeof parte);
            *GetSidSubAuthority(sid.get(), i + 1) = parte;
        }
        return sid;
    }
    if (largo.empty()) {
        return nullptr;
    }
    DWORD n = 0;
    DWORD d = 0;
    SID_NAME_USE tipo{};
    LookupAccountNameW(nullptr, largo.c_str(), nullptr, &n, nullptr, &d, &tipo);
    if (n == 0) {
        return nullptr;
    }
    auto sid = std::make_unique<BYTE[]>(n);
    std::wstring dominio(d, L'\0');
    if (!LookupAccountNameW(nullptr, largo.c_str(), sid.get(), &n, dominio.data(), &d, &tipo)) {
        return nullptr;
    }
    return sid;
}

} // namespace win

namespace {

using win::Utf8;

// Rights that change a file or folder, its entries, its permissions or its owner.
constexpr ACCESS_MASK kEscrita = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                 FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                 FILE_DELETE_CHILD | GENERIC_WRITE | GENERIC_ALL;
// Rights that read what a file holds or list what a folder holds.
constexpr ACCESS_MASK kLeitura = FILE_READ_DATA | FILE_READ_EA | GENERIC_READ | GENERIC_ALL;
// On a folder above the last one others may create entries and set attributes (C:\ lets every
// account create folders, C:\ProgramData every user create files) as long as they cannot remove
// or rename ours; a folder that holds something cannot be made a link.
constexpr ACCESS_MASK kAcima =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES;
// icacls' "M": what SQL Server's service may hold on the backups' folder. It writes and deletes
// there, and changes neither the permissions nor the owner.
constexpr ACCESS_MASK kModificar = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE |
                                   DELETE | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE;

constexpr const wchar_t* kSistema = L"S-1-5-18";
constexpr const wchar_t* kAdministradores = L"S-1-5-32-544";
// NT SERVICE\TrustedInstaller, which owns the system's own files.
constexpr const wchar_t* kInstalador =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// CREATOR OWNER (replaced by the creator in what inherits it) and OWNER RIGHTS: the owner, whom
// the check covers apart.
constexpr const wchar_t* kCriador = L"S-1-3-0";
constexpr const wchar_t* kDireitosDoDono = L"S-1-3-4";
// Not in the user-mode headers (ntifs.h): a symbolic link's target relative to its folder.
constexpr ULONG kLinkRelativo = 1;
// SYSTEM_ACCESS_FILTER_ACE_TYPE, the last kind of entry Windows documents.
constexpr BYTE kUltimoTipoConhecido = 0x15;

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

// Who an owner or an entry names, as the check sees it.
enum class Quem { Sistema, Instalador, Nos, Dono, Servico, Outro };

Quem Classificar(PSID sid, PSID servico) {
    if (sid == nullptr || !IsValidSid(sid)) {
        return Quem::Outro;
    }
    if (SidIgual(sid, kSistema) || SidIgual(sid, kAdministradores)) {
        return Quem::Sistema;
    }
    if (SidIgual(sid, kInstalador)) {
        return Quem::Instalador;
    }
    if (win::Identidade::Processo().Nossa(sid)) {
        return Quem::Nos;
    }
    if (SidIgual(sid, kCriador) || SidIgual(sid, kDireitosDoDono)) {
        return Quem::Dono;
    }
    if (servico != nullptr && EqualSid(sid, servico)) {
        return Quem::Servico;
    }
    return Quem::Outro;
}

// Who may own a name checked by `regra`: the system (SYSTEM, Administrators, TrustedInstaller)
// or us; the program apart from its data the system alone, or an administrator's own account
// while it runs as one (it could change the program anyway; the job itself runs as SYSTEM); the
// data ours or SYSTEM's and the Administrators'.
bool DonoAceito(Quem q, Regra regra) {
    switch (q) {
    case Quem::Sistema:
        return true;
    case Quem::Instalador:
        return regra == Regra::Sistema || regra == Regra::Carregado;
    case Quem::Nos:
        return regra != Regra::Sistema || win::Identidade::Processo().administrador;
    default:
        return false;
    }
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
    juntar(GENERIC_READ | FILE_READ_DATA, pasta ? "listar o conteúdo" : "ler");
    juntar(FILE_READ_EA, "ler atributos estendidos");
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

// The data's own permissions, instead of whatever they inherit (C:\ProgramData lets every user
// read and create files in a new folder): SYSTEM and the Administrators, us when we are neither,
// on the backups' folder SQL Server's service (modify); then whoever was granted apart removed.
std::string CorrecaoDados(const std::string& p, bool pasta, PSID servico, PSID culpado) {
    const auto& eu = win::Identidade::Processo();
    const std::string h = pasta ? "(OI)(CI)" : "";
    std::string c = "icacls " + Aspas(p) + " /inheritance:r /grant:r *" + Utf8(kSistema) + ":" + h +
                    "F *" + Utf8(kAdministradores) + ":" + h + "F";
    if (!eu.administrador && !eu.sidTexto.empty()) {
        c += " *" + Utf8(eu.sidTexto) + ":" + h + "F";
    }
    if (servico != nullptr) {
        c += " *" + Utf8(TextoSid(servico)) + ":" + h + "M";
    }
    if (culpado != nullptr && !(servico != nullptr && EqualSid(culpado, servico))) {
        c += " /remove:g *" + Utf8(TextoSid(culpado));
    }
    return c;
}

// What cannot be read is a refusal, never a pass. The Administrators' data is closed to an
// administrator whose window was not opened as one (the group counts only once elevated).
std::string Ilegivel(const std::string& p, DWORD erro, const ContextoPermissao& ctx) {
    const auto exe = TextoCaminho(ctx.pasta / (ctx.janela ? kNomeExecutavel : kNomeExecutavelJob));
    if (erro == ERROR_ACCESS_DENIED) {
        return p + " não pode ser lido pela conta " +
               NomeConta(win::Identidade::Processo().Usuario()) +
               " (acesso negado); nada foi executado. Corrija com: " +
               (ctx.janela ? "abra o Kelvane como administrador (botão direito em " + exe +
                                 " > Executar como administrador)"
                           : "rode " + Aspas(exe) +
                                 " EXEC num prompt de administrador, ou pela tarefa agendada "
                                 "(SYSTEM)");
    }
    return "Permissões inseguras: não foi possível ler o dono e as permissões de " + p + ": " +
           win::TextoErro(erro) + "; nada foi executado.";
}

// Where a link leads when the system resolves it to the end, as a plain path; nothing for a
// target that has none (a volume without a drive letter).
std::optional<std::filesystem::path> DestinoFinal(const std::filesystem::path& caminho) {
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

// Where a symbolic link or a junction leads by its own data: one step, so every link of a chain
// is checked in turn (the end of the chain alone would leave the ones between unchecked).
// Nothing for a target given otherwise (a volume by its GUID).
std::optional<std::filesystem::path> DestinoGravado(const std::filesystem::path& link,
                                                    DWORD etiqueta) {
    const HANDLE h = CreateFileW(
        link.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::vector<BYTE> d(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD n = 0;
    const bool ok = DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, d.data(),
                                    static_cast<DWORD>(d.size()), &n, nullptr);
    CloseHandle(h);
    // REPARSE_DATA_BUFFER: the tag, the data's length and a reserved word; the substitute name's
    // offset and length and the printed name's; a symbolic link's flags; the names.
    const bool simbolico = etiqueta == IO_REPARSE_TAG_SYMLINK;
    const std::size_t nomes = simbolico ? 20 : 16;
    if (!ok || n < nomes) {
        return std::nullopt;
    }
    const auto palavra = [&](std::size_t onde) {
        WORD w = 0;
        std::memcpy(&w, d.data() + onde, sizeof w);
        return std::size_t{w};
    };
    ULONG flags = 0;
    if (simbolico) {
        std::memcpy(&flags, d.data() + 16, sizeof flags);
    }
    const std::size_t inicio = nomes + palavra(8);
    const std::size_t tamanho = palavra(10);
    if (inicio + tamanho > n || tamanho == 0) {
        return std::nullopt;
    }
    std::wstring alvo(tamanho / sizeof(wchar_t), L'\0');
    std::memcpy(alvo.data(), d.data() + inicio, alvo.size() * sizeof(wchar_t));
    while (alvo.size() > 7 && alvo.back() == L'\\') { // "\??\C:\x\" is "\??\C:\x"
        alvo.pop_back();
    }
    if ((flags & kLinkRelativo) != 0) {
        return link.parent_path() / alvo;
    }
    if (alvo.rfind(L"\\??\\UNC\\", 0) == 0) {
        return std::filesystem::path(L"\\\\" + alvo.substr(8));
    }
    if (alvo.size() >= 6 && alvo.rfind(L"\\??\\", 0) == 0 && alvo[5] == L':') {
        return std::filesystem::path(alvo.substr(4));
    }
    return std::nullopt;
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
    DWORD etiqueta = 0;            // the reparse point's kind, when it is one
    bool etiquetaConhecida = true; // false on a file system that cannot tell it

    Seguranca() = default;
    Seguranca(const Seguranca&) = delete;
    Seguranca& operator=(const Seguranca&) = delete;
    ~Seguranca() { LocalFree(descritor); }

    // The entry itself, never what a link leads to; the Windows error when it cannot be read.
    DWORD Ler(const std::filesystem::path& caminho) {
        const HANDLE h = CreateFileW(
            caminho.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return GetLastError();
        }
        DWORD erro = ERROR_SUCCESS;
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) {
            atributos = tag.FileAttributes;
            etiqueta = tag.ReparseTag;
        } else {
            BY_HANDLE_FILE_INFORMATION info{};
            if (GetFileInformationByHandle(h, &info)) {
                atributos = info.dwFileAttributes;
                etiquetaConhecida = false;
            } else {
                erro = GetLastError();
            }
        }
        if (erro == ERROR_SUCCESS) {
            erro = GetSecurityInfo(h, SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &dono,
                                   nullptr, &dacl, nullptr, &descritor);
        }
        CloseHandle(h);
        return erro;
    }
    // Symbolic links and junctions lead elsewhere; other reparse points (deduplicated files,
    // files kept in the cloud) are the file itself. One of unknown kind is taken as a link, which
    // the system resolves.
    bool Link() const {
        return (atributos & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
               (!etiquetaConhecida || IsReparseTagNameSurrogate(etiqueta));
    }
};

// One entry of a DACL as far as it allows: its rights and the accounts it names (a compound
// entry names two, both of which must be trusted).
struct Permissao {
    bool permite = false;
    bool desconhecida = false;
    BYTE flags = 0;
    ACCESS_MASK mascara = 0;
    std::vector<PSID> contas;
};

Permissao LerPermissao(const void* ace) {
    const auto* c = static_cast<const ACE_HEADER*>(ace);
    const auto* bytes = static_cast<const BYTE*>(ace);
    Permissao p;
    p.flags = c->AceFlags;
    std::size_t sid = 0;
    switch (c->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: // conditional: the condition may hold
        sid = offsetof(ACCESS_ALLOWED_ACE, SidStart);
        break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
        DWORD tipos = 0;
        std::memcpy(&tipos, bytes + offsetof(ACCESS_ALLOWED_OBJECT_ACE, Flags), sizeof tipos);
        sid = offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType) +
              ((tipos & ACE_OBJECT_TYPE_PRESENT) ? sizeof(GUID) : 0) +
              ((tipos & ACE_INHERITED_OBJECT_TYPE_PRESENT) ? sizeof(GUID) : 0);
        break;
    }
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
        sid = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + 2 * sizeof(USHORT);
        break;
    default:
        // Denials, and the kinds that are no access entries (audits, labels, attributes...):
        // they give no one anything. A kind newer than these is not guessed at.
        p.desconhecida = c->AceType > kUltimoTipoConhecido;
        return p;
    }
    std::memcpy(&p.mascara, bytes + sizeof(ACE_HEADER), sizeof p.mascara);
    const std::size_t contas = c->AceType == ACCESS_ALLOWED_COMPOUND_ACE_TYPE ? 2 : 1;
    for (std::size_t i = 0; i < contas; ++i) {
        auto* s = reinterpret_cast<PSID>(const_cast<BYTE*>(bytes + sid));
        if (sid + 8 > c->AceSize || !IsValidSid(s) || sid + GetLengthSid(s) > c->AceSize) {
            p.desconhecida = true;
            return p;
        }
        p.contas.push_back(s);
        sid += GetLengthSid(s);
    }
    p.permite = true;
    return p;
}

// `caminho` (absolute) and every folder above it, each owned by the system or us and writable by
// no one else, the last one as `regra` asks; links are followed to what they lead to.
std::optional<std::string> ConferirCaminho(const std::filesystem::path& caminho, Regra regra,
                                           const ContextoPermissao& ctx, int saltos = 0) {
    if (saltos > 40) {
        return Inseguro(TextoCaminho(caminho), "tem links demais",
                        "dir /al " + Aspas(TextoCaminho(caminho.parent_path())));
    }
    const auto normal = caminho.lexically_normal();
    const auto& eu = win::Identidade::Processo();
    const auto servico = regra == Regra::Backup ? win::SidDaConta(ctx.servicoBanco) : nullptr;
    // From the root ("C:\", or a share) down.
    std::vector<std::filesystem::path> partes = {normal.root_path()};
    for (const auto& parte : normal.relative_path()) {
        partes.push_back(partes.back() / parte);
    }
    for (std::size_t i = 0; i < partes.size(); ++i) {
        const auto atual = partes[i];
        const bool ultimo = i + 1 == partes.size();
        if (i == 0 && !ultimo && atual.root_name().native().starts_with(L"\\\\")) {
            continue; // "\\server\": a name, no folder; its share comes next
        }
        const std::string p = TextoCaminho(atual);
        Seguranca s;
        if (const DWORD erro = s.Ler(atual); erro != ERROR_SUCCESS) {
            if (erro == ERROR_FILE_NOT_FOUND || erro == ERROR_PATH_NOT_FOUND) {
                return std::nullopt; // what is not there we cannot load either; missing tools
                                     // are reported on their own
            }
            return Ilegivel(p, erro, ctx);
        }
        const bool link = s.Link();
        const bool pasta = (s.atributos & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // The rule of the last name applies to what a link there leads to; a folder on the way
        // is a folder above.
        const Regra esta = ultimo && !link           ? regra
                           : regra == Regra::Sistema ? Regra::Sistema
                                                     : Regra::Carregado;
        const bool dados = esta == Regra::Dados || esta == Regra::Backup;
        const PSID servicoAqui = esta == Regra::Backup ? servico.get() : nullptr;
        const auto dono = Classificar(s.dono, servico.get());
        if (!DonoAceito(dono, esta)) {
            const std::string nome = NomeConta(s.dono);
            if (dados && MesmoCaminho(atual, ctx.dados)) {
                const auto exe = TextoCaminho(ctx.pasta / kNomeExecutavel);
                const auto correcao =
                    ctx.pasta != ctx.dados
                        // The installed data are the system's (the job runs as SYSTEM).
                        ? "icacls " + Aspas(p) + " /setowner *" + Utf8(kAdministradores)
                        : ctx.janela ? "runas /user:" + nome + " " + Aspas(exe)
                                     : "runas /user:" + nome + " \"\\\"" + exe + "\\\" EXEC\"";
                return Inseguro(p,
                                "pertence a " + nome + ", e o kelvane foi iniciado como " +
                                    NomeConta(eu.Usuario()),
                                correcao);
            }
            const std::string novo = esta == Regra::Sistema || eu.administrador
                                         ? "*" + Utf8(kAdministradores)
                                         : Aspas(NomeConta(eu.Usuario()));
            return Inseguro(p, "pertence a outra conta (" + nome + ")",
                            "icacls " + Aspas(p) + " /setowner " + novo);
        }
        if (s.dacl == nullptr) {
            return Inseguro(p, "pode ser alterado e lido por qualquer conta (não tem permissões)",
                            dados ? CorrecaoDados(p, pasta, servicoAqui, nullptr)
                                  : "icacls " + Aspas(p) + " /reset");
        }
        // FILE_DELETE_CHILD means nothing on a file; a link's own entry is strict, as whoever
        // may change it chooses where it leads.
        const ACCESS_MASK tolerado = pasta && !ultimo && !link ? kAcima
                                     : pasta                   ? 0
                                                               : FILE_DELETE_CHILD;
        for (DWORD a = 0; a < s.dacl->AceCount; ++a) {
            void* ace = nullptr;
            if (!GetAce(s.dacl, a, &ace)) {
                return Ilegivel(p, GetLastError(), ctx);
            }
            const auto e = LerPermissao(ace);
            if (e.desconhecida) {
                return Inseguro(p,
                                "tem uma permissão de tipo desconhecido (" +
                                    std::to_string(static_cast<const ACE_HEADER*>(ace)->AceType) +
                                    ")",
                                dados ? CorrecaoDados(p, pasta, servicoAqui, nullptr)
                                      : "icacls " + Aspas(p) + " /reset");
            }
            // An entry only for what is created inside gives nothing here; in the data it is
            // what the files the job creates get.
            if (!e.permite || ((e.flags & INHERIT_ONLY_ACE) != 0 && !dados)) {
                continue;
            }
            for (PSID sid : e.contas) {
                const auto quem = Classificar(sid, servico.get());
                if (quem == Quem::Servico && esta == Regra::Backup) {
                    if (const ACCESS_MASK alem = e.mascara & (kEscrita | kLeitura) & ~kModificar;
                        alem != 0) {
                        return Inseguro(p,
                                        "dá ao serviço " + NomeConta(sid) +
                                            " mais que modificar (" + NomeDireitos(alem, pasta) +
                                            ")",
                                        CorrecaoDados(p, pasta, servicoAqui, sid));
                    }
                    continue;
                }
                if (quem == Quem::Dono || DonoAceito(quem, esta)) {
                    continue;
                }
                if (const ACCESS_MASK direitos = e.mascara & kEscrita & ~tolerado; direitos != 0) {
                    return Inseguro(p,
                                    "pode ser alterado por " + NomeConta(sid) + " (" +
                                        NomeDireitos(direitos, pasta) + ")",
                                    dados ? CorrecaoDados(p, pasta, servicoAqui, sid)
                                          : "icacls " + Aspas(p) + " /inheritance:d /remove:g *" +
                                                Utf8(TextoSid(sid)));
                }
                if (const ACCESS_MASK direitos = e.mascara & kLeitura; dados && direitos != 0) {
                    return Inseguro(p,
                                    "pode ser lido por " + NomeConta(sid) + " (" +
                                        NomeDireitos(direitos, pasta) + ")",
                                    CorrecaoDados(p, pasta, servicoAqui, sid));
                }
            }
        }
        if (link) {
            std::optional<std::filesystem::path> alvo;
            if (s.etiquetaConhecida && (s.etiqueta == IO_REPARSE_TAG_SYMLINK ||
                                        s.etiqueta == IO_REPARSE_TAG_MOUNT_POINT)) {
                alvo = DestinoGravado(atual, s.etiqueta);
            }
            if (!alvo) {
                alvo = DestinoFinal(atual);
            }
            if (!alvo || !alvo->is_absolute()) {
                return Inseguro(p, "é um link para um destino sem nome de unidade",
                                "fsutil reparsepoint query " + Aspas(p));
            }
            if (auto problema = ConferirCaminho(*alvo, ultimo ? regra : esta, ctx, saltos + 1)) {
                return problema;
            }
            // What follows lies below the target.
            for (std::size_t j = i + 1; j < partes.size(); ++j) {
                partes[j] = *alvo / partes[j].lexically_relative(atual);
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
