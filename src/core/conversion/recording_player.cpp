#include "conversion/recording_player.h"

#include <cJSON.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/udp_socket.h"

namespace lumora {
namespace {

constexpr size_t kTrailer = 52;
constexpr size_t kLmraHeader = 5;

int32_t Le32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

bool AllZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

// The trailer the recorder appends to a frame that has none: serial "X",
// reserved bytes zero, channel offset 0 and the wavelength base. An
// instrument's own trailer carries its serial number.
bool AppendedByRecorder(const uint8_t* t) {
    return t[5] == 'X' && t[6] == 0 && AllZero(t + 7, 21) && AllZero(t + 40, 4) && Le32(t + 44) == kWavelengthBase;
}

const uint8_t* Find(const uint8_t* from, const uint8_t* end, const char* pattern, size_t n) {
    const void* hit = memmem(from, static_cast<size_t>(end - from), pattern, n);
    return static_cast<const uint8_t*>(hit);
}

bool ParseSysTimePrefix(const char* p, size_t n, size_t& prefixLength, double& time) {
    static const char kOpen[] = "{\"SysTime\":[";
    static const char kClose[] = "],\"SysData\":";
    const size_t open = sizeof kOpen - 1, close = sizeof kClose - 1;
    if (n < open || std::memcmp(p, kOpen, open) != 0) return false;
    size_t i = open;
    long long numbers[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        bool negative = false;
        if (i < n && p[i] == '-') negative = true, ++i;
        const size_t digits = i;
        while (i < n && p[i] >= '0' && p[i] <= '9' && i - digits < 18) numbers[k] = numbers[k] * 10 + (p[i++] - '0');
        if (i == digits) return false;
        if (negative) numbers[k] = -numbers[k];
        if (k == 0) {
            if (i >= n || p[i] != ',') return false;
            ++i;
        }
    }
    if (n - i < close || std::memcmp(p + i, kClose, close) != 0) return false;
    prefixLength = i + close;
    time = static_cast<double>(numbers[0]) + static_cast<double>(numbers[1]) / 1e6;
    return true;
}

}  // namespace

// ---- RecordingReader

RecordingReader::~RecordingReader() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

bool RecordingReader::Open(const std::string& path, std::string& error) {
    if (DetectSourceKind(path, kind_) != kConvertOk) {
        error = path + ": not a recording that can be read";
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path + ": not a regular file";
        return false;
    }
    size_ = static_cast<size_t>(st.st_size);
    if (size_ > 0) {
        void* map = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) {
            ::close(fd);
            error = path + ": " + std::strerror(errno);
            return false;
        }
        ::madvise(map, size_, MADV_SEQUENTIAL);
        data_ = static_cast<const uint8_t*>(map);
    }
    ::close(fd);
    offset_ = kind_ == SourceKind::LmraBinary ? std::min(kLmraHeader, size_) : 0;
    return true;
}

bool RecordingReader::Next(RecordedDatagram& out) {
    switch (kind_) {
        case SourceKind::LmraBinary: return NextBinary(out);
        case SourceKind::HeaderlessBinary: return NextHeaderless(out);
        case SourceKind::JsonLines: return NextLine(out);
    }
    return false;
}

// A record runs from the frame marker to the end of the 52-byte trailer,
// which begins FE FE FE FE 65 and ends FD FD FD FD. Frame values may contain
// FD bytes, so the end is only taken where the trailer's start matches too.
bool RecordingReader::NextBinary(RecordedDatagram& out) {
    const uint8_t* end = data_ + size_;
    while (offset_ + 2 <= size_) {
        const uint8_t* start = Find(data_ + offset_, end, "\xFF\xFF", 2);
        if (!start) break;
        const uint8_t* search = start + 2;
        while (true) {
            const uint8_t* fd = Find(search, end, "\xFD\xFD\xFD\xFD", 4);
            if (!fd) {
                offset_ = size_;
                return false;  // a record cut short at the end of the file
            }
            const uint8_t* recordEnd = fd + 4;
            const uint8_t* trailer = recordEnd - kTrailer;
            if (trailer >= start + 2 && std::memcmp(trailer, "\xFE\xFE\xFE\xFE\x65", 5) == 0) {
                offset_ = static_cast<size_t>(recordEnd - data_);
                out.data = start;
                out.length = static_cast<size_t>(recordEnd - start);
                if (AppendedByRecorder(trailer)) out.length -= kTrailer;
                out.haveTime = true;
                out.time = Le32(trailer + 28) + Le32(trailer + 32) / 1e6;
                return true;
            }
            search = fd + 1;
        }
    }
    offset_ = size_;
    return false;
}

bool RecordingReader::NextHeaderless(RecordedDatagram& out) {
    const uint8_t* end = data_ + size_;
    while (offset_ + 4 <= size_) {
        const uint8_t* start = Find(data_ + offset_, end, "\xFF\xFF\xFF\xFF", 4);
        if (!start) break;
        const uint8_t* fe = Find(start + 4, end, "\xFE\xFE\xFE\xFE", 4);
        if (!fe) break;
        offset_ = static_cast<size_t>(fe + 4 - data_);
        out.data = start;
        out.length = static_cast<size_t>(fe + 4 - start);
        out.haveTime = out.length >= 14;
        out.time = out.haveTime ? Le32(start + 10) : 0;
        return true;
    }
    offset_ = size_;
    return false;
}

bool RecordingReader::NextLine(RecordedDatagram& out) {
    while (offset_ < size_) {
        const uint8_t* start = data_ + offset_;
        const uint8_t* newline = static_cast<const uint8_t*>(std::memchr(start, '\n', size_ - offset_));
        const uint8_t* lineEnd = newline ? newline : data_ + size_;
        offset_ = static_cast<size_t>(lineEnd - data_) + (newline ? 1 : 0);
        const char* line = reinterpret_cast<const char*>(start);
        size_t n = static_cast<size_t>(lineEnd - start);
        if (n == 0) continue;
        size_t prefix = 0;
        double time = 0;
        if (ParseSysTimePrefix(line, n, prefix, time)) {
            // The recorder wrote the prefix, the datagram and one "}".
            out.data = start + prefix;
            out.length = n - prefix - (line[n - 1] == '}' ? 1 : 0);
            out.haveTime = true;
            out.time = time;
            return true;
        }
        out.data = start;
        out.length = n;
        out.haveTime = false;
        if (cJSON* root = cJSON_ParseWithLength(line, n)) {
            const cJSON* t = cJSON_GetObjectItem(root, "Time");
            if (cJSON_IsNumber(t)) {
                out.haveTime = true;
                out.time = t->valuedouble;
            }
            cJSON_Delete(root);
        }
        return true;
    }
    return false;
}

// ---- RecordingPlayer

RecordingPlayer::~RecordingPlayer() { Stop(); }

bool RecordingPlayer::Start(const std::vector<std::string>& files, const ReplayOptions& options, std::string& error) {
    Stop();
    if (files.empty()) {
        error = "no recording given";
        return false;
    }
    uint64_t total = 0;
    for (const std::string& f : files) {
        RecordingReader reader;
        if (!reader.Open(f, error)) return false;
        total += reader.Size();
    }
    totalBytes_ = total;
    doneBytes_ = 0;
    sent_ = 0;
    sendFailures_ = 0;
    stop_ = false;
    paused_ = false;
    SetSpeed(options.speed);
    playing_ = true;
    thread_ = std::thread(&RecordingPlayer::Run, this, files, options);
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

std::string RecordingPlayer::CurrentFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return currentFile_;
}

bool RecordingPlayer::WaitUntil(std::chrono::steady_clock::time_point due) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_until(lock, due, [this] { return stop_.load() || paused_.load() || paceChanged_.load(); });
}

void RecordingPlayer::Run(std::vector<std::string> files, ReplayOptions options) {
    using Steady = std::chrono::steady_clock;
    UdpSocket socket;
    if (!socket.Create()) {
        playing_ = false;
        return;
    }
    // The pace is anchored at a moment and a recorded time; pausing or a new
    // speed sets a new anchor, so the change applies from where playing is.
    Steady::time_point anchor = Steady::now();
    double recordedSinceAnchor = 0;
    uint64_t sentSinceAnchor = 0;
    bool havePrevious = false;
    double previousTime = 0;
    uint64_t bytesBefore = 0;

    for (const std::string& path : files) {
        RecordingReader reader;
        std::string error;
        if (!reader.Open(path, error)) continue;  // gone since Start
        {
            std::lock_guard<std::mutex> lock(mutex_);
            currentFile_ = path;
        }
        RecordedDatagram d;
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
                const auto due = anchor + std::chrono::duration_cast<Steady::duration>(
                                              std::chrono::duration<double>(seconds));
                if (WaitUntil(due)) break;
            }
            if (stop_) break;
            if (!socket.SendTo(d.data, d.length, options.to, options.port)) sendFailures_.fetch_add(1);
            sent_.fetch_add(1);
            ++sentSinceAnchor;
            doneBytes_ = bytesBefore + reader.Offset();
        }
        bytesBefore += reader.Size();
        doneBytes_ = bytesBefore;
        if (stop_) break;
    }
    playing_ = false;
}

}  // namespace lumora
