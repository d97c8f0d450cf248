#pragma once
// Decoded frames as the decoders produce them and the views and the converter
// read them. Field names and order are part of the program's model: the
// converter fills the same structure from recorded files.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace lumora {

constexpr int kMaxReadings = 320;
constexpr int kRingSlots = 100;
constexpr int kSnSize = 30;          // 29 characters and the NUL
constexpr int kFrameTextSize = 51200;
constexpr int32_t kWavelengthBase = 1510000;  // picometres added to every 16-bit value

struct SensorReading {
    int32_t id = 0;
    int32_t serial = 0;
    int32_t channel = 0;
    int32_t wavelength = 0;
    double physicValue = 0.0;
    int32_t auxA = 0;
    int32_t auxB = 0;
};

struct FrameSlot {
    SensorReading readings[kMaxReadings];
    int32_t count = 0;
    int32_t time = 0;
    int32_t microseconds = 0;
    int32_t counter = 0;
    int32_t code = 0;
    char sn[kSnSize] = {};
    char text[kFrameTextSize] = {};
};

// The ring of decoded frames. One producer (the receive worker) fills slot
// writeIndex completely and then publishes it by a release store of the next
// index; readers acquire the index and take the slot behind it.
struct FrameRing {
    FrameSlot slots[kRingSlots];
    std::atomic<int> writeIndex{0};      // m_ringWriteIndex
    std::atomic<int> framesDecoded{-1};  // m_framesDecoded

    // Slot the producer fills next.
    FrameSlot& Target() { return slots[writeIndex.load(std::memory_order_relaxed)]; }
    // Publishes the target slot: called once the slot is complete.
    void Publish() {
        framesDecoded.fetch_add(1, std::memory_order_relaxed);
        int next = writeIndex.load(std::memory_order_relaxed) + 1;
        if (next >= kRingSlots) next = 0;
        writeIndex.store(next, std::memory_order_release);
    }
    // Index of the newest published slot, or -1 when nothing was decoded yet.
    int LatestIndex() const {
        int latest = writeIndex.load(std::memory_order_acquire) - 1;
        if (latest < 0) {
            if (framesDecoded.load(std::memory_order_acquire) <= 0) return -1;
            latest = kRingSlots - 1;
        }
        return latest;
    }
    void ResetIndices() {
        writeIndex.store(0, std::memory_order_release);
        framesDecoded.store(-1, std::memory_order_release);
    }
};

}  // namespace lumora
