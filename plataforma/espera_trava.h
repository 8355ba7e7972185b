// A lock another process may hold for ever, waited for without ticking.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace kelvane::plataforma {

// Takes a lock with `travar` (it blocks until the lock is free; returns the error, or none) on a
// thread of its own, so that the caller wakes when the lock is obtained or `espera` has passed.
// Past it the thread is left to take the lock whenever that comes and hand it at once to
// `soltar`, which owns whatever `travar` locked. operation_would_block when it was not obtained in
// time.
template <typename Travar, typename Soltar>
std::error_code EsperarTrava(Travar travar, Soltar soltar, std::chrono::milliseconds espera) {
    struct Estado {
        std::mutex trava;
        std::condition_variable mudou;
        bool fim = false;
        bool desistiu = false;
        std::error_code erro;
    };
    const auto estado = std::make_shared<Estado>();
    const auto limite = std::chrono::steady_clock::now() + espera;
    try {
        std::thread([estado, travar, soltar] {
            const std::error_code erro = travar();
            const std::lock_guard guarda(estado->trava);
            if (estado->desistiu) {
                soltar(); // too late: released as soon as obtained
                return;
            }
            estado->erro = erro;
            estado->fim = true;
            estado->mudou.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        soltar();
        return e.code();
    }
    std::unique_lock guarda(estado->trava);
    if (!estado->mudou.wait_until(guarda, limite, [&] { return estado->fim; })) {
        estado->desistiu = true;
        return std::make_error_code(std::errc::operation_would_block);
    }
    if (estado->erro) {
        soltar();
    }
    return estado->erro;
}

} // namespace kelvane::plataforma
