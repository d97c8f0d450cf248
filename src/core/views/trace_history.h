#pragma once
// The trace view's data: copies of the last 500 frames, oldest first, and the
// series drawn from them for the chosen sensor-list rows.
//
// An entry keeps the frame fields and the readings up to the frame's count,
// not the frame's display text, so a full history of 320-reading frames stays
// near 5 MB. Entries are recycled in a ring, so after the history has filled
// no refresh allocates.
#include <cstdint>
#include <string>
#include <vector>

#include "model/frame_types.h"
#include "sensors/sensor_values.h"

namespace lumora {

constexpr int kTraceHistoryCapacity = 500;

struct TraceEntry {
    int32_t count = 0;
    int32_t time = 0;
    int32_t microseconds = 0;
    int32_t counter = 0;
    int32_t code = 0;
    char sn[kSnSize] = {};
    std::vector<SensorReading> readings;  // the frame's first `count` readings
    std::vector<double> values;           // their engineering values; empty when the frame had none
};

class TraceHistory {
public:
    TraceHistory();

    // One tick of the trace refresh: takes the newest frame of the ring into
    // the history when it is new (its counter differs from the last one
    // taken) and carries readings. Returns true when a frame was taken, i.e.
    // when the chart must be rebuilt.
    bool Poll(const FrameRing& ring);

    // Appends a copy of slot, dropping the oldest copy beyond 500.
    void Append(const FrameSlot& slot);

    // Reset forgets which frame was taken last (the history itself stays).
    void ForgetLastCounter() { lastCounter_ = -1; }
    int LastCounter() const { return lastCounter_; }

    int Size() const { return size_; }
    // Entry j, 0 = oldest.
    const TraceEntry& Entry(int j) const { return entries_[(first_ + j) % kTraceHistoryCapacity]; }

    // Bytes held by the history (entries and their reading buffers).
    size_t MemoryBytes() const;

private:
    std::vector<TraceEntry> entries_;
    int first_ = 0;
    int size_ = 0;
    int lastCounter_ = -1;
};

// One line of the trace chart: the physical value of reading `row` in every
// history entry that has such a reading (x = the entry's index, 0 = oldest),
// or with units its engineering value where it has one.
struct TraceSeries {
    int row = 0;
    // "%d.%d" of id and serial in the oldest entry, empty when that id is 0;
    // with units the sensor's label where it has one.
    std::string name;
    std::vector<double> x;
    std::vector<double> y;
};

struct TraceAxes {
    double leftMin = 0, leftMax = 0;
    double bottomMin = 0, bottomMax = 0;
    std::string leftUnit;  // with units: the units of the lines, ", " between different ones
};

// Builds one series per chosen row (in the given order) and the axis ranges:
// one vertical scale for all lines with 5 % margins; bottom 0 to n. With no
// points, or all values equal, the left axis is a small range around the
// value instead of an empty one. `series` keeps its buffers for reuse.
// With units (a sensor table given) the lines are the engineering values,
// named by label, and empty values leave gaps.
TraceAxes BuildTraceSeries(const TraceHistory& history, const std::vector<int>& rows,
                           std::vector<TraceSeries>& series, const CompiledSensors* units = nullptr);

}  // namespace lumora
