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

void PrintReplayHelp(FILE* out) {
    std::fprintf(out,
                 "usage: lumora-cli replay FILE... [--to IP] [--port N] [--speed X | --rate F]\n"
                 "  Sends every frame of the recordings (.dat of any kind) as the instrument sent it.\n"
                 "  --to IP      destination address (127.0.0.1)\n"
                 "  --port N     destination data port (7008)\n"
                 "  --speed X    recorded pace divided by X, %.1f..%.0f (1)\n"
                 "  --rate F     F frames per second instead of the recorded pace\n",
                 RecordingPlayer::kSlowest, RecordingPlayer::kFastest);
}

bool ParsePositive(const std::string& text, double& out) {
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && out > 0 && out < 1e9;
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
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "lumora-cli replay: unknown option or missing value: %s\n", a.c_str());
            return 2;
        }
        const std::string& v = args[++i];
        long long n = 0;
        if (a == "--to") {
            o.to = v;
        } else if (a == "--port" && ParseInteger(v, &n) && n >= 1 && n <= 65535) {
            o.port = static_cast<uint16_t>(n);
        } else if (a == "--speed" && ParsePositive(v, o.speed) && o.speed >= RecordingPlayer::kSlowest &&
                   o.speed <= RecordingPlayer::kFastest) {
            haveSpeed = true;
        } else if (a == "--rate" && ParsePositive(v, o.rate)) {
            haveRate = true;
        } else {
            std::fprintf(stderr, "lumora-cli replay: bad option %s %s\n", a.c_str(), v.c_str());
            return 2;
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
    std::signal(SIGINT, OnReplaySignal);
    std::signal(SIGTERM, OnReplaySignal);
    std::fprintf(stderr, "replaying %zu file(s) to %s:%u\n", files.size(), o.to.c_str(), unsigned(o.port));
    auto nextStatus = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (player.Playing() && !g_replayStop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (std::chrono::steady_clock::now() >= nextStatus) {
            std::fprintf(stderr, "%.0f%%, %llu frames sent\n", player.Progress() * 100,
                         static_cast<unsigned long long>(player.Sent()));
            nextStatus += std::chrono::seconds(1);
        }
    }
    player.Stop();
    std::printf("frames sent %llu\n", static_cast<unsigned long long>(player.Sent()));
    if (player.SendFailures())
        std::fprintf(stderr, "lumora-cli replay: %llu frames could not be sent\n",
                     static_cast<unsigned long long>(player.SendFailures()));
    return player.SendFailures() ? 1 : 0;
}

}  // namespace lumora::cli
