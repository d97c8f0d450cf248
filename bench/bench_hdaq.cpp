// How fast the high-speed capture takes datagrams off the socket, compared
// with the floor: a bare loop of one recvfrom per datagram that does nothing
// with the data (the desktop program's receive loop does that and more, so
// its rate is at most the floor's).
//
// Each round fills a large socket buffer with datagrams of about 700 bytes
// while nobody reads, then times how long the receiver needs to take them all
// off: the sender's speed does not enter the figure. The capture's figure
// includes cutting frames, stamping trailers and handing the records to the
// file.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "platform/udp_socket.h"
#include "recording/high_speed_capture.h"

namespace {

using lumora::UdpSocket;
using Clock = std::chrono::steady_clock;

constexpr int kDatagrams = 30000;
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
            auto t0 = Clock::now();
            while (got < sent && rx.ReceiveFrom(buf.data(), buf.size()) >= 0) ++got;
            double s = std::chrono::duration<double>(Clock::now() - t0).count();
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
            lumora::HighSpeedCaptureStats st = cap.Run();
            captureLost += static_cast<unsigned long long>(kDatagrams) - st.frames;
            captureRates.push_back(st.frames / st.seconds);
        }
    }
    std::filesystem::remove_all(dir);

    double floor = Median(floorRates);
    double capture = Median(captureRates);
    std::printf("datagrams of %zu bytes, %d per round, %d rounds, socket buffer %d bytes\n", frame.size(), kDatagrams,
                kRounds, granted);
    std::printf("floor (bare recvfrom loop):        %10.0f datagrams/s  (%.1f MB/s)\n", floor,
                floor * frame.size() / 1e6);
    std::printf("hdaq capture (records to a file):  %10.0f datagrams/s  (%.1f MB/s)\n", capture,
                capture * frame.size() / 1e6);
    std::printf("ratio capture/floor: %.2f\n", capture / floor);
    if (floorLost || captureLost)
        std::printf("not received (buffer too small for a round): floor %llu, capture %llu\n", floorLost, captureLost);
    return 0;
}
