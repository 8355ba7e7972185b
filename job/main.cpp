#include "main.h"

#include "backup.h"
#include "ferramentas.h"
#include "log.h"
#include "programa.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <sys/stat.h>

namespace kelvane {

namespace {

std::string TextoArgumentos(int argc, char** argv) {
    std::string texto;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            texto += ' ';
        }
        texto += argv[i];
    }
    return texto;
}

std::string Maiusculas(std::string texto) {
    for (char& c : texto) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 32);
        }
    }
    return texto;
}

} // namespace

int Main(int argc, char** argv, const AbrirJanela& abrirJanela) {
    // A scheduler may start us with SIGCHLD ignored (the kernel then reaps the tools and their
    // status is lost), SIGPIPE ignored or signals blocked; all of that survives exec.
    for (const int sinal : {SIGCHLD, SIGPIPE}) {
        ::signal(sinal, SIG_DFL);
    }
    sigset_t nenhum;
    sigemptyset(&nenhum);
    ::sigprocmask(SIG_SETMASK, &nenhum, nullptr);
    // Archives and logs hold a whole database and its server's names: ours only. (The server
    // writes the .BAK with its own mask.)
    ::umask(077);
    const std::string argumentos = TextoArgumentos(argc, argv);
    if (PastaPrograma().empty()) {
        try {
            DefinirPastaPrograma(LocalizarPastaPrograma());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Kelvane: %s\n", e.what());
            return ComoInteiro(CodigoSaida::ErroOutro);
        }
    }
    // Before anything is created or read in the folder: whoever else could write there could
    // choose what we load, run, read or write. The line goes to stderr (the scheduler keeps it).
    const bool exec = Maiusculas(argumentos) == "EXEC";
    if (const auto inseguro = PermissaoInsegura(PastaPrograma(), !exec)) {
        std::fprintf(stderr, "Kelvane: %s\n", inseguro->c_str());
        return ComoInteiro(CodigoSaida::PermissoesInseguras);
    }
    ArquivoLog = NomeArquivoLog(AgoraLocal());

    const auto pastaLog = PastaPrograma() / "Log";
    struct stat st {};
    if (::stat(pastaLog.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (::mkdir(pastaLog.c_str(), 0755) != 0 && errno != EEXIST) {
            // The job reports this again when it cannot write its first line.
            std::fprintf(stderr, "Kelvane: não foi possível criar a pasta %s: %s\n",
                         pastaLog.c_str(), std::strerror(errno));
        }
    }

    if (exec) {
        return ComoInteiro(ExecutarBackup());
    }
    if (!abrirJanela) {
        std::fprintf(stderr, "Kelvane: a janela de configuração não está disponível nesta "
                             "versão; use o argumento EXEC para executar o backup.\n");
        return ComoInteiro(CodigoSaida::JanelaIndisponivel);
    }
    return abrirJanela(argc, argv);
}

} // namespace kelvane
