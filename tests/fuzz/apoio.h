// What both fuzz targets share: a scratch folder in memory and the stored form of a value.
#pragma once

#include "settings/codificacao.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace kelvane::fuzz {

// A private folder on /dev/shm when there is one: the writer syncs every save, and a disk would
// bring the run down to a few hundred inputs a second.
inline const std::filesystem::path& Rascunho() {
    static const std::filesystem::path pasta = [] {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        std::string modelo = std::string(base && *base ? base : "/tmp") + "/kelvane-fuzz.XXXXXX";
        if (::mkdtemp(modelo.data()) == nullptr) {
            std::abort();
        }
        // Kept in a plain array: at exit the path object may already be gone.
        static char removerNaSaida[4096];
        std::snprintf(removerNaSaida, sizeof removerNaSaida, "%s", modelo.c_str());
        std::atexit([] {
            std::error_code ignorado;
            std::filesystem::remove_all(removerNaSaida, ignorado);
        });
        return std::filesystem::path(modelo);
    }();
    return pasta;
}

// A value as it reads back from info.ini: Windows-1252 on disk, one line.
inline std::string FormaGuardada(std::string_view valor) {
    std::string v = Cp1252ParaUtf8(Utf8ParaCp1252(valor));
    for (char& c : v) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    return v;
}

inline bool TemControle(std::string_view texto) {
    for (char c : texto) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return true;
        }
    }
    return false;
}

// Stops the run with a message libFuzzer keeps next to the input that caused it.
[[noreturn]] inline void Falha(const char* oQue) {
    std::fprintf(stderr, "invariante violada: %s\n", oQue);
    std::abort();
}

} // namespace kelvane::fuzz
