#include "recording/high_speed_convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "formats/byte_order.h"
#include "formats/lmra_records.h"
#include "platform/durable_file.h"

namespace lumora {

namespace {

// Output through one large buffer instead of a call per field.
class CsvOut {
public:
    explicit CsvOut(FILE* f) : f_(f) { buf_.reserve(kFlushAt + 4096); }
    void Text(const char* s, size_t n) { buf_.append(s, n); }
    void Text(const std::string& s) { buf_.append(s); }
    void Char(char c) { buf_.push_back(c); }
    void Int(long long v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf_.append(tmp, static_cast<size_t>(r.ptr - tmp));
    }
    void EndRow() {
        buf_.push_back('\n');
        if (buf_.size() >= kFlushAt) Flush();
    }
    bool Flush() {
        if (!buf_.empty() && !failed_ && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) {
            failed_ = true;
            errno_ = errno;
        }
        buf_.clear();
        return !failed_;
    }
    bool Failed() const { return failed_; }
    int Errno() const { return errno_; }

private:
    static constexpr size_t kFlushAt = 1u << 20;
    FILE* f_;
    std::string buf_;
    bool failed_ = false;
    int errno_ = 0;
};

// "2024-03-03 14:05:09.250000", local time; the date part is formatted once
// per second.
class TimeText {
public:
    void Write(CsvOut& out, int32_t seconds, int32_t microseconds) {
        if (!valid_ || seconds != cachedSeconds_) {
            time_t t = seconds;
            tm local{};
            if (localtime_r(&t, &local)) {
                cachedLength_ = std::strftime(cached_, sizeof cached_, "%Y-%m-%d %H:%M:%S", &local);
            } else {
                cachedLength_ = static_cast<size_t>(std::snprintf(cached_, sizeof cached_, "%d", seconds));
            }
            cachedSeconds_ = seconds;
            valid_ = true;
        }
        out.Text(cached_, cachedLength_);
        if (microseconds < 0 || microseconds > 999999) microseconds = 0;
        char frac[8];
        std::snprintf(frac, sizeof frac, ".%06d", microseconds);
        out.Text(frac, 7);
    }

private:
    bool valid_ = false;
    int32_t cachedSeconds_ = 0;
    char cached_[64] = {};
    size_t cachedLength_ = 0;
};

}  // namespace

int DecodeHighSpeedRecord(const uint8_t* r, size_t length, HighSpeedRecord* out) {
    if (length < 5 || r[0] != 0xFF || r[1] != 0xFF) return -1;
    const size_t x = (r[2] & 1) ? 4 : 0;
    if (length < 5 + x) return -1;
    const uint8_t kind = r[4 + x];
    if (kind >= 0x40) return 1;
    const size_t n = kind & 0x3F;
    const size_t head = 5 + x + n;
    if (length < head + kTrailerSize) return -1;
    const size_t used = n < 32 ? n : 32;
    size_t values = 0;
    for (size_t i = 0; i < used; ++i) values += r[5 + x + i];
    // The values, up to three spare bytes, then the trailer.
    const size_t room = length - head - kTrailerSize;
    if (room < 2 * values || room > 2 * values + 3) return -1;
    out->channels = static_cast<int>(used);
    out->counts = r + 5 + x;
    out->values = r + head;
    out->valueCount = static_cast<int>(values);
    out->time = Le32(r + length - 24);
    out->microseconds = Le32(r + length - 20);
    out->counter = Le32(r + length - 16);
    out->channelOffset = static_cast<int8_t>(r[length - 12]);
    return 0;
}

namespace {

// Bytes read per call.
constexpr size_t kReadBytes = 4u << 20;

ssize_t ReadSome(int fd, uint8_t* into, size_t length) {
    ssize_t n;
    do {
        n = ::read(fd, into, length);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool ReadFully(int fd, uint8_t* into, size_t length) {
    while (length > 0) {
        ssize_t n = ReadSome(fd, into, length);
        if (n <= 0) return false;
        into += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

HighSpeedConvertStats ConvertHighSpeedFile(const HighSpeedConvertOptions& o) {
    HighSpeedConvertStats st;
    int fd = ::open(o.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        st.error = errno == ENOENT ? o.input + " does not exist" : "cannot open " + o.input + ": " + std::strerror(errno);
        return st;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat sb{};
    if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        st.error = o.input + " is not a regular file";
        return st;
    }
    // The size when the conversion starts is the size converted.
    const uint64_t size = static_cast<uint64_t>(sb.st_size);
    uint8_t magic[5];
    if (size < sizeof magic || !ReadFully(fd, magic, sizeof magic)) {
        st.error = o.input + " is not an LMRA recording (too short)";
        return st;
    }
    if (std::memcmp(magic, kLmraFileHeader, sizeof magic) != 0) {
        st.error = o.input + " is not an LMRA recording";
        return st;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::string partial = o.output + ".part";
    FILE* f = std::fopen(partial.c_str(), "wb");
    if (!f) {
        st.error = "cannot create " + partial + ": " + std::strerror(errno);
        return st;
    }
    CsvOut out(f);
    TimeText time;
    bool header = false;
    HighSpeedRecord rec;
    auto convertRecord = [&](const uint8_t* r, size_t len) {
        int kind = DecodeHighSpeedRecord(r, len, &rec);
        if (kind == 1) {
            ++st.spectrumRecords;
            return;
        }
        if (kind != 0) {
            ++st.invalidRecords;
            return;
        }
        if (!header) {
            // Columns for the first frame's readings; later frames may have more.
            out.Text("Time,Counter", 12);
            for (int i = 1; i <= rec.valueCount; ++i) {
                out.Text(",Channel ");
                out.Int(i);
                out.Text(",Value ");
                out.Int(i);
            }
            out.EndRow();
            header = true;
        }
        time.Write(out, rec.time, rec.microseconds);
        out.Char(',');
        out.Int(rec.counter);
        int v = 0;
        for (int c = 0; c < rec.channels; ++c) {
            const long long channel = static_cast<long long>(c) + 1 + rec.channelOffset + o.channelOffset;
            for (int k = 0; k < rec.counts[c]; ++k, ++v) {
                const uint8_t* p = rec.values + 2 * v;
                const long long value = static_cast<long long>(p[0] | p[1] << 8) + o.wavelengthOffset;
                out.Char(',');
                out.Int(channel);
                out.Char(',');
                out.Int(value);
            }
        }
        st.readings += static_cast<uint64_t>(v);
        ++st.frames;
        out.EndRow();
    };

    uint64_t offset = sizeof magic;
    std::string readError;
    LmraRecordReader records(
        [&](uint8_t* into, size_t n) -> ssize_t {
            if (out.Failed()) return -1;
            const size_t want = static_cast<size_t>(std::min<uint64_t>(n, size - offset));
            if (want == 0) return 0;
            const ssize_t got = ReadSome(fd, into, want);
            if (got < 0) {
                readError = "cannot read " + o.input + ": " + std::strerror(errno);
                return -1;
            }
            if (got == 0) {
                readError = o.input + " shrank while it was read (" + std::to_string(offset) + " of " +
                            std::to_string(size) + " bytes): the conversion ended early";
                return -1;
            }
            offset += static_cast<uint64_t>(got);
            return got;
        },
        kReadBytes);
    LmraRecordView record;
    while (records.Next(record)) convertRecord(record.data, record.length);
    st.bytesRead = offset;
    if (readError.empty() && ::fstat(fd, &sb) == 0 && static_cast<uint64_t>(sb.st_size) > size) {
        readError = o.input + " grew while it was read: only its first " + std::to_string(size) +
                    " bytes were converted";
    }
    // Bytes that belong to no record: leading garbage, an unfinished record.
    if (records.Unclaimed() > 0) ++st.invalidRecords;
    if (!header) {
        out.Text("Time,Counter", 12);
        out.EndRow();
    }
    out.Flush();
    int writeError = out.Failed() ? out.Errno() : 0;
    // The table reaches the disk before it takes the final name.
    if (std::fflush(f) != 0 && writeError == 0) writeError = errno;
    if (const int e = SyncFile(fileno(f)); e != 0 && writeError == 0) writeError = e;
    if (std::fclose(f) != 0 && writeError == 0) writeError = errno;
    if (writeError != 0) {
        // A table cut short by a full disk is of no use and takes the room.
        ::unlink(partial.c_str());
        st.error = "cannot write " + partial + ": " + std::strerror(writeError) + "; no table was made";
        return st;
    }
    if (!readError.empty()) {
        st.error = readError + "; the rows made so far are in " + partial;
        return st;
    }
    if (std::rename(partial.c_str(), o.output.c_str()) != 0) {
        st.error = "cannot rename " + partial + " to " + o.output + ": " + std::strerror(errno);
        ::unlink(partial.c_str());
    }
    return st;
}

}  // namespace lumora
