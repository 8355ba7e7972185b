// The heartbeat's transport: one HTTP(S) request.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace kelvane::plataforma {

// Looks up `host` within the caller's time: its addresses ("a,[b]", IPv6 in brackets), or
// nothing with `falha` saying why.
using ResolverHost =
    std::function<std::optional<std::string>(const std::string& host, std::string& falha)>;

// POSTs `corpo` to `endereco` (http:// or https:// only) straight to the server (no proxy),
// certificates and host names verified, no redirect followed, and gives up at `limite`. A host
// written as a name is looked up with `resolver` first. Returns the reason it was not delivered
// (no answer, refused, an HTTP status of 400 or more, no HTTP library), or nothing when it was.
// Never throws.
std::optional<std::string> EnviarPost(const std::string& endereco, const std::string& corpo,
                                      std::chrono::steady_clock::time_point limite,
                                      const ResolverHost& resolver);

} // namespace kelvane::plataforma
