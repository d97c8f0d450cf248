#pragma once
// Builds frames in a ring the way the decoder publishes them.
#include <memory>

#include "model/frame_types.h"

namespace lumora::testing {

inline std::unique_ptr<FrameRing> MakeRing() { return std::make_unique<FrameRing>(); }

// Publishes a frame of `count` readings; reading r gets id r + 1, serial
// 7008001 + r and the physical value value(r).
template <typename F>
void PublishFrame(FrameRing& ring, int counter, int count, F value) {
    SlotWriter writer(ring);
    FrameSlot& s = writer.Slot();
    s.count = count;
    s.counter = counter;
    s.time = 1700000000;
    for (int r = 0; r < count && r < kMaxReadings; ++r) {
        s.readings[r].id = r + 1;
        s.readings[r].serial = 7008001 + r;
        s.readings[r].channel = 1 + r / 10;
        s.readings[r].wavelength = 1550000 + r;
        s.readings[r].physicValue = value(r);
    }
    writer.Publish();
}

}  // namespace lumora::testing
