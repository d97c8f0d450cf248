// lumora-cli replay: a recording played into a second recording gives the
// same datagrams in the same order.
#include <gtest/gtest.h>

#include <vector>

#include "conversion/recording_player.h"
#include "support/child_process.h"
#include "core/recording/test_window_port.h"

namespace lumora {
namespace {

using test::Child;
using test::ReadAll;
using test::ReadLine;
using test::Spawn;
using test::TempDir;
using test::WaitExit;
using test::WaitUntil;
using Datagrams = std::vector<std::vector<uint8_t>>;

Datagrams DatagramsOf(const std::string& dir) {
    Datagrams out;
    for (const std::string& file : test::DatFiles(dir)) {
        RecordingReader reader;
        std::string error;
        EXPECT_TRUE(reader.Open(file, error)) << error;
        RecordedDatagram d;
        while (reader.Next(d)) out.emplace_back(d.data, d.data + d.length);
    }
    return out;
}

// Records into dir while feed() runs; returns once `datagrams` have arrived
// and the recorder has ended.
template <typename Feed>
void Record(const std::string& dir, const std::vector<std::string>& options, long datagrams, Feed feed) {
    std::vector<std::string> args = {LUMORA_CLI_PATH, "record", "--port", "0", "--dir", dir, "--seconds", "120"};
    args.insert(args.end(), options.begin(), options.end());
    Child rec = Spawn(dir, args, dir + "/record.err");
    const std::string line = ReadLine(rec.out, 30);
    ASSERT_EQ(line.rfind("listening on UDP port ", 0), 0u) << line;
    feed(line.substr(22));
    // The once-a-second status line tells when everything is in.
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadAll(dir + "/record.err").find(", datagrams " + std::to_string(datagrams) + "\n") !=
                     std::string::npos; },
        20))
        << ReadAll(dir + "/record.err");
    ::kill(rec.pid, SIGTERM);
    EXPECT_EQ(WaitExit(rec.pid, 30), 0);
    ::close(rec.out);
}

int RunCli(const std::string& dir, std::vector<std::string> args) {
    Child c = Spawn(dir, args);
    const int rc = WaitExit(c.pid, 60);
    ::close(c.out);
    return rc;
}

TEST(Replay, SameDatagramsInTheSameOrder) {
    constexpr int kFrames = 40;
    const struct {
        const char* name;
        std::vector<std::string> simulate, record, replay;
    } kinds[] = {
        // The recorder appends a trailer to frames without one; replay takes it off.
        {"binary", {"--trailer", "0"}, {}, {"--speed", "100"}},
        // Frames with a trailer of their own, kept as they came.
        {"binary with trailer", {"--trailer", "1"}, {"--counter", "0", "--local-time", "0"}, {"--rate", "2000"}},
        // Text lines lose the SysTime wrapping.
        {"text", {"--mode", "text"}, {"--str-format"}, {"--rate", "2000"}},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        TempDir first, second;
        Record(first.Path(), kind.record, kFrames, [&](const std::string& port) {
            std::vector<std::string> sim = {LUMORA_CLI_PATH, "simulate", "--port", port, "--count",
                                            std::to_string(kFrames), "--rate", "400", "--cmd-port", "0", "--quiet"};
            sim.insert(sim.end(), kind.simulate.begin(), kind.simulate.end());
            EXPECT_EQ(RunCli(first.Path(), sim), 0);
        });
        const Datagrams recorded = DatagramsOf(first.Path());
        ASSERT_EQ(recorded.size(), size_t(kFrames));

        const std::string file = test::DatFiles(first.Path()).at(0);
        Record(second.Path(), kind.record, static_cast<long>(recorded.size()), [&](const std::string& port) {
            std::vector<std::string> replay = {LUMORA_CLI_PATH, "replay", file, "--port", port};
            replay.insert(replay.end(), kind.replay.begin(), kind.replay.end());
            EXPECT_EQ(RunCli(second.Path(), replay), 0);
        });
        const Datagrams replayed = DatagramsOf(second.Path());

        // Every frame of a run is recorded, the last one included.
        ASSERT_EQ(replayed.size(), recorded.size());
        EXPECT_TRUE(replayed == recorded);
    }
}

TEST(Replay, BadArgumentsAndUnreadableFiles) {
    TempDir dir;
    EXPECT_EQ(RunCli(dir.Path(), {LUMORA_CLI_PATH, "replay"}), 2);
    EXPECT_EQ(RunCli(dir.Path(), {LUMORA_CLI_PATH, "replay", "x.dat", "--speed", "2", "--rate", "10"}), 2);
    EXPECT_EQ(RunCli(dir.Path(), {LUMORA_CLI_PATH, "replay", "x.dat", "--speed", "500"}), 2);
    EXPECT_EQ(RunCli(dir.Path(), {LUMORA_CLI_PATH, "replay", dir.Path() + "/missing.dat"}), 1);
}

}  // namespace
}  // namespace lumora
