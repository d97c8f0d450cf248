#include "conversion/recording_player.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/udp_socket.h"

namespace lumora {
namespace {

using Steady = std::chrono::steady_clock;

// The longest wait for one datagram that due times are computed with: far
// beyond any replay, far within the clock's range.
constexpr double kLongestWaitSeconds = 1e9;
// How often a file that plays is looked at for changes.
constexpr auto kLookForChanges = std::chrono::milliseconds(50);

// The IPv4 address of host, dotted; false with the reason.
bool ResolveIPv4(const std::string& host, std::string& address, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0 || !list) {
        error = "cannot resolve " + host + ": " + (rc != 0 ? ::gai_strerror(rc) : "no IPv4 address");
        if (list) ::freeaddrinfo(list);
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr, text, sizeof text);
    ::freeaddrinfo(list);
    address = text;
    return true;
}

Steady::duration After(double seconds) {
    if (!(seconds > 0)) seconds = 0;
    seconds = std::min(seconds, kLongestWaitSeconds);
    return std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

// ---- RecordingPlayer

RecordingPlayer::~RecordingPlayer() { Stop(); }

bool RecordingPlayer::Start(const std::vector<std::string>& files, const ReplayOptions& options, std::string& error) {
    Stop();
    if (files.empty()) {
        error = "no recording given";
        return false;
    }
    if (!(options.rate == 0 || (options.rate >= kLowestRate && std::isfinite(options.rate)))) {
        error = "the rate must be at least 1e-06 frames per second";
        return false;
    }
    ReplayOptions resolved = options;
    if (!ResolveIPv4(options.to, resolved.to, error)) return false;
    uint64_t total = 0;
    for (const std::string& f : files) {
        RecordingReader reader;
        if (!reader.Open(f, error)) return false;
        total += reader.Size();
    }
    totalBytes_ = total;
    doneBytes_ = 0;
    sent_ = 0;
    stop_ = false;
    paused_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        error_.clear();
        currentFile_.clear();
    }
    SetSpeed(options.speed);
    checking_ = true;
    playing_ = true;
    thread_ = std::thread(&RecordingPlayer::Run, this, files, resolved);
    return true;
}

void RecordingPlayer::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = paused;
        paceChanged_ = true;
    }
    wake_.notify_all();
}

void RecordingPlayer::SetSpeed(double speed) {
    if (!(speed > 0)) speed = 1.0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        speed_ = std::clamp(speed, kSlowest, kFastest);
        paceChanged_ = true;
    }
    wake_.notify_all();
}

void RecordingPlayer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void RecordingPlayer::Wait() {
    if (thread_.joinable()) thread_.join();
}

double RecordingPlayer::Progress() const {
    const uint64_t total = totalBytes_.load();
    return total ? std::min(1.0, static_cast<double>(doneBytes_.load()) / static_cast<double>(total)) : 1.0;
}

std::string RecordingPlayer::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void RecordingPlayer::EndWith(const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty()) error_ = error;
}

std::string RecordingPlayer::CurrentFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return currentFile_;
}

bool RecordingPlayer::WaitUntil(std::chrono::steady_clock::time_point due) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_until(lock, due, [this] { return stop_.load() || paused_.load() || paceChanged_.load(); });
}

void RecordingPlayer::Run(std::vector<std::string> files, ReplayOptions options) {
    // Nothing leaves this thread: what goes wrong ends the replay with a reason.
    try {
        Play(files, options);
    } catch (const std::bad_alloc&) {
        EndWith("not enough memory to go on playing");
    } catch (const std::exception& e) {
        EndWith(std::string("replay failed: ") + e.what());
    } catch (...) {
        EndWith("replay failed");
    }
    checking_ = false;
    playing_ = false;
}

void RecordingPlayer::Play(const std::vector<std::string>& files, const ReplayOptions& options) {
    UdpSocket socket;
    if (!socket.Create()) {
        EndWith(std::string("cannot create a UDP socket: ") + std::strerror(errno));
        return;
    }
    // Every file is read through before anything is sent; while it plays, a
    // file must be the one that was checked.
    std::vector<std::string> checked;
    for (const std::string& path : files) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            currentFile_ = path;
        }
        RecordingReader reader;
        reader.SetCancel(&stop_);
        std::string error;
        if (!reader.Open(path, error) || !reader.Check(error)) {
            if (!stop_) EndWith(error);
            return;
        }
        checked.push_back(reader.Identity());
    }
    checking_ = false;

    // The pace is anchored at a moment and a recorded time; pausing or a new
    // speed sets a new anchor, so the change applies from where playing is.
    Steady::time_point anchor = Steady::now();
    double recordedSinceAnchor = 0;
    uint64_t sentSinceAnchor = 0;
    bool havePrevious = false;
    double previousTime = 0;
    uint64_t bytesBefore = 0;

    for (size_t f = 0; f < files.size() && !stop_; ++f) {
        const std::string& path = files[f];
        RecordingReader reader;
        reader.SetCancel(&stop_);
        std::string error;
        if (!reader.Open(path, error)) {
            EndWith(error);
            return;
        }
        if (reader.Identity() != checked[f]) {
            EndWith(path + " changed while it was played");
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            currentFile_ = path;
        }
        RecordedDatagram d;
        // A file is read ahead in large pieces: whether it is still the one
        // checked is also asked while its datagrams go out.
        Steady::time_point nextLook = Steady::now() + kLookForChanges;
        while (!stop_ && reader.Next(d)) {
            if (d.haveTime && havePrevious)
                recordedSinceAnchor += std::clamp(d.time - previousTime, 0.0, kLongestGapSeconds);
            if (d.haveTime) {
                havePrevious = true;
                previousTime = d.time;
            }
            while (!stop_) {
                if (paused_) {
                    std::unique_lock<std::mutex> lock(mutex_);
                    wake_.wait(lock, [this] { return stop_.load() || !paused_.load(); });
                }
                if (paceChanged_.exchange(false)) {
                    anchor = Steady::now();
                    recordedSinceAnchor = 0;
                    sentSinceAnchor = 0;
                }
                const double seconds = options.rate > 0 ? static_cast<double>(sentSinceAnchor) / options.rate
                                                        : recordedSinceAnchor / speed_.load();
                if (WaitUntil(anchor + After(seconds))) break;
            }
            if (stop_) break;
            if (Steady::now() >= nextLook) {
                if (!reader.Unchanged()) break;
                nextLook = Steady::now() + kLookForChanges;
            }
            if (!socket.SendTo(d.data, d.length, options.to, options.port)) {
                EndWith("cannot send to " + options.to + ":" + std::to_string(options.port) + ": " +
                        std::strerror(errno));
                return;
            }
            sent_.fetch_add(1);
            ++sentSinceAnchor;
            doneBytes_ = bytesBefore + reader.Offset();
        }
        if (!reader.Error().empty() && !stop_) {
            EndWith(reader.Error());
            return;
        }
        bytesBefore += reader.Size();
        doneBytes_ = bytesBefore;
    }
}

}  // namespace lumora
