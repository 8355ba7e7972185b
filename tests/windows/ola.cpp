// The toolchain's smallest check: a thread (the posix thread model) says hello, and the program
// ends with the status given as its argument.
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    std::thread([] { std::puts("ola do Windows"); }).join();
    return argc > 1 ? std::atoi(argv[1]) : 0;
}
