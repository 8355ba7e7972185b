#include "odbc.h"

#include "../plataforma/api_odbc.h"
#include "../settings/codificacao.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace kelvane {

namespace {

static_assert(sizeof(SQLWCHAR) == 2, "the driver managers use UTF-16 SQLWCHAR");

std::u16string Utf16(std::string_view utf8) {
    std::u16string s;
    s.reserve(utf8.size());
    for (char32_t p : DecodificarUtf8(utf8)) {
        if (p >= 0x10000) {
            p -= 0x10000;
            s += static_cast<char16_t>(0xD800 + (p >> 10));
            s += static_cast<char16_t>(0xDC00 + (p & 0x3FF));
        } else {
            s += static_cast<char16_t>(p);
        }
    }
    return s;
}

std::string Utf8(const SQLWCHAR* texto, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t p = texto[i];
        if (p >= 0xD800 && p <= 0xDBFF && i + 1 < n && texto[i + 1] >= 0xDC00 &&
            texto[i + 1] <= 0xDFFF) {
            p = 0x10000 + ((p - 0xD800) << 10) + (texto[i + 1] - 0xDC00u);
            ++i;
        }
        AcrescentarUtf8(s, p);
    }
    return s;
}

SQLWCHAR* W(std::u16string& s) {
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

std::vector<Diagnostico> LerDiagnosticos(SQLSMALLINT tipo, SQLHANDLE handle) {
    std::vector<Diagnostico> registros;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR estado[6] = {};
        SQLINTEGER nativo = 0;
        SQLWCHAR texto[2048];
        SQLSMALLINT tamanho = 0;
        const SQLRETURN rc = SQLGetDiagRecW(tipo, handle, i, estado, &nativo, texto,
                                            static_cast<SQLSMALLINT>(std::size(texto)), &tamanho);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
            break;
        }
        const auto n = std::min<std::size_t>(
            static_cast<std::size_t>(std::max<SQLSMALLINT>(tamanho, 0)), std::size(texto) - 1);
        registros.push_back({Utf8(estado, 5), static_cast<long>(nativo), Utf8(texto, n)});
    }
    return registros;
}

// Progress and completion messages that the server sends while a backup runs.
bool EhMensagemDeAndamento(const Diagnostico& d) {
    return d.sqlstate.rfind("01", 0) == 0 &&
           (d.numero == 3211 || d.numero == 3014 || d.numero == 4035 || d.numero == 0 ||
            d.numero == 5701 || d.numero == 5703);
}

// Splits the records of a failed call into errors and information. A failure is decided by the
// return code; SQLSTATE class only separates the accompanying information (FreeTDS reports a
// dropped connection with class 01, so a call with no other record keeps them as errors).
void Separar(const std::vector<Diagnostico>& registros, std::vector<Diagnostico>& erros,
             std::vector<Diagnostico>& informacoes) {
    bool haErroVerdadeiro = false;
    for (const auto& d : registros) {
        haErroVerdadeiro = haErroVerdadeiro || d.sqlstate.rfind("01", 0) != 0;
    }
    for (const auto& d : registros) {
        const bool info =
            haErroVerdadeiro ? d.sqlstate.rfind("01", 0) == 0 : EhMensagemDeAndamento(d);
        (info ? informacoes : erros).push_back(d);
    }
}

ErroBanco ErroDe(const std::vector<Diagnostico>& erros, const std::string& padrao) {
    if (erros.empty()) {
        return ErroBanco(0, padrao);
    }
    std::string descricao;
    for (const auto& d : erros) {
        if (!descricao.empty()) {
            descricao += " ";
        }
        descricao += d.mensagem;
    }
    return ErroBanco(erros.front().numero, descricao, erros);
}

} // namespace

// The handles of one connection, freed with the last reference to them: the connection's own, or
// that of a driver call its caller stopped waiting for, which may return much later.
struct HandlesOdbc {
    SQLHENV ambiente = SQL_NULL_HENV;
    SQLHDBC conexao = SQL_NULL_HDBC;
    bool conectada = false;

    HandlesOdbc() = default;
    HandlesOdbc(const HandlesOdbc&) = delete;
    HandlesOdbc& operator=(const HandlesOdbc&) = delete;
    ~HandlesOdbc() {
        if (conectada) {
            SQLDisconnect(conexao);
        }
        if (conexao != SQL_NULL_HDBC) {
            SQLFreeHandle(SQL_HANDLE_DBC, conexao);
        }
        if (ambiente != SQL_NULL_HENV) {
            SQLFreeHandle(SQL_HANDLE_ENV, ambiente);
        }
    }
};

namespace {

// A statement, freed before the connection it belongs to.
struct ComandoOdbc {
    std::shared_ptr<HandlesOdbc> handles;
    SQLHSTMT h = SQL_NULL_HSTMT;

    ~ComandoOdbc() {
        if (h != SQL_NULL_HSTMT) {
            SQLFreeHandle(SQL_HANDLE_STMT, h);
        }
    }
};

// What a driver call on its own thread tells the caller waiting for it.
struct Canal {
    std::mutex m;
    std::condition_variable cv;
    unsigned long respostas = 0;        // times the driver returned with something from the server
    std::vector<Diagnostico> mensagens; // informational messages not yet passed on
    bool fim = false;
    std::exception_ptr erro; // why the call failed

    // Runs `chamada` on a thread of its own, which owns what the call uses (captured by value)
    // and reports its end here.
    static std::shared_ptr<Canal> Iniciar(std::function<void(Canal&)> chamada) {
        auto canal = std::make_shared<Canal>();
        std::thread([canal, chamada = std::move(chamada)] {
            std::exception_ptr erro;
            try {
                chamada(*canal);
            } catch (...) {
                erro = std::current_exception();
            }
            const std::lock_guard trava(canal->m);
            canal->erro = erro;
            canal->fim = true;
            canal->cv.notify_all();
        }).detach();
        return canal;
    }
};

// Runs on the batch's own thread: every result of the batch is read (an error after some
// progress only shows on a later SQLMoreResults); messages and each return of the driver go to
// `canal`. Throws ErroBanco when any part of the batch failed.
// The rows of the result set the statement is on, into `tabela`.
void LerTabela(SQLHSTMT h, Tabela& tabela) {
    SQLSMALLINT n = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(h, &n)) || n <= 0) {
        return;
    }
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(n); ++i) {
        SQLWCHAR nome[256];
        SQLSMALLINT tamanho = 0;
        SQLDescribeColW(h, i, nome, 256, &tamanho, nullptr, nullptr, nullptr, nullptr);
        tabela.colunas.push_back(
            Utf8(nome, static_cast<std::size_t>(std::min<SQLSMALLINT>(tamanho, 255))));
    }
    while (SQL_SUCCEEDED(SQLFetch(h))) {
        auto& linha = tabela.linhas.emplace_back();
        for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(n); ++i) {
            std::u16string valor;
            SQLWCHAR parte[512];
            SQLLEN indicador = 0;
            SQLRETURN rc;
            while (SQL_SUCCEEDED(
                       rc = SQLGetData(h, i, SQL_C_WCHAR, parte, sizeof parte, &indicador)) &&
                   indicador != SQL_NULL_DATA) {
                const auto cabe = sizeof parte / sizeof parte[0] - 1;
                const auto lidos =
                    indicador == SQL_NO_TOTAL ||
                            static_cast<std::size_t>(indicador) / sizeof(SQLWCHAR) > cabe
                        ? cabe
                        : static_cast<std::size_t>(indicador) / sizeof(SQLWCHAR);
                valor.append(reinterpret_cast<const char16_t*>(parte), lidos);
                if (rc == SQL_SUCCESS) {
                    break;
                }
            }
            linha.push_back(Utf8(reinterpret_cast<const SQLWCHAR*>(valor.data()), valor.size()));
        }
    }
}

void LerResultados(const ComandoOdbc& comando, std::u16string& texto, Canal& canal,
                   Tabela* tabela) {
    const auto informar = [&](const std::vector<Diagnostico>& mensagens) {
        const std::lock_guard trava(canal.m);
        ++canal.respostas;
        canal.mensagens.insert(canal.mensagens.end(), mensagens.begin(), mensagens.end());
        canal.cv.notify_all();
    };
    SQLRETURN rc = SQLExecDirectW(comando.h, W(texto), static_cast<SQLINTEGER>(texto.size()));
    std::vector<Diagnostico> erros;
    // Warnings that are not progress (a lost connection shows first as one) explain a failure
    // that follows them.
    std::vector<Diagnostico> avisos;
    int errosSeguidos = 0;
    bool concluido = false;
    for (;;) {
        if (rc == SQL_NO_DATA) {
            concluido = true; // the server's last word on the batch
            break;
        }
        if (rc == SQL_INVALID_HANDLE) {
            erros.push_back({"HY000", 0, "handle ODBC inválido"});
            break;
        }
        std::vector<Diagnostico> errosAqui;
        std::vector<Diagnostico> info;
        const auto registros = LerDiagnosticos(SQL_HANDLE_STMT, comando.h);
        if (rc == SQL_ERROR) {
            Separar(registros, errosAqui, info);
            if (errosAqui.empty()) {
                errosAqui.push_back({"HY000", 0, "falha sem diagnóstico do driver"});
            }
        } else {
            info = registros;
        }
        for (const auto& d : info) {
            if (!EhMensagemDeAndamento(d)) {
                avisos.push_back(d);
            }
        }
        if (tabela && tabela->colunas.empty() && SQL_SUCCEEDED(rc)) {
            LerTabela(comando.h, *tabela);
        }
        informar(info);
        erros.insert(erros.end(), errosAqui.begin(), errosAqui.end());
        errosSeguidos = rc == SQL_ERROR ? errosSeguidos + 1 : 0;
        SQLUINTEGER morta = SQL_CD_FALSE;
        SQLGetConnectAttrW(comando.handles->conexao, SQL_ATTR_CONNECTION_DEAD, &morta, 0, nullptr);
        if (morta == SQL_CD_TRUE || errosSeguidos >= 3) {
            break; // nothing more will come
        }
        rc = SQLMoreResults(comando.h);
    }
    if (!concluido && erros.empty()) {
        // The batch never reached its end: only a batch read to SQL_NO_DATA has succeeded.
        erros.push_back(
            {"08S01", 0, "a conexão com o servidor foi perdida antes do fim do comando"});
    }
    if (!erros.empty()) {
        avisos.insert(avisos.end(), erros.begin(), erros.end());
        throw ErroDe(avisos, "falha ao executar o comando");
    }
}

} // namespace

ErroBanco::ErroBanco(long numero, std::string descricao, std::vector<Diagnostico> registros)
    : std::runtime_error(descricao), numero_(numero), descricao_(std::move(descricao)),
      registros_(std::move(registros)) {}

ConexaoOdbc::ConexaoOdbc() = default;

ConexaoOdbc::~ConexaoOdbc() = default;

void ConexaoOdbc::Abrir(const std::string& textoConexao, int tempoLogin, int prazo) {
    Fechar();
    auto handles = std::make_shared<HandlesOdbc>();
    const auto canal = Canal::Iniciar([handles, tempoLogin,
                                       texto = Utf16(textoConexao)](Canal&) mutable {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handles->ambiente))) {
            handles->ambiente = SQL_NULL_HENV;
            throw ErroBanco(0, "não foi possível iniciar o ODBC");
        }
        SQLSetEnvAttr(handles->ambiente, SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, handles->ambiente, &handles->conexao))) {
            handles->conexao = SQL_NULL_HDBC;
            throw ErroBanco(0, "não foi possível criar a conexão ODBC");
        }
        SQLSetConnectAttrW(handles->conexao, SQL_ATTR_LOGIN_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(tempoLogin)), 0);
        const SQLRETURN rc = SQLDriverConnectW(handles->conexao, nullptr, W(texto),
                                               static_cast<SQLSMALLINT>(texto.size()), nullptr, 0,
                                               nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            std::vector<Diagnostico> erros;
            std::vector<Diagnostico> info;
            Separar(LerDiagnosticos(SQL_HANDLE_DBC, handles->conexao), erros, info);
            throw ErroDe(erros.empty() ? info : erros, "falha ao conectar");
        }
        handles->conectada = true;
    });
    std::unique_lock trava(canal->m);
    // FreeTDS measures its login time-out on each wait for the server apart, so a server that
    // answers a byte at a time is never timed out there: this limit counts the whole. A call
    // still running is left to its thread, with the handles.
    if (!canal->cv.wait_for(trava, std::chrono::seconds(prazo), [&] { return canal->fim; })) {
        throw ErroBanco(0, "o servidor não concluiu o login em " + std::to_string(prazo) +
                               " s (Timeout expired)");
    }
    if (canal->erro) {
        std::rethrow_exception(canal->erro);
    }
    handles_ = std::move(handles);
    aberta_ = true;
}

void ConexaoOdbc::Fechar() {
    handles_.reset(); // disconnects, unless a call left running still holds the handles
    aberta_ = false;
}

void ConexaoOdbc::Executar(const std::string& sql,
                           const std::function<void(const Diagnostico&)>& aoInformar, int silencio,
                           Tabela* tabela) {
    if (!aberta_) {
        throw ErroBanco(0, "a conexão com o banco não está aberta");
    }
    auto comando = std::make_shared<ComandoOdbc>();
    comando->handles = handles_;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, handles_->conexao, &comando->h))) {
        comando->h = SQL_NULL_HSTMT;
        throw ErroDe(LerDiagnosticos(SQL_HANDLE_DBC, handles_->conexao),
                     "não foi possível preparar o comando");
    }
    SQLSetStmtAttrW(comando->h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(0), 0);
    // The rows belong to the batch's thread until its end (a batch given up keeps them).
    const auto lida = std::make_shared<Tabela>();
    const auto canal = Canal::Iniciar(
        [comando, texto = Utf16(sql), lida, com = tabela != nullptr](Canal& c) mutable {
            LerResultados(*comando, texto, c, com ? lida.get() : nullptr);
        });
    // A batch given up is left running on its thread, with the connection. The server is asked
    // to stop: ODBC lets another thread cancel a running statement, and this one is of its own,
    // as a driver may wait there for the server to confirm.
    const auto desistir = [&] {
        try {
            std::thread([comando] { SQLCancel(comando->h); }).detach();
        } catch (const std::system_error&) {
        }
        Fechar();
    };
    std::unique_lock trava(canal->m);
    for (unsigned long vistas = 0;; vistas = canal->respostas) {
        const auto mudou = [&] {
            return canal->fim || canal->respostas != vistas;
        };
        if (silencio <= 0) {
            canal->cv.wait(trava, mudou);
        } else if (!canal->cv.wait_for(trava, std::chrono::seconds(silencio), mudou)) {
            trava.unlock();
            desistir();
            throw ErroBanco(0, "o servidor não respondeu por " + std::to_string(silencio) + " s");
        }
        const auto mensagens = std::exchange(canal->mensagens, {});
        const bool fim = canal->fim;
        trava.unlock();
        try {
            for (const auto& d : mensagens) {
                if (aoInformar) {
                    aoInformar(d);
                }
            }
        } catch (...) {
            if (!fim) {
                desistir();
            }
            throw;
        }
        if (fim) {
            break;
        }
        trava.lock();
    }
    if (canal->erro) { // written before fim, read after it
        std::rethrow_exception(canal->erro);
    }
    if (tabela) {
        *tabela = std::move(*lida);
    }
}

std::string Tabela::Valor(std::size_t i, std::string_view coluna) const {
    for (std::size_t c = 0; c < colunas.size(); ++c) {
        if (colunas[c] == coluna && i < linhas.size() && c < linhas[i].size()) {
            return linhas[i][c];
        }
    }
    return {};
}

bool EhFreeTds(std::string_view driver) {
    return driver.find("FreeTDS") != std::string_view::npos ||
           driver.find("libtdsodbc") != std::string_view::npos;
}

std::string ValorOdbc(std::string_view valor, bool freetds) {
    if (freetds) {
        // FreeTDS 1.3 ends a braced value at the first "};" and does not undouble "}}"; it keeps
        // blanks without braces. So: braces only for ";" or a leading "{", never doubling.
        if (valor.find(';') == std::string_view::npos && (valor.empty() || valor.front() != '{')) {
            return std::string(valor);
        }
        if (valor.find("};") != std::string_view::npos) {
            throw ErroBanco(0, "o driver FreeTDS não aceita um valor que contenha \"};\"");
        }
        std::string s(1, '{');
        s.append(valor);
        return s += '}';
    }
    const bool chaves = valor.find_first_of(";{}") != std::string_view::npos ||
                        (!valor.empty() && (valor.front() == ' ' || valor.back() == ' '));
    if (!chaves) {
        return std::string(valor);
    }
    std::string s = "{";
    for (char c : valor) {
        s += c;
        if (c == '}') {
            s += '}';
        }
    }
    return s + "}";
}

std::vector<std::string> DriversOdbc() {
    std::vector<std::string> nomes;
    SQLHENV ambiente = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &ambiente))) {
        return nomes;
    }
    SQLSetEnvAttr(ambiente, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLWCHAR descricao[512];
    SQLWCHAR atributos[2048];
    SQLSMALLINT t1 = 0;
    SQLSMALLINT t2 = 0;
    SQLUSMALLINT direcao = SQL_FETCH_FIRST;
    while (
        SQL_SUCCEEDED(SQLDriversW(ambiente, direcao, descricao, 512, &t1, atributos, 2048, &t2))) {
        direcao = SQL_FETCH_NEXT;
        nomes.push_back(Utf8(descricao, static_cast<std::size_t>(std::min<SQLSMALLINT>(t1, 511))));
    }
    SQLFreeHandle(SQL_HANDLE_ENV, ambiente);
    return nomes;
}

namespace {

// FreeTDS left to guess the protocol version tries 7.4 and, when the server stays silent until
// the login time-out, tries again as 5.0 (a protocol SQL Server never spoke), whose clean-up
// waits for an answer that never comes: the time-out asked for is never reached. SQL Server
// 2012 and later (every SQL Server for Linux) speak 7.4; naming it keeps the one attempt, which
// the login time-out bounds. Microsoft's drivers have no such key and honour the time-out.
std::string Protocolo(bool freetds) {
    return freetds ? "TDS_Version=7.4;" : "";
}

} // namespace

std::string TextoConexao(const std::string& driver, const std::string& servidor,
                         const std::string& login, const std::string& senha) {
    const bool freetds = EhFreeTds(driver);
    // Every value is closed by ";": FreeTDS needs it after a braced value.
    return "Driver={" + driver + "};Server=" + ValorOdbc(servidor, freetds) +
           ";Database=master;UID=" + ValorOdbc(login, freetds) +
           ";PWD=" + ValorOdbc(senha, freetds) + ";" + Protocolo(freetds);
}

std::string TextoConexaoIntegrada(const std::string& driver, const std::string& servidor) {
    const bool freetds = EhFreeTds(driver);
    return "Driver={" + driver + "};Server=" + ValorOdbc(servidor, freetds) +
           ";Database=master;Trusted_Connection=Yes;" + Protocolo(freetds);
}

} // namespace kelvane
