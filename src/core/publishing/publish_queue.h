#pragma once
// The bounded hand-over between the receive worker and the publisher thread.
//
// The worker copies each decoded frame into the next slot and never waits:
// when the publisher is behind, the oldest frames are overwritten, and if the
// publisher happens to be reading the very slot the worker wants, the new
// frame is dropped instead of waiting for it. Both losses are counted.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "model/frame_types.h"

namespace lumora {

struct QueuedReading {
    int32_t id;
    int32_t serial;
    int32_t channel;
    int32_t wavelength;
    double physicValue;
    double value;  // engineering value (NaN: empty), when the frame has values
};

struct QueuedFrame {
    uint64_t seq = 0;
    int64_t seconds = 0;      // time of the frame, seconds since 1970
    int32_t microseconds = 0;
    int32_t counter = 0;
    int32_t count = 0;        // readings stored
    bool hasValues = false;   // a sensor table was loaded: readings carry their value
    char device[32] = {};     // serial-number text or sender address
    char sn[kSnSize] = {};    // the frame's serial-number text
    QueuedReading readings[kMaxReadings];
};

class PublishQueue {
public:
    explicit PublishQueue(size_t capacity);
    PublishQueue(const PublishQueue&) = delete;
    PublishQueue& operator=(const PublishQueue&) = delete;

    size_t Capacity() const { return capacity_; }

    // ---- producer (receive worker)
    void Push(const FrameSlot& frame, const char* device, int64_t seconds, int32_t microseconds);

    // ---- consumer (one thread)
    // Calls f(const QueuedFrame&) for up to max frames queued since the last
    // call, oldest first. Returns how many were handed to f.
    template <typename F>
    size_t Drain(size_t max, F&& f);
    // Frames waiting (those the producer has already overwritten included).
    uint64_t Waiting() const { return writeSeq_.load(std::memory_order_acquire) - readSeq_; }
    // Counts as dropped what has been overwritten, without reading the rest.
    void DiscardOverwritten();
    // Counts every waiting frame as dropped.
    void DiscardAll();

    uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }
    uint64_t Pushed() const { return writeSeq_.load(std::memory_order_relaxed); }

private:
    struct Slot {
        std::mutex mutex;
        QueuedFrame frame;
    };
    std::unique_ptr<Slot[]> slots_;
    size_t capacity_;
    std::atomic<uint64_t> writeSeq_{0};
    uint64_t readSeq_ = 0;
    std::atomic<uint64_t> dropped_{0};
};

template <typename F>
size_t PublishQueue::Drain(size_t max, F&& f) {
    DiscardOverwritten();
    const uint64_t end = writeSeq_.load(std::memory_order_acquire);
    size_t handed = 0;
    while (readSeq_ < end && handed < max) {
        Slot& slot = slots_[readSeq_ % capacity_];
        {
            std::lock_guard<std::mutex> lock(slot.mutex);
            // Overwritten since end was read: the newer frame is taken later.
            if (slot.frame.seq == readSeq_) {
                f(static_cast<const QueuedFrame&>(slot.frame));
                ++handed;
            } else {
                dropped_.fetch_add(1, std::memory_order_relaxed);
            }
        }
        ++readSeq_;
    }
    return handed;
}

}  // namespace lumora
