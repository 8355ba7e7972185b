// The one way the window talks to the user outside its own controls: message boxes and the
// open-file dialog. Tests switch it to recording, so nothing modal ever waits for a click.
#pragma once

#include <QString>
#include <optional>
#include <vector>

class QWidget;

namespace kelvane::janela {

enum class Icone { Critico, Informacao, Pergunta };

struct Caixa {
    Icone icone;
    QString texto;        // as composed, lines joined with CR LF
    bool fechada = false; // recorded again when the program closed a wait box
};

// A box titled "Kelvane" with an OK button; returns when the user has closed it.
void MostrarCaixa(QWidget* pai, Icone icone, const QString& texto);

// A question with Yes and No; true for Yes.
bool Perguntar(QWidget* pai, const QString& texto);

// A box saying why something must wait; FecharCaixasDeEspera closes it when the wait is over,
// so that it never lingers under the outcome.
void MostrarCaixaDeEspera(QWidget* pai, const QString& texto);
void FecharCaixasDeEspera();

// The open-file dialog with this filter; nullopt when the user cancels.
std::optional<QString> EscolherArquivo(QWidget* pai, const QString& filtro);

// For tests: while capturing, boxes are recorded instead of shown (a wait box stays open until
// closed, and is then recorded again with `fechada`), questions are answered as queued (No once
// the queue is empty) and the dialog answers with the queued names (nullopt = cancel) instead of
// opening.
void CapturarCaixas(bool capturar);
const std::vector<Caixa>& CaixasMostradas();
void LimparCaixas();
void ProximoArquivo(std::optional<QString> nome);
void ProximaResposta(bool sim);
// The filter the last dialog was opened with.
QString UltimoFiltro();

} // namespace kelvane::janela
