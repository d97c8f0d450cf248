// End-to-end loopback benchmark of the receive path.
//
// A sender paced at a given rate sends 705-byte wavelength frames (8 channels
// of 40 peaks, 320 readings, with trailer) to
//   - the floor: a bare receive loop that only receives and writes each
//     datagram to a file, and
//   - the full session: assembling, decoding into the ring and recording
//     into rotating .dat files,
// one after the other, at each rate. It prints the frames each one lost, the
// ratio of their losses and the receiving thread's CPU time per frame.
// With --text the frames are 320-reading JSON text frames (about 10 KB) and
// the session runs in "STR Format": decoding the text and recording lines.
//
// usage: bench_loopback [--text] [--seconds S] [--rates R1,R2,...] [--dir DIR]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition_state.h"
#include "acquisition/frame_encoder.h"
#include "acquisition/receive_session.h"
#include "window/console_window_port.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "recording/raw_recorder.h"
#include "settings/settings_store.h"

namespace {

using namespace lumora;
using Steady = std::chrono::steady_clock;

using NullWindow = ConsoleWindowPort;

// A few different frames of 705 bytes, sent in turn.
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

// A few different 320-reading JSON text frames (8 channels of 40 sensors).
std::vector<std::vector<uint8_t>> MakeTextFrames() {
    std::vector<std::vector<uint8_t>> frames;
    for (int k = 0; k < 16; ++k) {
        TextFrameFields f;
        f.time = 1700000000 + k;
        f.counter = 1000 + k;
        f.sn = "BENCH";
        for (int i = 0; i < 320; ++i) {
            TextReading r;
            r.id = i + 1;
            r.channel = i / 40 + 1;
            r.wavelength = 1520000 + i * 150 + k * 3;
            r.physicValue = (i * 7 + k) % 1000 / 100.0;
            r.serial = i + 1;
            f.data.push_back(r);
        }
        const std::string text = EncodeTextFrame(f);
        frames.emplace_back(text.begin(), text.end());
    }
    return frames;
}

// Sends at rate frames/s for seconds; returns the frames sent.
long long Send(uint16_t port, double rate, double seconds, const std::vector<std::vector<uint8_t>>& frames) {
    UdpSocket s;
    s.Create();
    long long sent = 0;
    const long long total = static_cast<long long>(rate * seconds);
    const Steady::time_point start = Steady::now();
    while (sent < total) {
        const double elapsed = std::chrono::duration<double>(Steady::now() - start).count();
        long long due = std::min(total, static_cast<long long>(elapsed * rate) + 1);
        while (sent < due) {
            const auto& f = frames[size_t(sent) % frames.size()];
            if (s.SendTo(f.data(), f.size(), "127.0.0.1", port)) ++sent;
            else break;
        }
        // The sender sleeps rather than spins until the next frame is due: on
        // a machine of few cores its spinning would take the receiver's time.
        if (sent >= due) {
            const double wait = double(sent) / rate - elapsed;
            if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        }
    }
    return sent;
}

// Waits until count() stops moving for 200 ms (at most 5 s).
template <typename F>
void Drain(F count) {
    auto last = count();
    Steady::time_point still = Steady::now();
    const Steady::time_point until = Steady::now() + std::chrono::seconds(5);
    while (Steady::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto now = count();
        if (now != last) {
            last = now;
            still = Steady::now();
        } else if (Steady::now() - still > std::chrono::milliseconds(200)) {
            return;
        }
    }
}

struct Result {
    long long sent = 0;
    long long received = 0;
    int64_t cpuNs = 0;
    long long Lost() const { return sent - received; }
    double CpuPerFrame() const { return received ? double(cpuNs) / double(received) : 0.0; }
};

// The floor: receive and write to a file, nothing else.
Result RunFloor(double rate, double seconds, const std::string& dir, const std::vector<std::vector<uint8_t>>& frames) {
    UdpSocket sock;
    sock.Create();
    sock.Bind(0, "127.0.0.1");
    sock.SetReceiveBuffer(ReceiveSession::kSocketBufferRequest);
    sock.SetReceiveTimeout(250);
    const std::string path = dir + "/floor.dat";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::setvbuf(file, nullptr, _IOFBF, 256 * 1024);
    std::atomic<bool> stop{false};
    std::atomic<long long> received{0};
    std::atomic<int64_t> cpu{0};
    std::thread loop([&] {
        const int64_t cpu0 = ThreadCpuNs();
        std::vector<uint8_t> buf(ReceiveSession::kReceiveBufferSize);
        while (!stop.load(std::memory_order_relaxed)) {
            uint32_t addr = 0;
            long n = sock.Receive(buf.data(), buf.size(), &addr);
            if (stop.load(std::memory_order_relaxed)) break;
            if (n < 0) continue;
            std::fwrite(buf.data(), 1, size_t(n), file);
            received.fetch_add(1, std::memory_order_relaxed);
        }
        cpu = ThreadCpuNs() - cpu0;
    });
    Result r;
    r.sent = Send(sock.LocalPort(), rate, seconds, frames);
    Drain([&] { return received.load(); });
    stop = true;
    sock.Shutdown();
    loop.join();
    std::fclose(file);
    std::filesystem::remove(path);
    r.received = received.load();
    r.cpuNs = cpu.load();
    return r;
}

// The full session: assemble, decode, record.
Result RunSession(double rate, double seconds, const std::string& dir, const std::vector<std::vector<uint8_t>>& frames,
                  bool text, long long& recorded, long long& decoded) {
    const std::string sub = dir + "/session";
    std::filesystem::create_directories(sub);
    NullWindow window;
    SettingsStore settings(sub + "/Lumora.ini");
    AcquisitionState state;
    RawRecorder recorder(&window);
    recorder.SetDirectory(sub);
    recorder.SetFilePrefix("bench");
    ReceiveSession session(state, recorder, settings, window);
    session.SetPortText("0");
    session.SetRecordEnabled(true);
    session.SetStringFormat(text);
    Result r;
    if (!session.Open()) return r;
    r.sent = Send(session.BoundPort(), rate, seconds, frames);
    Drain([&] { return session.DatagramCount(); });
    session.Close();
    r.received = session.DatagramCount();
    r.cpuNs = session.LastWorkerCpuNs();
    decoded = state.Ring().framesDecoded.load() + 1;
    recorded = 0;
    for (const auto& e : std::filesystem::directory_iterator(sub)) {
        if (e.path().extension() == ".dat") recorded += (long long)((e.file_size() - 5) / 705);
    }
    std::filesystem::remove_all(sub);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    std::vector<double> rates = {20000, 50000, 100000};
    std::string dir;
    bool text = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--text") {
            text = true;
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (a == "--rates" && i + 1 < argc) {
            rates.clear();
            std::stringstream ss(argv[++i]);
            std::string item;
            while (std::getline(ss, item, ',')) rates.push_back(std::atof(item.c_str()));
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--text] [--seconds S] [--rates R1,R2,...] [--dir DIR]\n", argv[0]);
            return 2;
        }
    }
    bool ownDir = dir.empty();
    if (ownDir) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "lumora-bench-XXXXXX").string();
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data())) return 1;
        dir = name.data();
    }
    const auto frames = text ? MakeTextFrames() : MakeFrames();
    UdpSocket probe;
    probe.Create();
    std::printf("loopback: %s %zu-byte frames, %.1f s per run, receive buffer asked %d bytes, granted %d\n",
                text ? "JSON text" : "wavelength", frames[0].size(), seconds, ReceiveSession::kSocketBufferRequest,
                probe.SetReceiveBuffer(ReceiveSession::kSocketBufferRequest));
    probe.Close();
    std::printf("%9s %10s %11s %13s %10s %14s %16s %9s\n", "rate/s", "sent", "floor lost", "session lost",
                "loss ratio", "floor ns/frame", "session ns/frame", "cpu ratio");
    for (double rate : rates) {
        Result floor = RunFloor(rate, seconds, dir, frames);
        long long recorded = 0, decoded = 0;
        Result full = RunSession(rate, seconds, dir, frames, text, recorded, decoded);
        char ratio[32];
        if (floor.Lost() > 0) std::snprintf(ratio, sizeof ratio, "%.2f", double(full.Lost()) / double(floor.Lost()));
        else std::snprintf(ratio, sizeof ratio, full.Lost() == 0 ? "both 0" : "floor 0");
        std::printf("%9.0f %10lld %11lld %13lld %10s %14.0f %16.0f %9.2f\n", rate, full.sent, floor.Lost(), full.Lost(),
                    ratio, floor.CpuPerFrame(), full.CpuPerFrame(),
                    floor.CpuPerFrame() > 0 ? full.CpuPerFrame() / floor.CpuPerFrame() : 0.0);
        if (text && decoded != full.received)
            std::printf("          note: %lld frames decoded for %lld datagrams\n", decoded, full.received);
        if (!text && recorded != full.received)
            std::printf("          note: %lld records written for %lld datagrams\n", recorded, full.received);
        std::fflush(stdout);
    }
    if (ownDir) std::filesystem::remove_all(dir);
    return 0;
}
