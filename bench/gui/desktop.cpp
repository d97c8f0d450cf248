// The desktop program under load: the instrument simulator sends 10,000
// frames/s of 320 readings into the main window (offscreen platform), with
// the sensor list refreshing every 20 ms. Prints
//   - the time one list refresh (UpdateSensorList) takes with 320 rows, and
//     the synchronous repaint of the list it causes, against a floor: a plain
//     copy of the newest frame's readings measured in the same ticks;
//   - the UI event loop's latency (lateness of a 20 ms timer), median and
//     99th percentile, against the same measure in the idle window before;
//   - frames lost (sent by the simulator, not received by the program);
//   - resident memory.
// Usage: bench_desktop [seconds] [frames-per-second] [raw]
//   raw: the source-data DISP box ticked (hex dump of every frame shown)
//   LUMORA_CLI: the lumora-cli to use
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "main_window.h"
#include "platform/udp_socket.h"
#include "sensor_list_widget.h"
#include "settings/settings_store.h"

using namespace lumora;

namespace {

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

long StatusKb(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(static_cast<int>(strlen(field))).trimmed().split(' ')[0].toLong();
    return -1;
}

int FreeSmallPort() {
    for (int p = 9400; p < 10000; ++p) {
        UdpSocket probe;
        if (probe.Create() && probe.Bind(static_cast<uint16_t>(p))) return p;
    }
    return 0;
}

// Lateness of a 20 ms timer, in ms, collected while `ms` pass.
std::vector<double> MeasureLatency(int ms, const std::function<void()>& each = nullptr) {
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        qint64 now = clock.nsecsElapsed();
        late.push_back(std::max(0.0, (now - last) / 1e6 - 20.0));
        last = now;
        if (each) each();
    });
    timer.start(20);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return late;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    const int rate = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10000;
    const bool raw = argc > 3 && std::string(argv[3]) == "raw";
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const std::string ini = dir.filePath(QStringLiteral("Lumora.ini")).toStdString();
    const int port = FreeSmallPort();
    if (port == 0) {
        std::fprintf(stderr, "no free port\n");
        return 1;
    }
    {
        SettingsStore s(ini);
        s.SetString("Net", "Port", std::to_string(port));
        s.SetString("View", "List", "1");
        s.SetString("View", "Raw", raw ? "1" : "0");
        s.SetString("DataSave", "Dir", dir.path().toStdString());
    }
    MainWindow window(QString::fromStdString(ini));
    window.messageBoxOverride = [](const std::string& text, const std::string&, int, int) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return static_cast<int>(kIdOk);
    };
    window.show();
    window.Initialise();
    CLumoraDlg& dlg = window.Dlg();

    // Floor of the event loop: the idle window.
    std::vector<double> idleLate = MeasureLatency(2000);

    dlg.OnOpenClose();
    if (!dlg.PortOpen()) return 1;
    // The list refresh runs from our own 20 ms timer instead of timer 0, so
    // each call can be timed; the timer 0 of the window is stopped.
    window.StopTimer(kTimerSensorList);

    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    // lumora-cli of the same build, or the one LUMORA_CLI names.
    QString cli = qEnvironmentVariable("LUMORA_CLI",
                                       QCoreApplication::applicationDirPath() + QStringLiteral("/../src/cli/lumora-cli"));
    sim.start(cli,
              {"simulate", "--port", QString::number(port), "--rate", QString::number(rate), "--channels", "32",
               "--peaks", "10", "--seconds", QString::number(seconds), "--cmd-port", "0", "--quiet"});
    if (!sim.waitForStarted(5000)) return 1;

    std::vector<double> refreshMs, repaintMs, floorMs;
    auto copy = std::make_unique<FrameSlot>();
    SensorListWidget* view = window.SensorListView();
    long rowsSeen = 0;
    std::vector<double> loadLate = MeasureLatency(seconds * 1000 + 500, [&] {
        const long before = dlg.SensorRows().RebuildCount();
        auto t0 = std::chrono::steady_clock::now();
        dlg.UpdateSensorList();
        auto t1 = std::chrono::steady_clock::now();
        view->viewport()->repaint();
        auto t2 = std::chrono::steady_clock::now();
        dlg.Acquisition().Ring().CopyLatest(*copy);
        auto t3 = std::chrono::steady_clock::now();
        if (dlg.SensorRows().RowCount() == 320 && dlg.SensorRows().RebuildCount() == before) {
            refreshMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            repaintMs.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
            floorMs.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
            ++rowsSeen;
        }
    });
    sim.waitForFinished(10000);
    QByteArray out = sim.readAll();
    long sent = 0;
    int at = out.indexOf("sent ");
    if (at >= 0) sent = std::atol(out.constData() + at + 5);
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    const long received = static_cast<long>(dlg.DatagramCount());
    dlg.OnOpenClose();

    const double refreshMed = Percentile(refreshMs, 0.5), refresh99 = Percentile(refreshMs, 0.99);
    const double floorMed = Percentile(floorMs, 0.5);
    std::printf("simulator: %ld frames of 320 readings at %d frames/s for %d s%s\n", sent, rate, seconds,
                raw ? ", source-data display on" : "");
    std::printf("list refresh with 320 rows (%ld ticks): median %.3f ms, p99 %.3f ms (target < 2 ms)\n", rowsSeen,
                refreshMed, refresh99);
    std::printf("  floor, copy of the newest frame: median %.3f ms; ratio %.1f\n", floorMed,
                floorMed > 0 ? refreshMed / floorMed : 0.0);
    std::printf("  repaint of the list it causes: median %.3f ms, p99 %.3f ms\n", Percentile(repaintMs, 0.5),
                Percentile(repaintMs, 0.99));
    std::printf("event-loop latency under load: median %.2f ms, p99 %.2f ms (target p99 < 20 ms)\n",
                Percentile(loadLate, 0.5), Percentile(loadLate, 0.99));
    std::printf("  floor, idle window: median %.2f ms, p99 %.2f ms; p99 ratio %.1f\n", Percentile(idleLate, 0.5),
                Percentile(idleLate, 0.99),
                Percentile(idleLate, 0.99) > 0 ? Percentile(loadLate, 0.99) / Percentile(idleLate, 0.99) : 0.0);
    std::printf("frames lost: %ld of %ld (received %ld; target 0)\n", std::max(0L, sent - received), sent, received);
    std::printf("resident memory: %ld MB now, %ld MB peak (target < 150 MB)\n", StatusKb("VmRSS:") / 1024,
                StatusKb("VmHWM:") / 1024);
    return 0;
}
