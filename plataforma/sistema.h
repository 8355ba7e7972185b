// The process and the machine it runs on: where it was started from, time, names, libraries.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::plataforma {

// At start, before anything else: removes the environment variables that would choose what we
// and the tools load, read or send to (ambiente.h), undoes what a scheduler may have handed down
// (signals ignored or blocked) and keeps what we create ours only. On Windows: libraries only from
// System32, no error dialogs, the job object the tools run in, a console told that our text is
// UTF-8.
void PrepararProcesso();
// The command line's arguments in UTF-8 (Windows hands `argv` in the ANSI code page, which
// loses what it cannot spell: the command line is read again as the system keeps it).
std::vector<std::string> ArgumentosUtf8(int argc, char** argv);
// Ends the process with `codigo` at once, output flushed and the console as it was found, without
// the libraries' exit handlers (a driver call given up on may still run on its own thread).
[[noreturn]] void EncerrarProcesso(int codigo);

// While a toolkit connects to the display, what libraries print to stderr goes to `rascunho`
// instead. Returns a descriptor of the real stderr (not inherited by programs we start), or -1
// when it cannot be set aside and stderr stays as it was.
int DesviarErroPadrao(std::FILE* rascunho);
// Points stderr back at `real` (from DesviarErroPadrao), which is closed.
void DevolverErroPadrao(int real);
// Writes straight to a descriptor, past the C library's buffers: safe where the process is
// about to end.
void EscreverDescritor(int descritor, std::string_view texto);
// stderr's descriptor.
inline constexpr int kErroPadrao = 2;

// A box titled "Kelvane" with the critical icon, `texto` (UTF-8, lines split by LF or CR LF) and
// an OK button; returns when it is closed. It loads nothing from the program folder, so a start
// refused because of that folder can still say why: Windows' own MessageBoxW; on Linux, where
// the toolkit is the window module's, the desktop's dialog program from /usr/bin (zenity,
// kdialog or xmessage, the first installed), only when DISPLAY or WAYLAND_DISPLAY names a
// display. With the variable kVariavelCaixaTeste naming a file, the text and the system's line
// end are added to that file instead of shown (the tests read what the box said).
void MostrarCaixaSistema(const std::string& texto);
inline constexpr char kVariavelCaixaTeste[] = "KELVANE_CAIXA_TESTE";
// Whether this process's console was made for it alone (Windows: a console program opened from
// Explorer, whose console closes with it); false on Linux and when started from a prompt.
bool ConsoleSoDesteProcesso();

// The folder of the running executable; throws ErroSistema (erro_sistema.h) when it cannot be
// known.
std::filesystem::path PastaDoExecutavel();

// `momento` in local time.
std::tm HoraLocal(std::time_t momento);
// Normalizes `data`, read as UTC (days past the month's end move to the next...), and returns
// the moment it names.
std::time_t NormalizarUtc(std::tm& data);

// The machine's network name as the system reports it; empty when it cannot.
std::string NomeMaquina();

// The home folder of this account (on Windows, USERPROFILE: where the tools look), when it is
// known and absolute; empty otherwise.
std::filesystem::path PastaPessoal();

// Loads a library, by path or by the name the system searches for; nullptr when it cannot, with
// the loader's words in `erro`.
void* CarregarBiblioteca(const std::filesystem::path& biblioteca, std::string& erro);
// A symbol of a loaded library; nullptr when it has none, with the loader's words in `erro`.
void* ProcurarSimbolo(void* biblioteca, const char* nome, std::string& erro);

// The addresses of `host` as "a,[b]" (IPv6 in brackets), waiting as long as the resolver takes;
// 0, or the resolver's error number, which TextoErroResolucao words.
int ResolverNome(const std::string& host, std::string& enderecos);
std::string TextoErroResolucao(int erro);
// Whether `host` is written as an IPv4 address.
bool EhEnderecoIpv4(const char* host);

} // namespace kelvane::plataforma
