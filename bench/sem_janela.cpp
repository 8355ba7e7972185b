// The unattended program alone, without the window's libraries: the benchmarks compare it with
// the real executable to show what loading Qt costs a run started with EXEC.
#include "job/main.h"

int main(int argc, char** argv) {
    return kelvane::Main(argc, argv, nullptr);
}
