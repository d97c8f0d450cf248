#pragma once
// Bounded waits: every wait for something that is expected to happen gives
// up after 30 s, far longer than a loaded machine needs.
#include <chrono>
#include <thread>

namespace lumora::test {

constexpr int kWaitSeconds = 30;

// Polls cond until it holds (true) or seconds have passed (false).
template <typename F>
bool WaitUntil(F cond, int seconds = kWaitSeconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace lumora::test
