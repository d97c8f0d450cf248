#include "recording/raw_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "formats/json_lines.h"
#include "recording/fresh_file.h"
#include "settings/setting_values.h"
#include "window/string_table.h"
#include "window/window_port.h"

namespace lumora {
namespace {

constexpr int kOpenFailedString = 220;
constexpr int kUnsafePrefixString = 230;
constexpr int kWriteFailedString = 221;
// A batch is written early when it grows past this (many small frames in
// full-size datagrams), so memory stays bounded.
constexpr size_t kFlushThreshold = 1024 * 1024;
// A record is at most one datagram (10240 bytes) with a SysTime prefix or a
// trailer.
constexpr size_t kLargestRecord = 16 * 1024;

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

RawRecorder::RawRecorder(WindowPort* window, const Clock& clock)
    : window_(window), clock_(clock), write_([](int fd, const void* data, size_t length) {
          return ::write(fd, data, length);
      }) {
    // Room for a whole batch, so that recording allocates nothing per frame.
    pending_.reserve(kFlushThreshold + kLargestRecord);
    unitEnds_.reserve(4096);
}

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
    // Appending: after a failed write cuts the file back to its last whole
    // record, the next record goes right there.
    int fd = -1;
    if (IsSafeFilePrefix(prefix)) {
        fd = CreateFreshFile(base, ".dat", variant, &path, &variant, O_APPEND);
        if (fd < 0) err = errno;
    } else {
        // The window and the command line refuse such a prefix; whatever
        // gets here still never writes outside the folder.
        path = base + ".dat";
    }
    lastBase_ = base;
    lastVariant_ = variant;
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        lastPath_ = path;
    }

    // The new file counts and is shown even when it could not be created.
    int number = fileNumber_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (window_) ShowFileNumber(*window_, number, 0);

    if (fd < 0) {
        // Reported once until a file can be created again, so that recording
        // into a missing directory does not go unnoticed.
        if (!failureReported_ && window_) {
            failureReported_ = true;
            const std::string reason = err ? std::strerror(err) : LoadString(kUnsafePrefixString);
            std::string text = StringPrintf(LoadString(kOpenFailedString).c_str(), path.c_str(), reason.c_str());
            WindowPort* w = window_;
            window_->Post([w, text] { w->MessageBox(text, "lumora", kMbOk, kMbIconWarning); });
        }
        return false;
    }
    failureReported_ = false;
    fd_ = fd;
    needHeader_ = binary;
    fileBytes_ = 0;
    writeFailureReported_ = false;
    lostInFile_.store(0, std::memory_order_relaxed);
    filesCreated_.fetch_add(1, std::memory_order_relaxed);
    fileOpen_.store(true, std::memory_order_release);
    AppendHeaderIfNeeded();
    return true;
}

void RawRecorder::CloseFile() {
    if (fd_ < 0) return;
    Flush();
    ::close(fd_);
    fd_ = -1;
    fileOpen_.store(false, std::memory_order_release);
    // A file that nothing reached (the disk was full from its start) is not
    // left behind empty.
    if (fileBytes_ == 0 && ::unlink(LastPath().c_str()) == 0) filesCreated_.fetch_sub(1, std::memory_order_relaxed);
}

void RawRecorder::Close() { CloseFile(); }

void RawRecorder::ResetCounts() {
    filesCreated_.store(0, std::memory_order_relaxed);
    recordsWritten_.store(0, std::memory_order_relaxed);
    recordsLost_.store(0, std::memory_order_relaxed);
    lostInFile_.store(0, std::memory_order_relaxed);
}

void RawRecorder::Append(const void* data, size_t length) {
    if (length == 0) return;
    const size_t at = pending_.size();
    pending_.resize(at + length);
    std::memcpy(pending_.data() + at, data, length);
}

void RawRecorder::EndRecord() { unitEnds_.push_back(pending_.size()); }

void RawRecorder::AppendHeaderIfNeeded() {
    if (!needHeader_ || !pending_.empty()) return;
    Append(kLmraFileHeader, sizeof kLmraFileHeader);
    unitEnds_.push_back(pending_.size());
    pendingHeader_ = true;
    needHeader_ = false;
}

void RawRecorder::CountLost(uint32_t records) {
    if (records == 0) return;
    recordsLost_.fetch_add(records, std::memory_order_relaxed);
    lostInFile_.fetch_add(records, std::memory_order_relaxed);
}

void RawRecorder::ReportWriteFailure(int err) {
    if (writeFailureReported_ || !window_) return;
    writeFailureReported_ = true;
    std::string text = StringPrintf(LoadString(kWriteFailedString).c_str(), LastPath().c_str(), std::strerror(err));
    WindowPort* w = window_;
    window_->Post([w, text] { w->MessageBox(text, "lumora", kMbOk, kMbIconWarning); });
}

void RawRecorder::Flush() {
    // Records are collected only while a file is open, and closing flushes.
    if (pending_.empty() || fd_ < 0) return;
    const size_t units = unitEnds_.size();
    const size_t records = units - (pendingHeader_ ? 1 : 0);
    size_t done = 0;
    int err = 0;
    while (done < pending_.size()) {
        ssize_t n = write_(fd_, pending_.data() + done, pending_.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            err = n < 0 ? errno : EIO;
            break;
        }
    }
    size_t keptUnits = units;
    size_t keptBytes = done;
    if (done < pending_.size()) {
        // Only whole units stay: cut the file back to the end of the last one
        // that went out completely.
        keptUnits = 0;
        while (keptUnits < units && unitEnds_[keptUnits] <= done) ++keptUnits;
        keptBytes = keptUnits ? unitEnds_[keptUnits - 1] : 0;
        if (done > keptBytes && ::ftruncate(fd_, static_cast<off_t>(fileBytes_ + keptBytes)) != 0) {
            // The torn record cannot be taken back: this file ends here, the
            // next record starts a new one.
            ::close(fd_);
            fd_ = -1;
            fileOpen_.store(false, std::memory_order_release);
            recordsInFile_.store(0, std::memory_order_relaxed);
        }
        if (pendingHeader_ && keptUnits == 0 && fd_ >= 0) needHeader_ = true;
        ReportWriteFailure(err);
    }
    const size_t keptRecords = keptUnits - (pendingHeader_ && keptUnits > 0 ? 1 : 0);
    fileBytes_ += keptBytes;
    recordsWritten_.fetch_add(keptRecords, std::memory_order_relaxed);
    CountLost(static_cast<uint32_t>(records - keptRecords));
    pending_.clear();
    unitEnds_.clear();
    pendingHeader_ = false;
}

int RawRecorder::RecordData(uint8_t* data, size_t length, uint32_t datagramCount) {
    if (!data && length) return 0;
    const bool binary = IsBinary(data, length);
    const bool markerOnly = binary && length <= 2;

    if (fd_ < 0) {
        bool opened = OpenFile(binary);
        recordsInFile_.store(0, std::memory_order_relaxed);
        // The marker-only frame that follows every opening of the port opens
        // the file and leaves just its header; any other data is written into
        // the new file as its first record, or is lost with the file.
        if (!opened && !markerOnly) CountLost(1);
        if (!opened || markerOnly) return 0;
    }
    AppendHeaderIfNeeded();

    if (binary) {
        LmraStamp stamp;
        stamp.datagramCount = datagramCount;
        stamp.nowMs = clock_.NowMs();
        stamp.counterIntoOwnTrailer = saveCounter_.load(std::memory_order_relaxed);
        stamp.timeIntoOwnTrailer = stampLocalTime_.load(std::memory_order_relaxed);
        AppendLmraRecord(pending_, data, length, stamp);
    } else if (stampLocalTime_.load(std::memory_order_relaxed)) {
        const StampTime t = ToStamp(clock_.NowMs());
        AppendJsonLine(pending_, data, length, &t);
    } else {
        AppendJsonLine(pending_, data, length, nullptr);
    }
    EndRecord();

    // A record still counts toward rotation when it does not reach the file.
    uint32_t records = recordsInFile_.load(std::memory_order_relaxed) + 1;
    recordsInFile_.store(records, std::memory_order_relaxed);
    if (records >= recordsPerFile_.load(std::memory_order_relaxed)) {
        CloseFile();
        recordsInFile_.store(0, std::memory_order_relaxed);
    } else if (pending_.size() >= kFlushThreshold) {
        Flush();
    }
    return 0;
}

}  // namespace lumora
