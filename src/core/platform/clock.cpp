#include "platform/clock.h"

#include <time.h>

namespace lumora {
namespace {

class RealClock : public Clock {
public:
    int64_t NowMs() const override {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }
};

}  // namespace

const Clock& SystemClock() {
    static const RealClock clock;
    return clock;
}

std::string FormatLocalTime(int64_t seconds, const char* format) {
    time_t t = static_cast<time_t>(seconds);
    tm local{};
    if (!::localtime_r(&t, &local)) return {};
    char buf[128];
    size_t n = ::strftime(buf, sizeof buf, format, &local);
    return std::string(buf, n);
}

int64_t ThreadCpuNs() {
    timespec ts{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace lumora
