// A stand-in for 7z or ncftpput in failure cases the real tools cannot be made to show.
// Behaviour comes from "<own path>.comportamento", one instruction per line, run in order:
//   argumentos <file>   write every argument (argv[1]...) to <file>, one per line
//   copiar-login <file> copy the file after "-f" (the uploader's login file) to <file>
//   stdout <text> / stderr <text>
//   dormir <seconds>
//   criar <path>        create a small file (an "archive" that will not pass a test)
//   exec <program>      replace this process with <program> and the same arguments
//   sair <code>         exit with that code (default 0)
//   quando <arg> <instruction>  the instruction only when the first argument is <arg>
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    std::ifstream comportamento{std::string(argv[0]) + ".comportamento"};
    std::string linha;
    while (std::getline(comportamento, linha)) {
        if (linha.rfind("quando ", 0) == 0) {
            const auto fimArg = linha.find(' ', 7);
            if (argc < 2 || linha.substr(7, fimArg - 7) != argv[1]) {
                continue;
            }
            linha = linha.substr(fimArg + 1);
        }
        const auto espaco = linha.find(' ');
        const std::string verbo = linha.substr(0, espaco);
        std::string resto = espaco == std::string::npos ? "" : linha.substr(espaco + 1);
        if (verbo == "argumentos") {
            std::ofstream saida(resto);
            for (int i = 1; i < argc; ++i) {
                saida << argv[i] << '\n';
            }
        } else if (verbo == "copiar-login") {
            for (int i = 1; i + 1 < argc; ++i) {
                if (std::string(argv[i]) == "-f") {
                    std::ifstream entrada(argv[i + 1]);
                    std::ofstream(resto) << entrada.rdbuf();
                }
            }
        } else if (verbo == "stdout") {
            std::cout << resto << std::endl;
        } else if (verbo == "stderr") {
            std::cerr << resto << std::endl;
        } else if (verbo == "dormir") {
            std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(resto)));
        } else if (verbo == "criar") {
            std::ofstream(resto) << "isto não é um arquivo 7z\n";
        } else if (verbo == "exec") {
            argv[0] = resto.data();
            ::execv(resto.c_str(), argv);
            return 126;
        } else if (verbo == "sair") {
            return std::stoi(resto);
        }
    }
    return 0;
}
