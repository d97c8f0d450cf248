#pragma once
// What the publisher sends about sensors besides the frames: the table rows
// that apply to each device, retained on TOPIC/DEVICE/sensors (when the
// device is first seen, whenever the table changes, and again after each
// reconnection), and each alarm transition on TOPIC/DEVICE/alarms.
//
// The table and the transitions are handed over from other threads; the
// publisher thread asks for the messages that are due.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sensors/alarms.h"
#include "sensors/sensor_values.h"

namespace lumora {

class SensorMessages {
public:
    // Transitions waiting beyond this many (a broker away for long) are dropped.
    static constexpr size_t kMostAlarmsWaiting = 10000;
    using PublishFn = std::function<void(const std::string& topic, const std::string& payload, bool retain)>;

    // ---- any thread
    // Null: no table. Devices already told of a table are told it is empty.
    void SetTable(std::shared_ptr<const CompiledSensors> table);
    // The receive worker's transitions of one batch; never waits long.
    void AddAlarms(const std::vector<AlarmTransition>& transitions);
    uint64_t AlarmsDropped() const;

    // ---- publisher thread
    // A frame of device (the topic's name for it) with serial-number text sn.
    void SawDevice(const char* device, const char* sn);
    // Every retained message is due again (a new connection).
    void Reconnected();
    // Publishes what is due under topic (the [MQTT] Topic).
    void Flush(const std::string& topic, const PublishFn& publish);

private:
    struct Device {
        std::string sn;
        uint64_t toldVersion = 0;  // table version last published for it; 0: none
    };

    mutable std::mutex mutex_;
    std::shared_ptr<const CompiledSensors> table_;
    uint64_t version_ = 0;   // +1 for every SetTable
    bool everTable_ = false;
    std::vector<AlarmTransition> alarms_;
    uint64_t alarmsDropped_ = 0;

    // Publisher thread only.
    std::map<std::string, Device, std::less<>> devices_;    // by topic name
    std::map<std::string, std::string, std::less<>> deviceOfSn_;
    const char* lastDevice_ = nullptr;
};

}  // namespace lumora
