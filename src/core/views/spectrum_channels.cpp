#include "views/spectrum_channels.h"

#include <algorithm>
#include <cstdio>

namespace lumora {

std::string SpectrumSeriesName(int channel) {
    char name[16];
    std::snprintf(name, sizeof name, "CH%02d", channel + 1);
    return name;
}

SpectrumChannels::SpectrumChannels() {
    for (auto& s : samples_) s.reserve(kSpectrumMaxPoints);
}

bool SpectrumChannels::Store(int channel, const uint16_t* values, int count) {
    if (channel < 0) return false;
    channel = std::min(channel, kSpectrumChannels - 1);
    count = std::clamp(count, 0, kSpectrumMaxPoints);
    if (!values) count = 0;

    std::lock_guard<std::mutex> lock(mutex_);
    auto& dst = samples_[channel];
    dst.resize(count);
    for (int k = 0; k < count; ++k) dst[k] = std::min(values[k], kSpectrumMaxSample);
    pointCount_[channel] = count;
    if (count > maxPoints_) maxPoints_ = count;
    dirty_[channel] = true;
    dirtyAny_ = true;
    ++frameCount_;
    return !pending_.exchange(true, std::memory_order_acq_rel);
}

bool SpectrumChannels::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    maxPoints_ = 0;
    frameCount_ = 0;
    pointCount_.fill(0);
    dirty_.fill(false);
    for (auto& s : samples_) s.clear();
    cleared_ = true;
    dirtyAny_ = true;
    return !pending_.exchange(true, std::memory_order_acq_rel);
}

bool SpectrumChannels::Take(SpectrumPicture& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.store(false, std::memory_order_release);
    out.changed.fill(false);
    out.cleared = cleared_;
    out.maxPoints = maxPoints_;
    out.frameCount = frameCount_;
    out.pointCount = pointCount_;
    if (!dirtyAny_) return false;
    for (int c = 0; c < kSpectrumChannels; ++c) {
        if (!dirty_[c]) continue;
        out.changed[c] = true;
        out.samples[c].assign(samples_[c].begin(), samples_[c].end());
        dirty_[c] = false;
    }
    cleared_ = false;
    dirtyAny_ = false;
    return true;
}

long SpectrumChannels::FrameCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frameCount_;
}

int SpectrumChannels::MaxPoints() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return maxPoints_;
}

int SpectrumChannels::PointCount(int channel) const {
    if (channel < 0 || channel >= kSpectrumChannels) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    return pointCount_[channel];
}

}  // namespace lumora
