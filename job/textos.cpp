#include "textos.h"

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "../settings/configuracao.h"  // MotivoGravacao
#include "../settings/nomes_arquivo.h" // Substituir
#include "etapas.h"
#include "significados.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kelvane {

namespace {

// The errors a save, a load, a run or a send meets in practice (a number 0 is one the system
// lacks).
const std::pair<int, const char*> kErrosSistema[] = {
    {EACCES, "permissão negada"},
    {EPERM, "operação não permitida"},
    {EROFS, "o sistema de arquivos é somente leitura"},
    {ENOSPC, "não há espaço livre no disco"},
    {plataforma::kErroCotaExcedida, "a cota de disco foi excedida"},
    {ENOENT, "arquivo ou pasta inexistente"},
    {ENOTDIR, "uma parte do caminho não é uma pasta"},
    {EISDIR, "é uma pasta, não um arquivo"},
    {EEXIST, "o arquivo já existe"},
    {EIO, "erro de leitura ou gravação no disco"},
    {ENAMETOOLONG, "nome de arquivo longo demais"},
    {ELOOP, "links simbólicos demais no caminho"},
    {ECONNREFUSED, "conexão recusada"},
    {ETIMEDOUT, "a conexão esgotou o tempo de espera"},
};

const char* NomePasso(PassoFalha passo) {
    switch (passo) {
    case PassoFalha::Compactacao:
        return "Compactação falhou";
    case PassoFalha::TesteArquivo:
        return "Teste do arquivo compactado falhou";
    case PassoFalha::Extracao:
        return "Extração falhou";
    case PassoFalha::Envio:
        return "Envio falhou";
    case PassoFalha::TesteFtp:
        return "Teste de conexão FTP falhou";
    case PassoFalha::Backup:
        return "Backup do banco falhou";
    case PassoFalha::Verificacao:
        return "Verificação do backup falhou";
    case PassoFalha::Restauracao:
        return "Restauração falhou";
    case PassoFalha::Integridade:
        return "Verificação de integridade falhou";
    case PassoFalha::Download:
        return "Download falhou";
    case PassoFalha::Listagem:
        return "Listagem falhou";
    case PassoFalha::Conexao:
        return "Erro ao conetar no banco";
    case PassoFalha::Nenhum:
        break;
    }
    return "";
}

// The step's time limit, as a tool stopped at it or a transfer past it is told.
std::string TextoLimiteEtapa(std::int64_t piso) {
    return "limite da etapa: " + std::to_string(piso) + " s mais 1 s a cada " +
           std::to_string(kRitmoMinimo / 1024) + " KiB do arquivo; para um link lento, aumente " +
           std::string(NomeChave(&Configuracao::limiteEtapa)) + " no info.ini";
}

std::string Colchetes(const std::string& banco) {
    return "[" + Substituir(banco, "]", "]]") + "]";
}

// What a file or folder of this machine, or the archive, did.
std::string DetalhesLocais(const Falha& f) {
    const std::string sistema = f.caminho + ": " + TextoErroSistema(f.erro);
    const std::string nada = "; nada foi compactado nem enviado.";
    switch (f.tipo) {
    case TipoFalha::ArquivoLocal:
        return sistema;
    case TipoFalha::NaoIniciou:
        return f.sistema ? TextoErroSistema(*f.sistema) : f.descricao;
    case TipoFalha::PastaNaoCriada:
        return "não foi possível criar a pasta " + sistema;
    case TipoFalha::NaoExcluido:
        return "não foi possível excluir " + sistema;
    case TipoFalha::TravaNaoAberta:
        return "não foi possível abrir " + sistema;
    case TipoFalha::Ocupada:
        return "Outro backup já está em execução nesta pasta; este não será executado.";
    case TipoFalha::RestauracaoOcupada:
        return "Outro backup ou restauração já está em execução nesta pasta; esta restauração "
               "não será executada.";
    case TipoFalha::OrigemInvalida:
        if (f.erro == std::errc::too_many_symbolic_link_levels) {
            return f.caminho +
                   " não é um arquivo comum: é um link (ou uma junção), que levaria o 7z a outro "
                   "lugar" +
                   nada;
        }
        if (f.erro == std::errc::is_a_directory || f.erro == std::errc::invalid_argument) {
            return f.caminho + " não é um arquivo comum" +
                   (f.erro == std::errc::is_a_directory ? ": é uma pasta" : "") + nada;
        }
        return f.caminho + " não pôde ser aberto: " + TextoErroSistema(f.erro) + nada;
    case TipoFalha::SenhaIlegivel:
        return "a senha do arquivo (" + std::string(NomeChave(&Configuracao::senhaArquivo)) +
               ") está ilegível: " + f.descricao + nada;
    case TipoFalha::AbreSemSenha:
        return "o arquivo se abre sem a senha (" +
               std::string(NomeChave(&Configuracao::senhaArquivo)) + "); ele não foi enviado.";
    case TipoFalha::SemBakUnico:
        return f.remoto + " não contém um único arquivo de backup; nada foi restaurado.";
    default:
        return f.descricao;
    }
}

// What the FTP server did.
std::string DetalhesFtp(const Falha& f) {
    const std::string motivo = f.transferencia ? f.transferencia->motivo : std::string();
    switch (f.tipo) {
    case TipoFalha::CredencialFtp:
        return "usuário ou senha do FTP ilegível: " + f.descricao;
    case TipoFalha::TamanhoIgnorado:
        return "o tamanho de " + f.remoto + " no servidor não pôde ser conferido: " + f.descricao;
    case TipoFalha::TamanhoDiferente:
        return "o servidor guardou " + std::to_string(f.bytesServidor) + " de " +
               std::to_string(f.bytesLocal) + " bytes de " + f.remoto +
               (f.ficouComo.empty() ? ""
                : f.incompleto      ? "; o arquivo incompleto ficou no servidor como " + f.ficouComo
                                    : "; o que chegou ficou no servidor como " + f.ficouComo);
    case TipoFalha::ChegouMenos:
        return "chegaram " + std::to_string(f.bytesLocal) + " de " +
               std::to_string(f.bytesServidor) + " bytes de " + f.remoto + "; nada foi restaurado.";
    case TipoFalha::Transferencia:
        return (f.remoto.empty() ? "" : f.remoto + ": ") + motivo +
               (f.piso > 0 && f.transferencia && f.transferencia->tempoEsgotado
                    ? " (" + TextoLimiteEtapa(f.piso) + ")"
                    : "");
    case TipoFalha::PastaNaoListada:
        return "a pasta do servidor não pôde ser listada: " + motivo;
    case TipoFalha::NenhumArquivo:
        return "nenhum arquivo deste cliente na pasta do servidor; nada foi restaurado.";
    default:
        return DetalhesLocais(f);
    }
}

// What the database server did.
std::string Detalhes(const Falha& f) {
    const std::string banco = Colchetes(f.banco);
    switch (f.tipo) {
    case TipoFalha::Servidor:
        switch (f.desfecho) {
        case Desfecho::Nenhum:
            return f.textoServidor;
        case Desfecho::NadaRestaurado:
            return f.textoServidor + "; nada foi restaurado.";
        case Desfecho::Apagado:
            return f.textoServidor + "; o banco " + banco +
                   ", criado por esta restauração, foi apagado.";
        case Desfecho::NaoApagado:
            return f.textoServidor + "; o banco " + banco +
                   ", criado por esta restauração, não pôde ser apagado: " + f.textoDrop;
        case Desfecho::Mantido:
            return f.textoServidor + "; o banco " + banco + " foi mantido para análise.";
        }
        return f.textoServidor;
    case TipoFalha::BancoExiste:
        return "o banco " + banco + " já existe; nada foi restaurado" +
               (f.desfecho == Desfecho::Mantido
                    ? " e ele não foi apagado (se for de um teste anterior, apague-o: DROP "
                      "DATABASE " +
                          banco + ")."
                    : ".");
    case TipoFalha::TesteNaoApagado:
        return "o banco " + banco +
               " passou no CHECKDB mas não pôde ser apagado: " + f.textoServidor;
    default:
        return DetalhesFtp(f);
    }
}

} // namespace

std::string TextoDescricao(const Falha& f) {
    std::string texto;
    if (f.tipo == TipoFalha::Ferramenta && f.ferramenta) {
        auto r = *f.ferramenta;
        if (r.parado.count() > 0) {
            r.motivo = TextoLimiteEtapa(f.piso);
        }
        const bool envio = f.passo == PassoFalha::Envio || f.passo == PassoFalha::TesteFtp;
        texto = DescricaoFalha(NomePasso(f.passo), f.nomeFerramenta, r,
                               envio ? SignificadoEnviador : SignificadoCompactador);
    } else if (f.passo == PassoFalha::Nenhum) {
        texto = Detalhes(f);
    } else {
        texto = NomePasso(f.passo) + std::string(": ") + Detalhes(f);
    }
    return f.noTesteRestauracao ? "Teste de restauração falhou: " + texto : texto;
}

std::string TextoFalha(const Falha& falha) {
    return "Erro: " + std::to_string(falha.numero) + " - " + TextoDescricao(falha);
}

std::string TextoErroSistema(std::error_code erro) {
    if (erro.value() == EWOULDBLOCK) { // the folder's lock held past its wait
        return MotivoGravacao(std::error_code(erro.value(), std::generic_category()));
    }
    for (const auto& [numero, texto] : kErrosSistema) {
        if (numero == erro.value() && numero != 0) {
            return texto;
        }
    }
    return std::strerror(erro.value());
}

std::string TextoErroSistema(const plataforma::ErroSistema& erro) {
    using plataforma::Operacao;
    const std::string& alvo = erro.alvo();
    std::string motivo = TextoErroSistema(erro.code());
    if (erro.numero() != 0) {
        // The system's own number, where errno's has none but the catch-all EIO.
        motivo = (erro.code() == std::errc::io_error ? std::string("erro do sistema") : motivo) +
                 " (" + std::to_string(erro.numero()) + ")";
    }
    switch (erro.operacao()) {
    case Operacao::LocalizarPrograma:
        // A file named is Linux's /proc/self/exe.
        return "não foi possível localizar a pasta do programa: " +
               (alvo.empty()
                    ? motivo
                    : alvo + ": " + motivo + " (o sistema de arquivos /proc está montado?)");
    case Operacao::LerOuvintes:
        return "a tabela de conexões TCP não pôde ser lida: " +
               (alvo.empty() ? motivo : alvo + ": " + motivo);
    case Operacao::LerInterfaces:
        return "os endereços das interfaces não puderam ser lidos: " + motivo;
    case Operacao::CarregarBiblioteca:
        return alvo + " não pôde ser carregada: " + motivo;
    case Operacao::ConsultarServicos:
        return "os serviços não puderam ser consultados: " + motivo;
    case Operacao::CriarCanalEntrada:
        return "não foi possível criar o canal de entrada: " + motivo;
    case Operacao::PrepararEntrada:
        return "não foi possível preparar a entrada do programa: " + motivo;
    case Operacao::CriarCanalSaida:
        return "não foi possível criar o canal de saída: " + motivo;
    case Operacao::AbrirDispositivoNulo:
        return "não foi possível abrir o dispositivo nulo para " + alvo + ": " + motivo;
    case Operacao::PrepararExecucao:
        return "não foi possível preparar a execução de " + alvo + ": " + motivo;
    case Operacao::ExecutarPrograma:
        return "não foi possível executar " + alvo + ": " + motivo;
    case Operacao::ArgumentoComNul:
        return "não foi possível executar " + alvo + ": um argumento contém o caractere NUL";
    case Operacao::ConhecerFim:
        return "não foi possível saber como " + alvo + " terminou: " + motivo;
    case Operacao::SemDonoAdotado:
        return "nenhuma conta dona dos dados foi adotada";
    case Operacao::NenhumPrograma:
        return "nenhum programa para executar";
    }
    return motivo;
}

std::string TraduzirErrosSistema(std::string texto) {
    for (const auto& [numero, traducao] : kErrosSistema) {
        if (numero == 0) {
            continue;
        }
        const std::string sistema = std::strerror(numero);
        for (auto i = texto.find(sistema); i != std::string::npos;
             i = texto.find(sistema, i + std::strlen(traducao))) {
            texto.replace(i, sistema.size(), traducao);
        }
    }
    return texto;
}

std::string TextoFaltandoArquivo(std::string_view nome) {
    return "Está faltando o arquivo: " + std::string(nome);
}

std::string TextoCaixaFerramentasFaltando(const std::vector<std::string>& nomes,
                                          const std::string& pasta) {
    std::string texto;
    for (const auto& nome : nomes) {
        texto += TextoFaltandoArquivo(nome) + "\r\n";
    }
    texto += (nomes.size() > 1 ? "Coloque-os" : "Coloque-o") +
             std::string(" na pasta do programa: ") + pasta + "\r\n";
    if (std::find(nomes.begin(), nomes.end(), plataforma::kNomeEnviador) != nomes.end()) {
        texto += std::string(plataforma::kOrigemEnviador) + "\r\n";
    }
    return texto + "O backup não será efetuado!";
}

void TextosResultado(Resultado& r, const std::filesystem::path& programa) {
    const std::string descricao = TextoDescricao(r.falha);
    switch (r.etapa) {
    case Etapa::Nenhuma:
        return;
    case Etapa::Ferramentas:
        r.linhas.clear();
        r.aviso.clear();
        for (const auto& nome : r.faltando) {
            r.linhas.push_back(TextoFaltandoArquivo(nome));
            r.aviso += (r.aviso.empty() ? "" : "; ") + r.linhas.back();
        }
        r.caixa = TextoCaixaFerramentasFaltando(r.faltando, plataforma::TextoCaminho(programa));
        return;
    case Etapa::Conexao:
        r.linhas = {"Tarefa não executada. SAINDO"};
        r.aviso = descricao; // the line the connection logged
        r.caixa.clear();
        return;
    case Etapa::Log: // nothing more can be logged
        r.linhas.clear();
        r.aviso = r.caixa = "Erro: " + descricao;
        return;
    case Etapa::Permissoes:
    case Etapa::Ocupada:
        r.linhas = {descricao};
        r.aviso = r.caixa = descricao;
        return;
    default:
        r.linhas = {TextoFalha(r.falha)};
        r.aviso = r.caixa = r.linhas.front();
    }
}

std::string TextoEvento(CodigoSaida codigo, long numero, const std::string& arquivoLog) {
    const char* etapa = "o job não pôde gravar, ler ou apagar um arquivo";
    switch (codigo) {
    case CodigoSaida::FerramentaFaltando:
        etapa = "falta uma ferramenta na pasta do programa";
        break;
    case CodigoSaida::ConexaoFalhou:
        etapa = "conexão com o banco falhou";
        break;
    case CodigoSaida::BackupFalhou:
        etapa = "backup do banco falhou";
        break;
    case CodigoSaida::CompactacaoFalhou:
        etapa = "compactação falhou";
        break;
    case CodigoSaida::EnvioFalhou:
        etapa = "envio falhou";
        break;
    case CodigoSaida::JobEmExecucao:
        etapa = "outro backup estava em execução";
        break;
    case CodigoSaida::PermissoesInseguras:
        etapa = "permissões inseguras";
        break;
    case CodigoSaida::TesteRestauracaoFalhou:
        etapa = "teste de restauração falhou";
        break;
    default:
        break;
    }
    return "Erro: " + std::to_string(numero) + " - " + etapa + " (código de saída " +
           std::to_string(ComoInteiro(codigo)) + "); os detalhes estão no log " + arquivoLog +
           " da pasta de dados.";
}

std::string TextoInterrupcao(const std::string& motivo) {
    return TextoFalha(Falha{CodigoSaida::ErroOutro, 0,
                            "Execução interrompida (" + motivo + "): o backup não foi concluído."});
}

} // namespace kelvane
