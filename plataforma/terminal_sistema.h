// What terminal.cpp, written once for both systems, asks of each (terminal_posix.cpp,
// terminal_windows.cpp). Included by those three files only.
#pragma once

#include <memory>
#include <optional>

namespace kelvane::plataforma::interno {

// Standard input a byte at a time, past stdio's buffer (the next question reads the next line),
// with the echo off while this lives if it is a terminal (a console on Windows, read in UTF-16 and
// handed on in UTF-8). The echo is put back on destruction, with the line end the Enter did not
// show.
class EntradaSemEco {
public:
    EntradaSemEco();
    ~EntradaSemEco();
    EntradaSemEco(const EntradaSemEco&) = delete;
    EntradaSemEco& operator=(const EntradaSemEco&) = delete;
    // The next byte; nullopt at the end of the input or on an error.
    std::optional<char> Ler();

private:
    struct Estado;
    std::unique_ptr<Estado> estado_;
};

} // namespace kelvane::plataforma::interno
