// Work started from the window runs here, off the window's thread: the buttons it names stay
// disabled while it runs, and the window learns on its own thread when it is over.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QPushButton;
class QThread;
class QWidget;

namespace kelvane::janela {

// While work runs, the end of the session is refused with the motivo as the reason shown; when it
// ends anyway the work is interrupted as a termination request interrupts the job.
class Tarefa : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // What the finished work reports: the text of an exception that left it, if one did.
    using AoTerminar = std::function<void(const std::optional<std::string>& erro)>;

    explicit Tarefa(QWidget* janela);
    // Waits for work still running; the work may be waiting for one of the window's boxes, so
    // the window's events keep being served meanwhile.
    ~Tarefa() override;

    bool emAndamento() const { return thread_ != nullptr; }
    // Why the window cannot close now.
    const QString& motivo() const { return motivo_; }

    // Disables `botoes`, runs `trabalho` on its own thread, then on the window's thread restores
    // the buttons and the focus, closes the wait boxes (caixas.h) and calls `aoTerminar`.
    void Iniciar(const QString& motivo, const std::vector<QPushButton*>& botoes,
                 std::function<void()> trabalho, AoTerminar aoTerminar);

    bool nativeEventFilter(const QByteArray& tipo, void* mensagem, qintptr* resultado) override;

private:
    void Terminar();

    QWidget* janela_;
    QThread* thread_ = nullptr;
    QString motivo_;
    AoTerminar aoTerminar_;
    std::optional<std::string> erro_;
    std::vector<std::pair<QPushButton*, bool>> estadoBotoes_;
    QPointer<QWidget> focoAntes_;
};

} // namespace kelvane::janela
