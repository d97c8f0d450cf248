// How fast the high-speed capture takes datagrams off the socket, compared
// with the floor: a bare loop of one recvfrom per datagram that does nothing
// with the data (the desktop program's receive loop does that and more, so
// its rate is at most the floor's). For the desktop's own loop (assemble,
// decode, record) the figure is what its worker's CPU time allows: datagrams
// per CPU second while it takes a paced stream, an upper bound of its rate.
//
// Each round fills a large socket buffer with datagrams of about 700 bytes
// while nobody reads, then lets the receiver take them all off: the sender's
// speed does not enter the figure. Every figure is datagrams per second of
// the receiver's CPU time (all its threads), so that other load on the
// machine does not enter it either. The capture's figure includes cutting
// frames, stamping trailers and writing the records to the file.
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition_state.h"
#include "acquisition/frame_encoder.h"
#include "acquisition/receive_session.h"
#include "window/console_window_port.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "recording/high_speed_capture.h"
#include "recording/raw_recorder.h"
#include "settings/settings_store.h"

namespace {

using lumora::UdpSocket;
using Clock = std::chrono::steady_clock;

constexpr int kDatagrams = 60000;
constexpr int kRounds = 5;
constexpr int kBuffer = 128 << 20;

std::vector<uint8_t> SampleFrame() {
    // 32 channels with 10 peaks each: 5 + 32 + 640 bytes, about 700 with the
    // pieces around them.
    std::vector<uint8_t> counts(32, 10);
    std::vector<uint16_t> values(320);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint16_t>(1000 + 37 * i);
    std::vector<uint8_t> f = lumora::EncodeWavelengthFrame(counts, values);
    f.resize(700, 0);
    return f;
}

// Sends n datagrams to port; returns how many the sender could hand over.
int Fill(uint16_t port, const std::vector<uint8_t>& frame, int n) {
    UdpSocket tx;
    if (!tx.Create()) return 0;
    int sent = 0;
    for (int i = 0; i < n; ++i)
        if (tx.SendTo(frame.data(), frame.size(), "127.0.0.1", port)) ++sent;
    return sent;
}

// Keeps message boxes off the console so they do not disturb the timings.
class NullWindow : public lumora::ConsoleWindowPort {
public:
    int MessageBox(const std::string&, const std::string&, int, int) override { return lumora::kIdOk; }
};

// The desktop program's receive session, recording on: datagrams per second
// of its worker's CPU time, fed 20000 datagrams at 20000 per second.
double DesktopCapacity(const std::vector<uint8_t>& frame, const std::string& dir) {
    using namespace lumora;
    const std::string sub = dir + "/session";
    std::filesystem::create_directories(sub);
    NullWindow window;
    SettingsStore settings(sub + "/Lumora.ini");
    AcquisitionState state;
    RawRecorder recorder(&window);
    recorder.SetDirectory(sub);
    recorder.SetFilePrefix("bench");
    ReceiveSession session(state, recorder, settings, window);
    session.SetPortText("0");
    session.SetRecordEnabled(true);
    if (!session.Open()) return 0;
    UdpSocket tx;
    tx.Create();
    const int total = 20000;
    const auto start = Clock::now();
    for (int i = 0; i < total; ++i) {
        while (Clock::now() - start < std::chrono::microseconds(50) * i) std::this_thread::yield();
        tx.SendTo(frame.data(), frame.size(), "127.0.0.1", session.BoundPort());
    }
    for (int i = 0; i < 100 && session.DatagramCount() < static_cast<uint32_t>(total); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    session.Close();
    const double cpu = session.LastWorkerCpuNs() / 1e9;
    const uint32_t got = session.DatagramCount();
    std::filesystem::remove_all(sub);
    return cpu > 0 ? got / cpu : 0;
}

int64_t ProcessCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    const std::vector<uint8_t> frame = SampleFrame();
    const std::string dir =
        (std::filesystem::temp_directory_path() / ("lumora_bench_hdaq_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);

    std::vector<double> floorRates, captureRates;
    unsigned long long floorLost = 0, captureLost = 0;
    int granted = 0;
    for (int round = 0; round < kRounds; ++round) {
        // Floor: one recvfrom per datagram.
        {
            UdpSocket rx;
            rx.Create();
            rx.Bind(0, "127.0.0.1");
            granted = rx.SetReceiveBuffer(kBuffer);
            rx.SetReceiveTimeout(200);
            int sent = Fill(rx.LocalPort(), frame, kDatagrams);
            std::vector<uint8_t> buf(10240);
            int got = 0;
            const int64_t cpu0 = lumora::ThreadCpuNs();
            while (got < sent && rx.ReceiveFrom(buf.data(), buf.size()) >= 0) ++got;
            double s = (lumora::ThreadCpuNs() - cpu0) / 1e9;
            floorLost += static_cast<unsigned long long>(kDatagrams - got);
            floorRates.push_back(got / s);
        }
        // The capture, writing its records to a file.
        {
            lumora::HighSpeedCaptureOptions o;
            o.port = 0;
            o.bindAddress = "127.0.0.1";
            o.path = dir + "/bench.dat";
            o.maxFrames = kDatagrams;
            o.maxSeconds = 10;
            o.requestedReceiveBuffer = kBuffer;
            lumora::HighSpeedCapture cap(o);
            std::string err;
            if (!cap.Open(&err)) {
                std::fprintf(stderr, "bench_hdaq: %s\n", err.c_str());
                return 1;
            }
            Fill(cap.Port(), frame, kDatagrams);
            // Only the capture's threads run now: the process's CPU time is theirs.
            const int64_t cpu0 = ProcessCpuNs();
            lumora::HighSpeedCaptureStats st = cap.Run();
            const double cpu = (ProcessCpuNs() - cpu0) / 1e9;
            captureLost += static_cast<unsigned long long>(kDatagrams) - st.frames;
            captureRates.push_back(st.frames / cpu);
            // A capture never replaces a file: each round makes its own.
            std::filesystem::remove(cap.Path());
        }
    }
    std::vector<double> desktopRates;
    for (int round = 0; round < 3; ++round) desktopRates.push_back(DesktopCapacity(frame, dir));
    std::filesystem::remove_all(dir);

    double floor = Median(floorRates);
    double desktop = Median(desktopRates);
    double capture = Median(captureRates);
    std::printf("datagrams of %zu bytes, %d per round, %d rounds, socket buffer %d bytes\n", frame.size(), kDatagrams,
                kRounds, granted);
    std::printf("floor (bare recvfrom loop):         %10.0f datagrams/s  (%.1f MB/s)\n", floor,
                floor * frame.size() / 1e6);
    std::printf("hdaq capture (records to a file):   %10.0f datagrams/s  (%.1f MB/s)\n", capture,
                capture * frame.size() / 1e6);
    std::printf("desktop receive loop (by CPU time): %10.0f datagrams/s\n", desktop);
    std::printf("ratio capture/floor: %.2f\n", capture / floor);
    if (desktop > 0) std::printf("ratio capture/desktop loop: %.2f\n", capture / desktop);
    if (floorLost || captureLost)
        std::printf("not received (buffer too small for a round): floor %llu, capture %llu\n", floorLost, captureLost);
    return 0;
}
