// A call that may never return (the system's resolver has no deadline of its own), made on a
// thread of its own: the caller waits for it until a deadline, and a call still going on then
// keeps only that thread (until the system gives up).
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace kelvane {

// What `tarefa` returned, or nothing when `limite` came first. Throws std::system_error when no
// thread could be started.
template <typename Tarefa>
auto AntesDe(std::chrono::steady_clock::time_point limite, Tarefa tarefa)
    -> std::optional<decltype(tarefa())> {
    struct Estado {
        std::mutex m;
        std::condition_variable cv;
        std::optional<decltype(tarefa())> resultado;
    };
    const auto estado = std::make_shared<Estado>();
    std::thread([estado, tarefa = std::move(tarefa)]() mutable {
        auto resultado = tarefa();
        const std::lock_guard trava(estado->m);
        estado->resultado = std::move(resultado);
        estado->cv.notify_all();
    }).detach();
    std::unique_lock trava(estado->m);
    estado->cv.wait_until(trava, limite, [&] { return estado->resultado.has_value(); });
    return estado->resultado;
}

} // namespace kelvane
