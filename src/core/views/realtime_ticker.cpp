#include "views/realtime_ticker.h"

namespace lumora {

void RealtimeTicker::Start(std::function<void()> tick, std::chrono::microseconds period) {
    Stop();
    stop_.store(false);
    ticks_.store(0);
    thread_ = std::thread([this, tick = std::move(tick), period] {
        using Clock = std::chrono::steady_clock;
        auto next = Clock::now() + period;
        while (!stop_.load(std::memory_order_acquire)) {
            std::this_thread::sleep_until(next);
            if (stop_.load(std::memory_order_acquire)) break;
            tick();
            ticks_.fetch_add(1, std::memory_order_relaxed);
            next += period;
            // after a stall (a long drawing, a suspended machine) the tick
            // continues at its period instead of catching up in a burst
            const auto now = Clock::now();
            if (next < now) next = now + period;
        }
    });
}

void RealtimeTicker::Stop() {
    if (!thread_.joinable()) return;
    stop_.store(true, std::memory_order_release);
    thread_.join();
}

}  // namespace lumora
