// "Somente Enviar Arquivo": choose a file, optionally pack it with 7z, send it with the saved
// FTP settings.
#include "caixas.h"
#include "falhas.h"
#include "form1.h"
#include "job/banco.h"
#include "job/ferramentas.h"
#include "job/log.h"
#include "job/programa.h"
#include "settings/cripto.h"
#include "settings/ini.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <memory>

namespace kelvane::janela {

namespace {

void Negrito(QPushButton* botao, bool negrito) {
    QFont fonte = botao->font();
    fonte.setBold(negrito);
    botao->setFont(fonte);
}

} // namespace

void Form1::cmdArquivo_Click() {
    // Qt reads the pattern inside the parentheses; "*" also lists files without a dot.
    const auto nome = EscolherArquivo(this, QStringLiteral("Todos Arquivos (*)"));
    if (!nome) {
        return;
    }
    txtArquivoEnviar->setText(*nome);
    Negrito(cmdEnviarArquivo, true);
    cmdExecutar->setEnabled(false);
}

void Form1::cmdEnviarArquivo_Click() {
    ModoJanela = true;
    const auto pasta = PastaPrograma();
    if (const auto faltando = FerramentaFaltando(pasta)) {
        MostrarCaixa(this, Icone::Critico,
                     QString::fromStdString(TextoCaixaFerramentaFaltando(*faltando)));
        return;
    }
    QString caminho = txtArquivoEnviar->text();
    if (caminho.isEmpty()) {
        MostrarCaixa(this, Icone::Critico,
                     QStringLiteral("Informe o arquivo a enviar: escolha-o com o botão \"...\" "
                                    "ou digite o seu caminho completo."));
        return;
    }
    std::error_code erro;
    if (!std::filesystem::is_regular_file(caminho.toStdString(), erro)) {
        MostrarCaixa(this, Icone::Critico,
                     QStringLiteral("O arquivo a enviar não foi encontrado:\r\n") + caminho);
        return;
    }
    if (!SalvarConfiguracao()) {
        return;
    }
    // A typed name such as "@lista" or "-x" is a file here, never a list file or an option.
    caminho = QString::fromStdString(std::filesystem::absolute(caminho.toStdString()).string());
    // The job's messages reach the line from its thread; the window's own go the same way.
    const auto mostrar = [this](const std::string& texto) {
        QMetaObject::invokeMethod(
            this, [this, t = QString::fromStdString(texto)] { MostrarMensagem(t); },
            Qt::QueuedConnection);
    };

    const bool zipar = ValorCheck(chkZipar) == 1;
    const bool ncripto = ValorCheck(chkNCripto) == 1;
    struct Resposta {
        Icone icone = Icone::Critico;
        std::string texto;
    };
    auto resposta = std::make_shared<Resposta>();
    IniciarTarefa(
        QStringLiteral("Um arquivo está sendo enviado. Aguarde o fim do envio para fechar a "
                       "janela."),
        [=, arquivo = caminho.toStdString()]() mutable {
            if (zipar) {
                const std::string etapa = "Compactação falhou";
                const std::string pacote = arquivo + ".7z";
                mostrar("Compactando...: " + pacote);
                ResultadoProcesso r;
                try {
                    r = ShellEspera(LinhaCompactador(pasta, pacote, arquivo));
                } catch (const ErroProcesso& e) {
                    resposta->texto = TextoFalhaEtapa(etapa, e.what());
                    return;
                }
                if (!r.sucesso()) {
                    resposta->texto = TextoFalhaFerramenta(etapa, "7z", r, SignificadoCompactador);
                    return;
                }
                arquivo = pacote;
            }

            // The upload uses the settings as they came back from info.ini.
            const std::string etapa = "Envio falhou";
            const auto ler = [](const char* chave) {
                return LerINI(kSecaoInfos, chave, ArquivoIni());
            };
            DadosFtp dados;
            try {
                dados.usuario = AplicarNCripto(ler("Usuario"), ncripto);
                dados.senha = AplicarNCripto(ler("Passw"), ncripto);
            } catch (const ErroCripto& e) {
                resposta->texto = TextoFalhaEtapa(etapa, e.what());
                return;
            }
            dados.porta = ler("Porta");
            dados.endereco = ler("Endereco");
            dados.diretorio = ler("Diretorio");
            mostrar("Enviando...: " + arquivo + " > " + dados.endereco);
            resposta->texto = EnviarOuFalha(pasta, dados, arquivo, etapa);
            if (resposta->texto.empty()) {
                *resposta = {Icone::Informacao, "Processo Finalizado"};
            }
        },
        [this, resposta] {
            const QString texto = QString::fromStdString(resposta->texto);
            MostrarMensagem(texto.section(QLatin1String("\r\n"), 0, 0));
            MostrarCaixa(this, resposta->icone, texto);
            cmdEnviarArquivo->setEnabled(true);
            cmdExecutar->setEnabled(true);
            Negrito(cmdEnviarArquivo, false);
        });
}

} // namespace kelvane::janela
