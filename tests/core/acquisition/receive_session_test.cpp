#include "acquisition/receive_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <future>
#include <new>
#include <thread>

#include "acquisition/frame_encoder.h"
#include "window/control_ids.h"
#include "window/string_table.h"
#include "core/recording/test_window_port.h"
#include "support/waits.h"
#include "settings/settings_store.h"

namespace lumora {
namespace {

using Bytes = std::vector<uint8_t>;
using test::TempDir;
using test::TestWindowPort;

// Remembers what the worker hands over for recording, and whether anything
// came after Close.
class FakeSink : public RecordSink {
public:
    int RecordData(uint8_t* data, size_t length, uint32_t count) override {
        if (throwOnRecord) throw std::bad_alloc();
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) ++afterClose_;
        records_.emplace_back(data, data + length);
        counts_.push_back(count);
        return 0;
    }
    void ResetRecordsInFile() override { resets_.fetch_add(1); }
    void Close() override {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    void Reopen() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = false;
    }
    std::vector<Bytes> Records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    std::vector<uint32_t> Counts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_;
    }
    size_t Size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }
    int AfterClose() {
        std::lock_guard<std::mutex> lock(mutex_);
        return afterClose_;
    }
    std::atomic<int> resets_{0};
    std::atomic<bool> throwOnRecord{false};

private:
    std::mutex mutex_;
    std::vector<Bytes> records_;
    std::vector<uint32_t> counts_;
    bool closed_ = false;
    int afterClose_ = 0;
};

// The counters of the decoded frames the worker hands on.
class CounterSink : public FrameSink {
public:
    void OnFrame(const FrameSlot& frame, uint32_t) override {
        std::lock_guard<std::mutex> lock(mutex_);
        counters_.push_back(frame.counter);
        counts_.push_back(frame.count);
    }
    std::vector<int32_t> Counters() {
        std::lock_guard<std::mutex> lock(mutex_);
        return counters_;
    }
    std::vector<int32_t> Counts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_;
    }

private:
    std::mutex mutex_;
    std::vector<int32_t> counters_;
    std::vector<int32_t> counts_;
};

class SessionTest : public ::testing::Test {
protected:
    SessionTest() : settings(dir.Path() + "/Lumora.ini"), session(state, sink, settings, window, clock) {
        session.SetPortText("0");
        sender.Create();
        sender.Bind(0, "127.0.0.1");
    }
    ~SessionTest() override { session.Stop(); }

    void Send(const Bytes& b) { ASSERT_TRUE(sender.SendTo(b.data(), b.size(), "127.0.0.1", session.BoundPort())); }
    void SendText(const std::string& s) {
        ASSERT_TRUE(sender.SendTo(s.data(), s.size(), "127.0.0.1", session.BoundPort()));
    }
    // Sends and waits until the worker has counted the datagram.
    void SendAndWait(const Bytes& b) {
        uint32_t before = session.DatagramCount();
        Send(b);
        ASSERT_TRUE(test::WaitUntil([&] { return session.DatagramCount() != before; }));  // it may wrap
    }
    int64_t Decoded() { return state.Ring().framesDecoded.load(); }

    TempDir dir;
    TestWindowPort window;
    ManualClock clock{1700000000000};
    SettingsStore settings;
    AcquisitionState state;
    FakeSink sink;
    ReceiveSession session;
    UdpSocket sender;
};

Bytes Frame(uint16_t v) { return EncodeWavelengthFrame({2}, {v, uint16_t(v + 1)}); }

TEST_F(SessionTest, OpenFailuresShowTheirMessageAndLeaveThePortClosed) {
    UdpSocket taken;
    ASSERT_TRUE(taken.Create());
    ASSERT_TRUE(taken.Bind(0));
    const std::string port = std::to_string(taken.LocalPort());
    session.SetPortText(port);
    EXPECT_FALSE(session.Open());
    EXPECT_FALSE(session.IsOpen());
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0], StringPrintf(LoadString(215).c_str(), port.c_str()));
    EXPECT_EQ(window.Text(IDC_OPEN_CLOSE), "");

    // A number beyond the port range is refused, not bound modulo 65536.
    session.SetPortText("70000");
    EXPECT_FALSE(session.Open());
    EXPECT_EQ(window.Messages().size(), 2u);

    // No digits: the system picks a port.
    session.SetPortText("");
    ASSERT_TRUE(session.Open());
    EXPECT_NE(session.BoundPort(), 0);
    EXPECT_EQ(window.Text(IDC_OPEN_CLOSE), LoadString(211));
    EXPECT_GT(session.GrantedSocketBuffer(), 0);
    session.Close();
    EXPECT_EQ(window.Text(IDC_OPEN_CLOSE), LoadString(212));
    EXPECT_FALSE(session.IsOpen());
    EXPECT_TRUE(session.StopRequested());
}

TEST_F(SessionTest, BinaryFramesGoOnWithTheirOwnDatagramAndRecordFollowsEnable) {
    session.SetRecordEnabled(true);
    session.LimitDatagramSize(2000);
    bool prepared = false;
    ASSERT_TRUE(session.Open([&] { prepared = true; }));
    EXPECT_TRUE(prepared);
    EXPECT_TRUE(state.m_spectrumAutoShow.load());

    const Bytes a = Frame(100), b = Frame(200), c = Frame(300);
    SendAndWait(a);
    EXPECT_EQ(sink.resets_.load(), 1);  // the worker's start
    // The first datagram completes the marker the assembler held, then its
    // own frame goes on at once: nothing waits for the next marker.
    ASSERT_TRUE(test::WaitUntil([&] { return sink.Size() == 2; }));
    EXPECT_EQ(sink.Records(), (std::vector<Bytes>{{0xFF, 0xFF}, a}));
    ASSERT_TRUE(test::WaitUntil([&] { return Decoded() == 0; }));  // a decoded: -1 -> 0
    SendAndWait(b);
    ASSERT_TRUE(test::WaitUntil([&] { return sink.Size() == 3; }));
    EXPECT_EQ(sink.Records()[2], b);

    session.SetRecordEnabled(false);
    SendAndWait(c);
    ASSERT_TRUE(test::WaitUntil([&] { return Decoded() == 2; }));  // c decoded, not recorded
    EXPECT_EQ(sink.Size(), 3u);
    // Each frame carries the number of its own datagram.
    EXPECT_EQ(sink.Counts(), (std::vector<uint32_t>{1, 1, 2}));

    // Two frames in one datagram; no empty frame at the first marker.
    session.SetRecordEnabled(true);
    Bytes two = a;
    two.insert(two.end(), b.begin(), b.end());
    SendAndWait(two);
    ASSERT_TRUE(test::WaitUntil([&] { return sink.Size() == 5; }));
    EXPECT_EQ(sink.Records()[3], a);
    EXPECT_EQ(sink.Records()[4], b);

    // An empty datagram and one longer than the receive buffer count as
    // datagrams, as ignored and as cut short; neither is handled.
    uint32_t count = session.DatagramCount();
    SendAndWait({});
    SendAndWait(Bytes(2001, 0x11));
    EXPECT_EQ(session.DatagramCount(), count + 2);
    EXPECT_EQ(session.IgnoredDatagrams(), 1u);
    EXPECT_EQ(session.CutShortDatagrams(), 1u);

    // A frame whose rest came in a datagram of its own waits for a marker;
    // the end of the session hands it on.
    SendAndWait(Bytes(c.begin(), c.begin() + 6));
    SendAndWait(Bytes(c.begin() + 6, c.end()));
    EXPECT_EQ(sink.Size(), 5u);
    session.Close();
    EXPECT_EQ(sink.Size(), 6u);
    EXPECT_EQ(sink.Records()[5], c);
    EXPECT_EQ(sink.AfterClose(), 0);

    // The datagram count carries over into the next opening, which starts
    // with a fresh assembler (the marker-only frame again).
    count = session.DatagramCount();
    sink.Reopen();
    ASSERT_TRUE(session.Open());
    SendAndWait(a);
    ASSERT_TRUE(test::WaitUntil([&] { return sink.Size() == 8; }));
    EXPECT_EQ(sink.Records()[6], (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(sink.Counts().back(), count + 1);
}

TEST_F(SessionTest, TextModeDecodesShowsAndRecordsWholeDatagrams) {
    session.SetStringFormat(true);
    session.SetRecordEnabled(true);
    state.m_showSourceData = true;
    CounterSink published;
    session.SetFrameSink(&published);
    ASSERT_TRUE(session.Open());
    TextFrameFields f;
    f.time = 1700000000;
    f.counter = 5;
    f.sn = "T1";
    f.data.push_back({1, 1, 1, 1550000, 0.5, 1, 0, 0});
    const std::string long1 = EncodeTextFrame(f);
    f.data.clear();
    const std::string short2 = EncodeTextFrame(f);
    // 320 readings of full precision and a long member: 60,000 bytes, far
    // beyond what one datagram held before.
    for (int i = 0; i < kMaxReadings; ++i) f.data.push_back({1, i + 1, 1, 1550000 + i, 0.1234567890123 * i, i, 0, 0});
    f.counter = 6;
    std::string huge = EncodeTextFrame(f);
    huge.insert(1, "\"Pad\":\"" + std::string(60000 - huge.size() - 9, 'p') + "\",");
    ASSERT_EQ(huge.size(), 60000u);

    SendText(long1);
    SendText(short2);  // shorter than the one before: only its own bytes
    SendText("");      // counted, not recorded: it would break the line
    SendText(" \r\n\t");
    SendText(huge);
    ASSERT_TRUE(test::WaitUntil([&] { return sink.Size() == 3; }));
    std::vector<Bytes> r = sink.Records();
    EXPECT_EQ(std::string(r[0].begin(), r[0].end()), long1);
    EXPECT_EQ(std::string(r[1].begin(), r[1].end()), short2);
    EXPECT_EQ(std::string(r[2].begin(), r[2].end()), huge);
    EXPECT_EQ(Decoded(), 2);
    EXPECT_EQ(published.Counters(), (std::vector<int32_t>{5, 5, 6}));
    EXPECT_EQ(published.Counts().back(), kMaxReadings);
    EXPECT_EQ(session.DatagramCount(), 5u);
    EXPECT_EQ(session.IgnoredDatagrams(), 2u);
    EXPECT_EQ(sink.Counts(), (std::vector<uint32_t>{1, 2, 5}));
    EXPECT_EQ(window.History(IDC_RAW_TEXT).front(), long1);
    session.SetFrameSink(nullptr);
}

TEST_F(SessionTest, CountersRunOnAcrossTwoToThe31AndTwoToThe32) {
    CounterSink published;
    session.SetFrameSink(&published);
    session.SetRecordEnabled(true);
    for (const uint32_t base : {uint32_t(INT32_MAX) - 1, UINT32_MAX - 1}) {
        // Days of frames at a high rate, skipped: the counts start just below
        // the boundary and four frames run across it.
        session.PresetDatagramCount(base);
        g_frameSequence.store(base);
        state.Ring().framesDecoded.store(int64_t(base));
        sink.Reopen();
        const size_t recordsBefore = sink.Size();
        const size_t publishedBefore = published.Counters().size();
        ASSERT_TRUE(session.Open());
        for (int i = 0; i < 4; ++i) SendAndWait(Frame(uint16_t(10 + i)));
        session.Close();

        EXPECT_EQ(Decoded(), int64_t(base) + 4);  // a count of our own does not wrap
        const std::vector<uint32_t> allCounts = sink.Counts();
        const std::vector<int32_t> allCounters = published.Counters();
        // The marker-only frame of the opening comes first.
        const std::vector<uint32_t> counts(allCounts.begin() + long(recordsBefore) + 1, allCounts.end());
        const std::vector<int32_t> counters(allCounters.begin() + long(publishedBefore), allCounters.end());
        std::vector<uint32_t> expected;
        std::vector<int32_t> expectedCounters;
        for (uint32_t i = 1; i <= 4; ++i) {
            expected.push_back(base + i);  // wraps as unsigned
            expectedCounters.push_back(static_cast<int32_t>(base + i));
        }
        EXPECT_EQ(counts, expected);
        EXPECT_EQ(counters, expectedCounters);  // every frame handed on, none twice
    }
    session.SetFrameSink(nullptr);
}

TEST_F(SessionTest, AnErrorInTheWorkerEndsTheRunAndIsShown) {
    session.SetRecordEnabled(true);
    std::atomic<int> closedByHook{0};
    session.SetWorkerFailedHook([&] { ++closedByHook; });
    ASSERT_TRUE(session.Open());
    sink.throwOnRecord = true;
    Send(Frame(1));
    ASSERT_TRUE(test::WaitUntil([&] { return session.WorkerFailed(); }));
    ASSERT_TRUE(test::WaitUntil([&] { return closedByHook.load() == 1; }));
    const std::string text = StringPrintf(LoadString(225).c_str(), std::bad_alloc().what());
    EXPECT_EQ(session.WorkerError(), text);
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0], text);
    session.Close();

    // The next opening runs normally again.
    sink.throwOnRecord = false;
    ASSERT_TRUE(session.Open());
    EXPECT_FALSE(session.WorkerFailed());
    SendAndWait(Frame(2));
    EXPECT_TRUE(test::WaitUntil([&] { return sink.Size() == 2; }));
}

TEST_F(SessionTest, SenderAddressChangesAreShownAndStoredOnce) {
    UdpSocket other;
    ASSERT_TRUE(other.Create());
    if (!other.Bind(0, "127.0.0.2")) GTEST_SKIP() << "no 127.0.0.2 on this machine";
    ASSERT_TRUE(session.Open());
    const Bytes a = Frame(1);
    SendAndWait(a);
    SendAndWait(a);
    uint32_t before = session.DatagramCount();
    ASSERT_TRUE(other.SendTo(a.data(), a.size(), "127.0.0.1", session.BoundPort()));
    ASSERT_TRUE(test::WaitUntil([&] { return session.DatagramCount() > before; }));
    SendAndWait(a);
    EXPECT_EQ(window.History(IDC_DEVICE_IP),
              (std::vector<std::string>{"127.0.0.1", "127.0.0.2", "127.0.0.1"}));
    EXPECT_EQ(settings.GetString("Net", "IP", ""), "127.0.0.1");
    EXPECT_EQ(session.LastSourceIp(), "127.0.0.1");

    // The remembered address survives Close and Open: a steady sender causes
    // no new write.
    session.Close();
    ASSERT_TRUE(session.Open());
    SendAndWait(a);
    EXPECT_EQ(window.History(IDC_DEVICE_IP).size(), 3u);
    session.ClearLastSourceIp();  // what Reset does
    session.Close();
    ASSERT_TRUE(session.Open());
    SendAndWait(a);
    EXPECT_EQ(window.History(IDC_DEVICE_IP).size(), 4u);
}

TEST_F(SessionTest, RateWindowUsesTheSessionClock) {
    ASSERT_TRUE(session.Open());
    const Bytes a = Frame(7);
    // 101 datagrams 100 ms apart: 10 once the first 10 s window has passed.
    for (int i = 0; i <= 100; ++i) {
        if (i) clock.Advance(100);
        SendAndWait(a);
        if (i < 100) {
            EXPECT_EQ(session.PacketRate(), 0) << i;
        }
    }
    EXPECT_EQ(session.PacketRate(), 10);
    // A lone datagram 30 s into a window: 0.
    clock.Advance(30000);
    SendAndWait(a);
    EXPECT_EQ(session.PacketRate(), 0);
}

TEST(RateWindow, FirstDatagramStartsTheWindowAndBackwardClockWaits) {
    RateWindow w;
    int rate = -1;
    EXPECT_FALSE(w.Count(50000, rate));
    EXPECT_FALSE(w.Count(40000, rate));  // clock went back: nothing changes
    EXPECT_FALSE(w.Count(59999, rate));
    EXPECT_TRUE(w.Count(70000, rate));  // 4 datagrams in 20 s
    EXPECT_EQ(rate, 0);
    for (int i = 0; i < 49; ++i) w.Count(70001 + i, rate);
    EXPECT_FALSE(w.Count(75000, rate));
    EXPECT_TRUE(w.Count(80000, rate));  // 51 in 10 s
    EXPECT_EQ(rate, 5);
}

TEST_F(SessionTest, IntervalTextAndCloseDuringASleep) {
    session.SetIntervalText("-5");
    EXPECT_EQ(session.IntervalMs(), 0);
    session.SetIntervalText("abc");
    EXPECT_EQ(session.IntervalMs(), 0);
    session.SetIntervalText("15x");
    EXPECT_EQ(session.IntervalMs(), 15);

    // A worker asleep after a datagram ends at once when the port closes.
    session.SetIntervalText("600000");
    ASSERT_TRUE(session.Open());
    SendAndWait(Frame(1));
    auto closed = std::async(std::launch::async, [&] { session.Close(); });
    ASSERT_EQ(closed.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(session.IsOpen());
}

}  // namespace
}  // namespace lumora
