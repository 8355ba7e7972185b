// Heartbeats to a monitoring address (AvisoURL): "<url>/start" when a job starts, "<url>" when it
// reached its end, "<url>/fail" with the error line when it did not. The monitor alerts when the
// success request stops coming, so a job that silently stopped running is noticed from afar.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

enum class TipoAviso { Inicio, Sucesso, Falha };

// How long one heartbeat may take, connection included.
inline constexpr long kTempoAvisoMs = 5000;

// The address a heartbeat of this kind goes to: the base's path without a trailing "/", plus
// "/start" or "/fail" ("<url>" itself for success), then the base's query, if any.
std::string EnderecoAviso(std::string_view base, TipoAviso tipo);

// Sends one heartbeat (an HTTP(S) POST with `corpo` as its body, certificates verified) and
// waits at most kTempoAvisoMs. Returns the reason it was not delivered (no answer, refused, an
// HTTP status of 400 or more, no HTTP library), or nothing when it was. Never throws.
std::optional<std::string> EnviarAviso(const std::string& endereco, const std::string& corpo);

// The scheme and host of an address, for the log: a path may hold the monitor's secret token
// and a "user:password@" part a password.
std::string DestinoAviso(std::string_view endereco);

} // namespace kelvane
