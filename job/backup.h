// The backup job: the server writes a full backup into the program folder, 7z packs and
// verifies it, ncftpput sends it, the .BAK goes, Executado records the run.
#pragma once

#include "codigos.h"

#include <ctime>
#include <functional>
#include <string>

namespace kelvane {

// What the window lends the job while ModoJanela is true. Every hook may be called from the
// job's thread.
struct GanchosJanela {
    std::function<void(const std::string&)> caixaErro; // critical message box, waits for OK
    std::function<bool()> ncripto;                     // state of chkNCripto
    std::function<void(int)> progresso;                // backup percent as the server reports it
};
void DefinirGanchosJanela(GanchosJanela ganchos);

// Whether credentials are stored in clear: the window's check box while it lends one, the
// NCripto key of info.ini otherwise (converted as the window's load converts it).
bool ConsultarNCripto();

// "/KVLN_<code without blanks>_<name, blanks as _>_DDMMYY.BAK", relative to the program folder.
std::string NomeArquivoBackup(const std::string& codigo, const std::string& nome,
                              const std::tm& data);
// The backup name with every ".BAK" turned into ".7z".
std::string NomeArquivoCompactado(const std::string& nomeBackup);
// The BACKUP DATABASE statement, names quoted so that no value can change its meaning.
std::string ComandoBackup(const std::string& banco, const std::string& caminho,
                          const std::string& nomeConjunto, bool compressao);

CodigoSaida ExecutarBackup();

} // namespace kelvane
