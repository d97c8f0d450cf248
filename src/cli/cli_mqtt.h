#pragma once
// The --mqtt option of record and publish.
#include <string>

#include "publishing/mqtt_publisher.h"

namespace lumora {
class SettingsStore;
}

namespace lumora::cli {

// Reads URL into out, the fields the address does not give (client id, batch
// period, QoS, CA file) coming from [MQTT] of the settings. Prints the reason
// and returns false when the address or the client id is not usable.
bool ParseMqttOption(const char* command, const std::string& url, const SettingsStore& settings,
                     MqttSettings& out);

// Starts publishing; every change of the connection is printed on stderr.
// Returns false, with the reason printed, when publishing cannot begin at
// all (TLS was asked for and cannot be set up): the command then ends with
// exit code 2 before it listens.
bool StartCliPublisher(MqttPublisher& publisher, const MqttSettings& settings);

// Sends what is queued, disconnects and prints the frames published and
// dropped on stdout.
void StopCliPublisher(MqttPublisher& publisher);

}  // namespace lumora::cli
