// The one way the window talks to the user outside its own controls: message boxes and the
// open-file dialog. Tests switch it to recording, so nothing modal ever waits for a click.
#pragma once

#include <QString>
#include <optional>
#include <vector>

class QWidget;

namespace kelvane::janela {

enum class Icone { Critico, Informacao };

struct Caixa {
    Icone icone;
    QString texto; // as composed, lines joined with CR LF
};

// A box titled "Kelvane" with an OK button; returns when the user has closed it.
void MostrarCaixa(QWidget* pai, Icone icone, const QString& texto);

// The open-file dialog with this filter; nullopt when the user cancels.
std::optional<QString> EscolherArquivo(QWidget* pai, const QString& filtro);

// For tests: while capturing, boxes are recorded instead of shown and the dialog answers with
// the queued names (nullopt = cancel) instead of opening.
void CapturarCaixas(bool capturar);
const std::vector<Caixa>& CaixasMostradas();
void LimparCaixas();
void ProximoArquivo(std::optional<QString> nome);
// The filter the last dialog was opened with.
QString UltimoFiltro();

} // namespace kelvane::janela
