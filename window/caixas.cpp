#include "caixas.h"

#include <QFileDialog>
#include <QMessageBox>
#include <deque>

namespace kelvane::janela {

namespace {

// Only ever touched from the window's thread.
bool gCapturando = false;
std::vector<Caixa> gCaixas;
// Each answer: whether the dialog is cancelled, and the name otherwise.
std::deque<std::pair<bool, QString>> gProximosArquivos;
QString gUltimoFiltro;

} // namespace

void MostrarCaixa(QWidget* pai, Icone icone, const QString& texto) {
    if (gCapturando) {
        gCaixas.push_back({icone, texto});
        return;
    }
    QMessageBox caixa(icone == Icone::Critico ? QMessageBox::Critical : QMessageBox::Information,
                      QStringLiteral("Kelvane"),
                      QString(texto).replace(QLatin1String("\r\n"), QLatin1String("\n")),
                      QMessageBox::Ok, pai);
    caixa.setTextFormat(Qt::PlainText);
    caixa.exec();
}

std::optional<QString> EscolherArquivo(QWidget* pai, const QString& filtro) {
    gUltimoFiltro = filtro;
    if (gCapturando) {
        if (gProximosArquivos.empty()) {
            return std::nullopt;
        }
        const auto [cancela, nome] = gProximosArquivos.front();
        gProximosArquivos.pop_front();
        if (cancela) {
            return std::nullopt;
        }
        return nome;
    }
    const QString nome = QFileDialog::getOpenFileName(pai, QString(), QString(), filtro);
    if (nome.isEmpty()) {
        return std::nullopt;
    }
    return nome;
}

void CapturarCaixas(bool capturar) {
    gCapturando = capturar;
    gCaixas.clear();
    gProximosArquivos.clear();
}

const std::vector<Caixa>& CaixasMostradas() {
    return gCaixas;
}

void LimparCaixas() {
    gCaixas.clear();
}

void ProximoArquivo(std::optional<QString> nome) {
    gProximosArquivos.emplace_back(!nome.has_value(), nome.value_or(QString()));
}

QString UltimoFiltro() {
    return gUltimoFiltro;
}

} // namespace kelvane::janela
