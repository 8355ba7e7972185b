// For rede_posix.cpp and rede_windows.cpp alone: a resolver's answer (addrinfo, ADDRINFOW) and an
// interface's socket addresses as the addresses rede.h compares.
#pragma once

#include "rede.h"

#include <cstring>
#include <vector>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#endif

namespace kelvane::plataforma {

// The IP address of a socket address; false for one of another family.
inline bool EnderecoDoSocket(const sockaddr* s, EnderecoIp& e) {
    e = {};
    if (s != nullptr && s->sa_family == AF_INET) {
        e[10] = e[11] = 0xff; // IPv4-mapped
        std::memcpy(e.data() + 12, &reinterpret_cast<const sockaddr_in*>(s)->sin_addr, 4);
        return true;
    }
    if (s != nullptr && s->sa_family == AF_INET6) {
        std::memcpy(e.data(), &reinterpret_cast<const sockaddr_in6*>(s)->sin6_addr, 16);
        return true;
    }
    return false;
}

template <typename Info> std::vector<EnderecoIp> EnderecosDaLista(const Info* lista) {
    std::vector<EnderecoIp> enderecos;
    for (const Info* a = lista; a != nullptr; a = a->ai_next) {
        if (EnderecoIp e; EnderecoDoSocket(a->ai_addr, e)) {
            enderecos.push_back(e);
        }
    }
    return enderecos;
}

} // namespace kelvane::plataforma
