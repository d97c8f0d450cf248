#pragma once
// What the MQTT publisher sends about sensors besides the frames:
//  - the table rows that apply to an instrument, retained on TOPIC/DEVICE/sensors:
//    {"device":"SIM0001","sensors":[{"id":1,"label":"Strain A","unit":"µε",
//      "low":-500,"high":500,"hysteresis":10},...]}   (an absent limit is null)
//  - one alarm transition, on TOPIC/DEVICE/alarms:
//    {"device":"SIM0001","t":1796806291.056,"id":1,"label":"Strain A","unit":"µε",
//      "value":512.5,"state":"HIGH","previous":"NORMAL"}
#include <string>
#include <string_view>

#include "sensors/alarms.h"
#include "sensors/sensor_values.h"

namespace lumora {

// sn is the instrument's serial-number text (which rows apply); device is
// the name the topic uses. Without a table (null) the list is empty.
std::string SensorsJson(const CompiledSensors* sensors, std::string_view sn, const std::string& device);
std::string AlarmJson(const AlarmTransition& transition, const std::string& device);

}  // namespace lumora
