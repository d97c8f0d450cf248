#include "cli_mqtt.h"

#include <cinttypes>
#include <cstdio>

#include "settings/settings_store.h"

namespace lumora::cli {

bool ParseMqttOption(const char* command, const std::string& url, const SettingsStore& settings,
                     MqttSettings& out) {
    MqttSettings s = LoadMqttSettings(settings);
    std::string error;
    if (!ParseMqttUrl(url, s, error)) {
        std::fprintf(stderr,
                     "lumora-cli %s: bad --mqtt address '%s': %s\n"
                     "  expected mqtt://[USER:PASS@]HOST[:PORT]/TOPIC or mqtts://...\n",
                     command, url.c_str(), error.c_str());
        return false;
    }
    if (!CheckMqttName(s.clientId, "the client id", error)) {
        std::fprintf(stderr, "lumora-cli %s: [MQTT] ClientId of ./Lumora.ini cannot be used: %s\n", command,
                     error.c_str());
        return false;
    }
    if (!CheckMqttNames(s, error)) {
        std::fprintf(stderr, "lumora-cli %s: cannot publish: %s\n", command, error.c_str());
        return false;
    }
    s.enable = true;
    out = s;
    return true;
}

bool StartCliPublisher(MqttPublisher& publisher, const MqttSettings& settings) {
    publisher.SetListener([](MqttState state, const std::string& message) {
        std::fprintf(stderr, "mqtt %s: %s\n", MqttStateName(state), message.c_str());
    });
    std::fprintf(stderr, "publishing to topic %s/DEVICE/frames every %d ms (QoS %d, client %s)\n",
                 settings.topic.c_str(), settings.batchMs, settings.qos,
                 settings.clientId.empty() ? DefaultClientId().c_str() : settings.clientId.c_str());
    if (settings.PasswordInClear())
        std::fprintf(stderr, "mqtt: the password travels without encryption (mqtt://); mqtts:// would protect it\n");
    publisher.Start(settings);
    if (!publisher.GaveUp()) return true;
    publisher.SetListener(nullptr);  // the reason has been printed; "off" would only follow it
    publisher.Stop(0);
    return false;
}

void StopCliPublisher(MqttPublisher& publisher) {
    publisher.Stop();
    std::printf("frames published %" PRIu64 ", frames dropped %" PRIu64 "\n", publisher.Published(),
                publisher.Dropped());
    std::fflush(stdout);
}

}  // namespace lumora::cli
