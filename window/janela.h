// Window mode of the program: Main hands over to this when started without "EXEC".
#pragma once

class QCoreApplication;
class QTranslator;

namespace kelvane::janela {

// Qt's own Portuguese texts (standard buttons, the file dialog), from the system's translations;
// nullptr when they are not installed. The translator belongs to the application.
QTranslator* CarregarTraducoesQt(QCoreApplication& aplicacao);

// Opens Form1 and runs until it closes; returns the process exit status. Whatever keeps the
// toolkit from reaching a display (none named, refused authorisation, an invalid screen, a
// missing Wayland socket, a platform that cannot start) ends the process with one line on
// stderr and CodigoSaida::JanelaIndisponivel, instead of the toolkit's abort.
int AbrirJanela(int argc, char** argv);

} // namespace kelvane::janela
