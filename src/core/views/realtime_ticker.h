#pragma once
// A periodic 1 ms tick on a thread of its own. Stop() returns only after the
// thread has ended, so nothing the tick uses may be released before Stop().
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace lumora {

class RealtimeTicker {
public:
    RealtimeTicker() = default;
    RealtimeTicker(const RealtimeTicker&) = delete;
    RealtimeTicker& operator=(const RealtimeTicker&) = delete;
    ~RealtimeTicker() { Stop(); }

    // Starts calling tick every period (a running ticker is stopped first).
    void Start(std::function<void()> tick, std::chrono::microseconds period = std::chrono::milliseconds(1));
    // Stops the ticks and waits for a running one to finish. Must not be
    // called from inside the tick.
    void Stop();
    bool Running() const { return thread_.joinable(); }
    // Ticks run since Start.
    long Ticks() const { return ticks_.load(std::memory_order_relaxed); }

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long> ticks_{0};
};

}  // namespace lumora
