// Who listens on this machine's TCP ports, for the database login: it goes only to a listener
// that belongs to SQL Server or the system.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace kelvane::plataforma {

// An IP address; IPv4 as IPv4-mapped IPv6 (::ffff:a.b.c.d), so one comparison serves both.
using EnderecoIp = std::array<unsigned char, 16>;

struct Ouvinte {
    EnderecoIp endereco{};   // the local address it listens on (:: or ::ffff:0.0.0.0: every one)
    bool doServidor = false; // held by SQL Server's account or service, or the system
    std::string dono;        // who holds it, as the log names it: "conta nobody"
};

// The sockets listening for TCP connections on `porta`, IPv4 and IPv6. On Linux root, this
// account and `mssql` hold them for SQL Server; on Windows the service of `instancia` (the
// default instance's, MSSQLSERVER, when empty) or the kernel. Throws ErroSistema (erro_sistema.h)
// when the system's table cannot be read.
std::vector<Ouvinte> OuvintesTcp(int porta, const std::string& instancia);

// The addresses `host` names (an address written as such is not looked up) into `enderecos`.
// Returns 0, or the resolver's error number, which TextoErroResolucao (sistema.h) words. The
// system's resolver has no deadline of its own: the caller bounds it.
int EnderecosDe(const std::string& host, std::vector<EnderecoIp>& enderecos);

// The addresses of this machine's network interfaces, IPv4 and IPv6, loopback included. Throws
// ErroSistema (erro_sistema.h) when the system cannot list them.
std::vector<EnderecoIp> EnderecosLocais();

// The TCP port an instance of SQL Server listens on by its own settings (on Windows, the
// registry; Linux has one instance and no such settings); 0 when it is not known.
int PortaDaInstancia(const std::string& instancia);

} // namespace kelvane::plataforma
