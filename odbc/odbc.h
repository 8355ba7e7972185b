// A thin layer over ODBC (unixODBC with FreeTDS's driver, or Microsoft's driver when installed):
// handles, diagnostics, the error type and connection strings. Knows nothing of the program.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// One diagnostic record of the driver.
struct Diagnostico {
    std::string sqlstate;
    long numero = 0; // the server's native error number
    std::string mensagem;
};

// A failed ODBC call: the native number of its first error record and the texts of all its error
// records, in the driver's order.
class ErroBanco : public std::runtime_error {
public:
    ErroBanco(long numero, std::string descricao, std::vector<Diagnostico> registros = {});
    long numero() const { return numero_; }
    const std::string& descricao() const { return descricao_; }
    const std::vector<Diagnostico>& registros() const { return registros_; }

private:
    long numero_;
    std::string descricao_;
    std::vector<Diagnostico> registros_;
};

struct HandlesOdbc;

// The first result set of a batch, every value as text (NULL as empty).
struct Tabela {
    std::vector<std::string> colunas;
    std::vector<std::vector<std::string>> linhas;
    // The value of `coluna` in row `i`; empty when there is no such column.
    std::string Valor(std::size_t i, std::string_view coluna) const;
};

// One connection. Every driver call that waits for the server runs on a thread of its own, which
// the caller stops waiting for past its time limit: a driver that never returns keeps that thread
// and the handles it uses (freed when it does return), never the caller, nor the process's end.
class ConexaoOdbc {
public:
    ConexaoOdbc();
    ~ConexaoOdbc();
    ConexaoOdbc(const ConexaoOdbc&) = delete;
    ConexaoOdbc& operator=(const ConexaoOdbc&) = delete;

    // Opens with an ODBC connection string. The login waits at most `tempoLogin` seconds for each
    // answer of the server (so the driver measures it), and the whole connection at most `prazo`
    // seconds: a server that answers a byte at a time is given up too.
    void Abrir(const std::string& textoConexao, int tempoLogin = 15, int prazo = 25);
    bool aberta() const { return aberta_; }
    void Fechar();

    // Runs one batch without a time limit and reads every result it produces, so that an error
    // the server reports after some progress is not lost. Informational messages go to
    // `aoInformar` as they arrive. Throws ErroBanco when any part of the batch failed, and when
    // the server went `silencio` seconds (0: no limit) without a result or a message: the batch
    // is then cancelled and the connection given up.
    void Executar(const std::string& sql,
                  const std::function<void(const Diagnostico&)>& aoInformar = {}, int silencio = 0,
                  Tabela* tabela = nullptr);

private:
    std::shared_ptr<HandlesOdbc> handles_;
    bool aberta_ = false;
};

// A connection-string value as the driver reads it back: for Microsoft's drivers in braces (with
// "}" doubled) when it holds ";", "{", "}" or starts or ends with a blank; for FreeTDS in braces
// only when it holds ";" or starts with "{" (throws ErroBanco for the values FreeTDS cannot
// take).
std::string ValorOdbc(std::string_view valor, bool freetds);
bool EhFreeTds(std::string_view driver);

// The names of the installed ODBC drivers, as the driver manager lists them.
std::vector<std::string> DriversOdbc();

// Driver={..};Server=<servidor>;Database=master; then UID/PWD, or Trusted_Connection=Yes.
std::string TextoConexao(const std::string& driver, const std::string& servidor,
                         const std::string& login, const std::string& senha);
std::string TextoConexaoIntegrada(const std::string& driver, const std::string& servidor);

} // namespace kelvane
