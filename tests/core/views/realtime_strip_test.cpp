#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <map>
#include <set>
#include <chrono>
#include <thread>

#include "views/realtime_strip.h"
#include "views/realtime_ticker.h"
#include "views_test_ring.h"

namespace lumora {
namespace {

using testing::MakeRing;
using testing::PublishFrame;

// Feeds `frames` frames whose reading `id` has value v(f).
template <typename F>
int Feed(RealtimeStrip& strip, FrameRing& ring, int& counter, int frames, int id, F v,
         RealtimeDrawing& d, bool full = false) {
    int drawn = 0;
    for (int f = 0; f < frames; ++f) {
        ++counter;
        PublishFrame(ring, counter, 5, [&](int) { return v(f); });
        drawn += strip.Step(ring, id, full, d);
    }
    return drawn;
}

TEST(RealtimeStrip, LayoutOfScaleLabelsAndLine) {
    auto ring = MakeRing();
    RealtimeStrip strip;
    ASSERT_TRUE(strip.SetLength(10));
    strip.Open(800, 600);
    RealtimeGeometry g = strip.Geometry();
    EXPECT_EQ(g.plotWidth, 620);
    EXPECT_EQ(g.plotHeight, 520);
    EXPECT_EQ(g.originX, 120);
    EXPECT_EQ(g.originY, 560);

    RealtimeDrawing d;
    int counter = 0;
    EXPECT_EQ(Feed(strip, *ring, counter, 10, 2, [](int f) { return f * 10.0; }, d), 10);
    // samples 0..90: labels from 90 at the top to 0 at the base line
    ASSERT_EQ(d.scale.size(), 12u);
    ASSERT_EQ(d.labels.size(), 11u);
    EXPECT_EQ(d.labels.front().text, "90");
    EXPECT_EQ(d.labels[1].text, "81");
    EXPECT_EQ(d.labels.back().text, "0");
    EXPECT_EQ(d.labels.front().left, 5);
    EXPECT_EQ(d.labels.front().right, 105);
    EXPECT_EQ(d.labels.front().top, 35);
    EXPECT_EQ(d.labels.front().bottom, 60);
    // the axis, a short tick, and the base line across the plot
    EXPECT_EQ(d.scale[0].x1, 119);
    EXPECT_EQ(d.scale[0].y1, 40);
    EXPECT_EQ(d.scale[0].y2, 560);
    EXPECT_EQ(d.scale[1].x1, 104);
    EXPECT_EQ(d.scale[1].x2, 119);
    EXPECT_EQ(d.scale[6].y1, 40 + 5 * 52);
    EXPECT_EQ(d.scale[11].x2, 120 + 1 + 620);
    EXPECT_EQ(d.scale[11].y1, 560);
    // the line: oldest sample at the axis and the minimum, newest at the top
    ASSERT_EQ(d.line.size(), 10u);
    EXPECT_EQ(d.line[0].x, 120);
    EXPECT_EQ(d.line[0].y, 560);
    EXPECT_EQ(d.line[1].x, 120 + 62);
    EXPECT_EQ(d.line[9].y, 40);

    // FULL: only the line, over the same plot area
    RealtimeDrawing full;
    Feed(strip, *ring, counter, 1, 2, [](int) { return 100.0; }, full, true);
    EXPECT_TRUE(full.scale.empty());
    EXPECT_TRUE(full.labels.empty());
    EXPECT_EQ(full.line.size(), 10u);
    EXPECT_EQ(full.line.back().y, 40);
    EXPECT_EQ(full.line.front().x, 120);
}

TEST(RealtimeStrip, FlatStripsSitInTheMiddle) {
    auto ring = MakeRing();
    RealtimeStrip strip;
    strip.SetLength(10);
    strip.Open(800, 600);
    RealtimeDrawing d;
    int counter = 0;
    Feed(strip, *ring, counter, 10, 1, [](int) { return 1000.0; }, d);
    // all samples 1000: the range is 960 .. 1040 and the line runs at mid height
    EXPECT_FLOAT_EQ(strip.Min(), 960.0f);
    EXPECT_FLOAT_EQ(strip.Max(), 1040.0f);
    EXPECT_EQ(d.labels.front().text, "1040");
    EXPECT_EQ(d.labels.back().text, "960");
    for (const auto& p : d.line) EXPECT_EQ(p.y, 560 - 260);

    // negative values widen the same way
    Feed(strip, *ring, counter, 10, 1, [](int) { return -50.0; }, d);
    EXPECT_FLOAT_EQ(strip.Min(), -52.0f);
    EXPECT_FLOAT_EQ(strip.Max(), -48.0f);

    // a strip of zeros is drawn flat in the middle, not divided by zero
    Feed(strip, *ring, counter, 10, 1, [](int) { return 0.0; }, d);
    EXPECT_LT(strip.Min(), 0.0f);
    EXPECT_GT(strip.Max(), 0.0f);
    for (const auto& p : d.line) EXPECT_EQ(p.y, 300);
}

TEST(RealtimeStrip, IdChoosesTheReadingAndChangesRestartTheStrip) {
    auto ring = MakeRing();
    RealtimeStrip strip;
    strip.SetLength(10);
    strip.Open(400, 300);
    RealtimeDrawing d;
    int counter = 0;
    // reading n - 1 of each frame (values 10 r + f)
    for (int f = 1; f <= 3; ++f) {
        PublishFrame(*ring, ++counter, 5, [f](int r) { return 10.0 * r + f; });
        ASSERT_TRUE(strip.Step(*ring, 3, false, d));
    }
    EXPECT_EQ(strip.Samples().back(), 23.0f);
    EXPECT_EQ(strip.Samples()[7], 21.0f);
    EXPECT_EQ(strip.Samples()[6], 0.0f);

    // an ID of 0, or beyond the frame's readings, changes nothing; the frame
    // still counts as seen
    const auto before = strip.Samples();
    PublishFrame(*ring, ++counter, 5, [](int) { return 99.0; });
    EXPECT_FALSE(strip.Step(*ring, 0, false, d));
    EXPECT_FALSE(strip.Step(*ring, 3, false, d));
    PublishFrame(*ring, ++counter, 5, [](int) { return 99.0; });
    EXPECT_FALSE(strip.Step(*ring, 6, false, d));
    EXPECT_EQ(strip.Samples(), before);
    EXPECT_EQ(strip.SensorId(), 3);

    // another ID starts from zeros: the scale includes 0
    PublishFrame(*ring, ++counter, 5, [](int r) { return 500.0 + r; });
    ASSERT_TRUE(strip.Step(*ring, 5, false, d));
    auto s = strip.Samples();
    EXPECT_EQ(s.back(), 504.0f);
    for (int k = 0; k < 9; ++k) EXPECT_EQ(s[k], 0.0f);
    EXPECT_EQ(strip.Min(), 0.0f);
    EXPECT_EQ(d.labels.back().text, "0");

    // a surface too small for a plot draws nothing
    RealtimeStrip tiny;
    tiny.Open(100, 50);
    PublishFrame(*ring, ++counter, 5, [](int r) { return r + 1.0; });
    EXPECT_FALSE(tiny.Step(*ring, 2, false, d));
}

// Covered pixels of a polyline per column, as vertical spans, plus the
// segments that cross from one column to another.
struct Coverage {
    std::map<int, std::pair<int, int>> span;
    std::set<std::array<int, 4>> crossings;
};
Coverage Cover(const std::vector<RealtimePoint>& line) {
    Coverage c;
    for (size_t k = 0; k < line.size(); ++k) {
        auto [it, fresh] = c.span.try_emplace(line[k].x, line[k].y, line[k].y);
        it->second.first = std::min(it->second.first, line[k].y);
        it->second.second = std::max(it->second.second, line[k].y);
        if (k > 0 && line[k - 1].x != line[k].x)
            c.crossings.insert({line[k - 1].x, line[k - 1].y, line[k].x, line[k].y});
    }
    return c;
}

TEST(RealtimeStrip, CompactLineDrawsTheSamePixels) {
    auto ring = MakeRing();
    RealtimeStrip strip;
    strip.SetLength(10000);
    strip.Open(1400, 700);
    RealtimeDrawing d;
    int counter = 0;
    Feed(strip, *ring, counter, 90, 1, [](int f) { return (f * 7919) % 613 - 300.0; }, d);
    std::vector<RealtimePoint> compact;
    CompactStripLine(d.line, compact);
    EXPECT_LE(compact.size(), 4u * 1220 + 4);
    EXPECT_EQ(compact.front().x, d.line.front().x);
    EXPECT_EQ(compact.back().x, d.line.back().x);
    EXPECT_EQ(compact.back().y, d.line.back().y);
    const Coverage a = Cover(d.line);
    const Coverage b = Cover(compact);
    EXPECT_EQ(a.span, b.span);
    EXPECT_EQ(a.crossings, b.crossings);

    // fewer samples than columns: nothing to reduce
    std::vector<RealtimePoint> sparse = {{0, 5}, {3, 9}, {6, 1}};
    CompactStripLine(sparse, compact);
    ASSERT_EQ(compact.size(), 3u);
    EXPECT_EQ(compact[2].y, 1);
    CompactStripLine({}, compact);
    EXPECT_TRUE(compact.empty());
}

TEST(RealtimeStrip, LengthLimitsAndRate) {
    RealtimeStrip strip;
    EXPECT_EQ(strip.Length(), 100);
    EXPECT_FALSE(strip.SetLength(9));
    EXPECT_FALSE(strip.SetLength(10001));
    EXPECT_FALSE(strip.SetLength(100));
    EXPECT_TRUE(strip.SetLength(10000));  // closed: takes effect at the next opening
    strip.Open(640, 480);
    EXPECT_EQ(strip.Samples().size(), 10000u);

    auto ring = MakeRing();
    RealtimeDrawing d;
    int counter = 0;
    Feed(strip, *ring, counter, 3, 1, [](int) { return 5.0; }, d);
    EXPECT_TRUE(strip.SetLength(10));
    auto s = strip.Samples();
    EXPECT_EQ(s, std::vector<float>(10, 0.0f));
    strip.Close();
    EXPECT_TRUE(strip.Samples().empty());
    EXPECT_FALSE(strip.Step(*ring, 1, false, d));

    // FRQ: 0 through the first 10 s, then drawings per second of that window
    RealtimeStrip rate;
    const int64_t t0 = 1700000000000;
    rate.CountDrawing(t0);
    for (int k = 1; k < 2500; ++k) rate.CountDrawing(t0 + k * 4);
    EXPECT_EQ(rate.DrawRate(), 0);
    rate.CountDrawing(t0 + 10000);
    EXPECT_EQ(rate.DrawRate(), 250);
    for (int k = 1; k < 100; ++k) rate.CountDrawing(t0 + 10000 + k * 100);
    EXPECT_EQ(rate.DrawRate(), 250);
    rate.CountDrawing(t0 + 20500);
    EXPECT_EQ(rate.DrawRate(), 10);
}

// The 1 ms tick samples on its thread while the UI thread changes LEN; then
// the port closes: the tick is stopped before the strip is released.
TEST(RealtimeStrip, TickThreadWhileLengthChangesAndClose) {
    auto ring = MakeRing();
    RealtimeStrip strip;
    strip.Open(800, 400);
    std::atomic<int> drawn{0};
    std::atomic<int> badSizes{0};
    RealtimeTicker ticker;
    RealtimeDrawing d;  // used only by the tick
    ticker.Start([&] {
        if (strip.Step(*ring, 1, false, d)) {
            ++drawn;
            const int len = static_cast<int>(d.line.size());
            if (len < kRealtimeMinLength || len > kRealtimeMaxLength) ++badSizes;
        }
    });
    // 90 frames (the ring does not wrap), LEN changing in between
    for (int f = 1; f <= 90; ++f) {
        PublishFrame(*ring, f, 3, [f](int r) { return f * 1.0 + r; });
        strip.SetLength(10 + (f * 37) % 3000);
        std::this_thread::sleep_for(std::chrono::microseconds(1500));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ticker.Ticks() < 50 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ticker.Stop();
    EXPECT_FALSE(ticker.Running());
    strip.Close();
    EXPECT_GT(drawn.load(), 0);
    EXPECT_EQ(badSizes.load(), 0);
    EXPECT_GE(ticker.Ticks(), 50);
}

}  // namespace
}  // namespace lumora
