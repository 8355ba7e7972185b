#include "main.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/eventos.h"
#include "../plataforma/sistema.h"
#include "backup.h"
#include "log.h"
#include "politica_permissoes.h"
#include "programa.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

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
    plataforma::PrepararProcesso();
    const std::string argumentos = TextoArgumentos(argc, argv);
    const bool exec = Maiusculas(argumentos) == "EXEC";
    // An unattended run's end also goes to the system's log, where monitoring tools look.
    const auto falhou = [exec](CodigoSaida codigo, const std::string& texto) {
        std::fprintf(stderr, "Kelvane: %s\n", texto.c_str());
        if (exec) {
            plataforma::RegistrarEvento(ComoInteiro(codigo), "Kelvane: " + texto);
        }
        return ComoInteiro(codigo);
    };
    if (PastaPrograma().empty()) {
        try {
            DefinirPastaPrograma(LocalizarPastaPrograma());
        } catch (const std::exception& e) {
            return falhou(CodigoSaida::ErroOutro, e.what());
        }
    }
    // Before anything is created or read: whoever else could write there could choose what we
    // load, run, read or write. The line goes to stderr (the scheduler keeps it).
    auto inseguro = ArquivoPastaDadosInseguro(PastaPrograma());
    if (!inseguro && PastaDados() == PastaPrograma()) {
        try {
            DefinirPastaDados(LocalizarPastaDados(PastaPrograma()));
        } catch (const std::exception& e) {
            return falhou(CodigoSaida::ErroOutro, e.what());
        }
    }
    if (!inseguro) {
        inseguro = PermissaoInsegura(PastaPrograma(), PastaDados(), !exec);
    }
    if (inseguro) {
        return falhou(CodigoSaida::PermissoesInseguras, *inseguro);
    }
    ArquivoLog = NomeArquivoLog(AgoraLocal());

    const auto pastaLog = PastaDados() / "Log";
    if (const auto erro = plataforma::CriarPastaSeFaltar(pastaLog)) {
        // The job reports this again when it cannot write its first line.
        std::fprintf(stderr, "Kelvane: não foi possível criar a pasta %s: %s\n",
                     plataforma::TextoCaminho(pastaLog).c_str(), std::strerror(erro.value()));
    }

    if (exec) {
        std::string falha;
        const auto codigo = ExecutarBackup(nullptr, &falha);
        plataforma::RegistrarEvento(ComoInteiro(codigo),
                                    codigo == CodigoSaida::Sucesso ? "Fim do Processo" : falha);
        return ComoInteiro(codigo);
    }
    if (!abrirJanela) {
        std::fprintf(stderr, "Kelvane: a janela de configuração não está disponível nesta "
                             "versão; use o argumento EXEC para executar o backup.\n");
        return ComoInteiro(CodigoSaida::JanelaIndisponivel);
    }
    return abrirJanela(argc, argv);
}

} // namespace kelvane
