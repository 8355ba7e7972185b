// What differs between the systems by name only: the files in the program folder, the account's
// settings files the permission check covers, and how the log is written. No system header.
#pragma once

#include <array>
#include <string_view>

namespace kelvane::plataforma {

#ifdef _WIN32
inline constexpr std::string_view kNome7z = "7z.exe";
inline constexpr std::string_view kNomeBiblioteca7z = "7z.dll";
inline constexpr std::string_view kNomeEnviador = "ncftpput.exe";
// Where the uploader comes from, for the box that says it is missing.
inline constexpr std::string_view kOrigemEnviador =
    "O ncftpput.exe vem do NcFTP Client para Windows.";
inline constexpr std::string_view kNomeExecutavel = "kelvane.exe";
inline constexpr std::string_view kNomeExecutavelJob = "kelvane-exec.exe"; // the console one
inline constexpr std::string_view kNomeModuloJanela = "kelvane-janela.dll";
// Below the profile folder: ncftpput's firewall settings (NcFTP for Windows keeps them in
// %USERPROFILE%\ncftp). ODBC keeps its drivers and data sources in the registry.
inline constexpr std::array<std::string_view, 1> kConfiguracoesDaConta = {"ncftp\\firewall"};
// The driver manager and how to list its drivers, for the DriverODBC line.
inline constexpr std::string_view kGerenciadorOdbc = "ODBC";
inline constexpr std::string_view kListarDriversOdbc =
    "Get-OdbcDriver no PowerShell (os drivers registrados)";
// Tried in this order when DriverODBC is not set; FreeTDS when none is installed.
inline constexpr std::array<std::string_view, 3> kDriversOdbc = {
    "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", "SQL Server"};
inline constexpr char kSeparador = '\\';
// Below the data folder: the one folder SQL Server's service account may write, for the .BAK.
inline constexpr std::string_view kSubpastaBackups = "Backups";
// That account: a default instance's, or a named instance's before its name.
inline constexpr std::string_view kServicoBancoPadrao = "NT SERVICE\\MSSQLSERVER";
inline constexpr std::string_view kServicoBancoInstancia = "NT SERVICE\\MSSQL$";
// What a file name may not hold (with the control characters): the separators, and what
// Windows reads as a drive, a stream (":"), a pattern or a redirection.
inline constexpr std::string_view kProibidosEmNomes = "<>:\"/\\|?*";
inline constexpr bool kControlesProibidosEmNomes = true;
inline constexpr std::string_view kFimDeLinha = "\r\n";
// The log and the uploader's login file are read by the system's own tools and by ncftpput.exe,
// which take the ANSI code page (1252).
inline constexpr bool kTextoEmCp1252 = true;
// The window's font, 11 pixels high: Windows' own dialog font, Tahoma 8 at 96 dpi, narrowed to
// the widths of MS Sans Serif 8, which the layout was drawn for (Tahoma's captions are wider).
inline constexpr std::array<std::string_view, 1> kFontesJanela = {"Tahoma"};
inline constexpr int kLarguraFonteJanela = 92; // percent
// Narrowed, it has room to spare: at a larger scale its size is rounded to the nearest pixel (17
// at 150 %; Wine's Tahoma at 16 is drawn with its glyphs' tops and bottoms cut in the fields).
inline constexpr bool kFonteJanelaArredondaParaBaixo = false;
#else
inline constexpr std::string_view kNome7z = "7z";
inline constexpr std::string_view kNomeBiblioteca7z = "7z.so";
inline constexpr std::string_view kNomeEnviador = "ncftpput";
inline constexpr std::string_view kOrigemEnviador =
    "O ncftpput vem do NcFTP: apt install ncftp, e na pasta um link para /usr/bin/ncftpput.";
inline constexpr std::string_view kNomeExecutavel = "kelvane";
inline constexpr std::string_view kNomeExecutavelJob = "kelvane";
inline constexpr std::string_view kNomeModuloJanela = "kelvane-janela.so";
// Below the home folder: ncftpput's firewall settings (where it connects, and what it sends the
// password to), the ODBC drivers and data sources the driver manager loads, and FreeTDS's
// settings (which can name a file to write every packet to).
inline constexpr std::array<std::string_view, 4> kConfiguracoesDaConta = {
    ".ncftp/firewall", ".odbcinst.ini", ".odbc.ini", ".freetds.conf"};
inline constexpr std::string_view kGerenciadorOdbc = "unixODBC";
inline constexpr std::string_view kListarDriversOdbc = "odbcinst -q -d (os drivers registrados)";
inline constexpr std::array<std::string_view, 2> kDriversOdbc = {"ODBC Driver 18 for SQL Server",
                                                                 "ODBC Driver 17 for SQL Server"};
inline constexpr char kSeparador = '/';
// SQL Server for Linux runs as the job's own account: the .BAK goes in the data folder itself.
inline constexpr std::string_view kSubpastaBackups = "";
inline constexpr std::string_view kServicoBancoPadrao = "";
inline constexpr std::string_view kServicoBancoInstancia = "";
inline constexpr std::string_view kProibidosEmNomes = "/";
inline constexpr bool kControlesProibidosEmNomes = false;
inline constexpr std::string_view kFimDeLinha = "\n";
inline constexpr bool kTextoEmCp1252 = false;
// Narrow fonts of about the width of Windows' dialog font; a wider one would not let the
// captions fit between the controls.
inline constexpr std::array<std::string_view, 3> kFontesJanela = {
    "DejaVu Sans Condensed", "Liberation Sans Narrow", "Arial Narrow"};
inline constexpr int kLarguraFonteJanela = 100;
// Its captions fill their room at 11 pixels: at a larger scale its size is rounded down (16 at
// 150 %), since a pixel more runs a caption's end under the field beside it.
inline constexpr bool kFonteJanelaArredondaParaBaixo = true;
#endif

} // namespace kelvane::plataforma
