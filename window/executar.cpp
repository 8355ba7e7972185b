// "Executar Agora >>": check, save, then the backup job on its own thread, followed in the
// message line.
#include "caixas.h"
#include "form1.h"
#include "job/backup.h"

namespace kelvane::janela {

void Form1::cmdExecutar_Click() {
    const std::string nome = NomeComputadorJanela();
    if (!ConferirServidorBD(nome) || !SalvarConfiguracao()) {
        return;
    }
    IniciarTarefa(
        QStringLiteral("Um backup está em execução. Aguarde o fim do processo para fechar a "
                       "janela."),
        [this] { ExecutarBackup(&observador_); },
        [this] {
            // Success or not, the job has reported its own failures by now.
            MostrarMensagem(QStringLiteral("Processo Finalizado!"));
            MostrarCaixa(this, Icone::Informacao, QStringLiteral("Processo Finalizado!"));
        },
        [this] { MostrarMensagem(QStringLiteral("Iniciando o processo...")); });
}

} // namespace kelvane::janela
