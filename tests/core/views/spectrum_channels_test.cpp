#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "views/spectrum_channels.h"

namespace lumora {
namespace {

std::vector<uint16_t> Ramp(int n, uint16_t start = 0) {
    std::vector<uint16_t> v(n);
    for (int k = 0; k < n; ++k) v[k] = static_cast<uint16_t>(start + k);
    return v;
}

TEST(SpectrumChannels, StoresClampsAndKeepsTheWidestRange) {
    SpectrumChannels sc;
    std::vector<uint16_t> a = {0, 4095, 4096, 65535, 100};
    EXPECT_TRUE(sc.Store(1, a.data(), 5));
    auto b = Ramp(3000);
    sc.Store(3, b.data(), 3000);

    SpectrumPicture p;
    ASSERT_TRUE(sc.Take(p));
    EXPECT_TRUE(p.changed[1]);
    EXPECT_TRUE(p.changed[3]);
    EXPECT_FALSE(p.changed[0]);
    EXPECT_FALSE(p.changed[2]);
    EXPECT_EQ(p.samples[1], (std::vector<uint16_t>{0, 4095, 4095, 4095, 100}));
    EXPECT_EQ(p.maxPoints, 3000);
    EXPECT_EQ(p.frameCount, 2);
    EXPECT_EQ(SpectrumSeriesName(1), "CH02");
    EXPECT_EQ(SpectrumSeriesName(3), "CH04");
    EXPECT_EQ(SpectrumSeriesName(31), "CH32");

    // a shorter spectrum replaces the channel's data but not the axis range
    auto c = Ramp(10, 7);
    sc.Store(3, c.data(), 10);
    ASSERT_TRUE(sc.Take(p));
    EXPECT_FALSE(p.changed[1]);
    EXPECT_TRUE(p.changed[3]);
    EXPECT_EQ(p.pointCount[3], 10);
    EXPECT_EQ(p.pointCount[1], 5);
    EXPECT_EQ(p.samples[3], c);
    EXPECT_EQ(p.maxPoints, 3000);
    EXPECT_EQ(p.frameCount, 3);
    EXPECT_FALSE(sc.Take(p));  // nothing new
}

TEST(SpectrumChannels, ResetThenOneFrameShowsOnlyThatChannel) {
    SpectrumChannels sc;
    auto v = Ramp(200);
    sc.Store(0, v.data(), 200);
    sc.Store(5, v.data(), 100);
    SpectrumPicture p;
    sc.Take(p);

    sc.Reset();
    ASSERT_TRUE(sc.Take(p));
    EXPECT_TRUE(p.cleared);
    EXPECT_EQ(p.frameCount, 0);
    EXPECT_EQ(p.maxPoints, 0);
    for (int c = 0; c < kSpectrumChannels; ++c) EXPECT_EQ(p.pointCount[c], 0);

    sc.Store(7, v.data(), 50);
    ASSERT_TRUE(sc.Take(p));
    EXPECT_FALSE(p.cleared);
    EXPECT_EQ(p.frameCount, 1);
    EXPECT_EQ(p.maxPoints, 50);
    int withData = 0;
    for (int c = 0; c < kSpectrumChannels; ++c) withData += p.pointCount[c] > 0;
    EXPECT_EQ(withData, 1);
    EXPECT_EQ(p.pointCount[7], 50);
}

TEST(SpectrumChannels, OneRedrawRequestPerBurstAndHostileArguments) {
    SpectrumChannels sc;
    auto v = Ramp(kSpectrumMaxPoints + 100);
    EXPECT_TRUE(sc.Store(0, v.data(), 10));
    EXPECT_FALSE(sc.Store(0, v.data(), 10));
    EXPECT_FALSE(sc.Reset());
    SpectrumPicture p;
    sc.Take(p);
    EXPECT_TRUE(sc.Store(0, v.data(), 10));

    // a count beyond the channel's capacity is cut; channel indices beyond 31
    // land on the last channel; negative ones and null data change nothing
    sc.Store(40, v.data(), kSpectrumMaxPoints + 100);
    EXPECT_EQ(sc.PointCount(31), kSpectrumMaxPoints);
    EXPECT_EQ(sc.MaxPoints(), kSpectrumMaxPoints);
    const long before = sc.FrameCount();
    EXPECT_FALSE(sc.Store(-1, v.data(), 10));
    EXPECT_EQ(sc.FrameCount(), before);
    sc.Store(2, nullptr, 10);
    EXPECT_EQ(sc.PointCount(2), 0);
    sc.Store(3, v.data(), -5);
    EXPECT_EQ(sc.PointCount(3), 0);
}

// The receive worker stores frames while the UI thread resets and redraws.
TEST(SpectrumChannels, WorkerFramesWhileTheUiResets) {
    SpectrumChannels sc;
    std::atomic<bool> done{false};
    std::atomic<int> requests{0};
    std::thread worker([&] {
        std::vector<uint16_t> v(5646);
        for (int f = 0; f < 3000; ++f) {
            for (auto& s : v) s = static_cast<uint16_t>(f * 7);
            if (sc.Store(f % 32, v.data(), 100 + f % 5000)) requests.fetch_add(1);
        }
        done = true;
    });
    SpectrumPicture p;
    int takes = 0;
    while (!done) {
        if (sc.Take(p)) {
            ++takes;
            for (int c = 0; c < kSpectrumChannels; ++c) {
                ASSERT_LE(p.pointCount[c], p.maxPoints);
                if (p.changed[c]) {
                    ASSERT_EQ(static_cast<int>(p.samples[c].size()), p.pointCount[c]);
                    for (uint16_t s : p.samples[c]) ASSERT_LE(s, kSpectrumMaxSample);
                }
            }
        }
        if (takes % 7 == 3) sc.Reset();
        std::this_thread::yield();
    }
    worker.join();
    sc.Take(p);
    // every request was for a redraw that had not been asked for yet
    EXPECT_LE(requests.load(), 3000);
    EXPECT_GE(requests.load(), 1);
}

}  // namespace
}  // namespace lumora
