#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "acquisition/binary_decoder.h"
#include "decoder_frames.h"

namespace lumora {
namespace {

using testframes::Trailer;
using testframes::WavelengthFrame;

void PublishCounter(FrameRing& ring, int counter) {
    SlotWriter w(ring);
    w.Slot().counter = counter;
    w.Slot().count = 1;
    w.Publish();
}

TEST(FrameRing, LatestSlotWrapsAndReadersSkipWhatTheyHaveSeen) {
    auto ring = std::make_unique<FrameRing>();
    FrameSlot out;
    EXPECT_EQ(ring->LatestIndex(), -1);
    EXPECT_FALSE(ring->CopyLatest(out));

    PublishCounter(*ring, 1);
    EXPECT_EQ(ring->LatestIndex(), 0);
    ASSERT_TRUE(ring->CopyLatest(out, 0));
    EXPECT_EQ(out.counter, 1);
    EXPECT_FALSE(ring->CopyLatest(out, 1));  // already shown

    { SlotWriter abandoned(*ring); abandoned.Slot().counter = 99; }  // a rejected frame
    EXPECT_EQ(ring->LatestIndex(), 0);

    for (int c = 2; c <= kRingSlots; ++c) PublishCounter(*ring, c);
    EXPECT_EQ(ring->writeIndex.load(), 0);
    EXPECT_EQ(ring->LatestIndex(), kRingSlots - 1);
    ASSERT_TRUE(ring->CopyLatest(out, 1));
    EXPECT_EQ(out.counter, kRingSlots);

    // Reset: nothing to show until the next frame, which goes to slot 0.
    ring->ResetIndices();
    EXPECT_EQ(ring->LatestIndex(), -1);
    PublishCounter(*ring, 500);
    EXPECT_EQ(ring->LatestIndex(), 0);
    EXPECT_EQ(ring->slots[0].counter, 500);
}

// The receive worker decodes frames as fast as it can while readers on other
// threads sample the newest slot and the reference is replaced: every frame a
// reader sees is whole (all its readings belong to its counter), and under
// ThreadSanitizer the run shows no data race.
TEST(FrameRing, ReadersNeverSeeAHalfWrittenSlot) {
    auto state = std::make_unique<AcquisitionState>();
    constexpr int kFrames = 20000;
    std::atomic<bool> done{false};

    std::thread producer([&] {
        Trailer t;
        std::vector<uint8_t> counts(32, 10);
        for (int k = 1; k <= kFrames; ++k) {
            t.counter = k;
            auto frame = WavelengthFrame(counts, [k](int) { return static_cast<uint16_t>(k & 0xFFFF); }, 0, &t);
            ASSERT_EQ(DecodeBinaryFrame(*state, frame.data(), frame.size()), 0);
        }
        done = true;
    });

    std::atomic<int> torn{0}, seen{0};
    auto reader = [&] {
        FrameSlot copy;
        int last = 0;
        while (!done.load()) {
            if (!state->Ring().CopyLatest(copy, last)) continue;
            last = copy.counter;
            ++seen;
            if (copy.count != 320) ++torn;
            // A reference replaced halfway through a frame would show as
            // differing physical values within it.
            for (int j = 0; j < copy.count; ++j) {
                if (copy.readings[j].wavelength != 1510000 + (copy.counter & 0xFFFF) ||
                    copy.readings[j].physicValue != copy.readings[0].physicValue) {
                    ++torn;
                    break;
                }
            }
        }
    };
    // A reader that dawdles inside the slot long enough for the producer to go
    // round the whole ring: the producer must wait for it, not overwrite it.
    auto slowReader = [&] {
        for (int i = 0; i < 20 && !done.load(); ++i) {
            state->Ring().ReadLatest([&](const FrameSlot& slot) {
                const int32_t first = slot.readings[0].wavelength;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (slot.readings[kMaxReadings - 1].wavelength != first) ++torn;
                ++seen;
            });
        }
    };
    std::thread r1(reader), r2(reader), r3(slowReader);
    std::thread referee([&] {
        FrameSlot ref;
        while (!done.load()) {
            if (state->Ring().CopyLatest(ref)) state->SetReference(ref);
            std::this_thread::yield();
        }
    });
    producer.join();
    r1.join();
    r2.join();
    r3.join();
    referee.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(seen.load(), 0);
    EXPECT_EQ(state->Ring().framesDecoded.load(), kFrames - 1);
}

}  // namespace
}  // namespace lumora
