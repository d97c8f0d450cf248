#include "recording/raw_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "recording/fresh_file.h"
#include "window/string_table.h"
#include "window/window_port.h"

namespace lumora {
namespace {

constexpr uint8_t kFileHeader[5] = {'L', 'M', 'R', 'A', 0x65};
constexpr int kOpenFailedString = 220;
// Records pass through the file object's own buffer, sized so that a burst
// of frames costs few system calls.
constexpr size_t kFileBufferSize = 256 * 1024;

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

bool IsBinary(const uint8_t* data, size_t length) {
    return length >= 2 && data[0] == 0xFF && data[1] == 0xFF;
}

}  // namespace

std::string FileNumberText(int number, int total) {
    return total != 0 ? StringPrintf("%d/%d", number, total) : StringPrintf("%d", number);
}

void ShowFileNumber(WindowPort& window, int number, int total) {
    std::string text = FileNumberText(number, total);
    WindowPort* w = &window;
    window.Post([w, text] { w->SetText(kFileNumberControl, text); });
}

bool FrameHasOwnTrailer(const uint8_t* frame, size_t length) {
    if (length < 2 + kTrailerSize) return false;
    return frame[length - 4] == 0xFD && frame[length - 3] == 0xFD;
}

void BuildRecorderTrailer(uint8_t* out, int64_t nowMs, uint32_t datagramCount) {
    std::memset(out, 0, kTrailerSize);
    std::memset(out, 0xFE, 4);
    out[4] = 0x65;
    out[5] = 'X';  // serial-number text "X", ended by the zero at 6
    StampTime t = ToStamp(nowMs);
    PutLe32(out + 28, static_cast<uint32_t>(t.seconds));
    PutLe32(out + 32, static_cast<uint32_t>(t.microseconds));
    PutLe32(out + 36, datagramCount);
    PutLe32(out + 44, 1510000);
    std::memset(out + 48, 0xFD, 4);
}

RawRecorder::RawRecorder(WindowPort* window, const Clock& clock) : window_(window), clock_(clock) {}

RawRecorder::~RawRecorder() { Close(); }

void RawRecorder::SetDirectory(const std::string& dir) {
    std::lock_guard<std::mutex> lock(textMutex_);
    dir_ = dir;
}

void RawRecorder::SetFilePrefix(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(textMutex_);
    prefix_ = prefix;
}

std::string RawRecorder::LastPath() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return lastPath_;
}

bool RawRecorder::OpenFile(bool binary) {
    std::string dir, prefix;
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        dir = dir_;
        prefix = prefix_;
    }
    std::string stamp = FormatLocalTime(ToStamp(clock_.NowMs()).seconds, "%Y%m%d_%H%M%S");
    const std::string base = dir + "/" + prefix + "-" + stamp;

    // A name that is taken gets "_2", "_3", ... before ".dat": two files
    // opened within one second must not overwrite each other.
    // Probing starts after the variant used last for the same name, so that
    // many files within one second (one record per file at a high rate) do
    // not cost ever longer searches.
    int variant = base == lastBase_ ? lastVariant_ + 1 : 1;
    std::string path;
    int err = 0;
    int fd = CreateFreshFile(base, ".dat", variant, &path, &variant);
    if (fd < 0) err = errno;
    lastBase_ = base;
    lastVariant_ = variant;
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        lastPath_ = path;
    }

    // The new file counts and is shown even when it could not be created.
    int number = fileNumber_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (window_) ShowFileNumber(*window_, number, 0);

    if (fd >= 0) file_ = ::fdopen(fd, "wb");
    if (!file_) {
        if (fd >= 0) {
            err = errno;
            ::close(fd);
        }
        // Reported once until a file can be created again, so that recording
        // into a missing directory does not go unnoticed.
        if (!failureReported_ && window_) {
            failureReported_ = true;
            std::string text = StringPrintf(LoadString(kOpenFailedString).c_str(), path.c_str(), std::strerror(err));
            WindowPort* w = window_;
            window_->Post([w, text] { w->MessageBox(text, "lumora", kMbOk, kMbIconWarning); });
        }
        return false;
    }
    failureReported_ = false;
    ::setvbuf(file_, nullptr, _IOFBF, kFileBufferSize);
    fileOpen_.store(true, std::memory_order_release);
    if (binary) Write(kFileHeader, sizeof kFileHeader);
    return true;
}

void RawRecorder::CloseFile() {
    if (!file_) return;
    ::fflush(file_);
    ::fclose(file_);
    file_ = nullptr;
    fileOpen_.store(false, std::memory_order_release);
}

void RawRecorder::Close() { CloseFile(); }

void RawRecorder::Write(const void* data, size_t length) {
    // A failing write is not reported; the record still counts.
    if (file_ && length) ::fwrite(data, 1, length, file_);
}

int RawRecorder::RecordData(uint8_t* data, size_t length, uint32_t datagramCount) {
    if (!data && length) return 0;
    const bool binary = IsBinary(data, length);

    if (!file_) {
        bool opened = OpenFile(binary);
        recordsInFile_.store(0, std::memory_order_relaxed);
        // The marker-only frame that follows every opening of the port opens
        // the file and leaves just its header; any other data is written into
        // the new file as its first record.
        if (!opened || (binary && length <= 2)) return 0;
    }

    if (binary && FrameHasOwnTrailer(data, length)) {
        if (saveCounter_.load(std::memory_order_relaxed)) PutLe32(data + length - 16, datagramCount);
        if (stampLocalTime_.load(std::memory_order_relaxed)) {
            StampTime t = ToStamp(clock_.NowMs());
            PutLe32(data + length - 24, static_cast<uint32_t>(t.seconds));
            PutLe32(data + length - 20, static_cast<uint32_t>(t.microseconds));
        }
        Write(data, length);
    } else if (binary) {
        uint8_t trailer[kTrailerSize];
        BuildRecorderTrailer(trailer, clock_.NowMs(), datagramCount);
        Write(data, length);
        Write(trailer, sizeof trailer);
    } else if (stampLocalTime_.load(std::memory_order_relaxed)) {
        StampTime t = ToStamp(clock_.NowMs());
        char prefix[96];
        int n = std::snprintf(prefix, sizeof prefix, "{\"SysTime\":[%" PRId64 ",%" PRId32 "],\"SysData\":", t.seconds,
                              t.microseconds);
        Write(prefix, static_cast<size_t>(n));
        Write(data, length);
        Write("}\n", 2);
    } else {
        Write(data, length);
        Write("\n", 1);
    }

    uint32_t records = recordsInFile_.load(std::memory_order_relaxed) + 1;
    recordsInFile_.store(records, std::memory_order_relaxed);
    if (records >= recordsPerFile_.load(std::memory_order_relaxed)) {
        CloseFile();
        recordsInFile_.store(0, std::memory_order_relaxed);
    }
    return 0;
}

}  // namespace lumora
