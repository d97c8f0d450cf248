#pragma once
// The spectrum view's data: the latest spectrum of each of the 32 channels.
//
// Spectrum frames arrive on the receive worker; the chart is drawn on the UI
// thread. The worker stores each frame here under a lock and counts it; the
// UI thread takes a copy of what changed since its last look and redraws from
// that copy, so the chart never reads data that is being written. Only the
// first frame after a redraw asks for a new redraw: a burst of frames between
// two screen refreshes costs one redraw, while every frame still updates its
// channel and the frame count.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace lumora {

constexpr int kSpectrumChannels = 32;
constexpr int kSpectrumMaxPoints = 6144;
constexpr uint16_t kSpectrumMaxSample = 4095;  // samples are 12-bit intensities

// Series name of channel index c (0-based): "CH01" .. "CH32".
std::string SpectrumSeriesName(int channel);

// What the UI thread draws from: the channels that changed since its
// previous look, plus the axis range and the count.
struct SpectrumPicture {
    bool cleared = false;  // the view was reset since the previous look: drop every series first
    int maxPoints = 0;     // bottom axis runs 0 .. maxPoints - 1
    long frameCount = 0;   // shown in CNT
    std::array<bool, kSpectrumChannels> changed{};
    std::array<int, kSpectrumChannels> pointCount{};
    // samples of the changed channels (clamped to 4095); others are stale
    std::array<std::vector<uint16_t>, kSpectrumChannels> samples;
};

class SpectrumChannels {
public:
    SpectrumChannels();

    // Receive worker: one spectrum frame of `count` samples for channel index
    // `channel` (0..31). Samples above 4095 are kept as 4095; a count beyond
    // the channel's capacity is cut to it. Returns true when the caller must
    // ask the UI thread for a redraw (no redraw was pending yet).
    bool Store(int channel, const uint16_t* values, int count);

    // RST: forgets every channel, the axis range and the count. Returns true
    // when the caller must ask for a redraw.
    bool Reset();

    // UI thread: copies what changed since the previous call into `out`
    // (keeping the buffers of `out` for reuse) and clears the pending redraw.
    // Returns false when nothing changed.
    bool Take(SpectrumPicture& out);

    // Any thread: something changed since the UI thread's last Take.
    bool Pending() const { return pending_.load(std::memory_order_acquire); }

    long FrameCount() const;
    int MaxPoints() const;
    int PointCount(int channel) const;

private:
    mutable std::mutex mutex_;
    std::atomic<bool> pending_{false};
    bool cleared_ = false;
    bool dirtyAny_ = false;
    int maxPoints_ = 0;
    long frameCount_ = 0;
    std::array<bool, kSpectrumChannels> dirty_{};
    std::array<int, kSpectrumChannels> pointCount_{};
    std::array<std::vector<uint16_t>, kSpectrumChannels> samples_;
};

}  // namespace lumora
