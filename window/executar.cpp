// "Executar Agora >>": check, save, then the backup job on its own thread, followed in the
// message line.
#include "caixas.h"
#include "form1.h"
#include "job/backup.h"
#include "mensagens.h"

#include <QLabel>
#include <memory>

namespace kelvane::janela {

void Form1::cmdExecutar_Click() {
    const std::string nome = NomeComputadorJanela();
    if (!ConferirServidorBD(nome) || !SalvarConfiguracao()) {
        return;
    }
    falhaJob_.clear();
    caixaDoJob_ = false;
    auto codigo = std::make_shared<CodigoSaida>(CodigoSaida::ErroOutro);
    IniciarTarefa(
        QStringLiteral("Um backup está em execução. Aguarde o fim do processo para fechar a "
                       "janela."),
        [this, codigo] { *codigo = ExecutarBackup(&observador_); },
        [this, codigo] {
            if (*codigo == CodigoSaida::Sucesso) {
                Avisar(Icone::Informacao, QStringLiteral("Processo Finalizado!"));
                return;
            }
            // The line keeps the failure; one the job did not already put in a box gets one.
            const QString falha = TraduzirErrosSistema(
                falhaJob_.isEmpty()
                    ? QStringLiteral("Erro: %1 - O processo não chegou ao fim; veja o log.")
                          .arg(ComoInteiro(*codigo))
                    : falhaJob_);
            if (mensagem_ != falha) {
                MostrarMensagem(falha);
            }
            if (!caixaDoJob_) {
                MostrarCaixa(this, Icone::Critico, falha);
            }
        },
        [this] { MostrarMensagem(QStringLiteral("Iniciando o processo...")); });
}

} // namespace kelvane::janela
