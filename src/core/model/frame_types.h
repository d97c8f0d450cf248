#pragma once
// Decoded frames as the decoders produce them and the views and the converter
// read them. Field names and order are part of the program's model: the
// converter fills the same structure from recorded files.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

// Qt defines "slots" as a macro; the ring's member of that name must survive
// being included after Qt headers.
#pragma push_macro("slots")
#undef slots

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
    int32_t count = 0;  // readings stored (never more than kMaxReadings)
    int32_t time = 0;
    int32_t microseconds = 0;
    int32_t counter = 0;
    int32_t code = 0;
    char sn[kSnSize] = {};
    char text[kFrameTextSize] = {};

    // Engineering values, filled on the receive worker while a sensor table
    // is loaded (hasValues); otherwise untouched and not to be read. values[k]
    // belongs to readings[k] and is NaN where it is empty; alarms[k] is that
    // sensor's alarm state after the frame: 0 normal, 1 high, -1 low.
    bool hasValues = false;
    double values[kMaxReadings];
    int8_t alarms[kMaxReadings];
};

// Work done on every decoded frame on the receive worker, after the decoder
// has filled the slot and before it is published (the sensor layer computes
// values and alarms there). Must never wait.
class SlotProcessor {
public:
    virtual ~SlotProcessor() = default;
    virtual void Process(FrameSlot& slot) = 0;
    // The end of a receive batch, before the worker waits for the next
    // datagram.
    virtual void EndBatch() {}
};

// Sets the frame's serial-number text from a record's bytes: at most 29
// characters, cut at a NUL. The sensor table keeps rows per instrument.
inline void SetFrameSn(FrameSlot& slot, const char* text, size_t length) {
    length = strnlen(text, std::min<size_t>(length, kSnSize - 1));
    std::memcpy(slot.sn, text, length);
    slot.sn[length] = '\0';
}

// Copies what a reader needs of a frame: the header fields, the stored
// readings, sn and the text up to its end. Much cheaper than copying the whole
// slot, whose text area is mostly unused.
inline void CopyFrame(const FrameSlot& from, FrameSlot& to) {
    const int n = std::clamp<int>(from.count, 0, kMaxReadings);
    std::copy(from.readings, from.readings + n, to.readings);
    to.count = from.count;
    to.time = from.time;
    to.microseconds = from.microseconds;
    to.counter = from.counter;
    to.code = from.code;
    std::memcpy(to.sn, from.sn, sizeof to.sn);
    to.sn[kSnSize - 1] = '\0';
    to.hasValues = from.hasValues;
    if (from.hasValues) {
        std::copy(from.values, from.values + n, to.values);
        std::copy(from.alarms, from.alarms + n, to.alarms);
    }
    const size_t textLength = strnlen(from.text, kFrameTextSize - 1);
    std::memcpy(to.text, from.text, textLength);
    to.text[textLength] = '\0';
}

// The ring of decoded frames (m_frameRing; writeIndex is m_ringWriteIndex,
// framesDecoded is m_framesDecoded). Lives on the heap: it is about 6 MB.
//
// One producer (the receive worker) fills slot writeIndex completely and then
// publishes it by a release store of the next index; readers acquire the
// index and take the slot behind it.
//
// Each slot also has a mutex. The producer holds it while it fills the slot
// (SlotWriter) and readers hold it while they look at one (ReadLatest,
// CopyLatest). The two meet on the same slot only when a reader is so slow
// that the producer has gone round the whole ring meanwhile; the lock then
// makes the reader see either the old frame or the new one, never a mixture,
// and keeps the program free of data races (ThreadSanitizer checks this).
// Uncontended, it costs the producer one lock and unlock per frame.
struct FrameRing {
    FrameSlot slots[kRingSlots];
    std::atomic<int> writeIndex{0};      // m_ringWriteIndex
    // 64-bit: at thousands of frames a second a 32-bit count runs out within weeks.
    std::atomic<int64_t> framesDecoded{-1};  // m_framesDecoded
    mutable std::mutex slotMutex[kRingSlots];
    // Runs on each frame before it is published; null: nothing (the slot
    // then carries no values).
    std::atomic<SlotProcessor*> processor{nullptr};

    // The producer's last step before publishing a slot.
    void Finish(FrameSlot& slot) {
        if (SlotProcessor* p = processor.load(std::memory_order_acquire))
            p->Process(slot);
        else
            slot.hasValues = false;
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

    // Calls f(const FrameSlot&) with the newest published frame while holding
    // the slot's lock, unless the frame's counter equals lastCounter (a frame
    // this reader has handled already). Keep f short: it delays the producer
    // only if it catches up with this slot, but it should copy, not draw.
    // Returns whether f was called.
    template <typename F>
    bool ReadLatest(int lastCounter, F&& f) const {
        return ReadLatestImpl(true, lastCounter, f);
    }
    template <typename F>
    bool ReadLatest(F&& f) const {
        return ReadLatestImpl(false, 0, f);
    }

    // Copies the newest frame into out (see CopyFrame) unless its counter
    // equals lastCounter. Returns whether a frame was copied.
    bool CopyLatest(FrameSlot& out, int lastCounter) const {
        return ReadLatest(lastCounter, [&out](const FrameSlot& s) { CopyFrame(s, out); });
    }
    bool CopyLatest(FrameSlot& out) const {
        return ReadLatest([&out](const FrameSlot& s) { CopyFrame(s, out); });
    }

    // Producer side without locking: for single-threaded use only (tests,
    // tools). A producer that runs beside readers uses SlotWriter.
    FrameSlot& Target() { return slots[writeIndex.load(std::memory_order_relaxed)]; }
    void Publish() {
        Finish(Target());
        framesDecoded.fetch_add(1, std::memory_order_release);
        int next = writeIndex.load(std::memory_order_relaxed) + 1;
        if (next >= kRingSlots) next = 0;
        writeIndex.store(next, std::memory_order_release);
    }

    // Window initialisation and Reset: the next frame goes to slot 0 and
    // nothing counts as decoded. The slots keep their contents.
    void ResetIndices() {
        writeIndex.store(0, std::memory_order_release);
        framesDecoded.store(-1, std::memory_order_release);
    }

private:
    template <typename F>
    bool ReadLatestImpl(bool skipSeen, int lastCounter, F& f) const {
        const int latest = LatestIndex();
        if (latest < 0) return false;
        std::lock_guard<std::mutex> lock(slotMutex[latest]);
        const FrameSlot& slot = slots[latest];
        if (skipSeen && slot.counter == lastCounter) return false;
        f(slot);
        return true;
    }
};

// The producer's hold on the target slot: locks it on construction; Publish()
// unlocks it and advances the write index. Destroyed without Publish() (a
// rejected frame) it only unlocks: nothing becomes visible.
class SlotWriter {
public:
    explicit SlotWriter(FrameRing& ring)
        : ring_(ring),
          index_(ring.writeIndex.load(std::memory_order_relaxed)),
          lock_(ring.slotMutex[index_]) {}
    SlotWriter(const SlotWriter&) = delete;
    SlotWriter& operator=(const SlotWriter&) = delete;

    FrameSlot& Slot() { return ring_.slots[index_]; }
    int Index() const { return index_; }

    void Publish() {
        if (!lock_.owns_lock()) return;
        ring_.Finish(Slot());
        lock_.unlock();
        ring_.framesDecoded.fetch_add(1, std::memory_order_release);
        ring_.writeIndex.store(index_ + 1 >= kRingSlots ? 0 : index_ + 1, std::memory_order_release);
    }

private:
    FrameRing& ring_;
    int index_;
    std::unique_lock<std::mutex> lock_;
};

}  // namespace lumora

#pragma pop_macro("slots")
