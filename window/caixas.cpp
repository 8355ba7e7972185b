#include "caixas.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <deque>
#include <tuple>
#include <utility>

namespace kelvane::janela {

namespace {

// Only ever touched from the window's thread.
bool gCapturando = false;
std::vector<Caixa> gCaixas;
// Wait boxes still open: on screen (each lives on the stack of its own exec), or recorded.
std::vector<QMessageBox*> gEsperas;
std::vector<Caixa> gEsperasCapturadas;
// Each answer: whether the dialog is cancelled, and the name otherwise.
std::deque<std::pair<bool, QString>> gProximosArquivos;
QString gUltimoFiltro;
std::deque<bool> gProximasRespostas;

void Exibir(QWidget* pai, Icone icone, const QString& texto, bool espera) {
    if (gCapturando) {
        gCaixas.push_back({icone, texto});
        if (espera) {
            gEsperasCapturadas.push_back(gCaixas.back());
        }
        return;
    }
    QMessageBox caixa(icone == Icone::Critico ? QMessageBox::Critical : QMessageBox::Information,
                      QStringLiteral("Kelvane"),
                      QString(texto).replace(QLatin1String("\r\n"), QLatin1String("\n")),
                      QMessageBox::Ok, pai);
    caixa.setTextFormat(Qt::PlainText);
    if (espera) {
        gEsperas.push_back(&caixa);
    }
    caixa.exec();
    std::erase(gEsperas, &caixa);
}

} // namespace

void MostrarCaixa(QWidget* pai, Icone icone, const QString& texto) {
    Exibir(pai, icone, texto, false);
}

bool Perguntar(QWidget* pai, const QString& texto) {
    if (gCapturando) {
        gCaixas.push_back({Icone::Pergunta, texto});
        const bool sim = !gProximasRespostas.empty() && gProximasRespostas.front();
        if (!gProximasRespostas.empty()) {
            gProximasRespostas.pop_front();
        }
        return sim;
    }
    return QMessageBox::question(pai, QStringLiteral("Kelvane"),
                                 QString(texto).replace(QLatin1String("\r\n"),
                                                        QLatin1String("\n"))) == QMessageBox::Yes;
}

void MostrarCaixaDeEspera(QWidget* pai, const QString& texto) {
    Exibir(pai, Icone::Informacao, texto, true);
}

void FecharCaixasDeEspera() {
    for (Caixa& caixa : std::exchange(gEsperasCapturadas, {})) {
        caixa.fechada = true;
        gCaixas.push_back(caixa);
    }
    // Each box's exec returns once the code that called this one has returned.
    for (QMessageBox* caixa : std::exchange(gEsperas, {})) {
        caixa->done(QMessageBox::Ok);
    }
}

std::optional<QString> EscolherArquivo(QWidget* pai, const QString& filtro) {
    gUltimoFiltro = filtro;
    QString nome;
    if (gCapturando) {
        if (gProximosArquivos.empty()) {
            return std::nullopt;
        }
        bool cancela = false;
        std::tie(cancela, nome) = gProximosArquivos.front();
        gProximosArquivos.pop_front();
        if (cancela) {
            return std::nullopt;
        }
    } else {
        nome = QFileDialog::getOpenFileName(pai, QString(), QString(), filtro);
        if (nome.isEmpty()) {
            return std::nullopt;
        }
    }
    // The dialog answers with '/' on every system; the field shows the name as the user writes it.
    return QDir::toNativeSeparators(nome);
}

void CapturarCaixas(bool capturar) {
    gCapturando = capturar;
    LimparCaixas();
    gProximosArquivos.clear();
    gProximasRespostas.clear();
}

const std::vector<Caixa>& CaixasMostradas() {
    return gCaixas;
}

void LimparCaixas() {
    gCaixas.clear();
    gEsperasCapturadas.clear();
}

void ProximoArquivo(std::optional<QString> nome) {
    gProximosArquivos.emplace_back(!nome.has_value(), nome.value_or(QString()));
}

void ProximaResposta(bool sim) {
    gProximasRespostas.push_back(sim);
}

QString UltimoFiltro() {
    return gUltimoFiltro;
}

} // namespace kelvane::janela
