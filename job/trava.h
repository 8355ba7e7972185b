// The lock a run holds on the data folder: one backup or restore at a time.
#pragma once

#include "../plataforma/arquivos.h"
#include "../plataforma/nomes.h"
#include "codigos.h"

#include <filesystem>
#include <optional>

namespace kelvane {

// Held for the whole job, and by each tool the job runs (they inherit the descriptor): the
// kernel lets it go once the process and a tool it left running are both gone.
class TravaJob {
public:
    TravaJob() = default;
    ~TravaJob() {
        if (trava_ != plataforma::kSemDescritor) {
            plataforma::Fechar(trava_);
        }
    }
    TravaJob(const TravaJob&) = delete;
    TravaJob& operator=(const TravaJob&) = delete;

    // A failure when the lock file cannot be opened; otherwise whether the lock was free shows
    // in obtida().
    std::optional<Falha> Tentar(const std::filesystem::path& dados) {
        const auto caminho = dados / "kelvane.lock";
        std::error_code erro;
        trava_ = plataforma::AbrirArquivoTrava(caminho, erro);
        if (trava_ == plataforma::kSemDescritor) {
            return FalhaSistema(PassoFalha::Nenhum, TipoFalha::TravaNaoAberta,
                                CodigoSaida::ErroOutro, plataforma::TextoCaminho(caminho), erro);
        }
        obtida_ = plataforma::TentarTravar(trava_);
        return std::nullopt;
    }
    bool obtida() const { return obtida_; }
    plataforma::Descritor descritor() const { return trava_; }

private:
    plataforma::Descritor trava_ = plataforma::kSemDescritor;
    bool obtida_ = false;
};

} // namespace kelvane
