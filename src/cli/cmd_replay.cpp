// lumora-cli replay: plays recordings back to a data port.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli_commands.h"
#include "cli_util.h"
#include "conversion/recording_player.h"

namespace lumora::cli {
namespace {

volatile std::sig_atomic_t g_replayStop = 0;
void OnReplaySignal(int) { g_replayStop = 1; }

constexpr double kHighestRate = 1e9;

void PrintReplayHelp(FILE* out) {
    std::fprintf(out,
                 "usage: lumora-cli replay FILE... [--to HOST] [--port N] [--speed X | --rate F]\n"
                 "  Sends every frame of the recordings (.dat of any kind) as the instrument sent it.\n"
                 "  Every file is checked to be a recording before anything is sent; a file that\n"
                 "  changes while it plays, or a frame that cannot be sent, ends the replay (exit 1).\n"
                 "  --to HOST    destination host name or IPv4 address, resolved once (127.0.0.1)\n"
                 "  --port N     destination data port, 1..65535 (7008)\n"
                 "  --speed X    recorded pace divided by X, %.1f..%.0f (1)\n"
                 "  --rate F     F frames per second instead of the recorded pace, %g..%g\n",
                 RecordingPlayer::kSlowest, RecordingPlayer::kFastest, RecordingPlayer::kLowestRate, kHighestRate);
}

// A number as it is written in decimal: digits, a point, an exponent and
// signs only (strtod would also take hexadecimal, "inf" and "nan").
bool ReadDecimalOption(const std::string& name, const std::string& text, double min, double max, double* value) {
    if (text.find_first_not_of("0123456789.eE+-") != std::string::npos) {
        std::fprintf(stderr, "lumora-cli replay: %s must be a number from %.10g to %.10g, not '%s'\n", name.c_str(),
                     min, max, text.c_str());
        return false;
    }
    return ReadDecimalNumber("replay", name, text, min, max, value);
}

}  // namespace

int RunReplay(const Args& args) {
    std::vector<std::string> files;
    ReplayOptions o;
    bool haveSpeed = false, haveRate = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            PrintReplayHelp(stdout);
            return 0;
        }
        if (a.rfind("--", 0) != 0) {
            files.push_back(a);
            continue;
        }
        if (a != "--to" && a != "--port" && a != "--speed" && a != "--rate") {
            std::fprintf(stderr, "lumora-cli replay: unknown option %s\n", a.c_str());
            return 2;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "lumora-cli replay: %s needs a value\n", a.c_str());
            return 2;
        }
        const std::string& v = args[++i];
        if (a == "--to") {
            o.to = v;
        } else if (a == "--port") {
            if (!ReadWholeNumber("replay", a, v, 1, 65535, &o.port)) return 2;
        } else if (a == "--speed") {
            if (!ReadDecimalOption(a, v, RecordingPlayer::kSlowest, RecordingPlayer::kFastest, &o.speed)) return 2;
            haveSpeed = true;
        } else {
            if (!ReadDecimalOption(a, v, RecordingPlayer::kLowestRate, kHighestRate, &o.rate)) return 2;
            haveRate = true;
        }
    }
    if (files.empty()) {
        PrintReplayHelp(stderr);
        return 2;
    }
    if (haveSpeed && haveRate) {
        std::fprintf(stderr, "lumora-cli replay: --speed and --rate exclude each other\n");
        return 2;
    }

    RecordingPlayer player;
    std::string error;
    if (!player.Start(files, o, error)) {
        std::fprintf(stderr, "lumora-cli replay: %s\n", error.c_str());
        return 1;
    }
    g_replayStop = 0;
    CatchStopSignals(OnReplaySignal);
    std::fprintf(stderr, "replaying %zu file(s) to %s:%u\n", files.size(), o.to.c_str(), unsigned(o.port));
    auto nextStatus = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (player.Playing() && !g_replayStop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (std::chrono::steady_clock::now() >= nextStatus) {
            if (player.Checking())
                std::fprintf(stderr, "checking %s\n", player.CurrentFile().c_str());
            else
                std::fprintf(stderr, "%.0f%%, %llu frames sent\n", player.Progress() * 100,
                             static_cast<unsigned long long>(player.Sent()));
            nextStatus += std::chrono::seconds(1);
        }
    }
    player.Stop();
    std::printf("frames sent %llu\n", static_cast<unsigned long long>(player.Sent()));
    const std::string failure = player.Error();
    if (!failure.empty()) {
        std::fprintf(stderr, "lumora-cli replay: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}

}  // namespace lumora::cli
