// A library that leaves a mark in $KELVANE_MARCA when anything loads it: what must never happen to
// a library another account could have put in the program's way.
#include <cstdio>
#include <cstdlib>

namespace {
struct Marca {
    Marca() {
        if (std::FILE* f = std::getenv("KELVANE_MARCA")
                               ? std::fopen(std::getenv("KELVANE_MARCA"), "a")
                               : nullptr) {
            std::fputs("carregada\n", f);
            std::fclose(f);
        }
    }
} marca;
} // namespace
