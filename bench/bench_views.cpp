// What the views compute, without drawing: building the trace series from a
// full history, laying out the realtime strip, and the memory a full trace
// history holds. Each figure is printed with its ratio to a floor measured in
// the same run (a plain copy of the same number of values).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "model/frame_types.h"
#include "views/realtime_strip.h"
#include "views/trace_history.h"

namespace {

using Clock = std::chrono::steady_clock;
volatile double g_sink = 0;

template <typename F>
double MedianMs(int runs, F&& f) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// Floor: copying n doubles from scattered 32-byte records into a vector.
double CopyFloorMs(int n) {
    std::vector<lumora::SensorReading> src(n);
    for (int i = 0; i < n; ++i) src[i].physicValue = i;
    std::vector<double> dst(n);
    return MedianMs(51, [&] {
        for (int i = 0; i < n; ++i) dst[i] = src[i].physicValue;
        g_sink = g_sink + dst[n / 2];
    });
}

void Publish(lumora::FrameRing& ring, int counter, int count) {
    lumora::SlotWriter w(ring);
    lumora::FrameSlot& s = w.Slot();
    s.count = count;
    s.counter = counter;
    for (int r = 0; r < count; ++r) {
        s.readings[r].id = r + 1;
        s.readings[r].serial = 7008001 + r;
        s.readings[r].physicValue = (counter * 7 + r * 13) % 1000;
    }
    w.Publish();
}

long PeakRssKb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
    std::fclose(f);
    return kb;
}

}  // namespace

int main() {
    using namespace lumora;
    auto ring = std::make_unique<FrameRing>();
    const long rssBefore = PeakRssKb();
    auto history = std::make_unique<TraceHistory>();
    for (int f = 1; f <= 600; ++f) {
        Publish(*ring, f, kMaxReadings);
        history->Poll(*ring);
    }
    const long rssAfter = PeakRssKb();
    std::printf("trace history, 500 frames of 320 readings: %.2f MB held (target < 20 MB), peak RSS grew %.2f MB\n",
                history->MemoryBytes() / 1048576.0, (rssAfter - rssBefore) / 1024.0);

    std::vector<TraceSeries> series;
    for (int rows : {32, 320}) {
        std::vector<int> chosen(rows);
        for (int r = 0; r < rows; ++r) chosen[r] = r;
        const double ms = MedianMs(51, [&] {
            TraceAxes a = BuildTraceSeries(*history, chosen, series);
            g_sink = g_sink + a.leftMax;
        });
        const double floor = CopyFloorMs(rows * 500);
        std::printf("trace series, %3d rows x 500 frames: %.3f ms (floor: copy of the values %.3f ms, ratio %.1f)\n",
                    rows, ms, floor, ms / floor);
    }

    for (int len : {1000, 10000}) {
        RealtimeStrip strip;
        strip.SetLength(len);
        strip.Open(1400, 700);
        RealtimeDrawing d;
        int counter = 1000;
        for (int i = 0; i < len; ++i) {
            Publish(*ring, ++counter, 8);
            strip.Step(*ring, 3, false, d);
        }
        const double ms = MedianMs(201, [&] {
            Publish(*ring, ++counter, 8);
            strip.Step(*ring, 3, false, d);
        });
        std::vector<float> a(len, 1.0f), b(len);
        const double floor = MedianMs(201, [&] {
            std::memcpy(b.data(), a.data(), len * sizeof(float));
            g_sink = g_sink + b[len / 2];
        });
        std::printf("realtime sample and layout, LEN %5d: %.4f ms (floor: copy of the strip %.4f ms, ratio %.1f)\n", len,
                    ms, floor, ms / floor);
    }
    return 0;
}
