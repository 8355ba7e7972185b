// Shared by the Windows side of plataforma/ only: UTF-8 and UTF-16, Windows errors as errno
// values and as text, this account's identity and the security of what we create.
#pragma once

// clang-format off
#include <windows.h> // before the headers that build on it
#include <sddl.h>
// clang-format on

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace kelvane::plataforma::win {

inline std::wstring Largo(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring texto(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), texto.data(), n);
    return texto;
}

inline std::string Utf8(std::wstring_view texto) {
    if (texto.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, texto.data(), static_cast<int>(texto.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, texto.data(), static_cast<int>(texto.size()), s.data(), n,
                        nullptr, nullptr);
    return s;
}

// Text in the ANSI code page, as the A functions give it.
inline std::string Utf8DeAnsi(std::string_view ansi) {
    if (ansi.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring texto(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), texto.data(), n);
    return Utf8(texto);
}

// The callers above plataforma/ word failures with strerror.
inline int ErrnoDe(DWORD erro) {
    switch (erro) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_NAME:
        return EINVAL;
    default:
        return EIO;
    }
}

// A Windows error as the errno value it is worded with.
inline std::error_code CodigoDe(DWORD erro) {
    const int numero = ErrnoDe(erro);
    return numero != 0 ? std::error_code(numero, std::generic_category())
                       : std::make_error_code(std::errc::io_error); // a failure all the same
}
// The last Windows error, likewise.
inline std::error_code UltimoErro() {
    return CodigoDe(GetLastError());
}

// The system's words for a Windows error (from `modulo`'s table when given), on one line.
inline std::string TextoErro(DWORD erro, HMODULE modulo = nullptr) {
    wchar_t* texto = nullptr;
    const DWORD origem = modulo ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | origem | FORMAT_MESSAGE_IGNORE_INSERTS,
                       modulo, erro, 0, reinterpret_cast<wchar_t*>(&texto), 0, nullptr);
    std::string s = n ? Utf8(std::wstring_view(texto, n)) : std::string();
    LocalFree(texto);
    while (!s.empty() &&
           (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) {
        s.pop_back();
    }
    return (s.empty() ? "erro" : s) + " (" + std::to_string(erro) + ")";
}

// This process's account and the default owner of what it creates (an elevated administrator's
// is the Administrators group), read once.
struct Identidade {
    std::unique_ptr<BYTE[]> usuario;
    std::unique_ptr<BYTE[]> dono;
    std::wstring sidTexto; // "S-1-5-21-..."
    // Whether the Administrators group counts in this token (SYSTEM, an elevated administrator):
    // such a process can change what the system owns anyway.
    bool administrador = false;

    static const Identidade& Processo() {
        static const Identidade identidade = Ler();
        return identidade;
    }
    PSID Usuario() const { return usuario ? reinterpret_cast<PSID>(usuario.get()) : nullptr; }
    // Whether `sid` is this account, or the owner it gives what it creates.
    bool Nossa(PSID sid) const {
        return sid != nullptr && ((usuario && EqualSid(sid, Usuario())) ||
                                  (dono && EqualSid(sid, reinterpret_cast<PSID>(dono.get()))));
    }

private:
    static std::unique_ptr<BYTE[]> Informacao(HANDLE token, TOKEN_INFORMATION_CLASS classe) {
        DWORD n = 0;
        GetTokenInformation(token, classe, nullptr, 0, &n);
        if (n == 0) {
            return nullptr;
        }
        auto dados = std::make_unique<BYTE[]>(n);
        if (!GetTokenInformation(token, classe, dados.get(), n, &n)) {
            return nullptr;
        }
        return dados;
    }
    static std::unique_ptr<BYTE[]> Copia(PSID sid) {
        if (sid == nullptr || !IsValidSid(sid)) {
            return nullptr;
        }
        const DWORD n = GetLengthSid(sid);
        auto copia = std::make_unique<BYTE[]>(n);
        CopySid(n, copia.get(), sid);
        return copia;
    }
    static Identidade Ler() {
        Identidade id;
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return id;
        }
        if (const auto u = Informacao(token, TokenUser)) {
            id.usuario = Copia(reinterpret_cast<TOKEN_USER*>(u.get())->User.Sid);
        }
        if (const auto d = Informacao(token, TokenOwner)) {
            id.dono = Copia(reinterpret_cast<TOKEN_OWNER*>(d.get())->Owner);
        }
        CloseHandle(token);
        BYTE admins[SECURITY_MAX_SID_SIZE];
        DWORD n = sizeof admins;
        BOOL membro = FALSE;
        id.administrador = CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &n) &&
                           CheckTokenMembership(nullptr, admins, &membro) && membro;
        wchar_t* texto = nullptr;
        if (id.usuario && ConvertSidToStringSidW(id.Usuario(), &texto)) {
            id.sidTexto = texto;
            LocalFree(texto);
        }
        return id;
    }
};

// The security of a file or folder we create that holds what others must not read or change:
// SYSTEM and the Administrators (the job runs as SYSTEM and the window as an administrator: each
// reaches what the other made), and this account when it is neither; nothing inherited from the
// folder above (on Linux, mode 0600 or 0700). The owner is the one the account gives what it
// creates (an elevated administrator's is the Administrators group). `outra`: one more entry, in
// SDDL. Empty (atributos() null) when the account cannot be read.
class SegurancaPrivada {
public:
    explicit SegurancaPrivada(bool pasta, bool herdavel = false, const std::wstring& outra = {}) {
        const auto& id = Identidade::Processo();
        if (id.sidTexto.empty()) {
            return;
        }
        // On a folder the entries are inherited by what is created in it.
        const std::wstring heranca = pasta ? L"OICI" : L"";
        std::wstring sddl = L"D:P(A;" + heranca + L";FA;;;SY)(A;" + heranca + L";FA;;;BA)" + outra;
        if (!id.administrador) {
            sddl += L"(A;" + heranca + L";FA;;;" + id.sidTexto + L")";
        }
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                 &descritor_, nullptr)) {
            atributos_.nLength = sizeof atributos_;
            atributos_.lpSecurityDescriptor = descritor_;
            atributos_.bInheritHandle = herdavel ? TRUE : FALSE;
        }
    }
    ~SegurancaPrivada() { LocalFree(descritor_); }
    SegurancaPrivada(const SegurancaPrivada&) = delete;
    SegurancaPrivada& operator=(const SegurancaPrivada&) = delete;
    SECURITY_ATTRIBUTES* atributos() { return descritor_ ? &atributos_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descritor_ = nullptr;
    SECURITY_ATTRIBUTES atributos_{};
};

// The SID of a service's own account, "NT SERVICE\<name>": S-1-5-80- and the SHA-1 of the name in
// capitals, UTF-16, as five numbers, whether or not the service is installed; another account by
// its name. Null when it cannot be known.
std::unique_ptr<BYTE[]> SidDaConta(std::string_view conta);

// Starts the job object the tools run in (see processo_windows.cpp); at most once.
void IniciarJobFerramentas();

} // namespace kelvane::plataforma::win
