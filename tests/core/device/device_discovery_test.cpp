#include "device/device_discovery.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <new>
#include <string>
#include <thread>

#include "window/string_table.h"
#include "core/device/fake_window.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "support/free_ports.h"
#include "support/waits.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;

uint32_t Address(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

AnnouncementBlock Block(const char* ip, const std::string& text) {
    return MakeAnnouncementBlock(Address(ip), text.data(), text.size());
}

std::vector<std::string> Cells(const DeviceRow& row) { return {row.cells.begin(), row.cells.end()}; }

TEST(DeviceAnnouncement, OnlyNewInstrumentsWithStringIdnAndSnAreListedNewestFirst) {
    test::FakeWindow window;
    DeviceDiscovery discovery(window, nullptr);
    std::vector<std::string> added;
    discovery.onDeviceAdded = [&](const CSa& d) { added.push_back(d.sn); };

    EXPECT_TRUE(discovery.HandleAnnouncement(Block("10.0.0.5", R"({"IDN":"LM-32","SN":"A001"})")));
    // Repeats, and texts that are not a listed announcement, add nothing.
    for (const char* text : {R"({"IDN":"LM-32","SN":"A001"})", R"({"IDN":"LM-32","SN":1001})",
                             R"({"IDN":"LM-32"})", R"({"SN":"A009"})", "hello", "", R"(["IDN","SN"])",
                             R"({"IDN":null,"SN":"A001"})", "{\"IDN\":\"LM-32\",\"SN\":\"A0"}) {
        EXPECT_FALSE(discovery.HandleAnnouncement(Block("10.0.0.5", text))) << text;
    }
    // Member names in any case; leading blanks and line breaks are skipped;
    // the first matching member counts; other members are ignored.
    EXPECT_TRUE(discovery.HandleAnnouncement(Block("10.0.0.5", " \r\n\t{\"idn\":\"LM-32\",\"sn\":\"B002\"}")));
    EXPECT_TRUE(discovery.HandleAnnouncement(
        Block("10.0.0.6", R"({"Rate":5,"Idn":"LM-16","IDN":"late","sN":"C003","SN":"late"})")));
    // The same instrument from another address, or in other case, is another row.
    EXPECT_TRUE(discovery.HandleAnnouncement(Block("10.0.0.7", R"({"IDN":"LM-32","SN":"A001"})")));
    EXPECT_TRUE(discovery.HandleAnnouncement(Block("10.0.0.5", R"({"IDN":"lm-32","SN":"A001"})")));

    ASSERT_EQ(discovery.Rows().size(), 5u);
    EXPECT_EQ(Cells(discovery.Rows()[0]),
              (std::vector<std::string>{"5", "lm-32", "A001", "10.0.0.5", "", "", "", "", "", ""}));
    EXPECT_EQ(Cells(discovery.Rows()[2]),
              (std::vector<std::string>{"3", "LM-16", "C003", "10.0.0.6", "", "", "", "", "", ""}));
    EXPECT_EQ(discovery.Rows()[4].cells[0], "1");
    EXPECT_EQ(discovery.Devices()[0].ip, "10.0.0.5");
    EXPECT_EQ(discovery.Devices()[3].ip, "10.0.0.7");
    EXPECT_EQ(discovery.Devices()[0].counter + discovery.Devices()[0].cmdPort, 0);
    EXPECT_EQ(added, (std::vector<std::string>{"A001", "B002", "C003", "A001", "A001"}));

    // A double click opens the row's address; no row, nothing.
    discovery.OnRowDoubleClicked(2);
    discovery.OnRowDoubleClicked(5);
    discovery.OnRowDoubleClicked(-1);
    EXPECT_EQ(window.urls, (std::vector<std::string>{"http://10.0.0.6"}));
}

// Texts on which the fast parser and cJSON could part keep what cJSON made of
// them: the first member of a name, strings cut at \u0000, bytes that are not
// UTF-8, whatever follows the object.
TEST(DeviceAnnouncement, TextsWhereTheParsersCouldDifferKeepTheirResults) {
    test::FakeWindow window;
    DeviceDiscovery discovery(window, nullptr);
    EXPECT_TRUE(discovery.HandleAnnouncement(Block("10.0.0.1", R"({"IDN":"A","idn":"B","SN":"S1","sn":"S2"})")));
    EXPECT_TRUE(discovery.HandleAnnouncement(Block("10.0.0.2", "{\"IDN\":\"C\\u0000D\",\"SN\":\"\xff\xfe\"} x\xff")));
    EXPECT_TRUE(discovery.HandleAnnouncement(Block("10.0.0.3", "{\"IDN\":\"E\",\"SN\":\"F\",\"n\":01}{")));
    EXPECT_FALSE(discovery.HandleAnnouncement(Block("10.0.0.4", R"({"IDN":"G","SN":"H","n":tru})")));
    ASSERT_EQ(discovery.Devices().size(), 3u);
    EXPECT_EQ(discovery.Devices()[0].pn + discovery.Devices()[0].sn, "AS1");
    EXPECT_EQ(discovery.Devices()[1].pn, "C");
    EXPECT_EQ(discovery.Devices()[1].sn, "\xff\xfe");
    EXPECT_EQ(discovery.Devices()[2].pn + discovery.Devices()[2].sn, "EF");
}

TEST(DeviceAnnouncement, LongTextIsCutToTheBlockAndTheColumnsHaveTheirCaptions) {
    std::string text(900, 'x');
    AnnouncementBlock block = MakeAnnouncementBlock(Address("1.2.3.4"), text.data(), text.size());
    EXPECT_EQ(std::string(block.text), std::string(499, 'x'));
    EXPECT_EQ(block.address, Address("1.2.3.4"));

    // A valid announcement padded past the block still parses from its cut text.
    std::string padded = R"({"IDN":"LM","SN":"S1"})" + std::string(600, ' ');
    test::FakeWindow window;
    DeviceDiscovery discovery(window, nullptr);
    EXPECT_TRUE(discovery.HandleAnnouncement(Block("1.2.3.4", padded)));

    EXPECT_EQ(DeviceListColumnCaption(0), "#");
    EXPECT_EQ(DeviceListColumnCaption(3), "IP");
    EXPECT_EQ(LoadString(240, Language::English), "Counter");
    EXPECT_EQ(LoadString(245, Language::Chinese), "命令端口");
    EXPECT_EQ(DeviceListColumnWidth(3), 240);
    EXPECT_EQ(DeviceListColumnWidth(9), 120);
    for (int c = 0; c < kDeviceListColumns; ++c) EXPECT_FALSE(DeviceListColumnCaption(c).empty()) << c;
}

bool PortIsFree(uint16_t port) {
    UdpSocket s;
    return s.Create() && s.Bind(port);
}

struct RunFixture : ::testing::Test {
    RunFixture() {
        options.port = test::FreeUdpPort();
        options.pollMs = 10;
        options.clock = &clock;
    }
    std::unique_ptr<DeviceDiscovery> Make() {
        auto d = std::make_unique<DeviceDiscovery>(window, [this] { return stop.load(); }, options);
        d->onRunFinished = [this] { ++finished; };
        return d;
    }
    void Announce(const std::string& text) {
        UdpSocket s;
        s.Create();
        s.SendTo(text.data(), text.size(), "127.0.0.1", options.port);
    }
    // Waits until a listener holds the port.
    static bool WaitBound(const DeviceDiscovery& d) {
        return test::WaitUntil([&] { return d.ListeningRuns() > 0; });
    }
    // Lets the listener go round its loop a few times.
    void LetItPoll() { std::this_thread::sleep_for(60ms); }

    ManualClock clock{1'000'000};
    std::atomic<bool> stop{false};
    DiscoveryOptions options;
    test::FakeWindow window;
    int finished = 0;
};

TEST_F(RunFixture, RunListsAnnouncersOnceAndEnds10SecondsAfterTheFirst) {
    auto discovery = Make();
    discovery->StartRun();
    EXPECT_EQ(window.calls, (std::vector<std::string>{"tab 4"}));
    ASSERT_TRUE(WaitBound(*discovery));

    clock.Advance(9'000);  // the window is not measured from the start once something arrives
    Announce(R"({"IDN":"LM-32","SN":"A001"})");
    ASSERT_TRUE(window.PumpUntil([&] { return discovery->Devices().size() == 1; }));
    for (int i = 0; i < 3; ++i) Announce(R"({"IDN":"LM-32","SN":"A001"})");
    Announce(R"({"IDN":"LM-32","SN":7})");
    Announce("not json");
    Announce(std::string(1500, '{'));  // longer than the receive buffer
    Announce(R"({"idn":"LM-16","sn":"B002"})");
    ASSERT_TRUE(window.PumpUntil([&] { return discovery->Devices().size() == 2; }));

    clock.Advance(9'900);  // 18.9 s after the start, 9.9 s after the first announcement
    LetItPoll();
    window.RunPosted();
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(discovery->ActiveRuns(), 1);

    clock.Advance(100);  // 10 s after the first announcement, nothing more arrives
    EXPECT_TRUE(window.PumpUntil([&] { return finished == 1; }));
    EXPECT_TRUE(PortIsFree(options.port));
    EXPECT_EQ(discovery->Rows()[0].cells[1], "LM-16");
    EXPECT_EQ(discovery->Rows()[1].cells[1], "LM-32");
    EXPECT_TRUE(window.messages.empty());

    // A second run adds only what is new; earlier rows stay.
    discovery->StartRun();
    ASSERT_TRUE(WaitBound(*discovery));
    Announce(R"({"IDN":"LM-32","SN":"A001"})");
    Announce(R"({"IDN":"LM-8","SN":"C003"})");
    ASSERT_TRUE(window.PumpUntil([&] { return discovery->Devices().size() == 3; }));
    EXPECT_EQ(discovery->Rows()[0].cells[0], "3");
}

TEST_F(RunFixture, RunWithoutAnnouncementsEnds10SecondsAfterItsStart) {
    auto discovery = Make();
    discovery->StartRun();
    ASSERT_TRUE(WaitBound(*discovery));
    clock.Advance(9'999);
    LetItPoll();
    window.RunPosted();
    EXPECT_EQ(finished, 0);
    clock.Advance(1);
    EXPECT_TRUE(window.PumpUntil([&] { return finished == 1; }));
    EXPECT_TRUE(PortIsFree(options.port));
}

TEST_F(RunFixture, StopFlagAndDestructionEndARunAtOnce) {
    stop = true;
    auto discovery = Make();
    discovery->StartRun();
    EXPECT_TRUE(window.PumpUntil([&] { return finished == 1; }));
    EXPECT_EQ(discovery->Devices().size(), 0u);

    stop = false;
    discovery->StartRun();
    ASSERT_TRUE(WaitBound(*discovery));
    discovery.reset();  // joins the listener; the clock never moved
    EXPECT_TRUE(PortIsFree(options.port));
    // What it posted before it ended is harmless after the object is gone.
    window.RunPosted();
}

TEST_F(RunFixture, ASecondListenerOnTheSamePortReportsTheBusyPort) {
    auto discovery = Make();
    discovery->StartRun();
    ASSERT_TRUE(WaitBound(*discovery));
    discovery->StartRun();
    ASSERT_TRUE(window.PumpUntil([&] { return !window.messages.empty(); }));
    EXPECT_EQ(window.messages[0],
              StringPrintf(LoadString(215).c_str(), std::to_string(options.port).c_str()));
    // The one that failed posts no end; the first one still runs.
    EXPECT_EQ(finished, 0);
    EXPECT_TRUE(window.PumpUntil([&] { return discovery->ActiveRuns() == 1; }));
    Announce(R"({"IDN":"LM","SN":"S"})");
    EXPECT_TRUE(window.PumpUntil([&] { return discovery->Devices().size() == 1; }));
}

// A clock whose reading fails for want of memory once armed.
class FailingClock : public Clock {
public:
    int64_t NowMs() const override {
        if (armed.load()) throw std::bad_alloc();
        return 1'000'000;
    }
    std::atomic<bool> armed{false};
};

TEST_F(RunFixture, AnErrorInTheListenerEndsTheRunAndIsShown) {
    FailingClock failing;
    options.clock = &failing;
    auto discovery = Make();
    discovery->StartRun();
    ASSERT_TRUE(WaitBound(*discovery));
    failing.armed = true;
    ASSERT_TRUE(window.PumpUntil([&] { return !window.messages.empty(); }));
    EXPECT_EQ(window.messages[0], StringPrintf(LoadString(226).c_str(), std::bad_alloc().what()));
    EXPECT_TRUE(window.PumpUntil([&] { return discovery->ActiveRuns() == 0 && discovery->ListeningRuns() == 0; }));
    EXPECT_EQ(finished, 0);  // no normal end is reported
    EXPECT_TRUE(PortIsFree(options.port));

    // The next run works again.
    failing.armed = false;
    discovery->StartRun();
    ASSERT_TRUE(WaitBound(*discovery));
    Announce(R"({"IDN":"LM","SN":"S"})");
    EXPECT_TRUE(window.PumpUntil([&] { return discovery->Devices().size() == 1; }));
}

// Sends distinct announcements to a port as fast as it can until destroyed.
class Flood {
public:
    explicit Flood(uint16_t port)
        : thread_([this, port] {
              UdpSocket s;
              s.Create();
              for (uint64_t i = 0; !stop_.load(); ++i) {
                  std::string text = R"({"IDN":"LM-32","SN":")" + std::to_string(i) + "\"}";
                  s.SendTo(text.data(), text.size(), "127.0.0.1", port);
              }
          }) {}
    ~Flood() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(RunFixture, AFloodStaysBoundedListsAtMostOneThousandDevicesAndEndsOnTime) {
    auto discovery = Make();
    discovery->StartRun();
    ASSERT_TRUE(WaitBound(*discovery));
    Flood flood(options.port);

    // While the UI thread is busy elsewhere the announcements wait in one
    // bounded queue behind one posted task; the rest are counted and dropped.
    ASSERT_TRUE(test::WaitUntil([&] { return discovery->IgnoredAnnouncements() > 0; }));
    EXPECT_EQ(discovery->QueuedAnnouncements(), options.maxQueued);
    EXPECT_EQ(window.PendingTasks(), 1u);

    // The run lists its first 1,000 devices, then ignores the others.
    ASSERT_TRUE(window.PumpUntil([&] { return discovery->Devices().size() >= 1000; }));
    const uint64_t ignored = discovery->IgnoredAnnouncements();
    EXPECT_TRUE(window.PumpUntil([&] { return discovery->IgnoredAnnouncements() > ignored + 1000; }));
    EXPECT_EQ(discovery->Devices().size(), 1000u);
    EXPECT_EQ(discovery->Rows().size(), 1000u);
    EXPECT_LE(window.PendingTasks(), 1u);

    // The window closes on time while the flood goes on.
    clock.Advance(10'000);
    EXPECT_TRUE(window.PumpUntil([&] { return finished == 1; }));
    EXPECT_TRUE(PortIsFree(options.port));

    // So does a run whose stop flag is raised.
    discovery->StartRun();
    ASSERT_TRUE(WaitBound(*discovery));
    ASSERT_TRUE(test::WaitUntil([&] { return discovery->QueuedAnnouncements() > 0; }));
    stop = true;
    EXPECT_TRUE(window.PumpUntil([&] { return finished == 2; }));
    EXPECT_EQ(discovery->ActiveRuns(), 0);
    EXPECT_EQ(discovery->QueuedAnnouncements(), 0u);
}

}  // namespace
}  // namespace lumora
