#include "publishing/sensor_messages.h"

#include <cstring>

#include "publishing/frame_payload.h"
#include "sensors/sensors_json.h"

namespace lumora {

void SensorMessages::SetTable(std::shared_ptr<const CompiledSensors> table) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (table) everTable_ = true;
    table_ = std::move(table);
    ++version_;
}

void SensorMessages::AddAlarms(const std::vector<AlarmTransition>& transitions) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const AlarmTransition& t : transitions) {
        if (alarms_.size() >= kMostAlarmsWaiting) {
            ++alarmsDropped_;
            continue;
        }
        alarms_.push_back(t);
    }
}

uint64_t SensorMessages::AlarmsDropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return alarmsDropped_;
}

void SensorMessages::SawDevice(const char* device, const char* sn) {
    if (lastDevice_ && std::strcmp(lastDevice_, device) == 0) return;
    auto it = devices_.find(std::string_view(device));
    if (it == devices_.end()) it = devices_.emplace(device, Device{}).first;
    if (it->second.sn != sn) {
        it->second.sn = sn;
        it->second.toldVersion = 0;
        deviceOfSn_[sn] = device;
    }
    lastDevice_ = it->first.c_str();
}

void SensorMessages::Reconnected() {
    for (auto& d : devices_) d.second.toldVersion = 0;
}

void SensorMessages::Flush(const std::string& topic, const PublishFn& publish) {
    std::shared_ptr<const CompiledSensors> table;
    uint64_t version;
    bool everTable;
    std::vector<AlarmTransition> alarms;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        table = table_;
        version = version_;
        everTable = everTable_;
        alarms.swap(alarms_);
    }
    if (everTable) {
        for (auto& [device, d] : devices_) {
            if (d.toldVersion == version) continue;
            d.toldVersion = version;
            publish(topic + "/" + TopicSafe(device.c_str()) + "/sensors", SensorsJson(table.get(), d.sn, device), true);
        }
    }
    for (const AlarmTransition& t : alarms) {
        auto it = deviceOfSn_.find(t.sn);
        const std::string device = it != deviceOfSn_.end() ? it->second : t.sn;
        publish(topic + "/" + TopicSafe(device.c_str()) + "/alarms", AlarmJson(t, device), false);
    }
}

}  // namespace lumora
