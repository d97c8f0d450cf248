#pragma once
// Where and how decoded frames are published: section [MQTT] of Lumora.ini,
// or an mqtt:// or mqtts:// address given on the command line.
#include <string>

namespace lumora {

class SettingsStore;

struct MqttSettings {
    bool enable = false;
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string topic = "lumora";
    std::string clientId;  // empty: "lumora-" and the host name
    int batchMs = 100;
    int qos = 0;
    std::string user;
    std::string password;
    std::string caFile;  // TLS when set
    bool tls = false;    // mqtts:// without a CA file of its own: the system's CAs
};

// "lumora-" and this computer's host name.
std::string DefaultClientId();

// Reads [MQTT]; values out of range are brought into it (BatchMs 1..60000,
// QoS 0..2, Port 1..65535).
MqttSettings LoadMqttSettings(const SettingsStore& store);

// mqtt://[USER:PASS@]HOST[:PORT]/TOPIC or mqtts://...; user and password may
// be %-escaped; an IPv6 host is written in brackets. Only the address, the
// login and the topic are taken: the other fields of out are kept. On failure
// error says what is wrong and out is unchanged.
bool ParseMqttUrl(const std::string& url, MqttSettings& out, std::string& error);

}  // namespace lumora
