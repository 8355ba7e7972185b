// What every window test shares: a throw-away program folder with the real tools, message
// boxes recorded instead of shown, and a fixed machine name.
#pragma once

#include "support/pasta_programa.h"
#include "support/servidores.h"
#include "window/caixas.h"
#include "window/form1.h"

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::teste {

inline constexpr const char* kMaquina = "SERVIDOR01";

class JanelaTeste : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // info.ini with these keys, in order, under [infos].
    void Ini(const std::vector<std::pair<std::string, std::string>>& chaves);
    std::string TextoIni() const;
    // Creates Form1 (its load runs now) and shows it with the focus inside.
    janela::Form1& Abrir(bool mostrar = true);

    // Clicks a button and, when it starts work off the window's thread, waits for its end.
    void Clicar(QWidget* botao);
    // Waits (processing events) until the condition holds; false after a generous limit.
    static bool Esperar(const std::function<bool()>& condicao);

    const std::vector<janela::Caixa>& Caixas() const { return janela::CaixasMostradas(); }
    std::vector<QString> TextosCaixas() const;

    std::unique_ptr<PastaPrograma> pasta;
    std::unique_ptr<janela::Form1> form;
};

// The window pointed at a database stand-in and an FTP server on 127.0.0.1.
class JanelaComServidores : public JanelaTeste {
protected:
    // Starts both servers; the database one with these options (user and password are set
    // to the window's).
    void Servidores(OpcoesTds opcoes = {});
    // Fills the window with settings for the running servers.
    void Preencher(janela::Form1& f);

    std::filesystem::path RaizFtp() const { return raizFtp.path().toStdString(); }
    // "KVLN_0042_Casa_Azul_DDMMYY", the job's name for today's backup.
    static std::string NomeBase();

    static constexpr const char* kLogin = "sa";
    static constexpr const char* kSenha = "Senha Forte;1}";
    static constexpr const char* kUsuarioFtp = "kelvane";
    static constexpr const char* kSenhaFtp = "senha com espaco";

    QTemporaryDir raizFtp;
    std::unique_ptr<ServidorTds> tds;
    std::unique_ptr<ServidorFtp> ftp;
};

// Types the text key by key, accented letters included (QTest::keyClicks only knows ASCII).
void Digitar(QWidget* alvo, const QString& texto);

// The text as the window shows it (QString) from UTF-8.
inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace kelvane::teste

// Readable failures for Qt strings.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE
