// lumora-cli hdaq PORT COUNT SECONDS INTERVAL FILE
// High-rate capture of UDP PORT into FILE.dat, ending after COUNT frames or
// SECONDS seconds (0: no limit), buffered records written at least every
// INTERVAL seconds. An existing file is never replaced: the capture then goes
// to FILE_2.dat, FILE_3.dat, ..., and the report names the file written.
// Ctrl-C, SIGTERM or SIGHUP end the capture early and keep what was taken.
#include <atomic>
#include <cstdint>
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
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s"
                    "Captures UDP PORT into FILE.dat until COUNT frames or SECONDS seconds (0: no limit),\n"
                    "writing buffered records out at least every INTERVAL seconds. Missing folders of FILE\n"
                    "are created; an existing FILE.dat is kept and the capture goes to FILE_2.dat, ...\n"
                    "Ctrl+C, SIGTERM or SIGHUP end it early and keep what was taken. A FILE of several\n"
                    "words is joined with blanks.\n"
                    "Exit status 1 when the capture could not be made or a frame was lost, 2 for a usage error.\n",
                    usage);
        return 0;
    }
    if (args.size() < 5) {
        std::fputs(usage, stderr);
        return 2;
    }
    long long port = 0, count = 0, seconds = 0, interval = 0;
    if (!ReadWholeNumber("hdaq", "PORT", args[0], 0, 65535, &port) ||
        !ReadWholeNumber("hdaq", "COUNT", args[1], 0, INT64_MAX, &count) ||
        !ReadWholeNumber("hdaq", "SECONDS", args[2], 0, INT32_MAX, &seconds) ||
        !ReadWholeNumber("hdaq", "INTERVAL", args[3], 0, INT32_MAX, &interval)) {
        std::fputs(usage, stderr);
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
    CatchStopSignals(OnSignal);

    std::printf("hdaq: listening on UDP port %u, receive buffer %d bytes, writing %s\n", capture.Port(),
                capture.ReceiveBufferBytes(), capture.Path().c_str());
    std::printf("hdaq: until %lld frames or %lld s (0: no limit), flushing every %lld s\n", count, seconds, interval);
    std::fflush(stdout);

    HighSpeedCaptureStats st = capture.Run();
    double rate = st.seconds > 0 ? st.datagrams / st.seconds : 0;
    // Only what reached the file counts as captured.
    std::printf("frames captured: %llu\n", static_cast<unsigned long long>(st.frames));
    if (st.framesLost > 0)
        std::printf("frames lost (not written): %llu\n", static_cast<unsigned long long>(st.framesLost));
    std::printf("frames dropped by the system: %llu\n", static_cast<unsigned long long>(st.kernelDrops));
    std::printf("datagrams: %llu (%.0f/s), not frames: %llu, too long: %llu\n",
                static_cast<unsigned long long>(st.datagrams), rate,
                static_cast<unsigned long long>(st.skippedDatagrams),
                static_cast<unsigned long long>(st.truncatedDatagrams));
    std::printf("bytes written: %llu in %.3f s%s\n", static_cast<unsigned long long>(st.bytesWritten), st.seconds,
                g_interrupted.load() ? " (interrupted)" : "");
    std::printf("file written: %s\n", capture.Path().c_str());
    std::fflush(stdout);
    if (!st.error.empty()) std::fprintf(stderr, "lumora-cli hdaq: %s\n", st.error.c_str());
    return st.error.empty() && st.framesLost == 0 ? 0 : 1;
}

}  // namespace lumora::cli
