#include "tarefa.h"

#include "caixas.h"
#include "plataforma/processo.h"
#include "plataforma/sessao.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <cstdlib>

namespace kelvane::janela {

namespace {

// Whether work runs, for the exit handler: Qt ends the process with exit() when the display
// goes away (the session closing under it on Linux).
std::atomic<bool> gEmAndamento{false};

void AoSairComTarefa() {
    if (gEmAndamento) {
        plataforma::InterromperAgora("conexão com a tela perdida");
    }
}

} // namespace

Tarefa::Tarefa(QWidget* janela) : QObject(janela), janela_(janela) {
    QCoreApplication::instance()->installNativeEventFilter(this);
    static const bool registrado = std::atexit(AoSairComTarefa) == 0;
    (void)registrado;
}

Tarefa::~Tarefa() {
    QCoreApplication::instance()->removeNativeEventFilter(this);
    if (thread_) {
        disconnect(thread_, nullptr, this, nullptr);
        // The work may need the event loop (a box) to end: it runs until the thread's end.
        QEventLoop espera;
        connect(thread_, &QThread::finished, &espera, &QEventLoop::quit);
        if (!thread_->isFinished()) {
            espera.exec();
        }
        thread_->wait();
        delete thread_;
    }
}

void Tarefa::Iniciar(const QString& motivo, const std::vector<QPushButton*>& botoes,
                     std::function<void()> trabalho, AoTerminar aoTerminar) {
    estadoBotoes_.clear();
    // Disabling the button that has the focus moves it along the Tab order; it comes back.
    focoAntes_ = janela_->focusWidget();
    for (QPushButton* b : botoes) {
        estadoBotoes_.emplace_back(b, b->isEnabled());
        b->setEnabled(false);
    }
    motivo_ = motivo;
    plataforma::BloquearFimSessao(janela_->winId(), motivo.toStdString());
    gEmAndamento = true;
    aoTerminar_ = std::move(aoTerminar);
    erro_.reset();
    thread_ = QThread::create([this, trabalho = std::move(trabalho)] {
        // An exception must not leave the thread: it would end the program.
        try {
            trabalho();
        } catch (const std::exception& e) {
            erro_ = e.what();
        } catch (...) {
            erro_ = "falha inesperada";
        }
    });
    connect(thread_, &QThread::finished, this, &Tarefa::Terminar);
    thread_->start();
}

void Tarefa::Terminar() {
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    gEmAndamento = false;
    plataforma::LiberarFimSessao(janela_->winId());
    for (const auto& [botao, habilitado] : estadoBotoes_) {
        botao->setEnabled(habilitado);
    }
    estadoBotoes_.clear();
    if (focoAntes_ && focoAntes_->isEnabled()) {
        focoAntes_->setFocus(Qt::OtherFocusReason);
    }
    // A box that refused to close the window while this ran has nothing more to say.
    FecharCaixasDeEspera();
    const auto aoTerminar = std::move(aoTerminar_);
    aoTerminar_ = nullptr;
    aoTerminar(erro_);
}

bool Tarefa::nativeEventFilter(const QByteArray& tipo, void* mensagem, qintptr* resultado) {
    if (thread_ == nullptr) {
        return false;
    }
    const auto sessao =
        plataforma::LerMensagemSessao(std::string_view(tipo.data(), tipo.size()), mensagem);
    switch (sessao.aviso) {
    case plataforma::AvisoSessao::Pergunta:
        // Refused, with the reason shown; whoever ends the session may still insist.
        *resultado = plataforma::kRecusarFimSessao;
        return true;
    case plataforma::AvisoSessao::Fim:
        // The process is ended once this returns, mid-step: the interrupted line, not the
        // job's outcome, is the run's last.
        plataforma::InterromperAgora(sessao.motivo);
    case plataforma::AvisoSessao::Nenhum:
        break;
    }
    return false;
}

} // namespace kelvane::janela
