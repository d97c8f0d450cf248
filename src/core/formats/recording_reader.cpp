#include "formats/recording_reader.h"

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "formats/byte_order.h"

namespace lumora {
namespace {

constexpr size_t kChunk = 1u << 20;

int64_t ModificationNs(const struct stat& st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

bool EndsWithEndMarker(const uint8_t* p, size_t n) {
    return n >= 4 && p[n - 1] == 0xFD && p[n - 2] == 0xFD && p[n - 3] == 0xFD && p[n - 4] == 0xFD;
}

// The wrapping the recorder puts around a datagram when it stamps the time:
// {"SysTime":[seconds,microseconds],"SysData":
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

int OpenRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : (errno ? errno : EINVAL);
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

ssize_t ReadFull(int fd, uint8_t* buffer, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, buffer + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

namespace {

int KindOfHead(const uint8_t* head, SourceKind& kind) {
    if (head[0] == 0xFF && head[1] == 0xFF && head[2] == 0xFF && head[3] == 0xFF) {
        kind = SourceKind::HeaderlessBinary;
    } else if (std::memcmp(head, kLmraFileHeader, 4) != 0) {
        kind = SourceKind::JsonLines;
    } else if (head[4] == kLmraFileHeader[4]) {
        kind = SourceKind::LmraBinary;
    } else {
        return kKindUnknownFormat;
    }
    return kKindDetected;
}

}  // namespace

int DetectSourceKind(const std::string& path, SourceKind& kind) {
    const int fd = OpenRegularFile(path);
    if (fd < 0) return kKindCannotOpen;
    uint8_t head[5] = {0, 0, 0, 0, 0};
    const ssize_t got = ReadFull(fd, head, sizeof head);
    ::close(fd);
    if (got < 0) return kKindCannotOpen;
    return KindOfHead(head, kind);
}

// ---- RecordingReader

RecordingReader::RecordingReader() = default;

RecordingReader::~RecordingReader() { Close(); }

void RecordingReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool RecordingReader::Open(const std::string& path, std::string& error) {
    Close();
    path_ = path;
    error_.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno == ENOENT ? path + " does not exist" : path + " cannot be read: " + std::strerror(errno);
        return false;
    }
    fd_ = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = path + " cannot be read: " + std::strerror(errno);
        Close();
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + (S_ISDIR(st.st_mode) ? " is a folder, not a recording" : " is not a regular file");
        Close();
        return false;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    mtimeNs_ = ModificationNs(st);
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
    uint8_t head[5] = {0, 0, 0, 0, 0};
    if (ReadFull(fd, head, sizeof head) < 0) {
        error = path + " cannot be read: " + std::strerror(errno);
        Close();
        return false;
    }
    if (KindOfHead(head, kind_) != kKindDetected) {
        error = path + " is not a recording that can be read: \"LMRA\" with an unknown format mark";
        Close();
        return false;
    }
    if (!Rewind()) {
        error = error_;
        Close();
        return false;
    }
    return true;
}

bool RecordingReader::Rewind() {
    offset_ = kind_ == SourceKind::LmraBinary ? std::min<uint64_t>(kLmraHeaderSize, size_) : 0;
    if (::lseek(fd_, static_cast<off_t>(offset_), SEEK_SET) < 0) {
        error_ = path_ + " cannot be read: " + std::strerror(errno);
        return false;
    }
    ByteReader read = [this](uint8_t* into, size_t n) { return ReadBody(into, n); };
    records_.reset();
    lines_.reset();
    cutter_.reset();
    switch (kind_) {
        case SourceKind::LmraBinary:
            records_ = std::make_unique<LmraRecordReader>(read);
            break;
        case SourceKind::JsonLines:
            lines_ = std::make_unique<JsonRecordReader>(read);
            break;
        case SourceKind::HeaderlessBinary:
            cutter_ = std::make_unique<PieceCutter>(0xFE, 4);
            break;
    }
    pieces_.clear();
    bodyEnded_ = false;
    return true;
}

std::string RecordingReader::Identity() const {
    return std::to_string(device_) + ":" + std::to_string(inode_) + ":" + std::to_string(size_) + ":" +
           std::to_string(mtimeNs_);
}

ssize_t RecordingReader::ReadBody(uint8_t* into, size_t n) {
    if (fd_ < 0 || !error_.empty()) return -1;
    if (cancel_ && cancel_->load(std::memory_order_relaxed)) {
        error_ = path_ + ": reading was stopped";
        return -1;
    }
    // Never more than the file held when it was opened: a file that grew is
    // told by its size below.
    const size_t want = static_cast<size_t>(std::min<uint64_t>(n, size_ - std::min(offset_, size_)));
    ssize_t r = 0;
    if (want > 0) {
        do {
            r = ::read(fd_, into, want);
        } while (r < 0 && errno == EINTR);
        if (r < 0) {
            error_ = path_ + " cannot be read: " + std::strerror(errno);
            return -1;
        }
    }
    offset_ += static_cast<uint64_t>(r);
    if (want > 0 && r == 0) {
        error_ = path_ + " changed while it was read";
        return -1;
    }
    return Unchanged() ? r : -1;
}

bool RecordingReader::Unchanged() {
    if (fd_ < 0 || !error_.empty()) return false;
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && static_cast<uint64_t>(st.st_size) == size_ && ModificationNs(st) == mtimeNs_)
        return true;
    error_ = path_ + " changed while it was read";
    return false;
}

bool RecordingReader::Check(std::string& error) {
    if (fd_ < 0) {
        error = path_ + " is not open";
        return false;
    }
    std::string problem;
    switch (kind_) {
        case SourceKind::LmraBinary:
            // The header says what the file is; damaged records are passed
            // over as the conversion passes them over.
            return true;
        case SourceKind::HeaderlessBinary: {
            bool any = false, foreign = false;
            std::vector<uint8_t> buffer(kChunk);
            for (;;) {
                const ssize_t r = ReadBody(buffer.data(), buffer.size());
                if (r <= 0) break;
                cutter_->Feed(buffer.data(), static_cast<size_t>(r), [&](const uint8_t* p, size_t n) {
                    foreign = !IsHeaderlessPiece(p, n);
                    any = true;
                    return !foreign;
                });
                if (foreign) break;
            }
            if (foreign) problem = " is not a recording: it holds a piece that is no headerless record";
            else if (!any) problem = " is not a recording: it holds no headerless record";
            break;
        }
        case SourceKind::JsonLines: {
            JsonRecord record;
            int64_t records = 0;
            TextLineReader::Status s;
            while ((s = lines_->Next(record)) == TextLineReader::kLine) {
                if (IsBlank(record.text)) continue;
                if (!IsJsonObjectText(record.text)) {
                    problem = " is not a recording: line " + std::to_string(record.line) + " is no JSON object";
                    break;
                }
                ++records;
            }
            if (problem.empty() && s == TextLineReader::kError && error_.empty())
                problem = " is not a recording: it holds a line longer than 16 MiB";
            else if (problem.empty() && records == 0 && error_.empty())
                problem = " is not a recording: it holds no JSON record";
            break;
        }
    }
    if (!error_.empty()) {
        error = error_;
        return false;
    }
    if (!problem.empty()) {
        error = path_ + problem;
        return false;
    }
    if (!Rewind()) {
        error = error_;
        return false;
    }
    return true;
}

bool RecordingReader::Next(RecordedDatagram& out) {
    if (fd_ < 0 || !error_.empty()) return false;
    switch (kind_) {
        case SourceKind::LmraBinary:
            return NextBinary(out);
        case SourceKind::HeaderlessBinary:
            return NextHeaderless(out);
        case SourceKind::JsonLines:
            return NextText(out);
    }
    return false;
}

bool RecordingReader::NextBinary(RecordedDatagram& out) {
    // Only a record that ends with its trailer is a frame to send: pieces cut
    // off by FD pairs in damaged bytes or inside a spectrum are not.
    LmraRecordView r;
    do {
        if (!records_->Next(r)) return false;
    } while (r.length < 2 + kTrailerSize || !EndsWithEndMarker(r.data, r.length));
    const uint8_t* t = r.data + r.length - kTrailerSize;
    out.data = r.data;
    out.length = r.length - (IsRecorderTrailer(t) ? kTrailerSize : 0);
    out.haveTime = true;
    out.time = Le32(t + 28) + Le32(t + 32) / 1e6;
    return true;
}

bool RecordingReader::NextHeaderless(RecordedDatagram& out) {
    while (pieces_.empty()) {
        if (bodyEnded_) return false;
        chunk_.resize(kChunk);
        const ssize_t r = ReadBody(chunk_.data(), chunk_.size());
        if (r < 0) return false;
        if (r == 0) {
            bodyEnded_ = true;
            continue;
        }
        cutter_->Feed(chunk_.data(), static_cast<size_t>(r), [&](const uint8_t* p, size_t n) {
            if (IsHeaderlessPiece(p, n)) pieces_.emplace_back(p, p + n);
            return true;
        });
    }
    piece_ = std::move(pieces_.front());
    pieces_.pop_front();
    out.data = piece_.data();
    out.length = piece_.size();
    out.haveTime = true;
    out.time = Le32(piece_.data() + 10);
    return true;
}

bool RecordingReader::NextText(RecordedDatagram& out) {
    JsonRecord record;
    do {
        const TextLineReader::Status s = lines_->Next(record);
        if (s == TextLineReader::kError && error_.empty()) error_ = path_ + " holds a line longer than 16 MiB";
        if (s != TextLineReader::kLine) return false;
    } while (IsBlank(record.text));
    const char* line = record.text.data();
    const size_t n = record.text.size();
    size_t prefix = 0;
    double time = 0;
    if (ParseSysTimePrefix(line, n, prefix, time)) {
        // The recorder wrote the prefix, the datagram and one "}".
        out.data = reinterpret_cast<const uint8_t*>(line + prefix);
        out.length = n - prefix - (line[n - 1] == '}' ? 1 : 0);
        out.haveTime = true;
        out.time = time;
        return true;
    }
    out.data = reinterpret_cast<const uint8_t*>(line);
    out.length = n;
    out.haveTime = false;
    if (cJSON* root = cJSON_ParseWithLength(line, n)) {
        const cJSON* t = cJSON_GetObjectItem(root, "Time");
        // A time that is no finite number gives no pause.
        if (cJSON_IsNumber(t) && std::isfinite(t->valuedouble)) {
            out.haveTime = true;
            out.time = t->valuedouble;
        }
        cJSON_Delete(root);
    }
    return true;
}

}  // namespace lumora
