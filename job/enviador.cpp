#include "enviador.h"

#include "../plataforma/nomes.h"
#include "../plataforma/processo.h"
#include "../settings/codificacao.h"
#include "textos.h"

#include <cstdlib>
#include <cstring>

namespace kelvane {

namespace {

constexpr std::string_view kPrefixoLogin = "kelvane-ftp.";
constexpr std::string_view kArquivoLogin = "login.cfg";

// A job killed outright (SIGKILL, power loss) leaves its login folder behind; the folder names
// its process, so the next upload can tell it is stale and remove it. A pid is not proof: a
// process in another PID namespace sharing this folder (a container, Wine) looks dead from here.
// So its login file's lock must be free as well: its owner holds it while it lives. A folder
// without a login file with content is left: it holds no password, and may be one being made.
void RemoverLoginsAbandonados(const std::filesystem::path& tmp) {
    std::error_code erro;
    for (const auto& e : plataforma::EntradasDaPasta(tmp, erro)) {
        const std::string nome = plataforma::TextoCaminho(e.filename());
        if (nome.rfind(kPrefixoLogin, 0) != 0) {
            continue;
        }
        const char* numero = nome.c_str() + kPrefixoLogin.size();
        char* fim = nullptr;
        const long pid = std::strtol(numero, &fim, 10);
        if (fim == numero || *fim != '.' || pid <= 0 || !plataforma::PastaPropria(e)) {
            continue;
        }
        if (!plataforma::ProcessoVivo(pid) &&
            plataforma::ArquivoPrivadoAbandonado(e / kArquivoLogin)) {
            std::error_code ignorado;
            std::filesystem::remove_all(e, ignorado);
        }
    }
}

} // namespace

ArquivoLoginFtp::ArquivoLoginFtp(const DadosFtp& dados) {
    for (const auto* valor : {&dados.endereco, &dados.usuario, &dados.senha}) {
        if (valor->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            throw std::runtime_error(
                "o endereço, o usuário e a senha do FTP não podem conter quebras de linha");
        }
    }
    const auto tmp = plataforma::PastaTemporaria();
    RemoverLoginsAbandonados(tmp);
    std::error_code erro;
    const auto pasta = plataforma::CriarPastaPrivada(
        tmp, std::string(kPrefixoLogin) + std::to_string(plataforma::IdProcesso()) + ".", erro);
    if (!pasta) {
        throw std::runtime_error(std::string("não foi possível criar a pasta temporária: ") +
                                 TextoErroSistema(erro));
    }
    pasta_ = *pasta;
    arquivo_ = pasta_ / kArquivoLogin;
    plataforma::ApagarAoTerminar(arquivo_, pasta_);
    std::string conteudo =
        "host " + dados.endereco + "\nuser " + dados.usuario + "\npass " + dados.senha + "\n";
    if constexpr (plataforma::kTextoEmCp1252) {
        conteudo = Utf8ParaCp1252(conteudo);
    }
    trava_ = plataforma::CriarArquivoPrivado(arquivo_, conteudo, erro);
    if (trava_ == plataforma::kSemDescritor) {
        plataforma::EsquecerAoTerminar();
        std::error_code ignorado;
        std::filesystem::remove_all(pasta_, ignorado);
        throw std::runtime_error(std::string("não foi possível criar o arquivo de login: ") +
                                 TextoErroSistema(erro));
    }
}

ArquivoLoginFtp::~ArquivoLoginFtp() {
    plataforma::EsquecerAoTerminar();
    plataforma::Fechar(trava_); // first: Windows removes no file that is open
    std::error_code ignorado;
    std::filesystem::remove_all(pasta_, ignorado);
}

std::vector<std::string> LinhaEnviador(const std::filesystem::path& pasta,
                                       const std::filesystem::path& arquivoLogin,
                                       const std::string& porta, const std::string& diretorio,
                                       const std::filesystem::path& arquivo) {
    // "--" so that a folder or file name starting with "-" is never taken for an option.
    return {plataforma::TextoCaminho(pasta / plataforma::kNomeEnviador),
            "-f",
            plataforma::TextoCaminho(arquivoLogin),
            "-P",
            porta,
            "-F",
            "-S",
            std::string(kSufixoEnvio),
            "--",
            diretorio,
            plataforma::TextoCaminho(arquivo)};
}

ResultadoProcesso EnviarArquivoFtp(const std::filesystem::path& pasta, const DadosFtp& dados,
                                   const std::filesystem::path& arquivo,
                                   const OpcoesProcesso& opcoes, Programas& programas) {
    const ArquivoLoginFtp login(dados);
    auto linha = LinhaEnviador(pasta, login.caminho(), dados.porta, dados.diretorio, arquivo);
    if (dados.teste) {
        linha.insert(linha.begin() + 1, {"-r", "1", "-t", "20"});
    }
    auto r = programas.Executar(linha, opcoes);
    // Some servers refuse to rename onto an existing file; ncftpput then deletes the old one and
    // tries again, and reports this when that fails too.
    if (!r.sucesso() && r.saida.find("could not rename remote file") != std::string::npos) {
        const std::string nome = plataforma::TextoCaminho(arquivo.filename());
        r.motivo = "o servidor recusou renomear " + nome + std::string(kSufixoEnvio) + " para " +
                   nome + ": o arquivo completo está no servidor como " + nome +
                   std::string(kSufixoEnvio) + ", e o " + nome + " anterior pode ter sido apagado";
    }
    return r;
}

} // namespace kelvane
