#include "views/realtime_strip.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumora {

namespace {

constexpr float kStartMin = 1660000.0f;
constexpr float kStartMax = -1660000.0f;

// Truncates toward zero, keeping values that do not fit an int inside it.
int Trunc(double v) {
    if (!(v > -1e9)) return -1000000000;
    if (v > 1e9) return 1000000000;
    return static_cast<int>(v);
}

}  // namespace

RealtimeGeometry RealtimeGeometry::For(int width, int height) {
    RealtimeGeometry g;
    g.width = std::max(width, 0);
    g.height = std::max(height, 0);
    g.plotWidth = g.width - 180;
    g.plotHeight = g.height - g.verticalMargin;
    g.originX = g.leftMargin;
    g.originY = g.height - 40;
    g.tickSpacing = static_cast<float>(g.plotHeight) / 10.0f;
    return g;
}

void CompactStripLine(const std::vector<RealtimePoint>& line, std::vector<RealtimePoint>& out) {
    out.clear();
    const size_t n = line.size();
    auto push = [&out](RealtimePoint p) {
        if (out.empty() || out.back().x != p.x || out.back().y != p.y) out.push_back(p);
    };
    size_t i = 0;
    while (i < n) {
        size_t j = i;
        int lo = line[i].y;
        int hi = line[i].y;
        while (j + 1 < n && line[j + 1].x == line[i].x) {
            ++j;
            lo = std::min(lo, line[j].y);
            hi = std::max(hi, line[j].y);
        }
        const int x = line[i].x;
        push(line[i]);
        if (j > i) {
            // toward the nearer extreme first
            if (line[i].y - lo <= hi - line[i].y) {
                push({x, lo});
                push({x, hi});
            } else {
                push({x, hi});
                push({x, lo});
            }
            push(line[j]);
        }
        i = j + 1;
    }
}

void RealtimeStrip::Open(int width, int height) {
    std::lock_guard<std::mutex> lock(mutex_);
    geometry_ = RealtimeGeometry::For(width, height);
    samples_.assign(length_, 0.0f);
    min_ = kStartMin;
    max_ = kStartMax;
    open_ = true;
}

void RealtimeStrip::Resize(int width, int height) {
    std::lock_guard<std::mutex> lock(mutex_);
    geometry_ = RealtimeGeometry::For(width, height);
}

void RealtimeStrip::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    samples_.clear();
    samples_.shrink_to_fit();
}

bool RealtimeStrip::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

bool RealtimeStrip::SetLength(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n == length_ || n < kRealtimeMinLength || n > kRealtimeMaxLength) return false;
    if (open_) samples_.assign(n, 0.0f);
    length_ = n;
    return true;
}

void RealtimeStrip::SetUnits(std::shared_ptr<const CompiledSensors> sensors) {
    std::lock_guard<std::mutex> lock(mutex_);
    units_ = std::move(sensors);
    unit_.clear();
    sensorId_ = 0;  // the next sample starts the strip afresh
}

int RealtimeStrip::Length() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return length_;
}

bool RealtimeStrip::Step(const FrameRing& ring, int id, bool full, RealtimeDrawing& out) {
    int counter = 0;
    int count = 0;
    double value = 0.0;
    // The strip's lock first (units_), then the slot's for the few fields
    // needed; nothing takes them the other way round.
    std::lock_guard<std::mutex> lock(mutex_);
    const bool got = ring.ReadLatest([&](const FrameSlot& slot) {
        counter = slot.counter;
        count = std::min<int>(slot.count, kMaxReadings);
        if (id < 1 || id > count) return;
        if (!units_) {
            value = slot.readings[id - 1].physicValue;
            return;
        }
        value = slot.hasValues ? slot.values[id - 1] : std::nan("");
        const SensorCalibration* cal = units_->PlanFor(slot.sn).Find(slot.readings[id - 1].id);
        if (!cal || cal->row->unit != unit_) unit_ = cal ? cal->row->unit : std::string();
    });
    if (!got) return false;

    if (!open_) return false;
    if (counter == lastCounter_) return false;
    lastCounter_ = counter;
    if (id < 1 || id > count) return false;
    if (std::isnan(value)) return false;  // no engineering value in this frame

    if (id != sensorId_) {
        std::fill(samples_.begin(), samples_.end(), 0.0f);
        sensorId_ = id;
    }
    min_ = kStartMin;
    max_ = kStartMax;
    const int len = static_cast<int>(samples_.size());
    for (int k = 0; k + 1 < len; ++k) {
        samples_[k] = samples_[k + 1];
        min_ = std::min(min_, samples_[k]);
        max_ = std::max(max_, samples_[k]);
    }
    const float v = static_cast<float>(value);
    samples_[len - 1] = v;
    min_ = std::min(min_, v);
    max_ = std::max(max_, v);
    return LayOut(full, out);
}

bool RealtimeStrip::LayOut(bool full, RealtimeDrawing& out) {
    const RealtimeGeometry& g = geometry_;
    if (max_ == min_) {
        // a flat strip sits in the middle of +-4 % of its value; a flat strip
        // of zeros gets +-1 so that the scale never divides by zero
        float c = 0.2f * static_cast<float>(0.2 * std::fabs(static_cast<double>(max_)));
        if (!(c > 0.0f)) c = 1.0f;
        max_ += c;
        min_ -= c;
    }
    const int len = static_cast<int>(samples_.size());
    if (len <= 0) return false;
    const float xStep = static_cast<float>(g.plotWidth) / static_cast<float>(len);
    const float yScale = static_cast<float>(g.plotHeight) / (max_ - min_);
    if (!(yScale > 0.0f) || !std::isfinite(yScale)) return false;

    out.width = g.width;
    out.height = g.height;
    out.scale.clear();
    out.labels.clear();
    if (!full) {
        out.scale.push_back({g.originX - 1, 40, g.originX - 1, g.originY});
        char text[64];
        for (int u = 0; u <= 10; ++u) {
            const int y = Trunc(40.0f + static_cast<float>(u) * g.tickSpacing);
            const int right = u == 10 ? g.leftMargin + 1 + g.plotWidth : g.originX - 1;
            out.scale.push_back({g.originX - 16, y, right, y});
            const int top = Trunc(40.0f + static_cast<float>(u) * g.tickSpacing - 5.0f);
            const float value = max_ - static_cast<float>(u) * (max_ - min_) / 10.0f;
            std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
            out.labels.push_back({g.labelLeft, top, g.labelRight, top + 25, text});
        }
        if (units_ && !unit_.empty()) out.labels.push_back({g.labelLeft, 5, g.labelRight, 35, unit_});
    }
    out.line.resize(len);
    for (int k = 0; k < len; ++k) {
        const int x = Trunc(static_cast<float>(k) * xStep) + g.originX;
        const int y = g.originY - Trunc((samples_[k] - min_) * yScale);
        out.line[k] = {x, y};
    }
    return true;
}

void RealtimeStrip::CountDrawing(int64_t nowMs) {
    ++drawCount_;
    if (rateStartMs_ == 0) {
        drawRate_.store(0, std::memory_order_relaxed);
        rateStartMs_ = nowMs;
    } else if (nowMs - rateStartMs_ >= 10000) {
        const int64_t seconds = (nowMs - rateStartMs_) / 1000;
        drawRate_.store(static_cast<int>(drawCount_ / seconds), std::memory_order_relaxed);
        drawCount_ = 0;
        rateStartMs_ = nowMs;
    }
}

std::vector<float> RealtimeStrip::Samples() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
}

float RealtimeStrip::Min() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return min_;
}

float RealtimeStrip::Max() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return max_;
}

int RealtimeStrip::SensorId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sensorId_;
}

RealtimeGeometry RealtimeStrip::Geometry() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return geometry_;
}

}  // namespace lumora
