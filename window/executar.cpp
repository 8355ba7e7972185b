// "Executar Agora >>": check, save, then the backup job on its own thread (in a process of the
// data's owner when root opened the window on another account's data), followed in the message
// line.
#include "caixas.h"
#include "form1.h"
#include "job/acompanhamento.h"
#include "job/backup.h"
#include "mensagens.h"
#include "plataforma/processo.h"

#include <QLabel>
#include <memory>

namespace kelvane::janela {

void Form1::cmdExecutar_Click() {
    const std::string nome = NomeComputadorJanela();
    if (!ConferirServidorBD(nome) || !SalvarConfiguracao()) {
        return;
    }
    falhaJob_.clear();
    saidaJob_.clear();
    caixaDoJob_ = false;
    auto codigo = std::make_shared<CodigoSaida>(CodigoSaida::ErroOutro);
    IniciarTarefa(
        QStringLiteral("Um backup está em execução. Aguarde o fim do processo para fechar a "
                       "janela."),
        [this, codigo] {
            if (!plataforma::DonoDosDadosAdotado()) {
                *codigo = ExecutarBackup(&observador_);
                return;
            }
            // Root's window: the job runs as the data's owner, away from the display.
            std::string outras;
            *codigo = ExecutarJobComoDonoDosDados(observador_, outras);
            saidaJob_ = QString::fromStdString(outras); // read once this thread is over
        },
        [this, codigo] {
            if (*codigo == CodigoSaida::Sucesso) {
                Avisar(Icone::Informacao, QStringLiteral("Processo Finalizado!"));
                return;
            }
            // The line keeps the failure; one the job did not already put in a box gets one.
            // What the job's own process said before it could log (a refusal) comes along.
            const QString antes = falhaJob_.isEmpty() ? saidaJob_ : QString();
            const QString falha =
                falhaJob_.isEmpty()
                    ? QStringLiteral("Erro: %1 - O processo não chegou ao fim; veja o log.")
                          .arg(ComoInteiro(*codigo))
                    : falhaJob_;
            if (mensagem_ != falha) {
                MostrarMensagem(falha);
            }
            if (!caixaDoJob_) {
                MostrarCaixa(this, Icone::Critico,
                             antes.isEmpty() ? falha : falha + QStringLiteral("\r\n") + antes);
            }
        },
        [this] { MostrarMensagem(QStringLiteral("Iniciando o processo...")); });
}

} // namespace kelvane::janela
