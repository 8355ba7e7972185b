#include "ferramentas.h"

#include "../plataforma/nomes.h"
#include "../plataforma/permissoes.h"
#include "../plataforma/processo.h"
#include "../plataforma/sistema.h"
#include "../settings/codificacao.h"
#include "../settings/configuracao.h"
#include "programa.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelvane {

namespace {

// Enough for the last lines of any tool's complaint, small enough to keep the job's memory flat
// however much a tool prints.
constexpr std::size_t kLimiteSaida = 64 * 1024;

constexpr std::string_view kPrefixoLogin = "kelvane-ftp.";

// A job killed outright (SIGKILL, power loss) leaves its login folder behind; the folder names
// its process, so the next upload can tell it is stale and remove it.
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
        if (!plataforma::ProcessoVivo(pid)) {
            std::error_code ignorado;
            std::filesystem::remove_all(e, ignorado);
        }
    }
}

void Acrescentar(std::string& saida, const char* dados, std::size_t n) {
    saida.append(dados, n);
    if (saida.size() > 2 * kLimiteSaida) {
        saida.erase(0, saida.size() - kLimiteSaida);
    }
}

} // namespace

bool FerramentaPresente(const std::filesystem::path& pasta, std::string_view nome) {
    return plataforma::EhArquivoRegular(pasta / nome);
}

std::optional<std::string> FerramentaFaltando(const std::filesystem::path& pasta) {
    for (auto nome : kFerramentas) {
        if (!FerramentaPresente(pasta, nome)) {
            return std::string(nome);
        }
    }
    return std::nullopt;
}

std::filesystem::path Programa7z(const std::filesystem::path& pasta) {
    const auto programa = pasta / plataforma::kNome7z;
#ifdef _WIN32
    return programa; // installed as a copy, never as a link
#else
    // 7z takes the folder it loads its codecs from (Codecs/, Formats/, 7z.so) from the path it
    // is started by: started through the link, it would load whatever lies beside the link.
    std::error_code erro;
    auto real = std::filesystem::canonical(programa, erro);
    return erro ? programa : real;
#endif
}

std::optional<std::string> CaminhoInseguro(const std::filesystem::path& caminho) {
    return plataforma::ProblemaPermissao(std::filesystem::absolute(caminho),
                                         plataforma::Regra::Carregado, {});
}

std::optional<std::string> ArquivoPastaDadosInseguro(const std::filesystem::path& pasta) {
    const auto programa = std::filesystem::absolute(pasta).lexically_normal();
    std::error_code erro;
    if (!std::filesystem::exists(
            std::filesystem::symlink_status(programa / kArquivoPastaDados, erro))) {
        return std::nullopt; // a portable copy: the whole check follows
    }
    return plataforma::ProblemaPermissao(programa / kArquivoPastaDados,
                                         plataforma::Regra::Carregado,
                                         {programa, programa, false, {}});
}

std::optional<std::string> PermissaoInsegura(const std::filesystem::path& pasta,
                                             const std::filesystem::path& dados, bool janela) {
    using plataforma::Regra;
    plataforma::ContextoPermissao ctx{std::filesystem::absolute(pasta).lexically_normal(),
                                      std::filesystem::absolute(dados).lexically_normal(),
                                      janela,
                                      {}};
    const bool separados = ctx.pasta != ctx.dados;
    // The data first: whoever runs us as another account than its owner hears that before
    // anything else.
    for (const auto& d : {ctx.dados, ctx.dados / "Log", ctx.dados / "info.ini"}) {
        if (auto problema = plataforma::ProblemaPermissao(d, Regra::Dados, ctx)) {
            return problema;
        }
    }
    if (!plataforma::kSubpastaBackups.empty()) {
        // Only an info.ini that passed may name the service trusted with the backups.
        ctx.servicoBanco =
            ContaServicoBanco(LerConfiguracao(ctx.dados / "info.ini").valores.servidorDB);
        if (auto problema = plataforma::ProblemaPermissao(
                ctx.dados / plataforma::Caminho(plataforma::kSubpastaBackups), Regra::Backup,
                ctx)) {
            return problema;
        }
    }
    std::vector<std::pair<std::filesystem::path, Regra>> caminhos;
    // The program apart from its data is the system's alone: whoever could swap it would have
    // root (or SYSTEM) run their code. A portable copy is its owner's, as its data.
    const Regra programa = separados ? Regra::Sistema : Regra::Carregado;
    caminhos.emplace_back(ctx.pasta, programa);
    // Every folder in it too: Qt, for one, loads plugins from platforms/ and styles/ there.
    std::error_code erroPasta;
    for (const auto& e : plataforma::EntradasDaPasta(ctx.pasta, erroPasta)) {
        if (std::filesystem::is_directory(e, erroPasta) &&
            !(!separados && e.filename() == plataforma::Caminho(plataforma::kSubpastaBackups))) {
            caminhos.emplace_back(e, programa);
        }
    }
    for (const auto nome : {plataforma::kNomeExecutavel, plataforma::kNomeModuloJanela,
                            plataforma::kNome7z, plataforma::kNomeBiblioteca7z,
                            plataforma::kNomeEnviador, std::string_view(kArquivoPastaDados)}) {
        caminhos.emplace_back(ctx.pasta / nome, programa);
    }
    for (const char* sub : {"Codecs", "Formats"}) {
        const auto pastaCodecs = Programa7z(ctx.pasta).parent_path() / sub;
        caminhos.emplace_back(pastaCodecs, programa);
        std::error_code erro;
        for (const auto& e : plataforma::EntradasDaPasta(pastaCodecs, erro)) {
            caminhos.emplace_back(e, programa); // every file there is loaded
        }
    }
    // From the account's home: what the uploader and the driver manager read from there.
    if (const auto casa = plataforma::PastaPessoal(); !casa.empty()) {
        for (const auto nome : plataforma::kConfiguracoesDaConta) {
            caminhos.emplace_back(casa / nome, Regra::Carregado);
        }
    }
    for (const auto& [c, regra] : caminhos) {
        if (auto problema = plataforma::ProblemaPermissao(c, regra, ctx)) {
            return problema;
        }
    }
    return std::nullopt;
}

std::string TextoFaltandoArquivo(std::string_view nome) {
    return "Está faltando o arquivo: " + std::string(nome);
}

std::string TextoCaixaFerramentaFaltando(std::string_view nome) {
    return TextoFaltandoArquivo(nome) + "\r\nO backup não será efetuado!";
}

std::string ResultadoProcesso::UltimasLinhas(std::size_t n) const {
    std::vector<std::string> linhas;
    std::string atual;
    auto fechar = [&] {
        // Progress displays redraw a line with CR or backspaces: keep what was drawn last.
        const auto cr = atual.find_last_of('\r');
        if (cr != std::string::npos) {
            atual.erase(0, cr + 1);
        }
        std::string limpa;
        for (char c : atual) {
            if (c == '\b') {
                if (!limpa.empty()) {
                    limpa.pop_back();
                }
            } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
                limpa += c;
            }
        }
        const auto ini = limpa.find_first_not_of(" \t");
        if (ini != std::string::npos) {
            linhas.push_back(limpa.substr(ini, limpa.find_last_not_of(" \t") - ini + 1));
        }
        atual.clear();
    };
    for (char c : saida) {
        if (c == '\n') {
            fechar();
        } else {
            atual += c;
        }
    }
    fechar();
    std::string resultado;
    const std::size_t inicio = linhas.size() > n ? linhas.size() - n : 0;
    for (std::size_t i = inicio; i < linhas.size(); ++i) {
        if (!resultado.empty()) {
            resultado += " | ";
        }
        resultado += linhas[i];
    }
    return resultado;
}

ResultadoProcesso ShellEspera(const std::vector<std::string>& argumentos,
                              const OpcoesProcesso& opcoes) {
    if (argumentos.empty()) {
        throw ErroProcesso("nenhum programa para executar");
    }
    ResultadoProcesso resultado;
    plataforma::FimPrograma fim;
    if (auto erro = plataforma::ExecutarPrograma(
            argumentos, opcoes.herdar, opcoes.limite, opcoes.aoIniciar,
            [&](const char* dados, std::size_t n) { Acrescentar(resultado.saida, dados, n); },
            fim)) {
        throw ErroProcesso(*erro);
    }
    if (resultado.saida.size() > kLimiteSaida) {
        resultado.saida.erase(0, resultado.saida.size() - kLimiteSaida);
    }
    if constexpr (plataforma::kTextoEmCp1252) { // what the tools print, as we write to them
        resultado.saida = Cp1252ParaUtf8(resultado.saida);
    }
    resultado.codigo = fim.codigo;
    resultado.sinal = fim.sinal;
    if (fim.parado) {
        resultado.parado = opcoes.limite;
    }
    return resultado;
}

std::vector<std::string> LinhaCompactador(const std::filesystem::path& pasta,
                                          const std::filesystem::path& arquivo,
                                          const std::filesystem::path& origem) {
    // -spd: a "*" or "?" in a client's name is part of the file name, not a pattern that
    // would pack other backups along.
    return {plataforma::TextoCaminho(Programa7z(pasta)), "a", "-spd",
            plataforma::TextoCaminho(arquivo), plataforma::TextoCaminho(origem)};
}

std::vector<std::string> LinhaTesteArquivo(const std::filesystem::path& pasta,
                                           const std::filesystem::path& arquivo) {
    return {plataforma::TextoCaminho(Programa7z(pasta)), "t", "-spd",
            plataforma::TextoCaminho(arquivo)};
}

ArquivoLoginFtp::ArquivoLoginFtp(const DadosFtp& dados) {
    for (const auto* valor : {&dados.endereco, &dados.usuario, &dados.senha}) {
        if (valor->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            throw std::runtime_error(
                "o endereço, o usuário e a senha do FTP não podem conter quebras de linha");
        }
    }
    const auto tmp = plataforma::PastaTemporaria();
    RemoverLoginsAbandonados(tmp);
    const auto pasta = plataforma::CriarPastaPrivada(
        tmp, std::string(kPrefixoLogin) + std::to_string(plataforma::IdProcesso()) + ".");
    if (!pasta) {
        throw std::runtime_error(std::string("não foi possível criar a pasta temporária: ") +
                                 std::strerror(errno));
    }
    pasta_ = *pasta;
    arquivo_ = pasta_ / "login.cfg";
    plataforma::ApagarAoTerminar(arquivo_, pasta_);
    std::string conteudo =
        "host " + dados.endereco + "\nuser " + dados.usuario + "\npass " + dados.senha + "\n";
    if constexpr (plataforma::kTextoEmCp1252) {
        conteudo = Utf8ParaCp1252(conteudo);
    }
    if (!plataforma::CriarArquivoPrivado(arquivo_, conteudo)) {
        const int e = errno;
        plataforma::EsquecerAoTerminar();
        std::error_code ignorado;
        std::filesystem::remove_all(pasta_, ignorado);
        throw std::runtime_error(std::string("não foi possível criar o arquivo de login: ") +
                                 std::strerror(e));
    }
}

ArquivoLoginFtp::~ArquivoLoginFtp() {
    plataforma::EsquecerAoTerminar();
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
                                   const OpcoesProcesso& opcoes) {
    const ArquivoLoginFtp login(dados);
    auto linha = LinhaEnviador(pasta, login.caminho(), dados.porta, dados.diretorio, arquivo);
    if (dados.teste) {
        linha.insert(linha.begin() + 1, {"-r", "1", "-t", "20"});
    }
    auto r = ShellEspera(linha, opcoes);
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

std::string DescricaoFalha(const std::string& etapa, const std::string& ferramenta,
                           const ResultadoProcesso& r, std::string (*significado)(int)) {
    std::string texto = etapa + ": " + ferramenta;
    if (r.parado.count() > 0) {
        texto += " não terminou em " + std::to_string(r.parado.count()) + " s e foi interrompido";
        if (!r.motivo.empty()) {
            texto += " (" + r.motivo + ")";
        }
    } else if (r.sinal != 0) {
        texto += " interrompido pelo sinal " + std::to_string(r.sinal);
    } else {
        texto += " terminou com código " + std::to_string(r.codigo) + " (" +
                 (r.motivo.empty() ? significado(r.codigo) : r.motivo) + ")";
    }
    if (const auto ultimas = r.UltimasLinhas(); !ultimas.empty()) {
        texto += ": " + ultimas;
    }
    return texto;
}

long NumeroFalha(const ResultadoProcesso& r) {
    if (r.parado.count() > 0) {
        return 0; // its status is ours, not the tool's
    }
    return r.sinal ? 128 + r.sinal : r.codigo;
}

std::string SignificadoCompactador(int codigo) {
    switch (codigo) {
    case 0:
        return "sucesso";
    case 1:
        return "aviso: arquivos que não puderam ser lidos";
    case 2:
        return "erro fatal";
    case 7:
        return "erro na linha de comando";
    case 8:
        return "memória insuficiente";
    case 255:
        return "processo interrompido";
    default:
        return "código desconhecido";
    }
}

std::string SignificadoEnviador(int codigo) {
    switch (codigo) {
    case 0:
        return "sucesso";
    case 1:
        return "não foi possível conectar ou entrar no servidor";
    case 2:
        return "não foi possível conectar ao servidor (tempo esgotado)";
    case 3:
        return "falha na transferência";
    case 4:
        return "falha na transferência (tempo esgotado)";
    case 5:
        return "falha ao mudar para o diretório remoto";
    case 6:
        return "falha ao mudar para o diretório remoto (tempo esgotado)";
    case 7:
        return "URL malformada";
    case 8:
        return "erro de uso da linha de comando";
    case 9:
        return "erro no arquivo de login";
    case 10:
        return "falha ao iniciar a biblioteca de FTP";
    case 11:
        return "falha ao iniciar a sessão FTP";
    default:
        return "código desconhecido";
    }
}

} // namespace kelvane
