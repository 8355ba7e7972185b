// "Salvar e Fechar": the tool warnings, the server-name check and the save sequence that the
// other buttons share.
#include "caixas.h"
#include "form1.h"
#include "job/ferramentas.h"
#include "job/politica_permissoes.h"
#include "job/programa.h"
#include "settings/regras.h"
#include "job/textos.h"
#include "mensagens.h"
#include "plataforma/arquivos.h"
#include "settings/configuracao.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::janela {

void Form1::cmdSalvarFechar_Click() {
    const std::string nome = NomeComputadorJanela();
    // Only a warning: the settings can be prepared before the tools are laid in.
    if (const auto faltando = FerramentasFaltandoDigitadas()) {
        MostrarCaixa(this, Icone::Critico, *faltando);
    }
    if (!ConferirServidorBD(nome) || !SalvarConfiguracao()) {
        return;
    }
    close();
}

std::optional<QString> Form1::FerramentasFaltandoDigitadas() const {
    const auto pasta = PastaPrograma();
    const auto faltando = FerramentasFaltando(pasta, txtEnderecoFTP->text().toStdString());
    if (faltando.empty()) {
        return std::nullopt;
    }
    return QString::fromStdString(
        TextoCaixaFerramentasFaltando(faltando, plataforma::TextoCaminho(pasta)));
}

Configuracao Form1::ConfiguracaoDigitada() const {
    const auto texto = [](const QLineEdit* caixa) {
        return caixa->text().toStdString();
    };
    Configuracao c;
    c.ncripto = ValorCheck(chkNCripto) == 1 ? "1" : "0";
    c.codigoCliente = texto(txtCodigoCliente);
    c.nomeCliente = texto(txtNomeCliente);
    c.servidorDB = texto(txtServidorBD);
    c.banco = texto(txtBanco);
    c.sspi = std::to_string(ValorCheck(chkLoginIntegrado));
    c.login = texto(txtLogin);
    c.senha = texto(txtSenha);
    c.servidorFTP = std::to_string(cmbServidor->currentIndex());
    c.endereco = texto(txtEnderecoFTP);
    c.porta = txtPorta->text().trimmed().toStdString();
    c.diretorio = texto(txtDiretorio);
    c.usuario = texto(txtUsuario);
    c.passw = texto(txtPassw);
    return c;
}

Validacao Form1::ValidarDigitado(const std::string& nomeComputador) const {
    ContextoGravacao contexto;
    contexto.nomeComputador = nomeComputador;
    contexto.tamanhoMaximoNome = plataforma::TamanhoMaximoNome(PastaDados());
    contexto.agora = AgoraLocal();
    return ValidarConfiguracao(ConfiguracaoDigitada(), Uso::Gravar, contexto);
}

bool Form1::ConferirServidorBD(const std::string& nomeComputador) {
    const auto v = ValidarDigitado(nomeComputador);
    if (const auto* problema = ProblemaEm(v, &Configuracao::servidorDB)) {
        Avisar(Icone::Critico, QString::fromStdString(problema->texto));
        return false;
    }
    return true;
}

bool Form1::PastaSegura() {
    if (const auto inseguro = PermissaoInsegura(PastaPrograma(), PastaDados(), true)) {
        Avisar(Icone::Critico, QString::fromStdString(*inseguro));
        return false;
    }
    return true;
}

bool Form1::SalvarConfiguracao() {
    if (!PastaSegura()) {
        return false;
    }
    const auto v = ValidarDigitado(NomeComputadorJanela());
    // The server's name is the save button's own check (ConferirServidorBD); the other buttons
    // save without it.
    for (const auto& problema : v.problemas) {
        if (problema.campo != &Configuracao::servidorDB) {
            Avisar(Icone::Critico, QString::fromStdString(problema.texto));
            return false;
        }
    }
    auto c = ConfiguracaoDigitada();
    c.porta = v.valores.porta;
    // Written in this order, all or none; NCripto only when the file does not already agree.
    std::vector<AlteracaoConfiguracao> alteracoes;
    for (const auto campo :
         {&Configuracao::codigoCliente, &Configuracao::nomeCliente, &Configuracao::servidorDB,
          &Configuracao::banco, &Configuracao::sspi, &Configuracao::ncripto, &Configuracao::login,
          &Configuracao::senha, &Configuracao::usuario, &Configuracao::passw,
          &Configuracao::servidorFTP, &Configuracao::endereco, &Configuracao::porta,
          &Configuracao::diretorio}) {
        alteracoes.push_back({campo, c.*campo});
    }
    if (const auto erro = GravarConfiguracao(ArquivoIni(), alteracoes)) {
        Avisar(Icone::Critico, QStringLiteral("As configurações não foram gravadas em %1: %2.\r\n"
                                              "O que foi digitado continua na janela.")
                                   .arg(QString::fromStdString(ArquivoIni().string()),
                                        TextoErroSistema(erro.value())));
        return false;
    }
    ncriptoSalvo_ = NCriptoEmVigor(c);
    return true;
}

} // namespace kelvane::janela
