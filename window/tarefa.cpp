#include "tarefa.h"

#include "caixas.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QThread>
#include <QWidget>

namespace kelvane::janela {

Tarefa::Tarefa(QWidget* janela) : QObject(janela), janela_(janela) {}

Tarefa::~Tarefa() {
    if (thread_) {
        disconnect(thread_, nullptr, this, nullptr);
        while (!thread_->wait(50)) {
            QCoreApplication::processEvents();
        }
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

} // namespace kelvane::janela
