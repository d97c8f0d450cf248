#include "publishing/mqtt_settings.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "settings/settings_store.h"

namespace lumora {
namespace {

constexpr char kSection[] = "MQTT";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool PercentDecode(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size()) return false;
        const int hi = HexDigit(in[i + 1]), lo = HexDigit(in[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

}  // namespace

bool CheckMqttName(const std::string& name, const char* what, std::string& error) {
    const std::string it = what;
    if (name.size() > kMaxMqttNameBytes) {
        error = it + " is longer than 65,535 bytes";
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            error = it + " must not hold control characters";
            return false;
        }
    }
    // The library's own test: it refuses malformed UTF-8 and also control
    // characters and non-characters beyond ASCII.
    if (mosquitto_validate_utf8(name.data(), static_cast<int>(name.size())) != MOSQ_ERR_SUCCESS) {
        error = it + " is not valid UTF-8 text (or holds a character MQTT does not allow)";
        return false;
    }
    if (name.find_first_of("+#") != std::string::npos) {
        error = it + " must not contain + or #";
        return false;
    }
    if (!name.empty() && name[0] == '$') {
        error = it + " must not begin with $ (brokers keep such topics to themselves)";
        return false;
    }
    return true;
}

bool CheckMqttNames(const MqttSettings& settings, std::string& error) {
    if (!CheckMqttName(settings.topic, "the topic", error) ||
        !CheckMqttName(settings.clientId, "the client id", error))
        return false;
    const size_t topic = settings.topic.empty() ? sizeof kDefaultMqttTopic - 1 : settings.topic.size();
    const size_t client = settings.clientId.empty() ? DefaultClientId().size() : settings.clientId.size();
    if (topic + client + 8 > kMaxMqttNameBytes) {  // TOPIC/status/CLIENTID
        error = "the topic and the client id together are longer than 65,535 bytes";
        return false;
    }
    return true;
}

std::string DefaultClientId() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "lumora";
    return std::string("lumora-") + name;
}

MqttSettings LoadMqttSettings(const SettingsStore& store) {
    MqttSettings s;
    s.enable = store.GetInt(kSection, "Enable", 0) != 0;
    s.host = store.GetString(kSection, "Host", s.host);
    s.port = std::clamp(store.GetInt(kSection, "Port", s.port), 1, 65535);
    s.topic = store.GetString(kSection, "Topic", s.topic);
    s.clientId = store.GetString(kSection, "ClientId", DefaultClientId());
    s.batchMs = std::clamp(store.GetInt(kSection, "BatchMs", s.batchMs), 1, 60000);
    s.qos = std::clamp(store.GetInt(kSection, "QoS", s.qos), 0, 2);
    s.user = store.GetString(kSection, "User", "");
    s.password = store.GetString(kSection, "Password", "");
    s.caFile = store.GetString(kSection, "CAFile", "");
    return s;
}

bool ParseMqttUrl(const std::string& url, MqttSettings& out, std::string& error) {
    MqttSettings s = out;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
        s.tls = false;
        s.port = 1883;
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        s.tls = true;
        s.port = 8883;
    } else {
        error = "the address must begin with mqtt:// or mqtts://";
        return false;
    }
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    s.topic = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    while (!s.topic.empty() && s.topic.back() == '/') s.topic.pop_back();
    if (s.topic.empty()) s.topic = kDefaultMqttTopic;
    if (!CheckMqttName(s.topic, "the topic", error)) return false;

    s.user.clear();
    s.password.clear();
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string login = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const size_t colon = login.find(':');
        if (!PercentDecode(login.substr(0, colon), s.user) ||
            (colon != std::string::npos && !PercentDecode(login.substr(colon + 1), s.password))) {
            error = "bad %-escape in the user or password";
            return false;
        }
    }

    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) {
            error = "missing ] after the IPv6 address";
            return false;
        }
        s.host = authority.substr(1, close - 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                error = "unexpected text after the IPv6 address";
                return false;
            }
            portText = after.substr(1);
        }
    } else {
        const size_t colon = authority.find(':');
        s.host = authority.substr(0, colon);
        if (colon != std::string::npos) portText = authority.substr(colon + 1);
    }
    if (s.host.empty()) {
        error = "the address names no host";
        return false;
    }
    if (!portText.empty()) {
        long port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9' || port > 65535) {
                port = -1;
                break;
            }
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) {
            error = "bad port number: " + portText;
            return false;
        }
        s.port = static_cast<int>(port);
    }
    out = s;
    return true;
}

}  // namespace lumora
