// Form_Load: the controls filled from the settings read once.
#include "form1.h"
#include "job/programa.h"
#include "mensagens.h"
#include "settings/configuracao.h"
#include "settings/conversao.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <cmath>
#include <optional>

namespace kelvane::janela {

namespace {

// A check box takes 0, 1 and 2 (greyed); any other number leaves it as it was.
void DefinirValorCheck(QCheckBox* caixa, std::optional<long long> valor) {
    if (!valor || *valor < 0 || *valor > 2) {
        return;
    }
    caixa->setCheckState(*valor == 1 ? Qt::Checked
                                     : (*valor == 2 ? Qt::PartiallyChecked : Qt::Unchecked));
}

// The numeric value of the text, rounded; a value no check box could hold converts to nothing.
std::optional<long long> ValorArredondado(const std::string& texto) {
    const double valor = ValorNumerico(texto);
    if (!std::isfinite(valor) || std::fabs(valor) > 1e9) {
        return std::nullopt;
    }
    return ArredondarPar(valor);
}

// A box's length limit is for typing: a longer stored value is shown, and saved back, whole.
void DefinirTexto(QLineEdit* caixa, const std::string& valor) {
    const QString texto = QString::fromStdString(valor);
    if (texto.size() > caixa->maxLength()) {
        caixa->setMaxLength(static_cast<int>(texto.size()));
    }
    caixa->setText(texto);
}

} // namespace

void Form1::Form_Load() {
    // A file that is there but cannot be read loads as empty: say so once the window shows.
    const auto leitura = LerConfiguracao(ArquivoIni());
    if (leitura.erro) {
        avisoCarga_ = QStringLiteral("As configurações não puderam ser lidas de %1: %2.\r\n"
                                     "Os campos vêm vazios, e o arquivo não será substituído.")
                          .arg(QString::fromStdString(ArquivoIni().string()),
                               TextoErroSistema(leitura.erro.value()));
    }
    const Configuracao& c = leitura.valores;
    // Each control is set on its own: a value that does not convert leaves that control as it
    // was and the load goes on.
    DefinirValorCheck(chkNCripto, ConversaoInteira(c.ncripto));

    DefinirTexto(txtCodigoCliente, c.codigoCliente);
    DefinirTexto(txtNomeCliente, c.nomeCliente);
    DefinirTexto(txtServidorBD, c.servidorDB);
    DefinirTexto(txtBanco, c.banco);

    DefinirValorCheck(chkLoginIntegrado, ValorArredondado(c.sspi));

    // A credential too long to have been scrambled by this program leaves its box as it was.
    for (auto [caixa, campo] : {std::pair{txtLogin, &Configuracao::login},
                                {txtSenha, &Configuracao::senha},
                                {txtUsuario, &Configuracao::usuario},
                                {txtPassw, &Configuracao::passw}}) {
        if (!c.IlegivelEm(campo)) {
            DefinirTexto(caixa, c.*campo);
        }
    }

    // The stored choice is shown, not made again: its handler would put the preset's login
    // over the one stored, and the next save would write it.
    if (const auto indice = ConversaoInteira(c.servidorFTP);
        indice && *indice >= -1 && *indice < cmbServidor->count()) {
        const QSignalBlocker semEscolha(cmbServidor);
        cmbServidor->setCurrentIndex(static_cast<int>(*indice));
    }

    DefinirTexto(txtEnderecoFTP, c.endereco);
    DefinirTexto(txtPorta, c.porta);
    DefinirTexto(txtDiretorio, c.diretorio);
}

} // namespace kelvane::janela
