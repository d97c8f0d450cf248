// The whole desktop program under load: the main window with the list,
// spectrum, trace and realtime views all on, fed by two simulators (10,000
// wavelength frames/s of 32 readings and 50 spectrum frames/s of 5000
// samples). Prints the frames lost and the latency of the UI event loop (how
// late a 10 ms timer fires), against a floor measured in the same run with
// the port closed.
//
//   bench_views_load [seconds] [path of lumora-cli]
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "window/control_ids.h"
#include "main_window.h"
#include "platform/udp_socket.h"
#include "views/chart_views.h"

#ifndef LUMORA_CLI_PATH
#define LUMORA_CLI_PATH "lumora-cli"
#endif

namespace {

struct Latency {
    double p50 = 0, p99 = 0, max = 0;
    size_t samples = 0;
};

// Runs the event loop for ms milliseconds with a 10 ms probe timer and
// returns how late the probe fired.
Latency MeasureLoop(int ms, const std::function<void(int)>& everySecond = nullptr) {
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        late.push_back(std::max(0.0, (now - last) / 1e6 - 10.0));
        last = now;
    });
    probe.start(10);
    QTimer second;
    int seconds = 0;
    QObject::connect(&second, &QTimer::timeout, [&] {
        if (everySecond) everySecond(++seconds);
    });
    second.start(1000);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    Latency r;
    if (late.empty()) return r;
    std::sort(late.begin(), late.end());
    r.samples = late.size();
    r.p50 = late[late.size() / 2];
    r.p99 = late[std::min(late.size() - 1, late.size() * 99 / 100)];
    r.max = late.back();
    return r;
}

int FreeFourDigitPort() {
    for (int port = 7400; port < 9999; port += 7) {
        lumora::UdpSocket s;
        if (s.Create() && s.Bind(static_cast<uint16_t>(port))) return port;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 10;
    const QString cli = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(LUMORA_CLI_PATH);

    QTemporaryDir dir;
    const int port = FreeFourDigitPort();  // the RCV Port box takes 4 digits
    if (!dir.isValid() || port == 0) {
        std::fprintf(stderr, "no temporary directory or free port\n");
        return 1;
    }
    const QString ini = dir.filePath("Lumora.ini");
    {
        QFile f(ini);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("[Net]\nPort=%1\nCmdPort=0\nAutoOpen=0\n[View]\nList=1\nRT=1\nOS=1\n[DataSave]\nDir=%2\n")
                    .arg(port)
                    .arg(dir.path())
                    .toUtf8());
    }

    lumora::MainWindow window(ini);
    lumora::ChartViews charts(window);
    window.show();
    window.Initialise();
    lumora::CLumoraDlg& dlg = window.Dlg();

    const Latency idle = MeasureLoop(2000);

    dlg.OnOpenClose();
    if (!dlg.PortOpen()) {
        std::fprintf(stderr, "the data port %d did not open\n", port);
        return 1;
    }
    const long long wavelengthFrames = 10000LL * seconds;
    const long long spectrumFrames = 50LL * seconds;
    QProcess wl, sp;
    wl.start(cli, {"simulate", "--port", QString::number(port), "--cmd-port", "0", "--rate", "10000", "--channels",
                   "4", "--peaks", "8", "--count", QString::number(wavelengthFrames), "--quiet"});
    sp.start(cli, {"simulate", "--port", QString::number(port), "--cmd-port", "0", "--rate", "50", "--mode",
                   "spectrum", "--spectrum-channel", "3", "--spectrum-length", "5000", "--count",
                   QString::number(spectrumFrames), "--quiet"});
    if (!wl.waitForStarted(5000) || !sp.waitForStarted(5000)) {
        std::fprintf(stderr, "could not start %s\n", qPrintable(cli));
        return 1;
    }

    // every second: all 32 rows chosen for the trace (a rebuild of the list
    // clears the marks) and the next view tab in front, so each view draws
    const Latency busy = MeasureLoop(seconds * 1000 + 1500, [&](int s) {
        for (int r = 0; r < 32; ++r) dlg.SensorRows().SetChecked(r, true);
        window.SetActiveTab(s % 4);
    });
    wl.waitForFinished(10000);
    sp.waitForFinished(10000);
    MeasureLoop(500);

    const long long decoded = dlg.Acquisition().Ring().framesDecoded.load() + 1;
    const long long spectra = charts.Spectrum().FrameCount();
    const int drawRate = charts.Realtime() ? charts.Realtime()->DrawRate() : 0;
    dlg.OnOpenClose();

    std::printf("load: %lld wavelength frames/s and %lld spectrum frames/s for %d s, all four views on\n",
                wavelengthFrames / seconds, spectrumFrames / seconds, seconds);
    std::printf("wavelength frames: sent %lld, decoded %lld, lost %lld (the last frame of a stream completes with "
                "the next one)\n",
                wavelengthFrames, decoded, wavelengthFrames - decoded);
    std::printf("spectrum frames:   sent %lld, shown %lld, lost %lld\n", spectrumFrames, spectra,
                spectrumFrames - spectra);
    std::printf("UI event loop lateness of a 10 ms timer: p50 %.2f ms, p99 %.2f ms (target < 30 ms), max %.2f ms, "
                "%zu samples; floor with the port closed p99 %.2f ms, ratio %.1f\n",
                busy.p50, busy.p99, busy.max, busy.samples, idle.p99, idle.p99 > 0 ? busy.p99 / idle.p99 : 0.0);
    std::printf("realtime drawings per second (FRQ): %d\n", drawRate);
    return 0;
}
