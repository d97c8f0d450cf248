// The "Active SA" list under a flood of announcements (offscreen platform):
//   - 10,000 distinct announcements sent to one run, a few at a time so that
//     the loopback keeps them all: the UI thread's CPU time from the first
//     datagram until everything received was handled, against a floor
//     measured in the same run (10,000 announcements of one device handed
//     straight to a bare finder: parsing and look-up only), and the peak
//     resident memory;
//   - then, in a second run, as many distinct announcements as the sender can
//     push for `seconds` (default 5), to show that the UI time and the memory
//     stay bounded and that the run still ends when its window closes.
// Usage: bench_device_list [seconds]
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "device/device_discovery.h"
#include "main_window.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "tools/device_list_widget.h"
#include "tools/tool_windows.h"
#include "window/console_window_port.h"

using namespace lumora;

namespace {

double PeakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

uint16_t FreePort() {
    UdpSocket s;
    s.Create();
    s.Bind(0, "127.0.0.1");
    return s.LocalPort();
}

std::string Text(uint64_t i) { return R"({"IDN":"LM-32","SN":"S)" + std::to_string(i) + "\"}"; }

// Runs the event loop until done() holds or `limitMs` passed.
bool PumpUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int floodSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    constexpr int kAnnouncements = 10000;

    // Floor: 10,000 announcements handed straight to a finder with no list
    // behind it, all from one device, so that each is parsed and looked up
    // and nothing more.
    double floorMs = 0;
    {
        ConsoleWindowPort quiet;
        DeviceDiscovery bare(quiet, nullptr);
        const std::string t = Text(0);
        const int64_t c0 = ThreadCpuNs();
        for (int i = 0; i < kAnnouncements; ++i)
            bare.HandleAnnouncement(MakeAnnouncementBlock(0x0100007f, t.data(), t.size()));
        floorMs = static_cast<double>(ThreadCpuNs() - c0) / 1e6;
    }
    const double rssBefore = PeakRssMb();

    QTemporaryDir dir;
    MainWindow window(dir.filePath(QStringLiteral("Lumora.ini")));
    window.messageBoxOverride = [](const std::string& text, const std::string&, int, int) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return static_cast<int>(kIdOk);
    };
    ManualClock clock(1'000'000);  // the window closes only when this bench says so
    DiscoveryOptions options;
    options.port = FreePort();
    options.clock = &clock;
    ToolWindows tools(window, options);
    DeviceDiscovery& discovery = tools.Discovery();
    int finished = 0;
    discovery.onRunFinished = [&finished] { ++finished; };
    window.show();
    tools.OnActiveSa();
    PumpUntil([&] { return discovery.ListeningRuns() == 1; }, 30000);

    // 1: 10,000 distinct announcements, paced so that the socket keeps them.
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        UdpSocket s;
        s.Create();
        for (int i = 0; i < kAnnouncements; ++i) {
            std::string t = Text(static_cast<uint64_t>(i));
            s.SendTo(t.data(), t.size(), "127.0.0.1", options.port);
            if (i % 20 == 19) std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        sent = true;
    });
    QElapsedTimer wall;
    wall.start();
    const int64_t c0 = ThreadCpuNs();
    auto handled = [&] { return discovery.Devices().size() + discovery.IgnoredAnnouncements(); };
    uint64_t last = 0;
    int quietRounds = 0;
    // Done when everything was handled, or nothing more came for 300 ms after the sender ended.
    PumpUntil(
        [&] {
            if (handled() >= kAnnouncements) return true;
            if (!sent || discovery.QueuedAnnouncements() > 0 || handled() != last) {
                last = handled();
                quietRounds = 0;
                return false;
            }
            return ++quietRounds > 300;
        },
        60000);
    const double uiMs = static_cast<double>(ThreadCpuNs() - c0) / 1e6;
    const double wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    sender.join();
    std::printf("10,000 distinct announcements in one run: %.1f ms UI cpu (%.0f ms wall), target < 500 ms, %s; "
                "floor (parsing 10,000 alone) %.1f ms, ratio %.1f\n",
                uiMs, wallMs, uiMs < 500 ? "met" : "NOT MET", floorMs, uiMs / floorMs);
    std::printf("  received %llu of %d: %zu listed, %llu ignored; list rows %d; peak memory %.1f MB (%.1f MB before)\n",
                static_cast<unsigned long long>(handled()), kAnnouncements, discovery.Devices().size(),
                static_cast<unsigned long long>(discovery.IgnoredAnnouncements()), tools.DeviceList()->rowCount(),
                PeakRssMb(), rssBefore);

    // 2: a second run under an unpaced flood for some seconds; then its window closes.
    clock.Advance(options.windowMs);
    PumpUntil([&] { return finished == 1; }, 30000);
    tools.OnActiveSa();
    PumpUntil([&] { return discovery.ListeningRuns() == 1; }, 30000);
    std::atomic<bool> stopFlood{false};
    std::atomic<uint64_t> floodSent{0};
    std::thread flood([&] {
        UdpSocket s;
        s.Create();
        for (uint64_t i = kAnnouncements; !stopFlood; ++i) {
            std::string t = Text(i);
            s.SendTo(t.data(), t.size(), "127.0.0.1", options.port);
            floodSent.fetch_add(1);
        }
    });
    const int64_t c1 = ThreadCpuNs();
    PumpUntil([] { return false; }, floodSeconds * 1000);
    const double floodUiMs = static_cast<double>(ThreadCpuNs() - c1) / 1e6;
    clock.Advance(options.windowMs);
    QElapsedTimer endTimer;
    endTimer.start();
    const bool ended = PumpUntil([&] { return finished == 2; }, 30000);
    const double endMs = static_cast<double>(endTimer.nsecsElapsed()) / 1e6;
    stopFlood = true;
    flood.join();
    std::printf("flood of %llu announcements in %d s: %.1f ms UI cpu (%.1f%% of the time), list rows %d, "
                "peak memory %.1f MB; run %s %.0f ms after its window closed\n",
                static_cast<unsigned long long>(floodSent.load()), floodSeconds, floodUiMs,
                floodUiMs / (floodSeconds * 10.0), tools.DeviceList()->rowCount(), PeakRssMb(),
                ended ? "ended" : "had NOT ended", endMs);
    return ended ? 0 : 1;
}
