// What whoever starts a job from a window lends it. A job run with an observer runs in window
// mode; without one (the unattended run) it only logs. Every member may be called from the
// job's thread, and any may be left empty.
#pragma once

#include <functional>
#include <string>

namespace kelvane {

struct ObservadorJob {
    std::function<void(const std::string&)> mensagem;  // each line logged, as it is logged
    std::function<void(int)> progresso;                // backup percent as the server reports it
    std::function<void(const std::string&)> caixaErro; // a critical message box; waits for OK
    std::function<bool()> ncripto;                     // whether credentials are stored in clear
    std::function<void(const std::string&)> falha;     // why the run did not reach its end
};

} // namespace kelvane
