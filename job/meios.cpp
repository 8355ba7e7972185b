#include "meios.h"

#include "banco.h"

namespace kelvane {

namespace {

class ProgramasSistema final : public Programas {
public:
    ResultadoProcesso Executar(const std::vector<std::string>& linha,
                               const OpcoesProcesso& opcoes) override {
        return ShellEspera(linha, opcoes);
    }
};

class SessaoSistema final : public SessaoTransferencia {
public:
    explicit SessaoSistema(const plataforma::DestinoTransferencia& d) : t_(d) {}
    std::optional<plataforma::FalhaTransferencia> Enviar(const std::filesystem::path& arquivo,
                                                         const std::string& nome) override {
        return t_.Enviar(arquivo, nome);
    }
    std::optional<plataforma::FalhaTransferencia>
    Tamanho(const std::string& nome, plataforma::TamanhoRemoto& tamanho) override {
        return t_.Tamanho(nome, tamanho);
    }
    std::optional<plataforma::FalhaTransferencia> Renomear(const std::string& de,
                                                           const std::string& para) override {
        return t_.Renomear(de, para);
    }
    std::optional<plataforma::FalhaTransferencia> Apagar(const std::string& nome) override {
        return t_.Apagar(nome);
    }
    std::optional<plataforma::FalhaTransferencia>
    Baixar(const std::string& nome, const std::filesystem::path& arquivo,
           const std::function<void(std::uintmax_t, std::uintmax_t)>& progresso) override {
        return t_.Baixar(nome, arquivo, progresso);
    }
    std::optional<plataforma::FalhaTransferencia> Listar(std::vector<std::string>& nomes) override {
        return t_.Listar(nomes);
    }
    const plataforma::DescricaoConexao& Descrever() const override { return t_.Descrever(); }

private:
    plataforma::Transferencia t_;
};

class TransferenciasSistema final : public Transferencias {
public:
    std::unique_ptr<SessaoTransferencia>
    Abrir(const plataforma::DestinoTransferencia& destino) override {
        return std::make_unique<SessaoSistema>(destino);
    }
};

class SessaoOdbc final : public SessaoBanco {
public:
    explicit SessaoOdbc(std::unique_ptr<ConexaoOdbc> c) : c_(std::move(c)) {}
    void Executar(const std::string& sql, const std::function<void(const Diagnostico&)>& aoInformar,
                  int silencio) override {
        c_->Executar(sql, aoInformar, silencio);
    }
    Tabela Consultar(const std::string& sql, int silencio) override {
        Tabela t;
        c_->Executar(sql, {}, silencio, &t);
        return t;
    }

private:
    std::unique_ptr<ConexaoOdbc> c_;
};

class BancoSistema final : public Banco {
public:
    std::optional<std::string> DriverInseguro(const Configuracao& c) override {
        return DriverOdbcInseguro(c.driverODBC);
    }
    std::unique_ptr<SessaoBanco> Conectar(const Configuracao& c, const Registro& registrar,
                                          std::optional<Falha>& falha) override {
        auto conexao = ConectarBanco(c, registrar, falha);
        return conexao ? std::make_unique<SessaoOdbc>(std::move(conexao)) : nullptr;
    }
};

} // namespace

Programas& ProgramasDoSistema() {
    static ProgramasSistema p;
    return p;
}

Transferencias& TransferenciasDoSistema() {
    static TransferenciasSistema t;
    return t;
}

Banco& BancoDoSistema() {
    static BancoSistema b;
    return b;
}

} // namespace kelvane
