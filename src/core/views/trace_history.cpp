#include "views/trace_history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace lumora {

TraceHistory::TraceHistory() : entries_(kTraceHistoryCapacity) {}

bool TraceHistory::Poll(const FrameRing& ring) {
    bool appended = false;
    ring.ReadLatest(lastCounter_, [&](const FrameSlot& slot) {
        lastCounter_ = slot.counter;
        if (slot.count == 0) return;
        Append(slot);
        appended = true;
    });
    return appended;
}

void TraceHistory::Append(const FrameSlot& slot) {
    int index;
    if (size_ < kTraceHistoryCapacity) {
        index = (first_ + size_) % kTraceHistoryCapacity;
        ++size_;
    } else {
        // the oldest entry's buffers are reused for the newest frame
        index = first_;
        first_ = (first_ + 1) % kTraceHistoryCapacity;
    }
    TraceEntry& e = entries_[index];
    e.count = slot.count;
    e.time = slot.time;
    e.microseconds = slot.microseconds;
    e.counter = slot.counter;
    e.code = slot.code;
    std::memcpy(e.sn, slot.sn, sizeof e.sn);
    e.sn[kSnSize - 1] = '\0';
    const int n = std::clamp(slot.count, 0, kMaxReadings);
    e.readings.assign(slot.readings, slot.readings + n);
    if (slot.hasValues)
        e.values.assign(slot.values, slot.values + n);
    else
        e.values.clear();
}

size_t TraceHistory::MemoryBytes() const {
    size_t bytes = entries_.capacity() * sizeof(TraceEntry);
    for (const auto& e : entries_)
        bytes += e.readings.capacity() * sizeof(SensorReading) + e.values.capacity() * sizeof(double);
    return bytes;
}

TraceAxes BuildTraceSeries(const TraceHistory& history, const std::vector<int>& rows,
                           std::vector<TraceSeries>& series, const CompiledSensors* units) {
    const int n = history.Size();
    TraceAxes axes;
    double low = 1600000.0;
    double high = -1600000.0;
    series.resize(rows.size());
    for (size_t s = 0; s < rows.size(); ++s) {
        TraceSeries& line = series[s];
        line.row = rows[s];
        line.name.clear();
        line.x.resize(static_cast<size_t>(n));
        line.y.resize(static_cast<size_t>(n));
    }
    // Frame by frame, so that each copy's readings are read in one sweep
    // rather than one reading of every copy per line; a line's points are
    // packed as they come, a frame with fewer readings (or, in units, without
    // a value) leaving a gap at that row.
    std::vector<size_t> points(rows.size(), 0);
    for (int j = 0; j < n; ++j) {
        const TraceEntry& e = history.Entry(j);
        const int count = static_cast<int>(e.readings.size());
        const int valued = static_cast<int>(e.values.size());
        for (size_t s = 0; s < rows.size(); ++s) {
            const int r = rows[s];
            if (r < 0 || r >= count) continue;
            double v = e.readings[r].physicValue;
            if (units) {
                v = r < valued ? e.values[r] : std::nan("");
                if (std::isnan(v)) continue;
            }
            TraceSeries& line = series[s];
            line.x[points[s]] = j;
            line.y[points[s]] = v;
            ++points[s];
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    for (size_t s = 0; s < rows.size(); ++s) {
        TraceSeries& line = series[s];
        line.x.resize(points[s]);
        line.y.resize(points[s]);
        const int r = rows[s];
        if (n > 0 && r >= 0) {
            const TraceEntry& oldest = history.Entry(0);
            if (r < static_cast<int>(oldest.readings.size()) && oldest.readings[r].id != 0) {
                char name[32];
                std::snprintf(name, sizeof name, "%d.%d", oldest.readings[r].id, oldest.readings[r].serial);
                line.name = name;
                const SensorCalibration* cal = units ? units->PlanFor(oldest.sn).Find(oldest.readings[r].id) : nullptr;
                if (cal && !cal->row->label.empty()) line.name = cal->row->label;
                if (cal && !cal->row->unit.empty() &&
                    (", " + axes.leftUnit + ", ").find(", " + cal->row->unit + ", ") == std::string::npos)
                    axes.leftUnit += (axes.leftUnit.empty() ? "" : ", ") + cal->row->unit;
            }
        }
    }

    axes.bottomMin = 0;
    axes.bottomMax = n;
    if (low > high) {
        // nothing chosen or nothing to draw
        axes.leftMin = -1.0;
        axes.leftMax = 1.0;
    } else if (low == high) {
        // a flat line sits in the middle of a range around its value
        const double pad = std::max(0.05 * std::fabs(low), 1.0);
        axes.leftMin = low - pad;
        axes.leftMax = high + pad;
    } else {
        const double span = high - low;
        axes.leftMin = low - 0.05 * span;
        axes.leftMax = high + 0.05 * span;
    }
    return axes;
}

}  // namespace lumora
