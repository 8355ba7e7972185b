// ncftpput.exe for the tests under Wine: no Windows build of it exists here, and a Windows
// program cannot wait for a Linux one, but Wine's ntdll can (__wine_unix_spawnvp). Runs Debian's
// /usr/bin/ncftpput with the same arguments, a Windows path (X:\...) turned into the Linux path
// Wine maps it to, then copies its output (stdout and stderr, through a temporary file: the Linux
// child does not get this process's std handles) and ends with its exit status. Ending this
// process (TerminateProcess) kills it too, as it would a Windows ncftpput.
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
    wchar_t pasta[MAX_PATH], saida[MAX_PATH];
    if (!executar || !nome_unix || !GetTempPathW(MAX_PATH, pasta) ||
        !GetTempFileNameW(pasta, L"nfp", 0, saida)) {
        std::fputs("ncftpput.exe: precisa do Wine e de uma pasta temporaria\n", stderr);
        return 10;
    }
    const auto argumento = [&](const wchar_t* a) -> std::string {
        const bool caminho = iswalpha(a[0]) && a[1] == L':' && (a[2] == L'\\' || a[2] == L'/');
        if (char* u = caminho ? nome_unix(a) : nullptr)
            return u;
        std::string s(WideCharToMultiByte(CP_UTF8, 0, a, -1, nullptr, 0, nullptr, nullptr), 0);
        WideCharToMultiByte(CP_UTF8, 0, a, -1, s.data(), int(s.size()), nullptr, nullptr);
        return s.c_str();
    };
    const char* comando = "exec setpriv --pdeathsig KILL /usr/bin/ncftpput \"$@\" >\"$0\" 2>&1";
    std::vector<std::string> args{"/bin/sh", "-c", comando, argumento(saida)};
    for (int i = 1; i < argc; ++i)
        args.push_back(argumento(argv[i]));
    std::vector<char*> ptrs;
    for (auto& a : args)
        ptrs.push_back(a.data());
    ptrs.push_back(nullptr);
    const long r = executar(ptrs.data(), 1); // the exit status, or an NTSTATUS (< 0) if not run
    if (FILE* f = _wfopen(saida, L"rb")) {
        char b[4096];
        DWORD escrito;
        for (size_t n; (n = std::fread(b, 1, sizeof b, f)) > 0;)
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), b, DWORD(n), &escrito, nullptr);
        std::fclose(f);
    }
    DeleteFileW(saida);
    return r >= 0 && r <= 255 ? int(r) : 127;
}
