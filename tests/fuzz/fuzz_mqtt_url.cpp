// An --mqtt address as the user may type it, and an instrument's serial
// number as it comes off the network, into what builds the topics.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "publishing/frame_payload.h"
#include "publishing/mqtt_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumora::MqttSettings s;
    s.clientId = "fuzz";
    const lumora::MqttSettings before = s;
    std::string error;
    if (lumora::ParseMqttUrl(text, s, error)) {
        // What is taken can be published with: the topic passes the check
        // the client library's own test is part of, and the port is a port.
        if (!lumora::CheckMqttName(s.topic, "the topic", error)) std::abort();
        if (s.topic.empty() || s.host.empty() || s.port < 1 || s.port > 65535) std::abort();
        // The topic is taken as written, not decoded.
        if (s.topic != lumora::kDefaultMqttTopic && text.find(s.topic) == std::string::npos) std::abort();
    } else {
        // A refusal says why and changes nothing.
        if (error.empty() || s.host != before.host || s.topic != before.topic || s.port != before.port) std::abort();
    }

    // Any serial number becomes one topic level of printable ASCII.
    const std::string serial = text.substr(0, text.find('\0'));
    const std::string level = lumora::TopicSafe(serial.c_str());
    if (level.empty() || (!serial.empty() && level.size() != serial.size())) std::abort();
    for (unsigned char c : level)
        if (c < 0x20 || c > 0x7E || c == '/' || c == '+' || c == '#') std::abort();
    std::string name;
    if (!lumora::CheckMqttName("topic/" + level + "/frames", "the topic", name)) std::abort();
    return 0;
}
