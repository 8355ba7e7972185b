// What a run reaches outside itself through: the tools it starts, the server sessions of the
// transfer unit and the database. The system's own are the default; a test hands in its own.
#pragma once

#include "../odbc/odbc.h"
#include "../plataforma/transferencia.h"
#include "../settings/configuracao.h"
#include "codigos.h"
#include "execucao.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// Starts a tool and waits for it (ShellEspera).
class Programas {
public:
    virtual ~Programas() = default;
    virtual ResultadoProcesso Executar(const std::vector<std::string>& linha,
                                       const OpcoesProcesso& opcoes) = 0;
};

// One server session (plataforma::Transferencia).
class SessaoTransferencia {
public:
    virtual ~SessaoTransferencia() = default;
    virtual std::optional<plataforma::FalhaTransferencia>
    Enviar(const std::filesystem::path& arquivo, const std::string& nome) = 0;
    virtual std::optional<plataforma::FalhaTransferencia>
    Tamanho(const std::string& nome, plataforma::TamanhoRemoto& tamanho) = 0;
    virtual std::optional<plataforma::FalhaTransferencia> Renomear(const std::string& de,
                                                                   const std::string& para) = 0;
    virtual std::optional<plataforma::FalhaTransferencia> Apagar(const std::string& nome) = 0;
    virtual std::optional<plataforma::FalhaTransferencia>
    Baixar(const std::string& nome, const std::filesystem::path& arquivo,
           const std::function<void(std::uintmax_t, std::uintmax_t)>& progresso) = 0;
    virtual std::optional<plataforma::FalhaTransferencia>
    Listar(std::vector<std::string>& nomes) = 0;
    virtual const plataforma::DescricaoConexao& Descrever() const = 0;
};

// Opens the server sessions.
class Transferencias {
public:
    virtual ~Transferencias() = default;
    virtual std::unique_ptr<SessaoTransferencia>
    Abrir(const plataforma::DestinoTransferencia& destino) = 0;
};

// One database connection (ConexaoOdbc::Executar: throws ErroBanco).
class SessaoBanco {
public:
    virtual ~SessaoBanco() = default;
    virtual void Executar(const std::string& sql,
                          const std::function<void(const Diagnostico&)>& aoInformar,
                          int silencio) = 0;
    // As Executar, the batch's first result set returned.
    virtual Tabela Consultar(const std::string& sql, int silencio) = 0;
};

using Registro = std::function<void(const std::string&)>;

// The database server of the record.
class Banco {
public:
    virtual ~Banco() = default;
    // The driver's library fails the permission check: the line that says why.
    virtual std::optional<std::string> DriverInseguro(const Configuracao& c) = 0;
    // As ConectarBanco: the attempt and its outcome told to `registrar`; null after a failure,
    // with `falha` the one told.
    virtual std::unique_ptr<SessaoBanco> Conectar(const Configuracao& c, const Registro& registrar,
                                                  std::optional<Falha>& falha) = 0;
};

// The tools and the transfer the steps use.
struct Meios {
    Programas* programas;
    Transferencias* transferencias;
};

// The system's: ShellEspera, plataforma::Transferencia, ODBC.
Programas& ProgramasDoSistema();
Transferencias& TransferenciasDoSistema();
Banco& BancoDoSistema();
inline Meios MeiosDoSistema() {
    return {&ProgramasDoSistema(), &TransferenciasDoSistema()};
}

} // namespace kelvane
