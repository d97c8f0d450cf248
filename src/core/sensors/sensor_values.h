#pragma once
// Engineering values from a validated sensor table, for every reading of a
// frame:
//   d = (wavelength - lambda0) - comp_factor * (wavelength of comp_id - its lambda0)
//   value = c0 + c1 d + c2 d^2 + c3 d^3
// A sensor is found by its id in a table of 321 entries made once per
// instrument, never by a search of the rows: the receive worker computes the
// values of every frame.
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "model/frame_types.h"
#include "sensors/sensor_table.h"

namespace lumora {

// What one sensor of one instrument needs, resolved from the table.
struct SensorCalibration {
    bool present = false;  // a row applies
    int32_t compId = 0;    // 0: not compensated
    bool compPresent = false;
    double lambda0 = 0;
    double c0 = 0, c1 = 0, c2 = 0, c3 = 0;
    double compFactor = 1;
    double compLambda0 = 0;
    // Alarm limits; an absent limit is infinite so that it is never passed.
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    double hysteresis = 0;
    const SensorRow* row = nullptr;  // label, unit
};

// The calibrations that apply to one instrument, by sensor id (entry 0 unused).
struct SensorPlan {
    SensorCalibration byId[kMaxSensorId + 1];
    bool anyCompensated = false;
    bool anyPresent = false;

    const SensorCalibration* Find(int32_t id) const {
        return id >= 1 && id <= kMaxSensorId && byId[id].present ? &byId[id] : nullptr;
    }
};

// A validated table made ready for computing. Immutable once built, so one
// may be shared by threads (the receive worker, the views, the publisher).
class CompiledSensors {
public:
    explicit CompiledSensors(SensorTable table, std::string path = {});
    CompiledSensors(const CompiledSensors&) = delete;
    CompiledSensors& operator=(const CompiledSensors&) = delete;

    // The plan for the instrument whose serial-number text is sn: its own
    // rows, and the rows for any instrument where it has none.
    const SensorPlan& PlanFor(std::string_view sn) const;
    const SensorTable& Table() const { return table_; }
    // The file the table came from (empty when it did not come from one).
    const std::string& Path() const { return path_; }

private:
    void Fill(SensorPlan& plan, std::string_view sn) const;

    SensorTable table_;
    std::string path_;
    std::unique_ptr<SensorPlan> anyPlan_;
    std::map<std::string, std::unique_ptr<SensorPlan>, std::less<>> plans_;
};

// The value of one reading; NaN (empty) when the compensating wavelength is
// missing (compWavelength NaN) or the compensating sensor has no row.
inline double SensorValue(const SensorCalibration& cal, double wavelength, double compWavelength) {
    double d = wavelength - cal.lambda0;
    if (cal.compId != 0) {
        if (!cal.compPresent) return std::numeric_limits<double>::quiet_NaN();
        d -= cal.compFactor * (compWavelength - cal.compLambda0);
    }
    return cal.c0 + d * (cal.c1 + d * (cal.c2 + d * cal.c3));
}

// Computes the values of a frame's readings. Keeps scratch space between
// frames, so one calculator belongs to one thread.
class ValueCalculator {
public:
    // values[k] for frame.readings[k], NaN where empty.
    void Compute(const SensorPlan& plan, const FrameSlot& frame, double* values);

    // The wavelength of the reading with this id in frame, NaN when none.
    // Readings usually sit at position id - 1; otherwise an index of the
    // frame's ids is made once for the frame.
    double CompWavelength(const FrameSlot& frame, int32_t id) {
        const int count = frame.count < kMaxReadings ? frame.count : kMaxReadings;
        if (id <= count && frame.readings[id - 1].id == id) return frame.readings[id - 1].wavelength;
        if (!indexed_) IndexFrame(frame);
        return stamp_[id] == generation_ ? static_cast<double>(wavelengthById_[id])
                                         : std::numeric_limits<double>::quiet_NaN();
    }
    // Starts a new frame for CompWavelength.
    void NewFrame() { indexed_ = false; }

private:
    void IndexFrame(const FrameSlot& frame);

    bool indexed_ = false;
    uint32_t generation_ = 0;
    uint32_t stamp_[kMaxSensorId + 1] = {};
    int32_t wavelengthById_[kMaxSensorId + 1] = {};
};

}  // namespace lumora
