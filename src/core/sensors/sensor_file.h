#pragma once
// Where the sensor table lives: [Sensors] File of Lumora.ini, by default
// sensors.csv in the working folder beside Lumora.ini.
#include <memory>
#include <string>
#include <vector>

#include "sensors/sensor_values.h"

namespace lumora {

class SettingsStore;

inline constexpr char kDefaultSensorFile[] = "sensors.csv";
// The alarm log's name in the recording folder.
inline constexpr char kAlarmLogName[] = "alarms.csv";

// [Sensors] File, or the default.
std::string ConfiguredSensorFile(const SettingsStore& settings);

// Loads, validates and compiles a table; null with the reasons in errors.
std::shared_ptr<const CompiledSensors> LoadCompiledSensors(const std::string& path, std::vector<std::string>& errors);

}  // namespace lumora
