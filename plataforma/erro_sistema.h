// A call to the system that failed, typed: what was being done, on what, and the system's error.
// The job words it (TextoErroSistema for the system's part); nothing here is meant for the user.
#pragma once

#include <string>
#include <system_error>
#include <utility>

namespace kelvane::plataforma {

enum class Operacao {
    LocalizarPrograma, // the running executable's folder
    LerOuvintes,       // the table of listening TCP sockets
    LerInterfaces,     // the addresses of the network interfaces
    CarregarBiblioteca,
    ConsultarServicos, // the service manager's list of running services
    // Starting a tool (`alvo` the program, where named):
    CriarCanalEntrada,
    PrepararEntrada, // writing what the tool reads on its stdin
    CriarCanalSaida,
    AbrirDispositivoNulo,
    PrepararExecucao,
    ExecutarPrograma,
    ArgumentoComNul, // an argument holds NUL, which a command line cannot (no system error)
    ConhecerFim,     // how the tool ended
    SemDonoAdotado,  // no data owner's account was adopted to run it as (no system error)
    NenhumPrograma,  // nothing to run (no system error)
};

class ErroSistema : public std::system_error {
public:
    // `erro` in errno's numbers, as the platform unit returns errors; `numero`, the system's own
    // number where it has others (Windows' GetLastError), or 0; `alvo`, the file or library.
    ErroSistema(Operacao operacao, std::error_code erro, std::string alvo = {}, long numero = 0)
        : std::system_error(erro, alvo), operacao_(operacao), alvo_(std::move(alvo)),
          numero_(numero) {}
    Operacao operacao() const { return operacao_; }
    const std::string& alvo() const { return alvo_; }
    long numero() const { return numero_; }

private:
    Operacao operacao_;
    std::string alvo_;
    long numero_;
};

} // namespace kelvane::plataforma
