// lumora-cli publish: the receive session feeding the MQTT publisher, with
// nothing recorded.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "acquisition/acquisition_state.h"
#include "acquisition/receive_session.h"
#include "acquisition/record_sink.h"
#include "cli_commands.h"
#include "cli_mqtt.h"
#include "cli_util.h"
#include "settings/setting_values.h"
#include "settings/settings_store.h"
#include "window/console_window_port.h"

namespace lumora::cli {
namespace {

volatile std::sig_atomic_t g_publishStop = 0;
// The exit code when the publisher broke down while running.
constexpr int kExitPublishingFailed = 1;
void OnPublishSignal(int) { g_publishStop = 1; }

// Nothing is shown and nothing is written to the settings: the sender's
// address and the source text the session posts are left aside.
class QuietWindow : public ConsoleWindowPort {
public:
    void Post(std::function<void()>) override {}
};

class NoRecording : public RecordSink {
public:
    int RecordData(uint8_t*, size_t, uint32_t) override { return 0; }
    void ResetRecordsInFile() override {}
    void Close() override {}
};

void PrintPublishHelp(FILE* out) {
    std::fprintf(out,
                 "usage: lumora-cli publish [--port N] --mqtt URL [--str-format] [--seconds S]\n"
                 "  N defaults to [Net] Port of ./Lumora.ini; 0 takes a free port.\n"
                 "  URL is mqtt://[USER:PASS@]HOST[:PORT]/TOPIC or mqtts://... (TLS).\n"
                 "  Client id, batch period, QoS and CA file come from [MQTT] of ./Lumora.ini.\n"
                 "  Ends on Ctrl+C, SIGTERM, SIGHUP or after S seconds, after sending what is queued\n"
                 "  (for at most 0.8 s). A password over mqtt:// travels without encryption.\n"
                 "  Exit 2 for bad options or a TLS set-up that cannot work (nothing is sent then),\n"
                 "  1 when the data port cannot be opened or publishing broke down.\n");
}

}  // namespace

int RunPublish(const Args& args) {
    SettingsStore settings;
    const int storedPort = settings.GetInt("Net", "Port", 7008);
    std::string port = UsablePort(std::to_string(storedPort)) ? std::to_string(storedPort)
                                                              : settings.GetString("Net", "Port", "");
    bool portGiven = false;
    bool stringFormat = settings.GetInt("Net", "StringFormat", 0) != 0;
    double seconds = 0;
    MqttSettings mqtt;
    bool haveMqtt = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            PrintPublishHelp(stdout);
            return 0;
        }
        if (a == "--str-format") {
            stringFormat = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "lumora-cli publish: unknown option or missing value: %s\n", a.c_str());
            return 2;
        }
        const std::string& v = args[++i];
        long long n = 0;
        if (a == "--port") {
            if (!ReadWholeNumber("publish", a, v, 0, 65535, &n)) return 2;
            port = v;
            portGiven = true;
        } else if (a == "--mqtt") {
            if (!ParseMqttOption("publish", v, settings, mqtt)) return 2;
            haveMqtt = true;
        } else if (a == "--seconds") {
            if (!ReadDecimalNumber("publish", a, v, 0, 1e9, &seconds)) return 2;
        } else {
            std::fprintf(stderr, "lumora-cli publish: bad option %s %s\n", a.c_str(), v.c_str());
            return 2;
        }
    }
    if (!portGiven && !UsablePort(port)) {
        std::fprintf(stderr, "lumora-cli publish: %s must be a port from 1 to 65535, not '%s'\n",
                     SettingName(settings, "Net", "Port").c_str(), port.c_str());
        return 2;
    }
    if (!haveMqtt) {
        std::fprintf(stderr, "lumora-cli publish: --mqtt URL is required\n");
        PrintPublishHelp(stderr);
        return 2;
    }

    QuietWindow window;
    AcquisitionState state;
    NoRecording noRecording;
    MqttPublisher publisher;
    ReceiveSession session(state, noRecording, settings, window);
    session.SetPortText(port);
    session.SetStringFormat(stringFormat);
    state.m_rcvPort = LeadingInt(port);
    session.SetFrameSink(&publisher);

    g_publishStop = 0;
    CatchStopSignals(OnPublishSignal);

    if (!StartCliPublisher(publisher, mqtt)) return 2;
    if (!session.Open()) {
        publisher.Stop(0);
        return 1;
    }
    std::printf("listening on UDP port %u\n", unsigned(session.BoundPort()));
    std::fflush(stdout);

    using Steady = std::chrono::steady_clock;
    const Steady::time_point start = Steady::now();
    while (!g_publishStop && !publisher.GaveUp() && !session.WorkerFailed()) {
        if (seconds > 0 && Steady::now() - start >= std::chrono::duration<double>(seconds)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool brokeDown = publisher.GaveUp();
    session.Close();
    session.SetFrameSink(nullptr);
    std::fprintf(stderr, "stopped: %u datagrams\n", session.DatagramCount());
    PrintDatagramTroubles(session);
    // This console shows no message boxes: the worker's error is told here.
    if (session.WorkerFailed()) std::fprintf(stderr, "lumora-cli publish: %s\n", session.WorkerError().c_str());
    StopCliPublisher(publisher);
    if (session.WorkerFailed()) return 1;
    return brokeDown ? kExitPublishingFailed : 0;
}

}  // namespace lumora::cli
