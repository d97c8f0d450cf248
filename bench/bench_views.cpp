// What the views compute, without drawing: building the trace series from a
// full history, laying out the realtime strip, and the memory a full trace
// history holds. Each figure is printed with its ratio to a floor measured in
// the same run (a plain copy of the same number of values). The same is then
// measured with a 320-row sensor table and its engineering values ("Units"),
// together with one refresh of the sensor list's cells with and without the
// table's three columns.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "model/frame_types.h"
#include "sensors/sensor_processor.h"
#include "views/realtime_strip.h"
#include "views/sensor_list.h"
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

std::shared_ptr<const lumora::CompiledSensors> SensorTable320() {
    std::string csv = "id,label,unit,lambda0,c1\n";
    for (int id = 1; id <= lumora::kMaxReadings; ++id)
        csv += std::to_string(id) + ",Sensor " + std::to_string(id) + ",ue,0,0.827\n";
    lumora::SensorTable table;
    std::vector<std::string> errors;
    if (!table.Parse(csv, "bench", errors) || !table.Validate("bench", errors)) return nullptr;
    return std::make_shared<const lumora::CompiledSensors>(std::move(table));
}

// Trace series, realtime strip and sensor-list cells, without a table and
// with one whose values the views show.
void MeasureUnits() {
    using namespace lumora;
    auto table = SensorTable320();
    auto ring = std::make_unique<FrameRing>();
    SensorProcessor processor;
    processor.SetTable(table);
    ring->processor.store(&processor);
    auto history = std::make_unique<TraceHistory>();
    for (int f = 1; f <= 600; ++f) {
        Publish(*ring, f, kMaxReadings);
        history->Poll(*ring);
    }
    std::printf("with a 320-row sensor table: trace history %.2f MB held\n", history->MemoryBytes() / 1048576.0);
    std::vector<TraceSeries> series;
    for (int rows : {32, 320}) {
        std::vector<int> chosen(rows);
        for (int r = 0; r < rows; ++r) chosen[r] = r;
        const double plain = MedianMs(51, [&] { g_sink = g_sink + BuildTraceSeries(*history, chosen, series).leftMax; });
        const double units =
            MedianMs(51, [&] { g_sink = g_sink + BuildTraceSeries(*history, chosen, series, table.get()).leftMax; });
        std::printf("trace series with units, %3d rows x 500 frames: %.3f ms (physical values %.3f ms, ratio %.2f)\n",
                    rows, units, plain, units / plain);
    }
    for (bool units : {false, true}) {
        RealtimeStrip strip;
        strip.SetLength(1000);
        strip.Open(1400, 700);
        if (units) strip.SetUnits(table);
        RealtimeDrawing d;
        int counter = 5000;
        const double ms = MedianMs(201, [&] {
            Publish(*ring, ++counter, 8);
            strip.Step(*ring, 3, false, d);
        });
        std::printf("realtime sample and layout, LEN 1000, %s: %.4f ms\n", units ? "units" : "physical values", ms);
    }
    // The list's 20 ms refresh: the value columns of 320 rows as text.
    Publish(*ring, 9000, kMaxReadings);
    auto frame = std::make_unique<FrameSlot>();
    ring->CopyLatest(*frame);
    double cells[2];
    for (int withTable = 0; withTable < 2; ++withTable) {
        SensorList list;
        list.SetSensors(withTable ? table : nullptr);
        list.Refresh(*frame, false);
        cells[withTable] = MedianMs(201, [&] {
            list.Refresh(*frame, false);
            char buf[256];
            size_t n = 0;
            for (int r = 0; r < list.RowCount(); ++r)
                for (int c = 3; c < list.ColumnCount(); ++c) n += list.FormatCell(r, c, buf, sizeof buf);
            g_sink = g_sink + static_cast<double>(n);
        });
    }
    std::printf("sensor list refresh, 320 rows: %.4f ms with Label, Value and Unit (%.4f ms without, ratio %.2f)\n",
                cells[1], cells[0], cells[1] / cells[0]);
    ring->processor.store(nullptr);
}

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
    MeasureUnits();
    return 0;
}
