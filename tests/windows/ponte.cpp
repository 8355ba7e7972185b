// A Windows tool for the tests under Wine, where a Windows program cannot wait for a Linux one
// but Wine's ntdll can (__wine_unix_spawnvp). Copied into the program folder as <nome>.exe, it
// runs <nome>.sh beside it with /bin/sh when there is one (a tool made to fail), otherwise
// Debian's /usr/bin/<nome> (ncftpput.exe: no Windows build of it exists here). A Windows path
// (X:\...) in the arguments becomes the Linux path Wine maps it to; NCFTPDIR is this process's
// own. Output (stdout and stderr, through a file: the Linux child does not get this process's
// handles) and exit status are handed on. Ending this process (TerminateProcess, a job object)
// kills the Linux child too.
#include <cstdio>
#include <string>
#include <vector>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    using Executar = long(__cdecl*)(char* const*, int);
    using NomeUnix = char*(__cdecl*)(const wchar_t*);
    const auto executar = reinterpret_cast<Executar>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp"));
    const auto nome_unix = reinterpret_cast<NomeUnix>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    wchar_t proprio[MAX_PATH];
    if (!executar || !nome_unix || !GetModuleFileNameW(nullptr, proprio, MAX_PATH)) {
        std::fputs("ponte: precisa do Wine\n", stderr);
        return 10;
    }
    const auto utf8 = [](const wchar_t* a) {
        std::string s(WideCharToMultiByte(CP_UTF8, 0, a, -1, nullptr, 0, nullptr, nullptr), 0);
        WideCharToMultiByte(CP_UTF8, 0, a, -1, s.data(), int(s.size()), nullptr, nullptr);
        return std::string(s.c_str());
    };
    const auto argumento = [&](const wchar_t* a) -> std::string {
        const bool caminho = iswalpha(a[0]) && a[1] == L':' && (a[2] == L'\\' || a[2] == L'/');
        if (char* u = caminho ? nome_unix(a) : nullptr)
            return u;
        return utf8(a);
    };
    std::wstring script = proprio;
    script.replace(script.size() - 4, 4, L".sh");
    std::string alvo;
    if (GetFileAttributesW(script.c_str()) != INVALID_FILE_ATTRIBUTES) {
        alvo = argumento(script.c_str());
    } else {
        const std::wstring nome = script.substr(script.find_last_of(L'\\') + 1);
        alvo = "/usr/bin/" + utf8(nome.substr(0, nome.size() - 3).c_str());
    }
    const std::string saida = "/tmp/kelvane-ponte." + std::to_string(GetCurrentProcessId()) + "." +
                              std::to_string(GetTickCount64());
    const char* comando = "exec setpriv --pdeathsig KILL \"$@\" >\"$0\" 2>&1";
    // NcFTP for Windows takes NCFTPDIR from its own environment; the Linux tool would get the one
    // Wine was started with, whatever the Windows program that started this one left in it.
    std::vector<std::string> args{"/bin/sh",      "-c", comando,   saida,
                                  "/usr/bin/env", "-u", "NCFTPDIR"};
    static wchar_t ncftpdir[32768];
    if (GetEnvironmentVariableW(L"NCFTPDIR", ncftpdir, 32768) > 0)
        args.push_back("NCFTPDIR=" + utf8(ncftpdir));
    if (alvo.ends_with(".sh"))
        args.push_back("/bin/sh");
    args.push_back(alvo);
    for (int i = 1; i < argc; ++i)
        args.push_back(argumento(argv[i]));
    std::vector<char*> ptrs;
    for (auto& a : args)
        ptrs.push_back(a.data());
    ptrs.push_back(nullptr);
    const long r = executar(ptrs.data(), 1); // the exit status, or an NTSTATUS (< 0) if not run
    std::wstring arquivo = L"Z:" + std::wstring(saida.begin(), saida.end());
    for (auto& c : arquivo)
        c = c == L'/' ? L'\\' : c;
    if (FILE* f = _wfopen(arquivo.c_str(), L"rb")) {
        char b[4096];
        DWORD escrito;
        for (size_t n; (n = std::fread(b, 1, sizeof b, f)) > 0;)
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), b, DWORD(n), &escrito, nullptr);
        std::fclose(f);
    }
    DeleteFileW(arquivo.c_str());
    return r >= 0 && r <= 255 ? int(r) : 127;
}
