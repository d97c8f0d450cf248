#include <gtest/gtest.h>

#include "views/trace_history.h"
#include "views_test_ring.h"

namespace lumora {
namespace {

using testing::MakeRing;
using testing::PublishFrame;

TEST(TraceHistory, TakesEachNewFrameWithReadingsOnce) {
    auto ring = MakeRing();
    TraceHistory h;
    EXPECT_FALSE(h.Poll(*ring));  // nothing decoded yet

    PublishFrame(*ring, 1, 0, [](int) { return 0.0; });
    EXPECT_FALSE(h.Poll(*ring));  // no readings: not taken, not drawn
    EXPECT_EQ(h.Size(), 0);
    EXPECT_EQ(h.LastCounter(), 1);

    PublishFrame(*ring, 2, 3, [](int r) { return r * 1.5; });
    EXPECT_TRUE(h.Poll(*ring));
    EXPECT_FALSE(h.Poll(*ring));  // same counter
    ASSERT_EQ(h.Size(), 1);
    EXPECT_EQ(h.Entry(0).counter, 2);
    EXPECT_EQ(h.Entry(0).readings.size(), 3u);
    EXPECT_DOUBLE_EQ(h.Entry(0).readings[2].physicValue, 3.0);

    // frames decoded between two ticks are never seen; only the newest is
    PublishFrame(*ring, 3, 3, [](int) { return 9.0; });
    PublishFrame(*ring, 4, 3, [](int) { return 8.0; });
    EXPECT_TRUE(h.Poll(*ring));
    EXPECT_EQ(h.Size(), 2);
    EXPECT_EQ(h.Entry(1).counter, 4);

    // Reset: the ring restarts and the counter is forgotten, the history stays
    ring->ResetIndices();
    h.ForgetLastCounter();
    EXPECT_FALSE(h.Poll(*ring));
    PublishFrame(*ring, 4, 3, [](int) { return 7.0; });
    EXPECT_TRUE(h.Poll(*ring));
    EXPECT_EQ(h.Size(), 3);
}

TEST(TraceHistory, FiveHundredFramesAtMostAndLinesShiftLeft) {
    auto ring = MakeRing();
    TraceHistory h;
    for (int f = 1; f <= 500; ++f) {
        PublishFrame(*ring, f, 2, [f](int r) { return f * 10.0 + r; });
        ASSERT_TRUE(h.Poll(*ring));
    }
    std::vector<TraceSeries> series;
    TraceAxes axes = BuildTraceSeries(h, {0}, series);
    EXPECT_EQ(axes.bottomMax, 500);
    EXPECT_DOUBLE_EQ(series[0].y.front(), 10.0);

    PublishFrame(*ring, 501, 2, [](int r) { return 5010.0 + r; });
    ASSERT_TRUE(h.Poll(*ring));
    EXPECT_EQ(h.Size(), 500);
    axes = BuildTraceSeries(h, {0, 1}, series);
    EXPECT_EQ(axes.bottomMin, 0);
    EXPECT_EQ(axes.bottomMax, 500);
    ASSERT_EQ(series[0].y.size(), 500u);
    EXPECT_DOUBLE_EQ(series[0].y.front(), 20.0);  // the first frame has gone
    EXPECT_DOUBLE_EQ(series[0].y.back(), 5010.0);
    EXPECT_DOUBLE_EQ(series[1].y.back(), 5011.0);
    EXPECT_DOUBLE_EQ(series[0].x.back(), 499.0);
    // one scale for both lines, 5 % beyond the extremes
    const double span = 5011.0 - 20.0;
    EXPECT_DOUBLE_EQ(axes.leftMin, 20.0 - 0.05 * span);
    EXPECT_DOUBLE_EQ(axes.leftMax, 5011.0 + 0.05 * span);

    // no frame's display text is kept: a full history of 320 readings stays small
    for (int f = 502; f < 1100; ++f) {
        PublishFrame(*ring, f, kMaxReadings, [](int r) { return r; });
        h.Poll(*ring);
    }
    EXPECT_LT(h.MemoryBytes(), 6u * 1024 * 1024);
}

TEST(TraceHistory, SeriesNamesLateRowsAndChangingLayouts) {
    auto ring = MakeRing();
    TraceHistory h;
    for (int f = 1; f <= 300; ++f) {
        PublishFrame(*ring, f, 5, [f](int r) { return f + 100.0 * r; });
        h.Poll(*ring);
    }
    // a row chosen after 300 frames has its whole history at once
    std::vector<TraceSeries> series;
    BuildTraceSeries(h, {4, 1}, series);
    ASSERT_EQ(series.size(), 2u);
    EXPECT_EQ(series[0].row, 4);
    EXPECT_EQ(series[0].y.size(), 300u);
    EXPECT_EQ(series[0].name, "5.7008005");
    EXPECT_EQ(series[1].name, "2.7008002");

    // a reading whose id is 0 in the oldest copy makes a series without a name
    auto ring2 = MakeRing();
    TraceHistory h2;
    FrameSlot& s = ring2->Target();
    s.count = 2;
    s.counter = 1;
    s.readings[0] = {0, 0, 1, 1550000, 4.0, 0, 0};
    s.readings[1] = {2, 7008002, 1, 1550001, 5.0, 0, 0};
    ring2->Publish();
    h2.Poll(*ring2);
    // then the layout shrinks to one reading and grows again
    PublishFrame(*ring2, 2, 1, [](int) { return 6.0; });
    h2.Poll(*ring2);
    PublishFrame(*ring2, 3, 2, [](int r) { return 7.0 + r; });
    h2.Poll(*ring2);
    BuildTraceSeries(h2, {0, 1, 400}, series);
    ASSERT_EQ(series.size(), 3u);
    EXPECT_EQ(series[0].name, "");
    EXPECT_EQ(series[0].y, (std::vector<double>{4.0, 6.0, 7.0}));
    // the frame without a second reading leaves a gap, not a stale value
    EXPECT_EQ(series[1].x, (std::vector<double>{0.0, 2.0}));
    EXPECT_EQ(series[1].y, (std::vector<double>{5.0, 8.0}));
    EXPECT_TRUE(series[2].y.empty());  // beyond any frame
}

TEST(TraceHistory, LeftAxisForEmptyAndFlatRanges) {
    auto ring = MakeRing();
    TraceHistory h;
    std::vector<TraceSeries> series;
    TraceAxes axes = BuildTraceSeries(h, {}, series);
    EXPECT_LT(axes.leftMin, axes.leftMax);
    EXPECT_EQ(axes.bottomMax, 0);

    for (int f = 1; f <= 4; ++f) {
        PublishFrame(*ring, f, 3, [](int) { return 0.0; });
        h.Poll(*ring);
    }
    axes = BuildTraceSeries(h, {}, series);  // no row chosen
    EXPECT_TRUE(series.empty());
    EXPECT_LT(axes.leftMin, axes.leftMax);
    axes = BuildTraceSeries(h, {0, 2}, series);  // all zero: around zero
    EXPECT_LT(axes.leftMin, 0.0);
    EXPECT_GT(axes.leftMax, 0.0);
    EXPECT_DOUBLE_EQ(axes.leftMin + axes.leftMax, 0.0);

    auto ring3 = MakeRing();
    TraceHistory flat;
    PublishFrame(*ring3, 1, 1, [](int) { return 2000.0; });
    flat.Poll(*ring3);
    axes = BuildTraceSeries(flat, {0}, series);
    EXPECT_LT(axes.leftMin, 2000.0);
    EXPECT_GT(axes.leftMax, 2000.0);
    EXPECT_DOUBLE_EQ((axes.leftMin + axes.leftMax) / 2, 2000.0);
}

}  // namespace
}  // namespace lumora
