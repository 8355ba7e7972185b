// Form_Load: the controls filled from info.ini, one key at a time.
#include "form1.h"
#include "job/programa.h"
#include "mensagens.h"
#include "plataforma/arquivos.h"
#include "settings/conversao.h"
#include "settings/cripto.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
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
    bool existe = false;
    std::error_code erro;
    if (!plataforma::LerArquivoInteiro(ArquivoIni(), existe, erro)) {
        avisoCarga_ =
            QStringLiteral("As configurações não puderam ser lidas de %1: %2.\r\n"
                           "Os campos vêm vazios, e o arquivo não será substituído.")
                .arg(QString::fromStdString(ArquivoIni().string()), TextoErroSistema(erro.value()));
    }
    // Each control is set on its own: a value that does not convert leaves that control as it
    // was and the load goes on.
    DefinirValorCheck(chkNCripto, ConversaoInteira(LerInfo("NCripto")));

    DefinirTexto(txtCodigoCliente, LerInfo("CodigoCliente"));
    DefinirTexto(txtNomeCliente, LerInfo("NomeCliente"));
    DefinirTexto(txtServidorBD, LerInfo("ServidorDB"));
    DefinirTexto(txtBanco, LerInfo("Banco"));

    DefinirValorCheck(chkLoginIntegrado, ValorArredondado(LerInfo("SSPI")));

    const bool ncripto = ValorCheck(chkNCripto) == 1;
    for (auto [caixa, chave] : {std::pair{txtLogin, "Login"},
                                {txtSenha, "Senha"},
                                {txtUsuario, "Usuario"},
                                {txtPassw, "Passw"}}) {
        try {
            DefinirTexto(caixa, AplicarNCripto(LerInfo(chave), ncripto));
        } catch (const ErroCripto&) {
            // Too long to have been scrambled by this program: the box keeps its text.
        }
    }

    // Selecting the preset fills the FTP fields; the stored host, port and folder then
    // overwrite three of them, so the preset's user and password remain.
    if (const auto indice = ConversaoInteira(LerInfo("ServidorFTP"));
        indice && *indice >= -1 && *indice < cmbServidor->count()) {
        cmbServidor->setCurrentIndex(static_cast<int>(*indice));
    }

    DefinirTexto(txtEnderecoFTP, LerInfo("Endereco"));
    DefinirTexto(txtPorta, LerInfo("Porta"));
    DefinirTexto(txtDiretorio, LerInfo("Diretorio"));
}

} // namespace kelvane::janela
