// lumora-cli replay: a recording played into a second recording gives the
// same datagrams in the same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "conversion/recorded_file_reader.h"
#include "conversion/recording_player.h"
#include "support/child_process.h"
#include "core/recording/test_window_port.h"
#include "allocation_failure.h"
#include "platform/udp_socket.h"

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

int RunCli(const std::string& dir, std::vector<std::string> args, const std::string& errPath = "/dev/null") {
    Child c = Spawn(dir, args, errPath);
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

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A socket on 127.0.0.1 that counts the datagrams that reach it.
class Listener {
public:
    Listener() {
        socket_.Create();
        socket_.Bind(0, "127.0.0.1");
        socket_.SetReceiveTimeout(50);
    }
    std::string Port() const { return std::to_string(socket_.LocalPort()); }
    // Waits up to seconds for the count to reach want; the count then.
    int Await(int want, double seconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        char buffer[65536];
        while (count_ < want && std::chrono::steady_clock::now() < until) {
            if (socket_.ReceiveFrom(buffer, sizeof buffer) >= 0) ++count_;
        }
        return count_;
    }

private:
    UdpSocket socket_;
    int count_ = 0;
};

TEST(Replay, RefusesWhatIsNoRecordingBeforeSendingAnything) {
    TempDir dir;
    Listener listener;
    const std::string d = dir.Path();
    WriteText(d + "/passwd.dat", "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n");
    std::mt19937 random(3);
    std::string noise(200 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    noise[0] = 'x';
    WriteText(d + "/noise.dat", noise);
    WriteText(d + "/pieces.dat", "\xFF\xFF\xFF\xFF" + noise + "\xFE\xFE\xFE\xFE");
    // One good record first: nothing at all is sent.
    WriteText(d + "/mixed.dat", "{\"Time\":1700000000,\"Counter\":1}\nnot json\n");
    for (const char* name : {"passwd.dat", "noise.dat", "pieces.dat", "mixed.dat"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(RunCli(d, {LUMORA_CLI_PATH, "replay", d + "/" + name, "--port", listener.Port(), "--rate", "1000"},
                         d + "/err"),
                  1);
        EXPECT_NE(ReadAll(d + "/err").find(name + std::string(" is not a recording")), std::string::npos)
            << ReadAll(d + "/err");
    }
    EXPECT_EQ(RunCli(d, {LUMORA_CLI_PATH, "replay", "/nonexistent.dat"}, d + "/err"), 1);
    EXPECT_NE(ReadAll(d + "/err").find("/nonexistent.dat does not exist"), std::string::npos) << ReadAll(d + "/err");
    EXPECT_EQ(listener.Await(1, 0.5), 0);
}

// Options out of range are refused with the range; a host name is resolved
// once; due times never overflow, whatever the rate or the recorded times.
TEST(Replay, OptionsAndExtremePaces) {
    TempDir dir;
    const std::string d = dir.Path();
    Listener listener;
    const std::string file = d + "/t.dat";
    WriteText(file, "{\"Time\":1e999}\n{\"Time\":-1e999}\n{\"Time\":1e999}\n{\"Time\":1700000000}\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--rate", "1e-10"}, "--rate must be a number from 1e-06 to 1000000000, not '1e-10'"},
        {{"--speed", "0x10"}, "--speed must be a number from 0.1 to 100, not '0x10'"},
        {{"--speed", "500"}, "--speed must be a number from 0.1 to 100, not '500'"},
        {{"--port", "0x10"}, "--port must be a whole number from 1 to 65535, not '0x10'"},
    };
    for (const auto& [options, message] : refused) {
        std::vector<std::string> args = {LUMORA_CLI_PATH, "replay", file};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(RunCli(d, args, d + "/err"), 2) << message;
        EXPECT_NE(ReadAll(d + "/err").find(message), std::string::npos) << ReadAll(d + "/err");
    }
    EXPECT_EQ(RunCli(d, {LUMORA_CLI_PATH, "replay", file, "--to", "no-such-host.invalid"}, d + "/err"), 1);
    EXPECT_NE(ReadAll(d + "/err").find("cannot resolve no-such-host.invalid"), std::string::npos);

    // A datagram that cannot be sent (larger than UDP carries) ends the
    // replay at once, with the reason; the frames after it are not sent.
    WriteText(d + "/big.dat", "{\"Pad\":\"" + std::string(70000, 'x') + "\"}\n{\"Time\":1700000000}\n");
    EXPECT_EQ(RunCli(d, {LUMORA_CLI_PATH, "replay", d + "/big.dat", "--port", listener.Port()}, d + "/err"), 1);
    EXPECT_NE(ReadAll(d + "/err").find("cannot send to 127.0.0.1:" + listener.Port() + ": Message too long"),
              std::string::npos)
        << ReadAll(d + "/err");
    EXPECT_EQ(listener.Await(1, 0.5), 0);

    // Times that are no finite number make no pause.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunCli(d, {LUMORA_CLI_PATH, "replay", file, "--to", "localhost", "--port", listener.Port()}), 0);
    EXPECT_EQ(listener.Await(4, 30), 4);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // The slowest rate sends the first frame at once and the next days later.
    Child slow = Spawn(d, {LUMORA_CLI_PATH, "replay", file, "--port", listener.Port(), "--rate", "1e-6"});
    EXPECT_EQ(listener.Await(5, 30), 5);
    EXPECT_EQ(listener.Await(6, 1), 5);
    ::kill(slow.pid, SIGTERM);
    EXPECT_EQ(ReadLine(slow.out, 30), "frames sent 1");
    EXPECT_EQ(WaitExit(slow.pid, 30), 0);
    ::close(slow.out);
}

TEST(Replay, AFileThatChangesWhileItPlaysEndsTheReplay) {
    TempDir dir;
    const std::string d = dir.Path();
    Listener listener;
    std::string lines;
    for (int i = 0; i < 400; ++i) lines += "{\"Time\":" + std::to_string(1700000000 + i) + ",\"Counter\":1}\n";
    WriteText(d + "/t.dat", lines);
    Child replay = Spawn(d, {LUMORA_CLI_PATH, "replay", d + "/t.dat", "--port", listener.Port(), "--rate", "20"},
                         d + "/err");
    ASSERT_EQ(listener.Await(3, 30), 3);
    std::filesystem::resize_file(d + "/t.dat", lines.size() / 2);
    EXPECT_EQ(WaitExit(replay.pid, 30), 1);
    ::close(replay.out);
    EXPECT_NE(ReadAll(d + "/err").find("t.dat changed while it was read"), std::string::npos) << ReadAll(d + "/err");
    EXPECT_LT(listener.Await(400, 0.2), 100);
}

// The worker that plays runs out of memory: the replay ends with a reason.
TEST(Replay, NoMemoryEndsTheReplayWithAReason) {
    TempDir dir;
    const std::string file = dir.Path() + "/huge.dat";
    WriteText(file, "{\"Time\":1}\n{\"SN\":\"" + std::string(12u << 20, 'x') + "\"}\n");
    Listener listener;
    ReplayOptions options;
    options.port = static_cast<uint16_t>(std::stoi(listener.Port()));
    RecordingPlayer player;
    std::string error;
    test::FailNextAllocationFrom(4u << 20);
    ASSERT_TRUE(player.Start({file}, options, error)) << error;
    player.Wait();
    EXPECT_EQ(test::PendingAllocationFailure(), 0u) << "the failure was injected";
    test::FailNextAllocationFrom(0);
    EXPECT_NE(player.Error().find("not enough memory"), std::string::npos) << player.Error();
    EXPECT_EQ(player.Sent(), 0u);
}

// Text datagrams that end in CR LF or LF or are pretty-printed are recorded as
// one line each, convert to one row each and replay as one datagram each; so
// does a recording made while such breaks were still written as they came.
TEST(Replay, TextDatagramsWithLineBreaksStayOneRecordEach) {
    const std::string frame = "{\"Time\":1700000000,\"Counter\":%d,\"SN\":\"A\",\"Data\":[[1,1,1,1551000,51000,1001]]}";
    auto numbered = [&](int n) {
        std::string s = frame;
        s.replace(s.find("%d"), 2, std::to_string(n));
        return s;
    };
    std::string pretty = numbered(3);
    for (size_t at = 0; (at = pretty.find(',', at)) != std::string::npos; at += 3) pretty.replace(at, 1, ",\n  ");
    const std::vector<std::string> datagrams = {numbered(1) + "\r\n", numbered(2) + "\n", pretty, numbered(4)};
    auto blanked = [](std::string s) {
        for (char& c : s)
            if (c == '\r' || c == '\n') c = ' ';
        return s;
    };
    auto bare = [](std::string s) {
        s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\r' || c == '\n'; }), s.end());
        return s;
    };
    TempDir first, old, replayed;
    Record(first.Path(), {"--str-format"}, 4, [&](const std::string& port) {
        UdpSocket tx;
        ASSERT_TRUE(tx.Create());
        for (const std::string& g : datagrams) tx.SendTo(g.data(), g.size(), "127.0.0.1", static_cast<uint16_t>(std::stoi(port)));
    });
    const std::string file = test::DatFiles(first.Path()).at(0);
    const std::string text = ReadAll(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;

    // A recording of the same datagrams made while line breaks were still
    // written as they came.
    std::string lines;
    for (const std::string& g : datagrams) lines += "{\"SysTime\":[1700000000,0],\"SysData\":" + g + "}\n";
    WriteText(old.Path() + "/old.dat", lines);
    for (const std::string& source : {file, old.Path() + "/old.dat"}) {
        SCOPED_TRACE(source);
        ConversionContext ctx(old.Path() + "/Lumora.ini");
        ASSERT_EQ(ConvertFile(ctx, source), kConvertOk);
        const std::string csv = ReadAll(source.substr(0, source.size() - 4) + "-1.csv");
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5) << csv;
        const Datagrams read = DatagramsOf(std::filesystem::path(source).parent_path().string());
        ASSERT_EQ(read.size(), datagrams.size());
        for (size_t i = 0; i < read.size(); ++i) EXPECT_EQ(bare(std::string(read[i].begin(), read[i].end())), bare(datagrams[i]));
    }

    // Played into a second recorder, the datagrams arrive as recorded.
    Record(replayed.Path(), {"--str-format"}, 4, [&](const std::string& port) {
        EXPECT_EQ(RunCli(replayed.Path(), {LUMORA_CLI_PATH, "replay", file, "--port", port, "--rate", "1000"}), 0);
    });
    const Datagrams again = DatagramsOf(replayed.Path());
    ASSERT_EQ(again.size(), datagrams.size());
    for (size_t i = 0; i < again.size(); ++i) EXPECT_EQ(std::string(again[i].begin(), again[i].end()), blanked(datagrams[i]));
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
