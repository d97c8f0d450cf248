// The receive session and the recorder together, fed over loopback; the .dat
// files are read back and compared byte for byte.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "acquisition/frame_encoder.h"
#include "acquisition/receive_session.h"
#include "window/string_table.h"
#include "core/recording/test_window_port.h"
#include "recording/raw_recorder.h"
#include "settings/settings_store.h"
#include "support/child_process.h"

namespace lumora {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Child;
using test::DatFiles;
using test::ReadBytes;
using test::ReadLine;
using test::ReadText;
using test::Spawn;
using test::TempDir;
using test::TestWindowPort;
using test::WaitExit;
using test::WaitUntil;

const Bytes kHeader = {'L', 'M', 'R', 'A', 0x65};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

void PutLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

uint32_t Le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

Bytes TrailerFrame(int32_t counter) {
    TrailerFields f;
    f.sn = "LOOP-1";
    f.time = 1600000000;
    f.microseconds = 5000;
    f.counter = counter;
    return EncodeWavelengthFrame({3, 1}, {10, 20, 30, 40}, &f);
}

class LoopbackTest : public ::testing::Test {
protected:
    LoopbackTest()
        : settings(dir.Path() + "/Lumora.ini"),
          recorder(&window, clock),
          session(state, recorder, settings, window, clock) {
        recorder.SetDirectory(dir.Path());
        recorder.SetFilePrefix("loop");
        session.SetPortText("0");
        session.SetRecordEnabled(true);
        sender.Create();
    }
    ~LoopbackTest() override { session.Stop(); }

    void Send(const Bytes& b) { ASSERT_TRUE(sender.SendTo(b.data(), b.size(), "127.0.0.1", session.BoundPort())); }
    // Sends a datagram and waits until the recorder holds `records` records
    // in its current file.
    void SendUntilRecords(const Bytes& b, uint32_t records) {
        Send(b);
        ASSERT_TRUE(WaitUntil([&] { return recorder.RecordsInFile() == records; })) << records;
    }

    TempDir dir;
    TestWindowPort window;
    ManualClock clock{1700000000250};
    SettingsStore settings;
    AcquisitionState state;
    RawRecorder recorder;
    ReceiveSession session;
    UdpSocket sender;
};

TEST_F(LoopbackTest, BinaryRecordingWithAndWithoutOwnTrailer) {
    ASSERT_TRUE(session.Open());
    const Bytes plain = EncodeWavelengthFrame({2, 2}, {1, 2, 3, 4});
    const Bytes own = TrailerFrame(77);

    // The first datagram delivers the marker-only frame, which opens the file
    // with its header, and then its own frame, recorded at once.
    SendUntilRecords(plain, 1);
    Bytes trailer(kTrailerSize);
    BuildRecorderTrailer(trailer.data(), clock.NowMs(), 1);
    Bytes expected = Cat({kHeader, plain, trailer});

    // Each frame is stamped with the count of its own datagram.
    struct Step {
        bool counter, localTime;
    } steps[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    uint32_t records = 1;
    for (const Step& s : steps) {
        recorder.SetSaveCounter(s.counter);
        recorder.SetStampLocalTime(s.localTime);
        clock.Advance(1234);
        SendUntilRecords(own, ++records);
        const uint32_t count = session.DatagramCount();
        Bytes stamped = own;
        const size_t n = stamped.size();
        if (s.counter) PutLe32(stamped, n - 16, count);
        if (s.localTime) {
            StampTime t = ToStamp(clock.NowMs());
            PutLe32(stamped, n - 24, uint32_t(t.seconds));
            PutLe32(stamped, n - 20, uint32_t(t.microseconds));
        }
        expected = Cat({expected, stamped});
    }
    session.Close();
    std::vector<std::string> files = DatFiles(dir.Path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadBytes(files[0]), expected);
    // The decoder saw the stamped counter of the last recorded frame.
    FrameSlot latest;
    ASSERT_TRUE(state.Ring().CopyLatest(latest));
    EXPECT_EQ(latest.counter, int32_t(session.DatagramCount()));
    EXPECT_STREQ(latest.sn, "LOOP-1");
}

TEST_F(LoopbackTest, RotationAndCloseLeaveWholeFiles) {
    recorder.SetRecordsPerFile(2);
    ASSERT_TRUE(session.Open());
    std::vector<Bytes> frames;
    for (int i = 0; i < 6; ++i) frames.push_back(TrailerFrame(i + 1));
    for (const Bytes& f : frames) Send(f);
    // Every frame goes on with its own datagram, the last one included.
    ASSERT_TRUE(WaitUntil([&] { return recorder.FileNumber() == 3 && !recorder.IsFileOpen(); }));
    session.Close();

    std::vector<std::string> files = DatFiles(dir.Path());
    ASSERT_EQ(files.size(), 3u);
    auto rec = [&](int i, uint32_t count) {
        Bytes b = frames[size_t(i)];
        const size_t n = b.size();
        PutLe32(b, n - 16, count);
        StampTime t = ToStamp(clock.NowMs());
        PutLe32(b, n - 24, uint32_t(t.seconds));
        PutLe32(b, n - 20, uint32_t(t.microseconds));
        return b;
    };
    EXPECT_EQ(ReadBytes(files[0]), Cat({kHeader, rec(0, 1), rec(1, 2)}));
    EXPECT_EQ(ReadBytes(files[1]), Cat({kHeader, rec(2, 3), rec(3, 4)}));
    EXPECT_EQ(ReadBytes(files[2]), Cat({kHeader, rec(4, 5), rec(5, 6)}));
    EXPECT_EQ(window.History(kFileNumberControl), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(LoopbackTest, TextRecordingWithAndWithoutSysTime) {
    session.SetStringFormat(true);
    ASSERT_TRUE(session.Open());
    TextFrameFields f;
    f.time = 1700000001;
    f.counter = 9;
    f.sn = "TXT";
    f.data.push_back({1, 1, 2, 1550123, 1.25, 7, 0, 0});
    const std::string doc = EncodeTextFrame(f);
    Send(Bytes(doc.begin(), doc.end()));
    ASSERT_TRUE(WaitUntil([&] { return recorder.RecordsInFile() == 1; }));
    recorder.SetStampLocalTime(false);
    SendUntilRecords(Bytes(doc.begin(), doc.end()), 2);
    session.Close();
    std::vector<std::string> files = DatFiles(dir.Path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadText(files[0]), "{\"SysTime\":[1700000000,250000],\"SysData\":" + doc + "}\n" + doc + "\n");
    FrameSlot latest;
    ASSERT_TRUE(state.Ring().CopyLatest(latest));
    EXPECT_EQ(latest.counter, 9);
    EXPECT_EQ(latest.readings[0].wavelength, 1550123);
}

TEST_F(LoopbackTest, CloseDuringABurstLeavesACompleteFile) {
    ASSERT_TRUE(session.Open());
    std::atomic<bool> stop{false};
    const uint16_t port = session.BoundPort();
    const Bytes f = TrailerFrame(5);
    std::thread blaster([&] {
        UdpSocket s;
        s.Create();
        while (!stop) s.SendTo(f.data(), f.size(), "127.0.0.1", port);
    });
    ASSERT_TRUE(WaitUntil([&] { return recorder.RecordsInFile() > 500; }));
    session.Close();
    const uint32_t records = recorder.RecordsInFile();
    const std::string path = recorder.LastPath();
    const auto size = std::filesystem::file_size(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    blaster.join();

    EXPECT_EQ(std::filesystem::file_size(path), size);  // nothing written after Close
    EXPECT_EQ(DatFiles(dir.Path()).size(), 1u);          // and no file opened after it
    Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), kHeader.size() + records * f.size());
    for (uint32_t i = 0; i < records; ++i) {
        const size_t at = kHeader.size() + i * f.size();
        ASSERT_EQ(file[at], 0xFF);
        ASSERT_EQ(Le32(file, at + f.size() - 4), 0xFDFDFDFDu);
    }
}

// ---- lumora-cli record with lumora-cli simulate

TEST(CliRecord, EveryFrameTheSimulatorSendsIsRecordedWithItsOwnCount) {
    const std::string cli = LUMORA_CLI_PATH;
    if (::access(cli.c_str(), X_OK) != 0) GTEST_SKIP() << "lumora-cli not built";
    for (const char* trailer : {"1", "0"}) {
        SCOPED_TRACE(std::string("--trailer ") + trailer);
        TempDir dir;
        const std::string errPath = dir.Path() + "/record.err";
        Child rec = Spawn(dir.Path(), {cli, "record", "--port", "0", "--dir", dir.Path(), "--prefix", "sim",
                                       "--seconds", "120"},
                          errPath);
        ASSERT_GT(rec.pid, 0);
        const std::string line = ReadLine(rec.out, 30);
        ASSERT_EQ(line.rfind("listening on UDP port ", 0), 0u) << line;
        const std::string port = line.substr(std::strlen("listening on UDP port "));

        Child sim = Spawn(dir.Path(), {cli, "simulate", "--port", port, "--count", "300", "--rate", "1000",
                                       "--channels", "3", "--peaks", "4", "--trailer", trailer, "--cmd-port", "0",
                                       "--quiet"});
        ASSERT_EQ(WaitExit(sim.pid, 30), 0);
        ::close(sim.out);

        // The once-a-second status line tells when all 300 datagrams are in.
        EXPECT_TRUE(WaitUntil([&] { return ReadText(errPath).find(", datagrams 300\n") != std::string::npos; }));
        ::kill(rec.pid, SIGTERM);
        EXPECT_EQ(WaitExit(rec.pid, 30), 0);
        ::close(rec.out);
        const std::string err = ReadText(errPath);
        EXPECT_NE(err.find("stopped: 300 datagrams, 1 files, 300 records written, 0 records lost\n"
                           "ignored: 0 datagrams (empty or blank), 0 cut short\n"),
                  std::string::npos)
            << err;

        // 300 datagrams, 300 records: the last one too, and each stamped with
        // the number of its own datagram.
        const size_t frameSize = 5 + 3 + 24 + kTrailerSize;
        std::vector<std::string> files = DatFiles(dir.Path());
        ASSERT_EQ(files.size(), 1u);
        Bytes file = ReadBytes(files[0]);
        ASSERT_EQ(file.size(), kHeader.size() + 300 * frameSize);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 5), kHeader);
        const std::string sn = trailer[0] == '1' ? "SIM0001" : "X";
        for (size_t i = 0; i < 300; ++i) {
            const size_t at = kHeader.size() + i * frameSize;
            ASSERT_EQ(file[at], 0xFF);
            ASSERT_EQ(file[at + 4], 3);                                    // three channels
            ASSERT_EQ(Le32(file, at + frameSize - 16), uint32_t(i + 1));  // stamped datagram count
            ASSERT_EQ(std::string(reinterpret_cast<char*>(&file[at + frameSize - 47])), sn);
        }
        // The sender's address is not written: the command line leaves the
        // settings file to the desktop program.
        EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/Lumora.ini"));
    }
}

TEST(CliRecord, BindFailureExitsWithOne) {
    const std::string cli = LUMORA_CLI_PATH;
    if (::access(cli.c_str(), X_OK) != 0) GTEST_SKIP() << "lumora-cli not built";
    UdpSocket taken;
    ASSERT_TRUE(taken.Create());
    ASSERT_TRUE(taken.Bind(0));
    TempDir dir;
    const std::string port = std::to_string(taken.LocalPort());
    const std::string errPath = dir.Path() + "/record.err";
    Child rec = Spawn(dir.Path(), {cli, "record", "--port", port, "--seconds", "5"}, errPath);
    EXPECT_EQ(WaitExit(rec.pid, 30), 1);
    EXPECT_EQ(ReadLine(rec.out, 1), "");  // no "listening" line
    ::close(rec.out);
    EXPECT_NE(ReadText(errPath).find(StringPrintf(LoadString(215, Language::English).c_str(), port.c_str())),
              std::string::npos);
}

// Frames of `lumora-cli simulate --channels 3 --peaks 4`, with their trailer.
constexpr size_t kSimFrameSize = 5 + 3 + 24 + kTrailerSize;

// Starts `lumora-cli record` into dir and returns it with its port.
Child StartRecord(const std::string& dir, const std::string& errPath, std::string& port,
                  rlim_t fileSizeLimit = RLIM_INFINITY) {
    Child rec = Spawn(dir, {LUMORA_CLI_PATH, "record", "--port", "0", "--dir", dir, "--prefix", "sim", "--seconds", "60"},
                      errPath, fileSizeLimit);
    const std::string line = ReadLine(rec.out, 30);
    if (line.rfind("listening on UDP port ", 0) != 0) return rec;
    port = line.substr(std::strlen("listening on UDP port "));
    return rec;
}

int Simulate(const std::string& dir, const std::string& port, int count) {
    Child sim = Spawn(dir, {LUMORA_CLI_PATH, "simulate", "--port", port, "--count", std::to_string(count), "--rate",
                            "300", "--channels", "3", "--peaks", "4", "--cmd-port", "0", "--quiet"});
    int code = WaitExit(sim.pid, 30);
    ::close(sim.out);
    return code;
}

// Each record's stamped datagram count, walking the file record by record;
// false when the file does not parse to its end.
bool ParseSimRecords(const Bytes& file, std::vector<uint32_t>& counts) {
    if (file.size() < kHeader.size() || Bytes(file.begin(), file.begin() + 5) != kHeader) return false;
    for (size_t at = kHeader.size(); at < file.size(); at += kSimFrameSize) {
        if (file.size() - at < kSimFrameSize || file[at] != 0xFF || file[at + 1] != 0xFF ||
            Le32(file, at + kSimFrameSize - 4) != 0xFDFDFDFDu)
            return false;
        counts.push_back(Le32(file, at + kSimFrameSize - 16));
    }
    return true;
}

TEST(CliRecord, KilledRecorderLeavesEveryHandledRecordInTheFile) {
    if (::access(LUMORA_CLI_PATH, X_OK) != 0) GTEST_SKIP() << "lumora-cli not built";
    TempDir dir;
    std::string port;
    Child rec = StartRecord(dir.Path(), "/dev/null", port);
    ASSERT_FALSE(port.empty());
    ASSERT_EQ(Simulate(dir.Path(), port, 30), 0);

    // 30 datagrams, 30 records, all in the file while the recorder runs (none
    // held back in a buffer of its own, the last frame no longer waiting).
    const size_t whole = kHeader.size() + 30 * kSimFrameSize;
    auto size = [&] {
        std::vector<std::string> files = DatFiles(dir.Path());
        return files.size() == 1 ? ReadBytes(files[0]).size() : 0;
    };
    EXPECT_TRUE(WaitUntil([&] { return size() == whole; }, 30)) << size();
    ::kill(rec.pid, SIGKILL);
    WaitExit(rec.pid, 30);
    ::close(rec.out);
    std::vector<uint32_t> counts;
    ASSERT_TRUE(ParseSimRecords(ReadBytes(DatFiles(dir.Path())[0]), counts));
    ASSERT_EQ(counts.size(), 30u);
    for (uint32_t i = 0; i < 30; ++i) EXPECT_EQ(counts[i], i + 1);
}

TEST(CliRecord, FullDiskIsReportedCountedAndLeavesWholeRecords) {
    if (::access(LUMORA_CLI_PATH, X_OK) != 0) GTEST_SKIP() << "lumora-cli not built";
    TempDir dir;
    const std::string errPath = dir.Path() + "/record.err";
    // Room for the header, 20 records and part of the 21st.
    const rlim_t limit = kHeader.size() + 20 * kSimFrameSize + kSimFrameSize / 2;
    std::string port;
    Child rec = StartRecord(dir.Path(), errPath, port, limit);
    ASSERT_FALSE(port.empty());
    ASSERT_EQ(Simulate(dir.Path(), port, 30), 0);
    ASSERT_TRUE(WaitUntil([&] { return ReadText(errPath).find("records lost 10,") != std::string::npos; }, 30))
        << ReadText(errPath);

    // Space comes back: ten more datagrams, ten more records in the same file.
    rlimit more{RLIM_INFINITY, RLIM_INFINITY};
    ASSERT_EQ(::prlimit(rec.pid, RLIMIT_FSIZE, &more, nullptr), 0);
    ASSERT_EQ(Simulate(dir.Path(), port, 10), 0);
    ASSERT_TRUE(WaitUntil([&] { return ReadText(errPath).find(", datagrams 40\n") != std::string::npos; }, 30));
    ::kill(rec.pid, SIGTERM);
    EXPECT_EQ(WaitExit(rec.pid, 30), 3);
    ::close(rec.out);

    const std::string err = ReadText(errPath);
    const std::string failure = "Cannot write the record file ";
    ASSERT_NE(err.find(failure), std::string::npos) << err;
    EXPECT_EQ(err.find(failure, err.find(failure) + 1), std::string::npos) << "reported once per file";
    EXPECT_NE(err.find("stopped: 40 datagrams, 1 files, 30 records written, 10 records lost"), std::string::npos)
        << err;
    std::vector<std::string> files = DatFiles(dir.Path());
    ASSERT_EQ(files.size(), 1u);
    std::vector<uint32_t> counts;
    ASSERT_TRUE(ParseSimRecords(ReadBytes(files[0]), counts));
    std::vector<uint32_t> expected;
    for (uint32_t c = 1; c <= 20; ++c) expected.push_back(c);   // before the disk filled
    for (uint32_t c = 31; c <= 40; ++c) expected.push_back(c);  // after space came back
    EXPECT_EQ(counts, expected);
}

}  // namespace
}  // namespace lumora
