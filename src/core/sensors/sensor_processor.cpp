#include "sensors/sensor_processor.h"

#include <algorithm>
#include <cstring>

namespace lumora {

void SensorProcessor::SetTable(std::shared_ptr<const CompiledSensors> table) {
    std::lock_guard<std::mutex> lock(configMutex_);
    pendingTable_ = std::move(table);
    tableChanged_.store(true, std::memory_order_release);
}

std::shared_ptr<const CompiledSensors> SensorProcessor::Table() const {
    std::lock_guard<std::mutex> lock(configMutex_);
    return pendingTable_;
}

void SensorProcessor::SetLogPath(std::string path) {
    std::lock_guard<std::mutex> lock(configMutex_);
    pendingLogPath_ = std::move(path);
    logPathChanged_.store(true, std::memory_order_release);
}

void SensorProcessor::SetListener(TransitionListener listener) {
    std::lock_guard<std::mutex> lock(configMutex_);
    listener_ = std::move(listener);
}

void SensorProcessor::SetLogErrorListener(std::function<void(const std::string&)> listener) {
    std::lock_guard<std::mutex> lock(configMutex_);
    logErrorListener_ = std::move(listener);
}

std::vector<AlarmTransition> SensorProcessor::ActiveAlarms() const {
    std::lock_guard<std::mutex> lock(activeMutex_);
    std::vector<AlarmTransition> out;
    out.reserve(active_.size());
    for (const auto& a : active_) out.push_back(a.second);
    return out;
}

void SensorProcessor::TakeTable() {
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        table_ = pendingTable_;
        tableChanged_.store(false, std::memory_order_relaxed);
    }
    if (!table_) {
        instruments_.clear();
        byName_.clear();
        lastInstrument_ = nullptr;
    }
    // A sensor whose row went away cannot leave its alarm any more: it is
    // forgotten. The others keep their states under the new limits.
    std::vector<std::pair<std::string, int>> gone;
    for (auto& inst : instruments_) {
        inst->plan = &table_->PlanFor(inst->sn);
        for (int id = 1; id <= kMaxSensorId; ++id) {
            if (inst->states[id] != AlarmState::Normal && !inst->plan->byId[id].present) {
                inst->states[id] = AlarmState::Normal;
                gone.emplace_back(inst->sn, id);
            }
        }
    }
    std::lock_guard<std::mutex> lock(activeMutex_);
    if (!table_) active_.clear();
    for (const auto& key : gone) active_.erase(key);
    activeCount_.store(static_cast<int>(active_.size()), std::memory_order_relaxed);
}

SensorProcessor::Instrument* SensorProcessor::FindInstrument(const char* sn) {
    if (lastInstrument_ && std::strcmp(lastInstrument_->sn, sn) == 0) return lastInstrument_;
    const std::string_view name(sn, strnlen(sn, kSnSize - 1));
    auto it = byName_.find(name);
    if (it != byName_.end()) return lastInstrument_ = it->second;
    if (instruments_.size() >= kMostInstruments) return nullptr;
    auto inst = std::make_unique<Instrument>();
    std::memcpy(inst->sn, name.data(), name.size());
    inst->plan = &table_->PlanFor(name);
    lastInstrument_ = inst.get();
    byName_.emplace(std::string(name), inst.get());
    instruments_.push_back(std::move(inst));
    return lastInstrument_;
}

void SensorProcessor::Process(FrameSlot& slot) {
    if (tableChanged_.load(std::memory_order_acquire)) TakeTable();
    if (!table_) {
        slot.hasValues = false;
        return;
    }
    Instrument* inst = FindInstrument(slot.sn);
    const SensorPlan& plan = inst ? *inst->plan : table_->PlanFor(slot.sn);
    calculator_.NewFrame();
    const int count = std::clamp<int>(slot.count, 0, kMaxReadings);
    for (int k = 0; k < count; ++k) {
        const SensorReading& r = slot.readings[k];
        const SensorCalibration* cal = plan.Find(r.id);
        if (!cal) {
            slot.values[k] = std::numeric_limits<double>::quiet_NaN();
            slot.alarms[k] = 0;
            continue;
        }
        const double value = SensorValue(*cal, r.wavelength, cal->compId ? calculator_.CompWavelength(slot, cal->compId) : 0.0);
        slot.values[k] = value;
        if (!inst) {
            slot.alarms[k] = 0;
            continue;
        }
        AlarmState& state = inst->states[r.id];
        const AlarmState next = NextAlarmState(state, value, cal->low, cal->high, cal->hysteresis);
        if (next != state) {
            AlarmTransition t;
            t.seconds = slot.time;
            t.microseconds = slot.microseconds;
            t.sn = inst->sn;
            t.id = r.id;
            t.label = cal->row->label;
            t.unit = cal->row->unit;
            t.value = value;
            t.state = next;
            t.previous = state;
            batch_.push_back(std::move(t));
            state = next;
        }
        slot.alarms[k] = static_cast<int8_t>(state);
    }
    slot.hasValues = true;
}

void SensorProcessor::UpdateActive() {
    std::lock_guard<std::mutex> lock(activeMutex_);
    for (const AlarmTransition& t : batch_) {
        auto key = std::make_pair(t.sn, t.id);
        if (t.state == AlarmState::Normal)
            active_.erase(key);
        else
            active_[key] = t;
    }
    activeCount_.store(static_cast<int>(active_.size()), std::memory_order_relaxed);
}

void SensorProcessor::EndBatch() {
    if (logPathChanged_.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(configMutex_);
        log_.SetPath(pendingLogPath_);
        logPathChanged_.store(false, std::memory_order_relaxed);
    }
    const auto now = std::chrono::steady_clock::now();
    // After a failed write the log is tried again with the next transition,
    // or once a second.
    const bool retry = log_.Waiting() > 0 && now - lastRetry_ >= std::chrono::seconds(1);
    if (batch_.empty() && !retry) return;

    std::vector<std::string> lines;
    lines.reserve(batch_.size());
    for (const AlarmTransition& t : batch_) lines.push_back(AlarmLogLine(t));
    std::string error;
    const bool written = log_.Append(lines, error);
    lastRetry_ = now;
    logLost_.store(log_.Lost(), std::memory_order_relaxed);

    std::function<void(const std::string&)> onError;
    TransitionListener listener;
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        if (!written && !logFailing_) onError = logErrorListener_;
        if (!batch_.empty()) listener = listener_;
    }
    logFailing_ = !written;
    if (onError) onError(error);
    if (batch_.empty()) return;
    transitionCount_.fetch_add(batch_.size(), std::memory_order_relaxed);
    UpdateActive();
    if (listener) listener(batch_);
    batch_.clear();
}

}  // namespace lumora
