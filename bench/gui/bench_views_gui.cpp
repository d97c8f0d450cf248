// The drawing cost of the three charts on the offscreen platform: a spectrum
// redraw of 32 channels x 5646 points, a trace refresh of 32 and of 320 rows
// over 500 frames (at the chart's size in the window at its default size, and
// at 1840 x 1000, a maximised window on a full-HD screen), and a realtime
// strip drawing at LEN 1000 and 10000. Each
// figure is printed with its ratio to a floor measured in the same run (an
// empty chart's redraw; filling and copying the strip's image). Times are
// the CPU time of the drawing thread, which other programs on the machine do
// not inflate; the wall time is printed beside it.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <qcustomplot.h>

#include "model/frame_types.h"
#include "platform/clock.h"
#include "main_window.h"
#include "views/chart_look.h"
#include "views/chart_views.h"
#include "views/realtime_view.h"
#include "views/spectrum_view.h"
#include "views/trace_view.h"

namespace {

struct Timing {
    double cpuMs;
    double wallMs;
};

template <typename F>
Timing Measure(int runs, F&& f) {
    std::vector<double> cpu, wall;
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        const int64_t c0 = lumora::ThreadCpuNs();
        t.start();
        f();
        wall.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back((lumora::ThreadCpuNs() - c0) / 1e6);
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    return {cpu[cpu.size() / 2], wall[wall.size() / 2]};
}

void Publish(lumora::FrameRing& ring, int counter, int count) {
    lumora::SlotWriter w(ring);
    lumora::FrameSlot& s = w.Slot();
    s.count = count;
    s.counter = counter;
    for (int r = 0; r < count; ++r) {
        s.readings[r].id = r + 1;
        s.readings[r].serial = 7008001 + r;
        s.readings[r].physicValue = (counter * 7 + r * 13) % 1000 + r * 3;
    }
    w.Publish();
}

void Report(const char* what, Timing t, double target, Timing floor, const char* floorWhat) {
    std::printf("%-42s %8.3f ms cpu (%.3f ms wall), target < %g ms, %s; floor (%s) %.3f ms, ratio %.1f\n", what,
                t.cpuMs, t.wallMs, target, t.cpuMs < target ? "met" : "NOT MET", floorWhat, floor.cpuMs,
                t.cpuMs / floor.cpuMs);
}

// The trace chart's size in a main window shown at its default size.
QSize DescribedChartSize() {
    QTemporaryDir dir;
    lumora::MainWindow window(dir.filePath(QStringLiteral("Lumora.ini")));
    lumora::ChartViews charts(window);
    window.show();
    window.resize(window.DescribedSize());
    window.ViewTabs()->setCurrentIndex(2);
    QCoreApplication::processEvents();
    return charts.Trace().chart()->size();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    using namespace lumora;
    // The charts at the size they have in the main window at its default
    // (described) size.
    const QSize chartSize = DescribedChartSize();
    std::printf("chart size in the window at its described size: %dx%d\n", chartSize.width(), chartSize.height());

    // "spectrum", "trace" or "realtime" runs only those figures
    const char* only = argc > 1 ? argv[1] : "";

    // empty chart: the floor of the chart redraws
    QCustomPlot empty;
    ApplyChartLook(&empty, false);
    empty.resize(chartSize);
    empty.show();
    const Timing emptyMs = Measure(31, [&] { empty.replot(); });

    if (!*only || std::strcmp(only, "spectrum") == 0) {
        QCustomPlot chart;
        chart.resize(chartSize);
        chart.show();
        std::atomic<bool> on{true};
        SpectrumView view;
        view.Init(&chart, [&] { return on.load(); }, nullptr);
        std::vector<uint16_t> samples(5646);
        int frame = 0;
        auto offerAll = [&] {
            for (int c = 0; c < 32; ++c) {
                for (int k = 0; k < 5646; ++k) samples[k] = static_cast<uint16_t>((k * 3 + c * 97 + frame * 11) % 4096);
                view.OfferFrame(c, samples.data(), 5646);
            }
            ++frame;
        };
        offerAll();
        view.RedrawNow();
        // the frames are stored as the receive worker would; only the redraw is timed
        std::vector<Timing> runs;
        for (int i = 0; i < 21; ++i) {
            offerAll();
            runs.push_back(Measure(1, [&] { view.RedrawNow(); }));
        }
        std::sort(runs.begin(), runs.end(), [](Timing a, Timing b) { return a.cpuMs < b.cpuMs; });
        Report("spectrum redraw, 32 x 5646 points", runs[runs.size() / 2], 15, emptyMs, "empty chart");
        const Timing store = Measure(21, offerAll);
        std::printf("  storing 32 spectrum frames (receive worker): %.3f ms cpu\n", store.cpuMs);
    }

    // The trace chart at the size it has in the window at its described
    // size, and maximised on a full-HD screen.
    for (QSize size : {chartSize, QSize(1840, 1000)}) {
        if (*only && std::strcmp(only, "trace") != 0) break;
        auto ring = std::make_unique<FrameRing>();
        QCustomPlot chart;
        chart.resize(size);
        chart.show();
        TraceView view;
        view.Init(&chart, ring.get(), nullptr, nullptr);
        for (int f = 1; f <= 500; ++f) {
            Publish(*ring, f, kMaxReadings);
            view.History().Poll(*ring);
        }
        for (int rows : {32, 320}) {
            std::vector<int> chosen(rows);
            for (int r = 0; r < rows; ++r) chosen[r] = r;
            view.Rebuild(chosen);
            int counter = 500;
            const Timing ms = Measure(21, [&] {
                Publish(*ring, ++counter, kMaxReadings);
                view.History().Poll(*ring);
                view.Rebuild(chosen);
            });
            char what[64];
            std::snprintf(what, sizeof what, "trace refresh, %d rows x 500 frames, %dx%d", rows, size.width(),
                          size.height());
            Report(what, ms, size == chartSize ? 10 : 15, emptyMs, "empty chart");
        }
    }
    for (int len : {1000, 10000}) {
        if (*only && std::strcmp(only, "realtime") != 0) break;
        auto ring = std::make_unique<FrameRing>();
        RealtimeView view;
        view.resize(1400, 700);
        int counter = 0;
        view.Init(ring.get(), {nullptr, [] { return 3; }, nullptr});
        view.OnLengthChanged(len);
        view.OpenCanvas();
        RealtimeDrawing warm;
        for (int i = 0; i < len; ++i) {  // fill the strip before timing
            Publish(*ring, ++counter, 8);
            view.Strip().Step(*ring, 3, false, warm);
        }
        const Timing ms = Measure(201, [&] {
            Publish(*ring, ++counter, 8);
            view.TickOnce();
        });
        QImage image(1400, 700, QImage::Format_RGB32);
        QImage target(1400, 700, QImage::Format_RGB32);
        const Timing floor = Measure(201, [&] {
            image.fill(Qt::black);
            QPainter p(&target);
            p.drawImage(0, 0, image);
        });
        char what[64];
        std::snprintf(what, sizeof what, "realtime drawing, LEN %d", len);
        Report(what, ms, len == 1000 ? 1 : 5, floor, "fill+copy");
    }
    return 0;
}
