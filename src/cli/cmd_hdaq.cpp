// lumora-cli hdaq PORT COUNT SECONDS INTERVAL FILE
// High-rate capture of UDP PORT into FILE.dat, ending after COUNT frames or
// SECONDS seconds (0: no limit), buffered records written at least every
// INTERVAL seconds. Ctrl-C ends the capture early and keeps what was taken.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "cli_commands.h"
#include "cli_util.h"
#include "recording/high_speed_capture.h"

namespace lumora::cli {

namespace {

std::atomic<bool> g_interrupted{false};

void OnSignal(int) { g_interrupted.store(true); }

}  // namespace

int RunHighSpeedDaq(const Args& args) {
    const char* usage = "usage: lumora-cli hdaq PORT COUNT SECONDS INTERVAL FILE\n";
    if (args.size() < 5) {
        std::fputs(usage, stderr);
        return 2;
    }
    long long port = 0, count = 0, seconds = 0, interval = 0;
    if (!ParseInteger(args[0], &port) || port < 0 || port > 65535 || !ParseInteger(args[1], &count) ||
        !ParseInteger(args[2], &seconds) || !ParseInteger(args[3], &interval)) {
        std::fprintf(stderr, "lumora-cli hdaq: PORT, COUNT, SECONDS and INTERVAL must be whole numbers\n%s", usage);
        return 2;
    }
    std::string path = HighSpeedDataPath(JoinRest(args, 4), ".dat");
    std::string dirError;
    if (!MakeParentDirectories(path, &dirError)) {
        std::fprintf(stderr, "lumora-cli hdaq: %s\n", dirError.c_str());
        return 1;
    }

    HighSpeedCaptureOptions o;
    o.port = static_cast<uint16_t>(port);
    o.maxFrames = count;
    o.maxSeconds = static_cast<double>(seconds);
    o.flushIntervalSeconds = static_cast<double>(interval);
    o.path = path;
    o.externalStop = &g_interrupted;
    HighSpeedCapture capture(o);
    std::string error;
    if (!capture.Open(&error)) {
        std::fprintf(stderr, "lumora-cli hdaq: %s\n", error.c_str());
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::printf("hdaq: listening on UDP port %u, receive buffer %d bytes, writing %s\n", capture.Port(),
                capture.ReceiveBufferBytes(), path.c_str());
    std::printf("hdaq: until %lld frames or %lld s (0: no limit), flushing every %lld s\n", count, seconds, interval);
    std::fflush(stdout);

    HighSpeedCaptureStats st = capture.Run();
    double rate = st.seconds > 0 ? st.datagrams / st.seconds : 0;
    std::printf("frames captured: %llu\n", static_cast<unsigned long long>(st.frames));
    std::printf("frames dropped by the system: %llu\n", static_cast<unsigned long long>(st.kernelDrops));
    std::printf("datagrams: %llu (%.0f/s), not frames: %llu, too long: %llu\n",
                static_cast<unsigned long long>(st.datagrams), rate,
                static_cast<unsigned long long>(st.skippedDatagrams),
                static_cast<unsigned long long>(st.truncatedDatagrams));
    std::printf("bytes written: %llu in %.3f s%s\n", static_cast<unsigned long long>(st.bytesWritten), st.seconds,
                g_interrupted.load() ? " (interrupted)" : "");
    std::fflush(stdout);
    if (!st.error.empty()) {
        std::fprintf(stderr, "lumora-cli hdaq: %s\n", st.error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace lumora::cli
