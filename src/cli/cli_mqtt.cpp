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
    s.enable = true;
    out = s;
    return true;
}

void StartCliPublisher(MqttPublisher& publisher, const MqttSettings& settings) {
    publisher.SetListener([](MqttState state, const std::string& message) {
        std::fprintf(stderr, "mqtt %s: %s\n", MqttStateName(state), message.c_str());
    });
    std::fprintf(stderr, "publishing to topic %s/DEVICE/frames every %d ms (QoS %d, client %s)\n",
                 settings.topic.c_str(), settings.batchMs, settings.qos,
                 settings.clientId.empty() ? DefaultClientId().c_str() : settings.clientId.c_str());
    publisher.Start(settings);
}

void StopCliPublisher(MqttPublisher& publisher) {
    publisher.Stop();
    std::printf("frames published %" PRIu64 ", frames dropped %" PRIu64 "\n", publisher.Published(),
                publisher.Dropped());
    std::fflush(stdout);
}

}  // namespace lumora::cli
