#pragma once
// What the decoders work on: the frame ring, the reference frame, the live
// values of the window that the receive worker reads, and the hand-off of
// spectrum frames. The main window object owns one AcquisitionState.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "model/frame_types.h"

namespace lumora {

// +1 for every wavelength frame that passes the length check; 0 at program
// start, never reset. Frames without a counter of their own take it. It wraps
// as an unsigned 32-bit count, which the frame's signed counter takes bit for bit.
extern std::atomic<uint32_t> g_frameSequence;

// Largest spectrum a frame can carry (the sample count is 16 bits).
constexpr int kMaxSpectrumSamples = 65535;

// Receives spectrum frames, on the receive worker's thread. The samples are
// valid only during the call (the buffer is reused for the next frame): copy
// what is needed before returning.
class SpectrumSink {
public:
    virtual ~SpectrumSink() = default;
    virtual void ShowSpectrumFrame(int channel, const uint16_t* values, int count) = 0;
};

// Called once per opening of the data port, by the first spectrum frame after
// it, on the receive worker's thread: the window brings view tab 1 (Spectrum)
// forward and ticks the Spectrum group's "DISP" box (1043). Implementations
// post the work to the UI thread.
class SpectrumAutoShowHook {
public:
    virtual ~SpectrumAutoShowHook() = default;
    virtual void BringSpectrumForward() = 0;
};

class AcquisitionState {
public:
    AcquisitionState()
        : m_frameRing(std::make_unique<FrameRing>()),
          m_referenceFrame(std::make_unique<FrameSlot>()),
          m_spectrumSamples(std::make_unique<uint16_t[]>(kMaxSpectrumSamples)) {}
    AcquisitionState(const AcquisitionState&) = delete;
    AcquisitionState& operator=(const AcquisitionState&) = delete;

    FrameRing& Ring() { return *m_frameRing; }
    const FrameRing& Ring() const { return *m_frameRing; }

    // ---- live values, written by the window's handlers, read by the worker
    // Source-data "DISP" box (1033): the decoders write the slot's text only
    // while it is ticked.
    std::atomic<bool> m_showSourceData{false};
    // The number in the "RCV Port" edit (1005): sensor serials are port x 1000 + id.
    std::atomic<int> m_rcvPort{7008};
    // Set by Open; the first spectrum frame after it clears it and calls the hook.
    std::atomic<bool> m_spectrumAutoShow{false};

    // ---- spectrum hand-off (either may be null: spectrum frames are then
    // checked and dropped). Set them before the worker starts or at any time.
    std::atomic<SpectrumSink*> m_spectrumSink{nullptr};
    std::atomic<SpectrumAutoShowHook*> m_spectrumAutoShowHook{nullptr};

    // ---- reference frame: the zero point of physicValue, taken by the sensor
    // list's RST button on the UI thread while the decoder reads it on the
    // worker. It is exchanged whole under a lock, so a frame is computed
    // either entirely against the old reference or entirely against the new.
    void SetReference(const FrameSlot& frame) {
        std::lock_guard<std::mutex> lock(m_referenceMutex);
        CopyFrame(frame, *m_referenceFrame);
        m_referenceValid = 1;
    }
    void ClearReference() {
        std::lock_guard<std::mutex> lock(m_referenceMutex);
        m_referenceValid = 0;
    }
    bool ReferenceValid() const {
        std::lock_guard<std::mutex> lock(m_referenceMutex);
        return m_referenceValid == 1;
    }
    // Copies the reference into out; false (out untouched) while there is none.
    bool CopyReference(FrameSlot& out) const {
        std::lock_guard<std::mutex> lock(m_referenceMutex);
        if (m_referenceValid != 1) return false;
        CopyFrame(*m_referenceFrame, out);
        return true;
    }
    // Calls f(const FrameSlot* reference) under the lock; reference is null
    // while there is none. For the decoder: one lock per frame.
    template <typename F>
    void WithReference(F&& f) const {
        std::lock_guard<std::mutex> lock(m_referenceMutex);
        f(m_referenceValid == 1 ? m_referenceFrame.get() : nullptr);
    }

    // The decoder's buffer for one spectrum's samples (worker thread only).
    uint16_t* SpectrumBuffer() { return m_spectrumSamples.get(); }

private:
    std::unique_ptr<FrameRing> m_frameRing;
    mutable std::mutex m_referenceMutex;
    std::unique_ptr<FrameSlot> m_referenceFrame;
    int m_referenceValid = 0;
    std::unique_ptr<uint16_t[]> m_spectrumSamples;
};

}  // namespace lumora
