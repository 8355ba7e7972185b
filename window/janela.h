// Window mode of the program: Main hands over to this when started without "EXEC".
#pragma once

class QCoreApplication;
class QTranslator;

namespace kelvane::janela {

// Qt's own Portuguese texts (standard buttons, the file dialog), from the system's translations;
// nullptr when they are not installed. The translator belongs to the application.
QTranslator* CarregarTraducoesQt(QCoreApplication& aplicacao);

// Before the application is made: Qt takes the whole part of the screen's scale (2 at 250 %) and
// the window the rest, drawing its controls at whole pixels of it. A fractional device pixel
// ratio leaves some styles' right and bottom frame lines outside the controls they belong to.
void PrepararEscalaDaTela();

// Opens Form1 and runs until it closes; returns the process exit status. Whatever keeps the
// toolkit from reaching a display (none named, refused authorisation, an invalid screen, a
// missing Wayland socket, a platform that cannot start) ends the process with one line on
// stderr and CodigoSaida::JanelaIndisponivel, instead of the toolkit's abort.
int AbrirJanela(int argc, char** argv);

} // namespace kelvane::janela
