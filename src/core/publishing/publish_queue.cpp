#include "publishing/publish_queue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lumora {

PublishQueue::PublishQueue(size_t capacity)
    : slots_(std::make_unique<Slot[]>(std::max<size_t>(capacity, 1))), capacity_(std::max<size_t>(capacity, 1)) {}

void PublishQueue::Push(const FrameSlot& frame, const char* device, int64_t seconds, int32_t microseconds) {
    const uint64_t seq = writeSeq_.load(std::memory_order_relaxed);
    Slot& slot = slots_[seq % capacity_];
    std::unique_lock<std::mutex> lock(slot.mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        // The publisher is reading this slot right now.
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    QueuedFrame& q = slot.frame;
    q.seconds = seconds;
    q.microseconds = microseconds;
    q.counter = frame.counter;
    const int n = std::clamp<int>(frame.count, 0, kMaxReadings);
    q.count = n;
    std::snprintf(q.device, sizeof q.device, "%s", device);
    std::memcpy(q.sn, frame.sn, sizeof q.sn);
    q.sn[kSnSize - 1] = '\0';
    q.hasValues = frame.hasValues;
    for (int i = 0; i < n; ++i) {
        const SensorReading& r = frame.readings[i];
        q.readings[i] = {r.id, r.serial, r.channel, r.wavelength, r.physicValue,
                         frame.hasValues ? frame.values[i] : 0.0};
    }
    q.seq = seq;
    lock.unlock();
    writeSeq_.store(seq + 1, std::memory_order_release);
}

void PublishQueue::DiscardOverwritten() {
    const uint64_t end = writeSeq_.load(std::memory_order_acquire);
    if (end - readSeq_ > capacity_) {
        dropped_.fetch_add(end - readSeq_ - capacity_, std::memory_order_relaxed);
        readSeq_ = end - capacity_;
    }
}

void PublishQueue::DiscardAll() {
    const uint64_t end = writeSeq_.load(std::memory_order_acquire);
    dropped_.fetch_add(end - readSeq_, std::memory_order_relaxed);
    readSeq_ = end;
}

}  // namespace lumora
