// Portuguese words for what the system and the database driver report in English, and the
// check of the FTP port typed in the window.
#pragma once

#include "job/codigos.h"

#include <QString>
#include <optional>
#include <string>

namespace kelvane::janela {

// The system's text for errno `erro`, in Portuguese for the usual ones (job/textos.h).
QString TextoErroSistema(int erro);

// One line saying what to check after the database test failed with this native error number
// and driver text.
QString DicaConexaoBanco(long numero, const std::string& texto);

// The FTP test's failure as the box shows it: for one of ncftpput's, first a line saying what
// to check, then the failure itself.
QString TextoFalhaFtp(const Falha& falha);

// The port as the uploader takes it (blanks around it dropped; none: the scheme of `endereco`
// names it), or nullopt when it is not a whole number from 1 to 65535.
std::optional<QString> PortaFtp(const QString& digitada, const QString& endereco);

} // namespace kelvane::janela
