// The environment variables PrepararProcesso removes before anything is loaded or read: with
// them whoever starts us would choose what we and the tools we start load, which settings they
// read, where they connect and what they write. Kept: what the window needs to reach the display
// (DISPLAY, WAYLAND_DISPLAY, XAUTHORITY, XDG_RUNTIME_DIR, XDG_SESSION_TYPE), HOME (Linux), TMPDIR
// (where the uploader's login file goes), the locale and TZ. No system header.
#pragma once

#include <string_view>

namespace kelvane::plataforma {

struct VariavelRemovida {
    std::string_view nome;
    bool prefixo = false; // every variable whose name starts so
};

inline constexpr VariavelRemovida kAmbienteRemovido[] = {
    // The dynamic loader (LD_PRELOAD, LD_LIBRARY_PATH, LD_AUDIT...: what is loaded into every
    // process; ours is loaded already, the tools are not) and the rest of glibc's list for
    // setuid programs (unsecvars.h): iconv's modules (FreeTDS and unixODBC convert text with
    // iconv), name resolution (where the uploader and the heartbeat connect), locale and time
    // zone data, a malloc trace file. TMPDIR, also on that list, is kept.
    {"LD_", true},
    {"GCONV_PATH"},
    {"GETCONF_DIR"},
    {"HOSTALIASES"},
    {"LOCALDOMAIN"},
    {"RES_OPTIONS"},
    {"RESOLV_HOST_CONF"},
    {"LOCPATH"},
    {"NLSPATH"},
    {"NIS_PATH"},
    {"MALLOC_TRACE"},
    {"TZDIR"},
    // libltdl, which unixODBC loads drivers with: folders searched for a driver's bare name.
    {"LTDL_LIBRARY_PATH"},
    // unixODBC: which odbcinst.ini and odbc.ini it reads (the driver's library comes from them),
    // the DSN search, the module it loads for its setup dialogs.
    {"ODBCSYSINI"},
    {"ODBCINSTINI"},
    {"ODBCINI"},
    {"ODBCSEARCH"},
    {"ODBCINSTUI"},
    // FreeTDS: TDSDUMP and TDSDUMPCONFIG write every packet (the login's password too) and the
    // settings to a file, TDSHOST, TDSPORT, TDSQUERY and DSQUERY choose the server the login goes
    // to, TDSVER the protocol; FREETDS, FREETDSCONF and SYBASE which freetds.conf is read;
    // ASA_DATABASE replaces the server name it sends.
    {"TDS", true},
    {"FREETDS"},
    {"FREETDSCONF"},
    {"SYBASE"},
    {"DSQUERY"},
    {"ASA_DATABASE"},
    // NcFTP: the folder of its settings (firewall: where it connects and what it sends the
    // password to).
    {"NCFTPDIR"},
    // p7zip 16.02: the folder it loads 7z.so and its codecs from (the 7-Zip that Debian 12 ships
    // as p7zip reads none).
    {"P7ZIP_HOME_DIR"},
    // OpenSSL, under libcurl's heartbeats: a configuration that loads engines and providers,
    // their folders, the certificates trusted; libcurl writes the TLS keys to SSLKEYLOGFILE.
    // CURL_CA_BUNDLE is the curl tool's (libcurl does not read it).
    {"OPENSSL_CONF"},
    {"OPENSSL_CONF_INCLUDE"},
    {"OPENSSL_ENGINES"},
    {"OPENSSL_MODULES"},
    {"SSL_CERT_FILE"},
    {"SSL_CERT_DIR"},
    {"SSLKEYLOGFILE"},
    {"CURL_CA_BUNDLE"},
    // Qt: plugin folders, and which of the installed plugins the window loads (platform, with
    // "vnc" among them, theme, style, input method, OpenGL and Wayland integrations).
    {"QT_PLUGIN_PATH"},
    {"QT_QPA_", true},
    {"QT_STYLE_OVERRIDE"},
    {"QT_IM_MODULE"},
    {"QT_XCB_GL_INTEGRATION"},
    {"QT_WAYLAND_", true},
    // GTK and GIO, which Qt's GTK theme loads on a GNOME desktop where it is installed: modules
    // and their folders.
    {"GTK_PATH"},
    {"GTK_MODULES"},
    {"GTK3_MODULES"},
    {"GTK_IM_MODULE_FILE"},
    {"GTK_EXE_PREFIX"},
    {"GIO_EXTRA_MODULES"},
    {"GIO_MODULE_DIR"},
};

inline bool AmbienteRemovido(std::string_view nome) {
    for (const auto& v : kAmbienteRemovido) {
        if (v.prefixo ? nome.starts_with(v.nome) : nome == v.nome) {
            return true;
        }
    }
    return false;
}

} // namespace kelvane::plataforma
