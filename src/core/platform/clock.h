#pragma once
// Wall-clock time for stamps, file names and the datagram rate. Code that
// reads the time takes a Clock so that tests can set the time by hand.
#include <atomic>
#include <cstdint>
#include <string>

namespace lumora {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since 1970 (wall clock, not monotonic).
    virtual int64_t NowMs() const = 0;
};

// The computer's clock.
const Clock& SystemClock();

// A clock that stands still until told otherwise; safe to move from one
// thread while another reads it.
class ManualClock : public Clock {
public:
    explicit ManualClock(int64_t ms = 0) : ms_(ms) {}
    int64_t NowMs() const override { return ms_.load(std::memory_order_acquire); }
    void Set(int64_t ms) { ms_.store(ms, std::memory_order_release); }
    void Advance(int64_t ms) { ms_.fetch_add(ms, std::memory_order_acq_rel); }

private:
    std::atomic<int64_t> ms_;
};

// Seconds since 1970 and the microseconds of the same moment, the latter as
// whole milliseconds times 1000 (how the instrument and the recorder stamp).
struct StampTime {
    int64_t seconds;
    int32_t microseconds;
};
inline StampTime ToStamp(int64_t ms) {
    int64_t s = ms / 1000;
    int64_t rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        s -= 1;
    }
    return {s, static_cast<int32_t>(rest * 1000)};
}

// Local time of seconds formatted with strftime; empty when the time cannot
// be converted or the result does not fit.
std::string FormatLocalTime(int64_t seconds, const char* format);

// CPU time consumed so far by the calling thread, in nanoseconds.
int64_t ThreadCpuNs();

}  // namespace lumora
