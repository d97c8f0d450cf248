#include "sensors/sensor_values.h"

#include <algorithm>

namespace lumora {

CompiledSensors::CompiledSensors(SensorTable table, std::string path)
    : table_(std::move(table)), path_(std::move(path)), anyPlan_(std::make_unique<SensorPlan>()) {
    Fill(*anyPlan_, {});
    for (const SensorRow& r : table_.Rows()) {
        if (r.sn.empty() || plans_.count(r.sn)) continue;
        auto plan = std::make_unique<SensorPlan>();
        Fill(*plan, r.sn);
        plans_.emplace(r.sn, std::move(plan));
    }
}

void CompiledSensors::Fill(SensorPlan& plan, std::string_view sn) const {
    // Rows for any instrument first, then the instrument's own rows over them.
    const SensorRow* chosen[kMaxSensorId + 1] = {};
    for (int pass = 0; pass < 2; ++pass) {
        for (const SensorRow& r : table_.Rows()) {
            const bool wanted = pass == 0 ? r.sn.empty() : (!sn.empty() && r.sn == sn);
            if (wanted && r.id >= 1 && r.id <= kMaxSensorId) chosen[r.id] = &r;
        }
    }
    for (int id = 1; id <= kMaxSensorId; ++id) {
        const SensorRow* r = chosen[id];
        if (!r) continue;
        SensorCalibration& cal = plan.byId[id];
        cal.present = true;
        cal.row = r;
        cal.lambda0 = r->lambda0;
        cal.c0 = r->c[0];
        cal.c1 = r->c[1];
        cal.c2 = r->c[2];
        cal.c3 = r->c[3];
        cal.compId = r->compId;
        cal.compFactor = r->compFactor;
        if (r->low) cal.low = *r->low;
        if (r->high) cal.high = *r->high;
        cal.hysteresis = r->hysteresis;
        if (r->compId >= 1 && r->compId <= kMaxSensorId && chosen[r->compId]) {
            cal.compPresent = true;
            cal.compLambda0 = chosen[r->compId]->lambda0;
        }
        plan.anyPresent = true;
        if (cal.compId) plan.anyCompensated = true;
    }
}

const SensorPlan& CompiledSensors::PlanFor(std::string_view sn) const {
    if (!plans_.empty()) {
        auto it = plans_.find(sn);
        if (it != plans_.end()) return *it->second;
    }
    return *anyPlan_;
}

void ValueCalculator::IndexFrame(const FrameSlot& frame) {
    if (++generation_ == 0) {  // after 2^32 frames: the old stamps could match again
        std::fill(std::begin(stamp_), std::end(stamp_), 0u);
        generation_ = 1;
    }
    const int count = std::clamp<int>(frame.count, 0, kMaxReadings);
    for (int k = 0; k < count; ++k) {
        const int32_t id = frame.readings[k].id;
        if (id < 1 || id > kMaxSensorId || stamp_[id] == generation_) continue;  // the first with an id counts
        stamp_[id] = generation_;
        wavelengthById_[id] = frame.readings[k].wavelength;
    }
    indexed_ = true;
}

void ValueCalculator::Compute(const SensorPlan& plan, const FrameSlot& frame, double* values) {
    NewFrame();
    const int count = std::clamp<int>(frame.count, 0, kMaxReadings);
    constexpr double kEmpty = std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k < count; ++k) {
        const SensorReading& r = frame.readings[k];
        const SensorCalibration* cal = plan.Find(r.id);
        if (!cal) {
            values[k] = kEmpty;
            continue;
        }
        const double comp = cal->compId ? CompWavelength(frame, cal->compId) : 0.0;
        values[k] = SensorValue(*cal, r.wavelength, comp);
    }
}

}  // namespace lumora
