// libcurl as the heartbeat and the transfers use it: the functions, loaded once. Inside
// plataforma/ only.
#pragma once

#include <chrono>
#include <curl/curl.h>
#include <string>

namespace kelvane::plataforma {

struct Curl {
    CURL* (*easy_init)() = nullptr;
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...) = nullptr;
    CURLcode (*easy_perform)(CURL*) = nullptr;
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...) = nullptr;
    const char* (*easy_strerror)(CURLcode) = nullptr;
    void (*easy_cleanup)(CURL*) = nullptr;
    CURLU* (*url)() = nullptr;
    CURLUcode (*url_set)(CURLU*, CURLUPart, const char*, unsigned int) = nullptr;
    decltype(&curl_url_get) url_get = nullptr; // its first parameter is const in newer headers
    void (*url_cleanup)(CURLU*) = nullptr;
    void (*free)(void*) = nullptr;
    char* (*easy_escape)(CURL*, const char*, int) = nullptr;
    curl_slist* (*slist_append)(curl_slist*, const char*) = nullptr;
    void (*slist_free_all)(curl_slist*) = nullptr;
    std::string erro; // why easy_init is null
};

// Loaded (Linux) or set up (Windows, linked in) on the first call, which comes after the
// permission check; easy_init is null when it cannot be, with the reason in erro.
const Curl& CarregarCurl();

// The TLS version and cipher suite of `c`'s control connection as the TLS library itself tells
// ("TLSv1.2 / ..."), for libcurl's debug callback: valid only while a transfer runs. Empty when
// it cannot tell yet, or when libcurl's own messages say it (OpenSSL's "SSL connection using").
std::string TlsDaConexao(const Curl& curl, CURL* c);

// Closes a transfer's socket so that the peer reads all that was sent: a close with something
// unread, or anything arriving after it, makes the system answer with a reset, and the peer loses
// what it had not read yet (TLS 1.3 servers send their session tickets after the handshake, at
// any time during an upload). So the sending side is shut (the end follows what is queued), and
// whatever still comes is read and dropped until the peer closes too, or until `prazo`.
void FecharConexao(curl_socket_t s, std::chrono::steady_clock::time_point prazo);

// The first bytes the server of a connection just made sent within `espera`, left unread for
// whoever reads next (an SSH server greets first; libssh2 would take another protocol's lines
// for text before the greeting and wait for more). Empty when nothing came.
std::string EspiarInicio(curl_socket_t s, std::chrono::milliseconds espera);

// Ends both directions of `s` at once: whatever waits on it wakes with the end of the stream.
void InterromperConexao(curl_socket_t s);

} // namespace kelvane::plataforma
