#include "arquivos.h"
#include "comum_windows.h"
#include "espera_trava.h"

#include <aclapi.h>
#include <random>

namespace kelvane::plataforma {

const int kErroCotaExcedida = 0;

namespace {

using win::Largo;
using win::UltimoErro;

constexpr DWORD kCompartilharTudo = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE ComoHandle(Descritor d) {
    return reinterpret_cast<HANDLE>(d);
}

bool EhPontoDeReanalise(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(h, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Opens (creating it when missing) a file of ours, never through a link: a reparse point where
// it should be is refused with ELOOP, as O_NOFOLLOW does.
HANDLE AbrirSemLink(const std::filesystem::path& caminho, DWORD acesso, bool herdavel,
                    std::error_code& erro) {
    win::SegurancaPrivada seguranca(false, herdavel);
    SECURITY_ATTRIBUTES padrao{sizeof padrao, nullptr, herdavel ? TRUE : FALSE};
    const HANDLE h =
        CreateFileW(caminho.c_str(), acesso, kCompartilharTudo,
                    seguranca.atributos() ? seguranca.atributos() : &padrao, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        erro = UltimoErro();
        return h;
    }
    if (EhPontoDeReanalise(h)) {
        CloseHandle(h);
        erro = std::make_error_code(std::errc::too_many_symbolic_link_levels);
        return INVALID_HANDLE_VALUE;
    }
    erro.clear();
    return h;
}

std::error_code EscreverTudo(HANDLE h, std::string_view dados) {
    while (!dados.empty()) {
        const DWORD parte = static_cast<DWORD>(std::min<std::size_t>(dados.size(), 1u << 30));
        DWORD escrito = 0;
        if (!WriteFile(h, dados.data(), parte, &escrito, nullptr)) {
            return UltimoErro();
        }
        if (escrito == 0) {
            return std::make_error_code(std::errc::io_error);
        }
        dados.remove_prefix(escrito);
    }
    return {};
}

// The job's own lock (kelvane.lock, byte 0) and the folder's (byte 1) share one file: a
// directory handle cannot be locked on Windows.
constexpr DWORD kByteTravaPasta = 1;

bool Travar(HANDLE h, DWORD byte) {
    OVERLAPPED posicao{};
    posicao.Offset = byte;
    return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &posicao);
}

} // namespace

std::optional<std::string> LerArquivoInteiro(const std::filesystem::path& arquivo, bool& existe,
                                             std::error_code& erro) {
    existe = false;
    erro.clear();
    const HANDLE h = CreateFileW(arquivo.c_str(), GENERIC_READ, kCompartilharTudo, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const auto falha = UltimoErro();
        if (falha == std::errc::no_such_file_or_directory) {
            return std::string();
        }
        erro = falha;
        return std::nullopt;
    }
    existe = true;
    std::string conteudo;
    char bloco[8192];
    for (;;) {
        DWORD lidos = 0;
        if (!ReadFile(h, bloco, sizeof bloco, &lidos, nullptr)) {
            erro = UltimoErro();
            CloseHandle(h);
            return std::nullopt;
        }
        if (lidos == 0) {
            break;
        }
        conteudo.append(bloco, lidos);
    }
    CloseHandle(h);
    return conteudo;
}

bool EhLink(const std::filesystem::path& caminho) {
    const DWORD atributos = GetFileAttributesW(caminho.c_str());
    return atributos != INVALID_FILE_ATTRIBUTES && (atributos & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool EhArquivoRegular(const std::filesystem::path& caminho) {
    // Opened, so that a link counts by what it leads to.
    const HANDLE h = CreateFileW(caminho.c_str(), FILE_READ_ATTRIBUTES, kCompartilharTudo, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) && GetFileType(h) == FILE_TYPE_DISK &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(h);
    return ok;
}

std::filesystem::path ArquivoDaFerramenta(const std::filesystem::path& ferramenta) {
    return ferramenta; // installed as a copy, never as a link
}

std::error_code PodeSubstituir(const std::filesystem::path& arquivo, Propriedades&) {
    const DWORD atributos = GetFileAttributesW(arquivo.c_str());
    if (atributos == INVALID_FILE_ATTRIBUTES) {
        return UltimoErro();
    }
    if ((atributos & FILE_ATTRIBUTE_READONLY) != 0) {
        return std::make_error_code(std::errc::permission_denied);
    }
    const HANDLE h = CreateFileW(arquivo.c_str(), GENERIC_WRITE, kCompartilharTudo, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return UltimoErro();
    }
    CloseHandle(h);
    return {};
}

std::error_code SubstituirArquivo(const std::filesystem::path& arquivo, const std::string& conteudo,
                                  const std::optional<Propriedades>& existente) {
    const auto pasta =
        arquivo.parent_path().empty() ? std::filesystem::path(".") : arquivo.parent_path();
    // Created with our private security: a new info.ini holds credentials. A file that exists
    // hands its own on (ReplaceFileW).
    win::SegurancaPrivada seguranca(false);
    std::mt19937_64 sorteio(std::random_device{}() ^ GetTickCount64());
    std::filesystem::path temporario;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int tentativa = 0; tentativa < 100 && h == INVALID_HANDLE_VALUE; ++tentativa) {
        temporario = pasta / (arquivo.filename().wstring() + L"." +
                              std::to_wstring(sorteio() % 1000000000u) + L".tmp");
        h = CreateFileW(temporario.c_str(), GENERIC_WRITE, 0, seguranca.atributos(), CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            return UltimoErro();
        }
    }
    if (h == INVALID_HANDLE_VALUE) {
        return std::make_error_code(std::errc::file_exists);
    }
    std::error_code erro = EscreverTudo(h, conteudo);
    if (!erro && !FlushFileBuffers(h)) {
        erro = UltimoErro();
    }
    CloseHandle(h);
    if (!erro) {
        bool ok = false;
        if (existente) {
            ok = ReplaceFileW(arquivo.c_str(), temporario.c_str(), nullptr,
                              REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                              nullptr, nullptr);
        }
        if (!ok) {
            ok = MoveFileExW(temporario.c_str(), arquivo.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        }
        if (!ok) {
            erro = UltimoErro();
        }
    }
    if (erro) {
        DeleteFileW(temporario.c_str());
    }
    return erro;
}

TravaPasta::TravaPasta(const std::filesystem::path& pasta, std::chrono::milliseconds espera)
    : trava_(kSemDescritor) {
    const HANDLE h =
        AbrirSemLink(pasta / "kelvane.lock", GENERIC_READ | GENERIC_WRITE, false, erro_);
    if (h == INVALID_HANDLE_VALUE) {
        return;
    }
    if (Travar(h, kByteTravaPasta)) {
        trava_ = reinterpret_cast<Descritor>(h);
        return;
    }
    if (const DWORD erro = GetLastError();
        erro != ERROR_LOCK_VIOLATION && erro != ERROR_IO_PENDING) {
        CloseHandle(h);
        erro_ = win::CodigoDe(erro);
        return;
    }
    // Another holds it: its release is waited for by a LockFileEx that waits, on a handle opened
    // for synchronous I/O, on a thread of its own. Not an overlapped request waited for with its
    // event: Wine answers it with ERROR_IO_PENDING and never sets the event, and after CancelIoEx
    // (ERROR_NOT_FOUND) GetOverlappedResult reports a lock that was never granted.
    erro_ = EsperarTrava(
        [h] {
            OVERLAPPED posicao{};
            posicao.Offset = kByteTravaPasta;
            return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &posicao)
                       ? std::error_code()
                       : win::CodigoDe(GetLastError());
        },
        [h] { CloseHandle(h); }, espera);
    if (!erro_) {
        trava_ = reinterpret_cast<Descritor>(h);
    }
}

TravaPasta::~TravaPasta() {
    if (trava_ != kSemDescritor) {
        CloseHandle(ComoHandle(trava_)); // releases the lock
    }
}

Descritor AbrirArquivoTrava(const std::filesystem::path& caminho, std::error_code& erro) {
    const HANDLE h = AbrirSemLink(caminho, GENERIC_READ | GENERIC_WRITE, true, erro);
    return h == INVALID_HANDLE_VALUE ? kSemDescritor : reinterpret_cast<Descritor>(h);
}

bool TentarTravar(Descritor trava) {
    return Travar(ComoHandle(trava), 0);
}

void Fechar(Descritor descritor) {
    CloseHandle(ComoHandle(descritor));
}

std::error_code AcrescentarLinha(const std::filesystem::path& caminho, std::string_view linha,
                                 bool& aberto) {
    // Append-only access: each write lands whole at the end of the file.
    std::error_code erro;
    const HANDLE h = AbrirSemLink(caminho, FILE_APPEND_DATA | SYNCHRONIZE, false, erro);
    aberto = h != INVALID_HANDLE_VALUE;
    if (!aberto) {
        return erro;
    }
    DWORD escrito = 0;
    if (!WriteFile(h, linha.data(), static_cast<DWORD>(linha.size()), &escrito, nullptr)) {
        erro = UltimoErro();
    } else if (escrito != linha.size()) {
        erro = std::make_error_code(std::errc::io_error);
    }
    CloseHandle(h);
    return erro;
}

long TamanhoMaximoNome(const std::filesystem::path& pasta) {
    // The file system's own answer (255 on NTFS and FAT32), in UTF-16 units: a name in CP1252
    // or ASCII has as many bytes. Asked through the folder, not the volume's device, which an
    // account may not open.
    const HANDLE h = CreateFileW(pasta.c_str(), FILE_READ_ATTRIBUTES, kCompartilharTudo, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    DWORD maximo = 0;
    if (h != INVALID_HANDLE_VALUE) {
        if (!GetVolumeInformationByHandleW(h, nullptr, 0, nullptr, &maximo, nullptr, nullptr, 0)) {
            maximo = 0;
        }
        CloseHandle(h);
    }
    return maximo > 0 ? static_cast<long>(maximo) : 255;
}

ArquivoRetido::ArquivoRetido(const std::filesystem::path& arquivo) {
    // The entry itself, whatever it is (a folder or a junction too); shared for reading alone,
    // which 7z does: a rename, a delete or a write by anyone is refused until it is closed.
    const HANDLE h =
        CreateFileW(arquivo.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    // The name's attributes too: Wine opens a link to a folder as the folder it leads to.
    const DWORD doNome = GetFileAttributesW(arquivo.c_str());
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (h == INVALID_HANDLE_VALUE) {
        erro_ = UltimoErro();
        if (doNome == INVALID_FILE_ATTRIBUTES) {
            return;
        }
        info.FileAttributes = doNome;
    } else if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) {
        erro_ = UltimoErro();
        CloseHandle(h);
        return;
    } else if (doNome != INVALID_FILE_ATTRIBUTES) {
        info.FileAttributes |= doNome & FILE_ATTRIBUTE_REPARSE_POINT;
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        erro_ = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    } else if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        erro_ = std::make_error_code(std::errc::is_a_directory);
    } else if (h != INVALID_HANDLE_VALUE) {
        erro_.clear();
        arquivo_ = reinterpret_cast<Descritor>(h);
        return;
    }
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
    }
}

ArquivoRetido::~ArquivoRetido() {
    if (arquivo_ != kSemDescritor) {
        CloseHandle(ComoHandle(arquivo_));
    }
}

std::error_code ApagarArquivo(const std::filesystem::path& arquivo) {
    return DeleteFileW(arquivo.c_str()) ? std::error_code() : UltimoErro();
}

namespace {

// One more entry for a folder's security, in SDDL: `conta` allowed `mascara`, inherited by what is
// created in it. Empty for no account; nullopt when the account cannot be named.
std::optional<std::wstring> EntradaDaConta(std::string_view conta, std::wstring_view mascara) {
    if (conta.empty()) {
        return std::wstring();
    }
    const auto sid = win::SidDaConta(conta);
    wchar_t* texto = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid.get(), &texto)) {
        return std::nullopt;
    }
    std::wstring entrada = L"(A;OICI;" + std::wstring(mascara) + L";;;" + texto + L")";
    LocalFree(texto);
    return entrada;
}

} // namespace

std::error_code CriarPastaSeFaltar(const std::filesystem::path& pasta,
                                   std::string_view tambemGrava) {
    const DWORD atributos = GetFileAttributesW(pasta.c_str());
    if (atributos != INVALID_FILE_ATTRIBUTES && (atributos & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    // The logs hold the server's names and the job's story, the backups whole databases: ours
    // only, as the umask makes them on Linux, and what is created in them inherits that. SQL
    // Server's service may modify (icacls' M) what is in the backups' folder.
    const auto outra = EntradaDaConta(tambemGrava, L"0x1301bf");
    if (!outra) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    win::SegurancaPrivada seguranca(true, false, *outra);
    if (!CreateDirectoryW(pasta.c_str(), seguranca.atributos()) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        return UltimoErro();
    }
    return {};
}

std::error_code CriarPastaNova(const std::filesystem::path& pasta, std::string_view tambemLe) {
    // SQL Server's service may read (icacls' RX) what is in it, and change nothing.
    const auto outra = EntradaDaConta(tambemLe, L"0x1200a9");
    if (!outra) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    win::SegurancaPrivada seguranca(true, false, *outra);
    if (!CreateDirectoryW(pasta.c_str(), seguranca.atributos())) {
        return GetLastError() == ERROR_ALREADY_EXISTS ? std::make_error_code(std::errc::file_exists)
                                                      : UltimoErro();
    }
    return {};
}

std::vector<std::string> ArquivosProprios(const std::filesystem::path& pasta, std::error_code& erro,
                                          std::string_view tambemDe) {
    const auto outro = tambemDe.empty() ? nullptr : win::SidDaConta(tambemDe);
    std::vector<std::string> nomes;
    for (const auto& e : EntradasDaPasta(pasta, erro)) {
        // Never a link; a deduplicated file or one kept in the cloud is a file all the same.
        WIN32_FIND_DATAW dados{};
        const HANDLE busca = FindFirstFileW(e.c_str(), &dados);
        if (busca == INVALID_HANDLE_VALUE) {
            continue;
        }
        FindClose(busca);
        if ((dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            ((dados.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
             IsReparseTagNameSurrogate(dados.dwReserved0))) {
            continue;
        }
        PSID dono = nullptr;
        PSECURITY_DESCRIPTOR descritor = nullptr;
        if (GetNamedSecurityInfoW(e.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &dono,
                                  nullptr, nullptr, nullptr, &descritor) == ERROR_SUCCESS) {
            if (win::Identidade::Processo().Nossa(dono) ||
                (outro && dono != nullptr && EqualSid(dono, outro.get()))) {
                nomes.push_back(TextoCaminho(e.filename()));
            }
            LocalFree(descritor);
        }
    }
    return nomes;
}

} // namespace kelvane::plataforma
