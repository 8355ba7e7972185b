// Form1, the configuration window. Between load and save its controls are the only copy of the
// settings in memory; every handler reads them from there.
#pragma once

#include "caixas.h"
#include "job/observador.h"
#include "plataforma/transferencia.h"
#include "settings/regras.h"
#include "tarefa.h"

#include <QWidget>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QThread;

namespace kelvane::janela {

inline constexpr const char* kTitulo = "Kelvane 2019/03 - [suporte@kelvane.example]";
inline constexpr const char* kServidorFtpFabricante = "ftp.kelvane.example";

// Where the window learns this computer's name (NomeComputador unless a test fixes another).
void DefinirFonteNomeComputador(std::function<std::string()> fonte);
std::string NomeComputadorJanela();

// Value of a check box as the settings store it: 0 not ticked, 1 ticked, 2 greyed.
int ValorCheck(const QCheckBox* caixa);

class Form1 : public QWidget {
    Q_OBJECT

public:
    // At the screen's scale (PrepararEscalaDaTela), or at another one (a picture of the window).
    explicit Form1(QWidget* parent = nullptr, qreal escala = 0);
    ~Form1() override;

    // Handlers, by the names of the controls and events they serve.
    void Form_Load();
    void cmbServidor_Click();
    void txtNomeCliente_LostFocus();
    void cmdSalvarFechar_Click();
    bool ConferirServidorBD(const std::string& nomeComputador);
    // The box naming every tool the typed address needs that the program folder lacks; nullopt
    // when none is missing.
    std::optional<QString> FerramentasFaltandoDigitadas() const;
    bool SalvarConfiguracao();
    // The settings as the controls hold them, and what the rules of a save say of them.
    Configuracao ConfiguracaoDigitada() const;
    Validacao ValidarDigitado(const std::string& nomeComputador) const;
    // The permission check of the job, before a task runs a tool or info.ini is written; a
    // failure is shown in a box.
    bool PastaSegura();
    void cmdExecutar_Click();
    void cmdTestarConexaoBanco_Click();
    void cmdTestarFTP_Click();
    void cmdArquivo_Click();
    void cmdEnviarArquivo_Click();

    // True while work started from the window runs off its thread.
    bool tarefaEmAndamento() const { return tarefa_->emAndamento(); }

signals:
    // Every text the message line shows, in order (the label itself only keeps the last one).
    void mensagemMostrada(const QString& texto);

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;
    void showEvent(QShowEvent* evento) override;

private:
    // Controls, named as the rest of the program knows them; each object has its member's name,
    // by which tests and tools find it.
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QLabel* Label11;
    QLabel* Label12;
    QLineEdit* txtCodigoCliente;
    QLineEdit* txtNomeCliente;
    QGroupBox* Frame1;
    QGroupBox* Frame2;
    QGroupBox* Frame3;
    QLineEdit* txtServidorBD;
    QCheckBox* chkLoginIntegrado;
    QLineEdit* txtBanco;
    QLineEdit* txtLogin;
    QLineEdit* txtSenha;
    QPushButton* cmdTestarConexaoBanco;
    QCheckBox* chkNCripto;
    QComboBox* cmbServidor;
    QLineEdit* txtEnderecoFTP;
    QLineEdit* txtPorta;
    QLineEdit* txtUsuario;
    QLineEdit* txtPassw;
    QLineEdit* txtDiretorio;
    QPushButton* cmdTestarFTP;
    QLineEdit* txtArquivoEnviar;
    QPushButton* cmdArquivo;
    QCheckBox* chkZipar;
    QPushButton* cmdEnviarArquivo;
    QPushButton* cmdExecutar;
    QPushButton* cmdSalvarFechar;
    QFrame* Picture1;
    QLabel* lblMensagem;

    void MontarControles();
    void MostrarMensagem(const QString& texto);
    void MostrarProgresso(int percentual);
    void MostrarCaixaErroDoJob(const std::string& texto);
    // The outcome of what the user asked for: its first line on the message line, then the box
    // (the system's error texts in Portuguese); nothing for an empty text.
    void Avisar(Icone icone, const QString& texto);
    // After the FTP test met what nothing trusts yet: asks, and keeps it in info.ini on Yes.
    void ConfiarChave(const std::string& tipo, const std::string& chave);
    void ConfiarCertificado(const plataforma::CertificadoServidor& certificado);
    // The FTP port as typed, checked; nullopt after a box that starts with `recusa`.
    std::optional<QString> ConferirPorta(const QString& recusa);

    // Runs `trabalho` on its own thread with every action button disabled and closing refused
    // (`motivo` says why), then `aoTerminar` on the window's thread with the buttons restored.
    // `aoIniciar` runs once the work has started, before the window serves any other event.
    void IniciarTarefa(const QString& motivo, std::function<void()> trabalho,
                       std::function<void()> aoTerminar, std::function<void()> aoIniciar = {});

    // What the job started from this window reports to.
    ObservadorJob observador_;
    Tarefa* tarefa_;
    // chkNCripto as the last save used it: the job runs off this thread and must not touch the
    // control, and its credentials were written in that form.
    std::atomic<bool> ncriptoSalvo_{false};
    // How the running backup job failed, as it reported it, or the first line of its own box.
    QString falhaJob_;
    // What a job run as the data's owner printed besides its events, when it failed.
    QString saidaJob_;
    bool caixaDoJob_ = false;
    // Why the load found nothing in a file that exists; shown once the window is on screen.
    QString avisoCarga_;
    // The message line's whole text (the label may show it cut).
    QString mensagem_;
    bool centralizada_ = false;
    // Twips to pixels beyond the whole device pixel ratio: 1.25 and 1.5 at 125 and 150 %.
    const qreal escala_;
};

} // namespace kelvane::janela
