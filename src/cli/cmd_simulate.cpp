// lumora-cli simulate: an instrument for demos and tests. Sends wavelength,
// spectrum or JSON text frames to a data port at a steady rate, optionally
// announces itself for discovery, and prints the commands it receives.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "cli_commands.h"
#include "cli_util.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace lumora::cli {
namespace {

volatile std::sig_atomic_t g_simStop = 0;
void OnSimSignal(int) { g_simStop = 1; }

constexpr size_t kMaxDatagram = 65507;  // what the receiver takes in one datagram

struct SimOptions {
    std::string to = "127.0.0.1";
    int port = 7008;
    double rate = 100.0;  // frames per second; 0 = as fast as possible
    std::string mode = "wavelength";
    int channels = 4;
    int peaks = 8;
    bool trailer = true;
    int channelOffset = 0;
    std::string sn = "SIM0001";
    int spectrumChannel = 0;
    int spectrumLength = 2000;
    int devices = 1;
    int code = 0;
    bool announce = false;
    std::string announceTo;  // empty: the data address
    int announcePort = 7000;
    std::string idn = "Lumora-SIM";
    int cmdPort = 7009;  // 0: no command port
    double seconds = 0;  // 0: until stopped
    long long count = 0;  // 0: until stopped
    bool quiet = false;
};

void PrintSimulateHelp(FILE* out) {
    std::fprintf(out,
                 "usage: lumora-cli simulate [options]\n"
                 "  --to IP                destination address (127.0.0.1)\n"
                 "  --port N               destination data port (7008)\n"
                 "  --rate F               frames per second, 0 = as fast as possible (100)\n"
                 "  --mode M               wavelength | spectrum | text (wavelength)\n"
                 "  --channels N           channels of a wavelength or text frame, 1..32 (4)\n"
                 "  --peaks N              peaks per channel, 0..60 (8)\n"
                 "  --trailer 0|1          wavelength frames carry the 52-byte trailer (1)\n"
                 "  --channel-offset N     channel offset written into the trailer (0)\n"
                 "  --sn TEXT              serial number (SIM0001)\n"
                 "  --spectrum-channel C   channel index of spectrum frames, 0..63 (0)\n"
                 "  --spectrum-length L    samples per spectrum frame, up to 5115 (2000)\n"
                 "  --devices N            text mode: N instruments take turns, each its own SN and counter (1)\n"
                 "  --code N               text mode: \"Code\" member, 0 = none (0)\n"
                 "  --announce             announce {\"IDN\",\"SN\"} once a second\n"
                 "  --announce-to IP       address of the announcement (the data address)\n"
                 "  --announce-port N      port of the announcement (7000)\n"
                 "  --idn TEXT             product name in the announcement (Lumora-SIM)\n"
                 "  --cmd-port N           print the commands received on this port, 0 = none (7009)\n"
                 "  --seconds S            stop after S seconds\n"
                 "  --count N              stop after N frames\n"
                 "  --quiet                no progress lines\n");
}

struct NumberRange {
    long long min, max;
};

// What each whole-number option takes.
NumberRange SimOptionRange(const std::string& option) {
    if (option == "--port" || option == "--announce-port") return {1, 65535};
    if (option == "--cmd-port") return {0, 65535};
    if (option == "--channels") return {1, 32};
    if (option == "--peaks") return {0, 60};
    if (option == "--trailer") return {0, 1};
    if (option == "--channel-offset") return {-128, 127};
    if (option == "--spectrum-channel") return {0, 63};
    if (option == "--spectrum-length") return {0, 5115};
    if (option == "--devices") return {1, 1000};
    if (option == "--count") return {0, INT64_MAX};
    return {INT32_MIN, INT32_MAX};  // --code
}

bool ParseSimOptions(const Args& args, SimOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "lumora-cli simulate: %s needs a value\n", a.c_str());
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            PrintSimulateHelp(stdout);
            std::exit(0);
        } else if (a == "--announce") {
            o.announce = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--to" || a == "--sn" || a == "--mode" || a == "--announce-to" || a == "--idn") {
            if (!value(v)) return false;
            if (a == "--to") o.to = v;
            if (a == "--sn") o.sn = v;
            if (a == "--mode") o.mode = v;
            if (a == "--announce-to") o.announceTo = v;
            if (a == "--idn") o.idn = v;
        } else if (a == "--rate" || a == "--seconds") {
            if (!value(v)) return false;
            if (!ReadDecimalNumber("simulate", a, v, 0, 1e9, a == "--rate" ? &o.rate : &o.seconds)) return false;
        } else if (a == "--port" || a == "--channels" || a == "--peaks" || a == "--trailer" ||
                   a == "--channel-offset" || a == "--spectrum-channel" || a == "--spectrum-length" ||
                   a == "--devices" || a == "--code" || a == "--announce-port" || a == "--cmd-port" ||
                   a == "--count") {
            if (!value(v)) return false;
            const NumberRange r = SimOptionRange(a);
            long long n = 0;
            if (!ReadWholeNumber("simulate", a, v, r.min, r.max, &n)) return false;
            if (a == "--port") o.port = int(n);
            if (a == "--channels") o.channels = int(n);
            if (a == "--peaks") o.peaks = int(n);
            if (a == "--trailer") o.trailer = n != 0;
            if (a == "--channel-offset") o.channelOffset = int(n);
            if (a == "--spectrum-channel") o.spectrumChannel = int(n);
            if (a == "--spectrum-length") o.spectrumLength = int(n);
            if (a == "--devices") o.devices = int(n);
            if (a == "--code") o.code = int(n);
            if (a == "--announce-port") o.announcePort = int(n);
            if (a == "--cmd-port") o.cmdPort = int(n);
            if (a == "--count") o.count = n;
        } else {
            std::fprintf(stderr, "lumora-cli simulate: unknown option '%s'\n", a.c_str());
            return false;
        }
    }
    auto bad = [](const char* what) {
        std::fprintf(stderr, "lumora-cli simulate: %s\n", what);
        return false;
    };
    if (o.mode != "wavelength" && o.mode != "spectrum" && o.mode != "text") return bad("--mode is wavelength, spectrum or text");
    if (o.announceTo.empty()) o.announceTo = o.to;
    return true;
}

// Sensors that drift slowly around their own centre wavelength, with a little
// noise, the way fibre gratings follow temperature. Values are what a frame
// carries (wavelength - 1510000 pm) and stay below 0xEA00, so no value byte
// pair can look like a frame marker.
class SensorField {
public:
    SensorField(int channels, int peaks) : channels_(channels), peaks_(peaks) {}
    void Fill(std::vector<uint16_t>& values, double t) {
        values.clear();
        for (int c = 0; c < channels_; ++c) {
            for (int k = 0; k < peaks_; ++k) {
                double centre = 10000.0 + (k + 0.5) * (48000.0 / peaks_) + c * 37.0;
                double drift = 150.0 * std::sin(t * (0.2 + 0.05 * k) + c);
                double v = centre + drift + Noise();
                values.push_back(static_cast<uint16_t>(std::lround(std::clamp(v, 1000.0, 59000.0))));
            }
        }
    }
    double Noise() {  // about -3..3 pm
        seed_ = seed_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>((seed_ >> 33) % 7) - 3.0;
    }

private:
    int channels_, peaks_;
    uint64_t seed_ = 12345;
};

// Text frames from pieces made once for the layout: from frame to frame only
// the time, the counter, the wavelengths and the physical values change. The
// bytes are those EncodeTextFrame writes for the same frame.
class TextFrameBuilder {
public:
    explicit TextFrameBuilder(const SimOptions& o) {
        for (int device = 0; device < o.devices; ++device) {
            std::string sn;
            AppendJsonString(sn, o.devices > 1 ? o.sn + "-" + std::to_string(device + 1) : o.sn);
            snText_.push_back(",\"SN\":" + sn + (o.code != 0 ? ",\"Code\":" + std::to_string(o.code) : std::string()) +
                              ",\"Data\":[");
        }
        int id = 0;
        for (int c = 0; c < o.channels; ++c) {
            for (int k = 0; k < o.peaks; ++k, ++id) {
                heads_.push_back("[1," + std::to_string(id + 1) + "," + std::to_string(c + 1) + ",");
                std::string tail(",");
                tail += std::to_string(id + 1);
                tail += ",0,0]";
                tails_.push_back(tail);
            }
        }
        // The physical value is (value mod 1000) / 100.
        for (int v = 0; v < 1000; ++v) {
            std::string text(",");
            AppendJsonNumber(text, v / 100.0);
            physic_.push_back(text);
        }
    }

    void Build(std::vector<uint8_t>& out, int64_t time, int64_t counter, size_t device,
               const std::vector<uint16_t>& values) {
        text_.assign("{\"Time\":");
        AppendJsonNumber(text_, static_cast<double>(time));
        text_ += ",\"Counter\":";
        AppendJsonNumber(text_, static_cast<double>(counter));
        text_ += snText_[device];
        char number[16];
        for (size_t i = 0; i < heads_.size(); ++i) {
            if (i) text_ += ',';
            text_ += heads_[i];
            text_.append(number, std::to_chars(number, number + sizeof number, 1510000 + values[i]).ptr);
            text_ += physic_[values[i] % 1000];
            text_ += tails_[i];
        }
        text_ += "]}";
        out.assign(text_.begin(), text_.end());
    }

private:
    std::vector<std::string> snText_, heads_, tails_, physic_;
    std::string text_;
};

class Simulator {
public:
    explicit Simulator(const SimOptions& o)
        : o_(o), field_(o.channels, o.peaks), counters_(size_t(o.devices), 0), text_(o) {}

    // The next datagram to send.
    const std::vector<uint8_t>& Next(double t) {
        const int64_t nowMs = SystemClock().NowMs();
        const StampTime now = ToStamp(nowMs);
        if (o_.mode == "spectrum") {
            std::vector<uint16_t> samples(size_t(o_.spectrumLength));
            for (int i = 0; i < o_.spectrumLength; ++i) {
                double x = double(i) / std::max(1, o_.spectrumLength);
                double y = 800.0;
                for (int p = 0; p < 8; ++p) {
                    double centre = (p + 0.5) / 8.0 + 0.004 * std::sin(t + p);
                    double d = (x - centre) / 0.006;
                    y += 40000.0 * std::exp(-d * d);
                }
                samples[size_t(i)] = static_cast<uint16_t>(std::clamp(y + 20 * field_.Noise(), 0.0, 60000.0));
            }
            buf_ = EncodeSpectrumFrame(o_.spectrumChannel, samples);
            return buf_;
        }
        field_.Fill(values_, t);
        const size_t device = size_t(sent_ % uint64_t(o_.devices));
        ++sent_;
        if (o_.mode == "text") {
            text_.Build(buf_, now.seconds, ++counters_[device], device, values_);
            return buf_;
        }
        std::vector<uint8_t> counts(size_t(o_.channels), uint8_t(o_.peaks));
        if (!o_.trailer) {
            EncodeWavelengthFrame(buf_, counts, values_);
            return buf_;
        }
        TrailerFields tr;
        tr.sn = o_.sn;
        tr.time = static_cast<int32_t>(now.seconds);
        tr.microseconds = now.microseconds;
        tr.channelOffset = static_cast<int8_t>(o_.channelOffset);
        // A counter whose bytes would hold 0xFF 0xFF is skipped, since the
        // receiver would cut the frame there.
        for (int tries = 0; tries < 4; ++tries) {
            tr.counter = static_cast<int32_t>(++counters_[0]);
            EncodeWavelengthFrame(buf_, counts, values_, &tr);
            if (!FrameWouldBeCut(buf_.data(), buf_.size())) break;
        }
        return buf_;
    }

private:
    const SimOptions& o_;
    SensorField field_;
    std::vector<uint16_t> values_;
    std::vector<uint8_t> buf_;
    std::vector<int64_t> counters_;
    TextFrameBuilder text_;
    uint64_t sent_ = 0;
};

// Prints every datagram that arrives on the command port until stopped.
void CommandListener(UdpSocket* sock, const std::atomic<bool>* stop) {
    std::vector<char> buf(65536);
    while (!stop->load()) {
        char ip[16] = {};
        uint16_t port = 0;
        long n = sock->ReceiveFrom(buf.data(), buf.size() - 1, ip, &port);
        if (n < 0) continue;  // timeout or error: look at the stop flag again
        std::string text(buf.data(), size_t(n));
        std::printf("command from %s:%u: %s\n", ip, unsigned(port), text.c_str());
        std::fflush(stdout);
    }
}

}  // namespace

int RunSimulate(const Args& args) {
    SimOptions o;
    if (!ParseSimOptions(args, o)) return 2;

    UdpSocket data;
    if (!data.Create()) {
        std::fprintf(stderr, "lumora-cli simulate: cannot create a socket\n");
        return 1;
    }
    UdpSocket announce;
    if (o.announce) {
        announce.Create();
        announce.SetBroadcast(true);
    }
    UdpSocket command;
    std::atomic<bool> stopListener{false};
    std::thread listener;
    if (o.cmdPort > 0) {
        if (command.Create() && command.Bind(uint16_t(o.cmdPort))) {
            command.SetReceiveTimeout(200);
            listener = std::thread(CommandListener, &command, &stopListener);
            std::fprintf(stderr, "command port %d\n", o.cmdPort);
        } else {
            std::fprintf(stderr, "lumora-cli simulate: command port %d not available, commands are not shown\n",
                         o.cmdPort);
        }
    }

    g_simStop = 0;
    CatchStopSignals(OnSimSignal);
    std::signal(SIGPIPE, SIG_IGN);

    Simulator sim(o);
    const std::string announcement =
        std::string("{\"IDN\":\"") + o.idn + "\",\"SN\":\"" + o.sn + "\"}";
    using Steady = std::chrono::steady_clock;
    const Steady::time_point start = Steady::now();
    Steady::time_point nextAnnounce = start, nextReport = start + std::chrono::seconds(1);
    long long sent = 0, failed = 0, bytes = 0, oversized = 0;
    std::fprintf(stderr, "sending %s frames to %s:%d at %g frames/s\n", o.mode.c_str(), o.to.c_str(), o.port, o.rate);

    while (!g_simStop) {
        const Steady::time_point now = Steady::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (o.seconds > 0 && elapsed >= o.seconds) break;
        if (o.count > 0 && sent + failed >= o.count) break;
        if (o.announce && now >= nextAnnounce) {
            announce.SendTo(announcement.data(), announcement.size(), o.announceTo, uint16_t(o.announcePort));
            nextAnnounce += std::chrono::seconds(1);
        }
        if (!o.quiet && now >= nextReport) {
            std::fprintf(stderr, "sent %lld frames\n", sent);
            nextReport += std::chrono::seconds(1);
        }
        // Frames due by now; sent in a burst, then sleep until the next one.
        long long due = o.rate > 0 ? static_cast<long long>(elapsed * o.rate) + 1 : sent + failed + 256;
        if (o.count > 0) due = std::min(due, o.count);
        int burst = 0;
        while (sent + failed < due && burst < 4096 && !g_simStop) {
            const std::vector<uint8_t>& frame = sim.Next(elapsed);
            ++burst;
            if (frame.size() > kMaxDatagram) ++oversized;
            if (data.SendTo(frame.data(), frame.size(), o.to, uint16_t(o.port))) {
                ++sent;
                bytes += static_cast<long long>(frame.size());
            } else {
                ++failed;
            }
        }
        if (o.rate > 0 && sent + failed >= due) {
            double nextDue = double(sent + failed) / o.rate;
            double wait = std::min(0.05, std::max(0.0, nextDue - elapsed));
            if (o.announce || !o.quiet) wait = std::min(wait, 0.2);
            std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        }
    }

    const double elapsed = std::chrono::duration<double>(Steady::now() - start).count();
    stopListener = true;
    if (listener.joinable()) listener.join();
    std::printf("sent %lld frames (%lld bytes) in %.3f s, %.1f frames/s; %lld failed sends\n", sent, bytes, elapsed,
                elapsed > 0 ? double(sent) / elapsed : 0.0, failed);
    if (oversized)
        std::printf("warning: %lld datagrams were longer than the %zu bytes a receiver takes\n", oversized,
                    kMaxDatagram);
    std::fflush(stdout);
    return 0;
}

}  // namespace lumora::cli
