// "Somente Enviar Arquivo": choose a file, optionally pack it with 7z, send it with the saved
// FTP settings: the job's run with its pack and send alone.
#include "caixas.h"
#include "form1.h"
#include "job/backup.h"
#include "job/programa.h"
#include "plataforma/arquivos.h"

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
    // The settings typed are the ones saved and sent with below.
    if (const auto faltando = FerramentasFaltandoDigitadas()) {
        Avisar(Icone::Critico, *faltando);
        return;
    }
    QString caminho = txtArquivoEnviar->text();
    if (caminho.isEmpty()) {
        Avisar(Icone::Critico,
               QStringLiteral("Informe o arquivo a enviar: escolha-o com o botão \"...\" ou "
                              "digite o seu caminho completo."));
        return;
    }
    std::error_code erro;
    // The typed text is UTF-8; a path from a std::string would read it in the ANSI code page.
    if (!std::filesystem::is_regular_file(plataforma::Caminho(caminho.toStdString()), erro)) {
        Avisar(Icone::Critico,
               QStringLiteral("O arquivo a enviar não foi encontrado:\r\n") + caminho);
        return;
    }
    if (!SalvarConfiguracao()) {
        return;
    }
    // A typed name such as "@lista" or "-x" is a file here, never a list file or an option.
    caminho = QString::fromStdString(plataforma::TextoCaminho(
        std::filesystem::absolute(plataforma::Caminho(caminho.toStdString()))));
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
        [=, arquivo = caminho.toStdString()] {
            // The job's run with its pack and send alone, on the settings as they came back
            // from info.ini.
            ObservadorJob observador;
            observador.mensagem = mostrar;
            auto contexto = ContextoDoProcesso(&observador);
            contexto.configuracao = LerConfiguracao(ArquivoIni(), ncripto).valores;
            contexto.avulso = EnvioAvulso{arquivo, zipar};
            const auto r = Execucao(std::move(contexto)).Executar();
            *resposta = r.etapa != Etapa::Nenhuma
                            ? Resposta{Icone::Critico, TextoFalha(r.falha)}
                            : Resposta{Icone::Informacao, "Processo Finalizado"};
        },
        [this, resposta] {
            Avisar(resposta->icone, QString::fromStdString(resposta->texto));
            cmdEnviarArquivo->setEnabled(true);
            cmdExecutar->setEnabled(true);
            Negrito(cmdEnviarArquivo, false);
        });
}

} // namespace kelvane::janela
