#pragma once
// Where and how decoded frames are published: section [MQTT] of Lumora.ini,
// or an mqtt:// or mqtts:// address given on the command line.
#include <cstddef>
#include <string>

namespace lumora {

class SettingsStore;

// The topic that stands in for an empty one.
inline constexpr char kDefaultMqttTopic[] = "lumora";

struct MqttSettings {
    bool enable = false;
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string topic = kDefaultMqttTopic;
    std::string clientId;  // empty: "lumora-" and the host name
    int batchMs = 100;
    int qos = 0;
    std::string user;
    std::string password;
    std::string caFile;  // TLS when set
    bool tls = false;    // mqtts:// without a CA file of its own: the system's CAs

    bool UsesTls() const { return tls || !caFile.empty(); }
    // A password given for a connection without TLS goes over the network
    // as it is written.
    bool PasswordInClear() const { return !password.empty() && !UsesTls(); }
};

// The longest topic or client id MQTT can carry.
constexpr size_t kMaxMqttNameBytes = 65535;

// A topic or client id as the user gives it: UTF-8 without control
// characters, no + or # (they are wildcards, and the client id is part of
// the status topic), not beginning with $ (brokers keep those topics to
// themselves), at most kMaxMqttNameBytes. what names it in the message
// ("the topic", "the client id"). Empty is accepted: the default stands in.
bool CheckMqttName(const std::string& name, const char* what, std::string& error);

// Topic and client id, each as above and together short enough for the
// status topic TOPIC/status/CLIENTID.
bool CheckMqttNames(const MqttSettings& settings, std::string& error);

// "lumora-" and this computer's host name.
std::string DefaultClientId();

// Reads [MQTT]; values out of range are brought into it (BatchMs 1..60000,
// QoS 0..2, Port 1..65535).
MqttSettings LoadMqttSettings(const SettingsStore& store);

// mqtt://[USER:PASS@]HOST[:PORT]/TOPIC or mqtts://...; user and password may
// be %-escaped, the topic is taken as written (trailing slashes aside) and
// must pass CheckMqttName; an IPv6 host is written in brackets. Only the address, the
// login and the topic are taken: the other fields of out are kept. On failure
// error says what is wrong and out is unchanged.
bool ParseMqttUrl(const std::string& url, MqttSettings& out, std::string& error);

}  // namespace lumora
