// Publishing to an MQTT broker beside recording.
//
// Starts a mosquitto broker on a free loopback port and a subscriber, then
// sends wavelength frames of 320 readings at a steady rate to the receive
// session (assembling, decoding, recording) twice: once without and once
// with the MQTT publisher attached. Prints the frames the subscriber got over
// the frames sent, and the receive worker's CPU time per frame with
// publishing against without (the floor, measured in the same run).
//
// usage: bench_mqtt [--seconds S] [--rate F]
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition_state.h"
#include "acquisition/frame_encoder.h"
#include "acquisition/receive_session.h"
#include "platform/udp_socket.h"
#include "publishing/mqtt_publisher.h"
#include "recording/raw_recorder.h"
#include "settings/settings_store.h"
#include "window/console_window_port.h"

namespace {

using namespace lumora;
using Steady = std::chrono::steady_clock;

std::vector<std::vector<uint8_t>> MakeFrames() {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> counts(8, 40);
    for (int k = 0; k < 16; ++k) {
        std::vector<uint16_t> values;
        for (int i = 0; i < 320; ++i) values.push_back(uint16_t(10000 + i * 150 + k * 3));
        TrailerFields t;
        t.sn = "BENCH";
        t.time = 1700000000 + k;
        t.counter = 1000 + k;
        std::vector<uint8_t> f = EncodeWavelengthFrame(counts, values, &t);
        if (!FrameWouldBeCut(f.data(), f.size())) frames.push_back(std::move(f));
    }
    return frames;
}

long long Send(uint16_t port, double rate, double seconds, const std::vector<std::vector<uint8_t>>& frames) {
    UdpSocket s;
    s.Create();
    long long sent = 0;
    const long long total = static_cast<long long>(rate * seconds);
    const Steady::time_point start = Steady::now();
    while (sent < total) {
        const double elapsed = std::chrono::duration<double>(Steady::now() - start).count();
        const long long due = std::min(total, static_cast<long long>(elapsed * rate) + 1);
        while (sent < due && s.SendTo(frames[size_t(sent) % frames.size()].data(),
                                      frames[size_t(sent) % frames.size()].size(), "127.0.0.1", port))
            ++sent;
        const double wait = double(sent) / rate - elapsed;
        if (wait > 0.0002) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    }
    // A lone marker completes the last frame.
    s.SendTo("\xFF\xFF", 2, "127.0.0.1", port);
    return sent;
}

int FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// Counts the frames in every message it receives.
struct Subscriber {
    mosquitto* mosq = nullptr;
    std::atomic<bool> subscribed{false};
    std::atomic<long long> frames{0};

    explicit Subscriber(int port) {
        mosq = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(mosq, [](mosquitto* m, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, "bench/+/frames", 0);
        });
        mosquitto_subscribe_callback_set(mosq, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed = true;
        });
        mosquitto_message_callback_set(mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
            const char* p = static_cast<const char*>(m->payload);
            const char* end = p + m->payloadlen;
            long long n = 0;
            static const char kKey[] = "\"counter\":";
            while ((p = static_cast<const char*>(memmem(p, size_t(end - p), kKey, sizeof kKey - 1)))) {
                ++n;
                p += sizeof kKey - 1;
            }
            static_cast<Subscriber*>(self)->frames += n;
        });
        mosquitto_connect(mosq, "127.0.0.1", port, 30);
        mosquitto_loop_start(mosq);
    }
    ~Subscriber() {
        // After the disconnect the network thread ends by itself. Cancelling
        // it instead could catch it between looking up the broker's address
        // and freeing the answer, while it reconnects after a broker restart.
        mosquitto_disconnect(mosq);
        mosquitto_loop_stop(mosq, false);
        mosquitto_destroy(mosq);
    }
};

struct Result {
    long long sent = 0;
    long long received = 0;
    double cpuPerFrame = 0;
    uint64_t published = 0;
    uint64_t dropped = 0;
};

Result Run(const std::string& dir, double rate, double seconds, const std::vector<std::vector<uint8_t>>& frames,
           MqttPublisher* publisher, const MqttSettings& mqtt) {
    const std::string sub = dir + (publisher ? "/on" : "/off");
    std::filesystem::create_directories(sub);
    ConsoleWindowPort window;
    SettingsStore settings(sub + "/Lumora.ini");
    AcquisitionState state;
    RawRecorder recorder(&window);
    recorder.SetDirectory(sub);
    recorder.SetFilePrefix("bench");
    ReceiveSession session(state, recorder, settings, window);
    session.SetPortText("0");
    session.SetRecordEnabled(true);
    if (publisher) {
        publisher->Start(mqtt);
        for (int i = 0; i < 500 && publisher->State() != MqttState::Connected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        session.SetFrameSink(publisher);
    }
    Result r;
    if (!session.Open()) return r;
    r.sent = Send(session.BoundPort(), rate, seconds, frames);
    // Everything received, then everything published.
    uint32_t last = 0;
    do {
        last = session.DatagramCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } while (session.DatagramCount() != last);
    session.Close();
    r.received = session.DatagramCount() - 1;
    r.cpuPerFrame = r.received ? double(session.LastWorkerCpuNs()) / double(r.received) : 0;
    if (publisher) {
        session.SetFrameSink(nullptr);
        publisher->Stop();
        r.published = publisher->Published();
        r.dropped = publisher->Dropped();
    }
    std::filesystem::remove_all(sub);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10, rate = 2000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (a == "--rate" && i + 1 < argc) {
            rate = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--rate F]\n", argv[0]);
            return 2;
        }
    }
    std::string tmpl = (std::filesystem::temp_directory_path() / "lumora-bench-XXXXXX").string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) return 1;
    const std::string dir = name.data();

    const int port = FreeTcpPort();
    std::ofstream(dir + "/mosquitto.conf") << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
    const pid_t broker = ::fork();
    if (broker == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", (dir + "/mosquitto.conf").c_str(), nullptr);
        ::_exit(127);
    }
    mosquitto_lib_init();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int code = 0;
    {
        Subscriber subscriber(port);
        for (int i = 0; i < 500 && !subscriber.subscribed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!subscriber.subscribed) {
            std::fprintf(stderr, "the broker did not come up\n");
            code = 1;
        } else {
            const auto frames = MakeFrames();
            MqttSettings mqtt;
            mqtt.port = port;
            mqtt.topic = "bench";
            mqtt.clientId = "bench";
            std::printf("mqtt: %zu-byte frames of 320 readings at %.0f frames/s for %.1f s, batches of %d ms\n",
                        frames[0].size(), rate, seconds, mqtt.batchMs);
            const Result off = Run(dir, rate, seconds, frames, nullptr, mqtt);
            MqttPublisher publisher;
            const Result on = Run(dir, rate, seconds, frames, &publisher, mqtt);
            std::this_thread::sleep_for(std::chrono::seconds(1));  // the subscriber's last messages
            const long long got = subscriber.frames.load();
            std::printf("%-22s %10s %10s %12s %10s %10s %16s\n", "", "sent", "received", "published", "dropped",
                        "subscriber", "worker ns/frame");
            std::printf("%-22s %10lld %10lld %12s %10s %10s %16.0f\n", "publishing off (floor)", off.sent, off.received,
                        "-", "-", "-", off.cpuPerFrame);
            std::printf("%-22s %10lld %10lld %12llu %10llu %10lld %16.0f\n", "publishing on", on.sent, on.received,
                        (unsigned long long)on.published, (unsigned long long)on.dropped, got, on.cpuPerFrame);
            std::printf("subscriber/sent %.3f (target 1.0); worker CPU per frame on/off %.2f (target at most 1.3)\n",
                        on.sent ? double(got) / double(on.sent) : 0.0,
                        off.cpuPerFrame > 0 ? on.cpuPerFrame / off.cpuPerFrame : 0.0);
        }
    }
    ::kill(broker, SIGTERM);
    ::waitpid(broker, nullptr, 0);
    std::filesystem::remove_all(dir);
    return code;
}
