// High-speed capture and its CSV conversion over loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "recording/high_speed_capture.h"
#include "recording/high_speed_convert.h"
#include "recording/raw_recorder.h"
#include "support/waits.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class HighSpeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumora_hs_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static Bytes ReadFile(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static std::vector<std::string> ReadLines(const fs::path& p) {
        std::ifstream in(p);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    static void Send(UdpSocket& s, uint16_t port, const Bytes& b) {
        ASSERT_TRUE(s.SendTo(b.data(), b.size(), "127.0.0.1", port));
    }

    HighSpeedCaptureOptions Options(const std::string& name) {
        HighSpeedCaptureOptions o;
        o.port = 0;
        o.bindAddress = "127.0.0.1";
        o.path = (dir_ / name).string();
        o.maxSeconds = 20;  // bound for every test; the frame limit ends them sooner
        return o;
    }

    fs::path dir_;
};

// Reads the FIFO at path until its writer closes it. Once the first bytes
// are in, the writer is held in the middle of its output (the FIFO is full)
// and whileHeld runs. False when nothing came within 30 s.
bool DrainFifo(const fs::path& path, const std::function<void()>& whileHeld) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    bool started = false;
    char buf[65536];
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        ssize_t n = ::read(fd, buf, started ? sizeof buf : 16);
        if (n > 0 && !started) {
            started = true;
            whileHeld();
        } else if (n == 0 && started) {
            ::close(fd);
            return true;
        }
    }
    ::close(fd);
    return false;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(HighSpeedFrames, DatagramsAreCutAtEveryMarkerAndNonFramesYieldNothing) {
    Bytes a = EncodeWavelengthFrame({2}, {10, 20});
    Bytes b = EncodeWavelengthFrame({1, 1}, {30, 40});
    Bytes both = Concat({a, b, {0xFF, 0xFF}});  // a trailing bare marker is no frame
    std::vector<Bytes> got;
    int n = ForEachFrame(both.data(), both.size(), [&](const uint8_t* f, size_t len) { got.emplace_back(f, f + len); });
    EXPECT_EQ(n, 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], a);
    EXPECT_EQ(got[1], b);

    Bytes text = {'{', '}'};
    EXPECT_EQ(ForEachFrame(text.data(), text.size(), [](const uint8_t*, size_t) { FAIL(); }), 0);
    Bytes marker = {0xFF, 0xFF};
    EXPECT_EQ(ForEachFrame(marker.data(), marker.size(), [](const uint8_t*, size_t) { FAIL(); }), 0);
    // Three 0xFF in a row: the third is the flags byte of the next frame.
    Bytes ff3 = {0xFF, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x02};
    got.clear();
    ForEachFrame(ff3.data(), ff3.size(), [&](const uint8_t* f, size_t len) { got.emplace_back(f, f + len); });
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], (Bytes{0xFF, 0xFF, 0xFF, 0x02}));
}

TEST(HighSpeedFrames, DataPathJoinsWordsAndTakesBackslashesAsSeparators) {
    EXPECT_EQ(HighSpeedDataPath(".\\Data2\\test", ".dat"), "./Data2/test.dat");
    EXPECT_EQ(HighSpeedDataPath("run 1", ".csv"), "run 1.csv");
    EXPECT_EQ(HighSpeedDataPath("x.dat", ".dat"), "x.dat");
}

TEST_F(HighSpeedTest, CaptureWritesRecorderRecordsAndConvertTabulatesThem) {
    HighSpeedCaptureOptions o = Options("cap.dat");
    o.maxFrames = 5;
    HighSpeedCapture cap(o);
    std::string err;
    ASSERT_TRUE(cap.Open(&err)) << err;
    ASSERT_NE(cap.Port(), 0);
    EXPECT_GT(cap.ReceiveBufferBytes(), 212992);

    HighSpeedCaptureStats st;
    std::thread runner([&] { st = cap.Run(); });

    TrailerFields own;
    own.sn = "SA1";
    own.time = 1700000000;
    own.microseconds = 250000;
    own.counter = 77;
    own.channelOffset = 4;
    Bytes plain = EncodeWavelengthFrame({2, 1}, {100, 200, 300});          // gets the capture's trailer
    Bytes withOwn = EncodeWavelengthFrame({1, 2}, {1, 2, 3}, &own, 2);     // kept as sent
    Bytes ext = EncodeWavelengthFrame({1}, {5}, nullptr, 0, true);         // flags extension
    Bytes spectrum = EncodeSpectrumFrame(3, {1, 2, 3, 4});
    UdpSocket tx;
    ASSERT_TRUE(tx.Create());
    Send(tx, cap.Port(), plain);                         // datagram 1
    Send(tx, cap.Port(), Bytes{'{', '"', 'a', '"', '}'});  // datagram 2: no frame
    Send(tx, cap.Port(), Concat({withOwn, ext}));        // datagram 3: two frames
    Send(tx, cap.Port(), spectrum);                      // datagram 4
    Send(tx, cap.Port(), plain);                         // datagram 5: the fifth frame
    Send(tx, cap.Port(), plain);                         // beyond the limit
    runner.join();

    EXPECT_TRUE(st.error.empty()) << st.error;
    EXPECT_EQ(st.frames, 5u);
    EXPECT_EQ(st.skippedDatagrams, 1u);
    EXPECT_EQ(st.kernelDrops, 0u);
    EXPECT_GE(st.datagrams, 5u);

    Bytes file = ReadFile(dir_ / "cap.dat");
    const size_t T = kTrailerSize;
    ASSERT_EQ(file.size(), 5 + plain.size() + T + withOwn.size() + ext.size() + T + spectrum.size() + T +
                               plain.size() + T);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 5), (Bytes{'L', 'M', 'R', 'A', 0x65}));
    size_t at = 5;
    auto expectRecord = [&](const Bytes& frame, bool trailer, uint32_t datagram) {
        ASSERT_LE(at + frame.size(), file.size());
        EXPECT_EQ(Bytes(file.begin() + at, file.begin() + at + frame.size()), frame);
        at += frame.size();
        if (!trailer) return;
        const uint8_t* t = file.data() + at;
        EXPECT_EQ(t[0], 0xFE);
        EXPECT_EQ(t[5], 'X');
        uint32_t count = t[36] | t[37] << 8 | t[38] << 16 | static_cast<uint32_t>(t[39]) << 24;
        EXPECT_EQ(count, datagram) << "trailer counter is the datagram's number";
        int32_t sec = t[28] | t[29] << 8 | t[30] << 16 | t[31] << 24;
        EXPECT_NEAR(sec, static_cast<double>(time(nullptr)), 60);
        EXPECT_EQ(t[48] & t[49] & t[50] & t[51], 0xFD);
        at += T;
    };
    expectRecord(plain, true, 1);
    expectRecord(withOwn, false, 3);
    expectRecord(ext, true, 3);
    expectRecord(spectrum, true, 4);
    expectRecord(plain, true, 5);

    // The table: spectra left out, offsets applied, the frame's own channel
    // offset honoured.
    HighSpeedConvertOptions c;
    c.wavelengthOffset = 1000;
    c.channelOffset = 10;
    c.input = (dir_ / "cap.dat").string();
    c.output = (dir_ / "cap.csv").string();
    HighSpeedConvertStats cs = ConvertHighSpeedFile(c);
    ASSERT_TRUE(cs.error.empty()) << cs.error;
    EXPECT_EQ(cs.frames, 4u);
    EXPECT_EQ(cs.spectrumRecords, 1u);
    EXPECT_EQ(cs.invalidRecords, 0u);
    std::vector<std::string> rows = ReadLines(dir_ / "cap.csv");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], "Time,Counter,Channel 1,Value 1,Channel 2,Value 2,Channel 3,Value 3");
    auto tail = [](const std::string& row) { return row.substr(row.find(',') + 1); };
    EXPECT_EQ(tail(rows[1]), "1,11,1100,11,1200,12,1300");
    EXPECT_EQ(tail(rows[2]), "77,15,1001,16,1002,16,1003");
    EXPECT_NE(rows[2].find(".250000,"), std::string::npos);
    EXPECT_EQ(tail(rows[3]), "3,11,1005");
    EXPECT_EQ(tail(rows[4]), "5,11,1100,11,1200,12,1300");
}

TEST_F(HighSpeedTest, TimeLimitEndsAQuietCaptureAndIntervalFlushesWhileRunning) {
    ManualClock clock(5'000'000);
    HighSpeedCaptureOptions o = Options("quiet.dat");
    o.maxSeconds = 0.3;
    o.clock = &clock;
    HighSpeedCapture quiet(o);
    std::string err;
    ASSERT_TRUE(quiet.Open(&err)) << err;
    HighSpeedCaptureStats st;
    std::atomic<bool> ended{false};
    std::thread quietRunner([&] {
        st = quiet.Run();
        ended = true;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return quiet.Started(); }));
    clock.Advance(299);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a few 100 ms polls
    EXPECT_FALSE(ended.load());
    clock.Advance(1);
    EXPECT_TRUE(test::WaitUntil([&] { return ended.load(); }));
    if (!ended) quiet.Stop();
    quietRunner.join();
    EXPECT_NEAR(st.seconds, 0.3, 1e-6);
    EXPECT_EQ(st.frames, 0u);
    EXPECT_EQ(ReadFile(dir_ / "quiet.dat"), (Bytes{'L', 'M', 'R', 'A', 0x65}));

    // Records reach the file while the capture still runs, once the interval
    // has passed on the capture's clock.
    HighSpeedCaptureOptions f = Options("flush.dat");
    f.flushIntervalSeconds = 0.2;
    f.clock = &clock;
    f.maxSeconds = 0;  // the clock moves on below; only Stop ends this one
    HighSpeedCapture cap(f);
    ASSERT_TRUE(cap.Open(&err)) << err;
    std::thread runner([&] { st = cap.Run(); });
    ASSERT_TRUE(test::WaitUntil([&] { return cap.Started(); }));
    UdpSocket tx;
    ASSERT_TRUE(tx.Create());
    Bytes frame = EncodeWavelengthFrame({3}, {1, 2, 3});
    for (int i = 0; i < 10; ++i) Send(tx, cap.Port(), frame);
    const uintmax_t whole = 5 + 10 * (frame.size() + kTrailerSize);
    EXPECT_TRUE(test::WaitUntil([&] {
        clock.Advance(200);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return fs::file_size(dir_ / "flush.dat") == whole;
    })) << "buffered records not written while running";
    cap.Stop();
    runner.join();
    EXPECT_EQ(st.frames, 10u);
    EXPECT_TRUE(st.error.empty());
}

TEST_F(HighSpeedTest, DropsOfAnOverfullSocketAreCounted) {
    HighSpeedCaptureOptions o = Options("drops.dat");
    o.requestedReceiveBuffer = 1;  // the system's smallest buffer
    o.maxSeconds = 0.5;
    HighSpeedCapture cap(o);
    std::string err;
    ASSERT_TRUE(cap.Open(&err)) << err;
    UdpSocket tx;
    ASSERT_TRUE(tx.Create());
    Bytes frame = EncodeWavelengthFrame({10}, std::vector<uint16_t>(10, 7));
    frame.resize(1200, 0);  // larger datagrams fill the buffer sooner
    const int sent = 400;
    // Nobody is receiving yet, so the socket buffer overflows.
    for (int i = 0; i < sent; ++i) Send(tx, cap.Port(), frame);
    HighSpeedCaptureStats st = cap.Run();
    if (cap.ReceiveBufferBytes() > 400 * 4096) GTEST_SKIP() << "the system would not make the buffer small";
    EXPECT_GT(st.kernelDrops, 0u);
    EXPECT_EQ(st.datagrams + st.kernelDrops, static_cast<uint64_t>(sent));
}

TEST_F(HighSpeedTest, OpenFailsCleanlyOnABusyPortOrAnUncreatableFile) {
    UdpSocket busy;
    ASSERT_TRUE(busy.Create());
    ASSERT_TRUE(busy.Bind(0, "127.0.0.1"));
    HighSpeedCaptureOptions o = Options("x.dat");
    o.port = busy.LocalPort();
    HighSpeedCapture a(o);
    std::string err;
    EXPECT_FALSE(a.Open(&err));
    EXPECT_NE(err.find("bind"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "x.dat"));
    EXPECT_FALSE(a.Run().error.empty());

    HighSpeedCaptureOptions p = Options("no/such/folder/x.dat");
    HighSpeedCapture b(p);
    EXPECT_FALSE(b.Open(&err));
    EXPECT_NE(err.find("cannot create"), std::string::npos);

    std::string why;
    EXPECT_TRUE(MakeParentDirectories((dir_ / "made/deeper/x.dat").string(), &why));
    EXPECT_TRUE(fs::is_directory(dir_ / "made/deeper"));
}

TEST_F(HighSpeedTest, ConvertSurvivesDamagedAndForeignFiles) {
    auto write = [&](const std::string& name, const Bytes& b) {
        std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                           static_cast<std::streamsize>(b.size()));
        return (dir_ / name).string();
    };
    auto convert = [&](const std::string& in) {
        HighSpeedConvertOptions c;
        c.input = in;
        c.output = in + ".csv";
        return ConvertHighSpeedFile(c);
    };
    TrailerFields t;
    t.time = 1700000000;
    t.counter = 65535;  // its bytes hold 0xFF 0xFF: no record boundary
    Bytes good = EncodeWavelengthFrame({2}, {1, 2}, &t);
    Bytes bad = good;
    bad[5] = 9;  // announces more values than the record holds
    Bytes header = {'L', 'M', 'R', 'A', 0x65};
    // Garbage before a record, a malformed record, a good one, and an
    // unfinished record at the end (a capture cut short).
    std::string in = write("mixed.dat", Concat({header, {1, 2, 3}, bad, good, Bytes(good.begin(), good.end() - 10)}));
    HighSpeedConvertStats st = convert(in);
    ASSERT_TRUE(st.error.empty()) << st.error;
    EXPECT_EQ(st.frames, 1u);
    EXPECT_EQ(st.invalidRecords, 2u);  // the malformed record, and the leftovers
    std::vector<std::string> rows = ReadLines(in + ".csv");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[1].find(",65535,1,1510001,1,1510002"), std::string::npos) << rows[1];

    EXPECT_FALSE(convert(write("text.dat", {'{', '}', '\n'})).error.empty());
    EXPECT_FALSE(convert(write("other.dat", {'L', 'M', 'R', 'A', 0x66, 0xFF, 0xFF})).error.empty());
    EXPECT_FALSE(convert(write("empty.dat", {})).error.empty());
    EXPECT_FALSE(convert((dir_ / "missing.dat").string()).error.empty());
    // A header alone converts to a header row alone.
    HighSpeedConvertStats none = convert(write("header.dat", header));
    EXPECT_TRUE(none.error.empty());
    EXPECT_EQ(ReadLines(write("header.dat", header) + ".csv"), (std::vector<std::string>{"Time,Counter"}));
}

TEST_F(HighSpeedTest, CaptureKeepsEarlierFilesAndConvertSurvivesASourceThatChanges) {
    // An earlier capture of the same name stays as it is; the new one takes
    // the next free name and says so.
    std::ofstream(dir_ / "run.dat") << "earlier";
    std::ofstream(dir_ / "run_2.dat") << "earlier too";
    HighSpeedCaptureOptions o = Options("run.dat");
    o.maxSeconds = 0.2;
    HighSpeedCapture cap(o);
    std::string err;
    ASSERT_TRUE(cap.Open(&err)) << err;
    EXPECT_EQ(cap.Path(), (dir_ / "run_3.dat").string());
    EXPECT_TRUE(cap.Run().error.empty());
    EXPECT_EQ(ReadFile(dir_ / "run.dat").size(), 7u);
    EXPECT_EQ(ReadFile(dir_ / "run_2.dat").size(), 11u);
    EXPECT_EQ(ReadFile(dir_ / "run_3.dat"), (Bytes{'L', 'M', 'R', 'A', 0x65}));

    // The table goes to a FIFO in place of "<name>.csv.part", so the
    // conversion is held in mid-run while its source shrinks or grows.
    TrailerFields t;
    t.time = 1700000000;
    const Bytes frame = EncodeWavelengthFrame({8, 8, 8, 8}, std::vector<uint16_t>(32, 500), &t);
    auto convertWhile = [&](const std::string& name, size_t bytes, const std::function<void(const fs::path&)>& change) {
        Bytes body = {'L', 'M', 'R', 'A', 0x65};
        while (body.size() < bytes) body.insert(body.end(), frame.begin(), frame.end());
        const fs::path in = dir_ / (name + ".dat");
        std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(body.data()), body.size());
        const fs::path part = dir_ / (name + ".csv.part");
        EXPECT_EQ(::mkfifo(part.c_str(), 0600), 0);
        HighSpeedConvertOptions c;
        c.input = in.string();
        c.output = (dir_ / (name + ".csv")).string();
        HighSpeedConvertStats st;
        std::thread converter([&] { st = ConvertHighSpeedFile(c); });
        EXPECT_TRUE(DrainFifo(part, [&] { change(in); }));
        converter.join();
        EXPECT_FALSE(fs::exists(c.output)) << "an unfinished table never takes the final name";
        return st;
    };
    // Larger than one read: the next read finds the file cut short.
    HighSpeedConvertStats shrank = convertWhile("shrinks", 6u << 20, [](const fs::path& in) { fs::resize_file(in, 1000); });
    EXPECT_NE(shrank.error.find("shrank"), std::string::npos) << shrank.error;
    EXPECT_GT(shrank.frames, 0u);
    HighSpeedConvertStats grew = convertWhile("grows", 1u << 20, [&](const fs::path& in) {
        std::ofstream(in, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(frame.data()),
                                                                  frame.size());
    });
    EXPECT_NE(grew.error.find("grew"), std::string::npos) << grew.error;
}

}  // namespace
}  // namespace lumora
