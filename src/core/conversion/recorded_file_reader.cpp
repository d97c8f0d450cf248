#include "conversion/recorded_file_reader.h"

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <vector>

#include "conversion/csv_writer.h"
#include "conversion/output_file.h"

namespace lumora {
namespace {

constexpr size_t kReadChunk = 1 << 20;
// A JSON line longer than this cannot be a recorded datagram; it fails the
// source instead of growing the line buffer without end.
constexpr size_t kMaxJsonLine = 16u << 20;

int32_t Read32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

float ReadFloat(const uint8_t* p) {
    uint32_t bits = static_cast<uint32_t>(Read32(p));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Truncation toward zero, kept inside 32 bits (NaN counts as 0).
int32_t TruncateFloat(float f) {
    if (std::isnan(f)) return 0;
    if (f >= 2147483647.0f) return INT32_MAX;
    if (f <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(f);
}

int32_t WrappingAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// A source opened for reading: regular files only (a fifo or a directory
// named like a recording is not one).
int OpenRegular(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads up to n bytes; fewer only at the end of the file. -1 on a read error.
ssize_t ReadFull(int fd, uint8_t* buffer, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, buffer + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

// Text lines of a file, read through one large buffer; a line end is a line
// feed, removed from the line.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd), buffer_(kReadChunk) {}
    enum Status { kLine, kEnd, kError };
    Status Next(const char*& line, size_t& length) {
        for (;;) {
            const void* nl = end_ > begin_ ? std::memchr(buffer_.data() + begin_, '\n', end_ - begin_) : nullptr;
            if (nl) {
                line = buffer_.data() + begin_;
                length = static_cast<size_t>(static_cast<const char*>(nl) - line);
                begin_ += length + 1;
                return kLine;
            }
            if (eof_) {
                if (begin_ < end_) {
                    line = buffer_.data() + begin_;
                    length = end_ - begin_;
                    begin_ = end_;
                    return kLine;
                }
                return kEnd;
            }
            if (begin_ > 0) {
                std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
                end_ -= begin_;
                begin_ = 0;
            }
            if (end_ == buffer_.size()) {
                if (buffer_.size() >= kMaxJsonLine) return kError;
                buffer_.resize(buffer_.size() * 2);
            }
            ssize_t r = ReadFull(fd_, reinterpret_cast<uint8_t*>(buffer_.data() + end_), buffer_.size() - end_);
            if (r < 0) return kError;
            if (static_cast<size_t>(r) < buffer_.size() - end_) eof_ = true;
            end_ += static_cast<size_t>(r);
        }
    }

private:
    int fd_;
    std::vector<char> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
};

// Reads the whole file from its current position through buffer, calling
// feed(data, n) -> bool for every chunk. false on a read error or when feed
// asked to stop (stopped is then set).
template <class F>
bool ReadChunks(int fd, uint8_t* buffer, F&& feed, bool* stopped = nullptr) {
    for (;;) {
        ssize_t r = ReadFull(fd, buffer, kReadChunk);
        if (r < 0) return false;
        if (r > 0 && !feed(buffer, static_cast<size_t>(r))) {
            if (stopped) *stopped = true;
            return false;
        }
        if (static_cast<size_t>(r) < kReadChunk) return true;
    }
}

// Everything one source needs while its records go to the writer.
class SourceRun {
public:
    SourceRun(ConversionContext& ctx, const std::string& path, SourceKind kind, const ConvertSettings& settings)
        : ctx_(ctx),
          path_(path),
          kind_(kind),
          settings_(settings),
          lineMax_(FileLineMaxValue(settings.m_FileLineMax)),
          writer_(ctx, settings),
          slot_(new FrameSlot) {}

    void Start(int64_t estimate) {
        estimate_ = estimate;
        ConvertProgress& p = ctx_.progress;
        p.m_convRecordsPos.store(0, std::memory_order_relaxed);
        p.m_convFileBusy.store(1, std::memory_order_relaxed);
        p.m_convRecordsLow.store(1, std::memory_order_relaxed);
        range_ = static_cast<int>(std::min<int64_t>(estimate, 100));
        p.m_convRecordsRange.store(range_, std::memory_order_relaxed);
        fileNumber_ = kind_ == SourceKind::JsonLines ? 0 : 1;
        // A JSON source starts with a fresh align-error count; a binary source
        // continues with what the previous source left, unless receiving has
        // started since.
        const bool receiveStarted = ctx_.receiveStarted.exchange(false, std::memory_order_acq_rel);
        if (kind_ == SourceKind::JsonLines || receiveStarted) ctx_.m_alignErrorRun = 0;
        ctx_.m_currentHeader.Clear();
    }

    FrameSlot& Slot() { return *slot_; }

    // Hands the record in Slot() to the writer; false when the source must stop.
    bool Hand() {
        if (handed_ % lineMax_ == 0) {
            ctx_.m_currentHeader.Clear();
            fileNumber_ += 1;
        }
        const bool listMode = settings_.m_NeedPV == 0;
        if (settings_.m_TitleAlign != 0)
            writer_.WriteAlignedRow(*slot_, csv_, log_, path_, fileNumber_, listMode);
        else
            writer_.WriteGroupedRow(*slot_, csv_, log_, path_, fileNumber_, listMode);
        handed_ += 1;
        if (handed_ <= estimate_) {
            int pos = static_cast<int>(std::floor(static_cast<double>(range_) * static_cast<double>(handed_) /
                                                  static_cast<double>(estimate_)));
            ctx_.progress.m_convRecordsPos.store(pos, std::memory_order_relaxed);
        }
        if (writer_.OutputFailed()) {
            result_ = kConvertOutputFailed;
            return false;
        }
        if (ctx_.cancel.load(std::memory_order_relaxed)) {
            result_ = kConvertCancelled;
            return false;
        }
        return true;
    }

    void Fail(int result) {
        if (result_ == kConvertOk) result_ = result;
    }

    int Finish() {
        ConvertProgress& p = ctx_.progress;
        p.m_convRecordsPos.store(range_, std::memory_order_relaxed);
        bool ok = csv_.Close();
        ok = log_.Close() && ok;
        if (!ok || writer_.OutputFailed()) Fail(kConvertOutputFailed);
        ctx_.m_currentHeader.Clear();
        p.m_convFileTail.store(1, std::memory_order_relaxed);
        p.m_convFileBusy.store(0, std::memory_order_relaxed);
        return result_;
    }

    const ConvertSettings& Settings() const { return settings_; }

private:
    ConversionContext& ctx_;
    std::string path_;
    SourceKind kind_;
    ConvertSettings settings_;
    int lineMax_;
    CsvWriter writer_;
    std::unique_ptr<FrameSlot> slot_;
    OutputFile csv_;
    OutputFile log_;
    int64_t estimate_ = 0;
    int64_t handed_ = 0;
    int range_ = 0;
    int fileNumber_ = 0;
    int result_ = kConvertOk;
};

int ReadBinary(SourceRun& run, int fd, SourceKind kind) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
    const bool lmra = kind == SourceKind::LmraBinary;

    // Estimate: the start markers in the whole file.
    RunCounter starts(0xFF, lmra ? 2 : 4);
    bool readOk = ReadChunks(fd, buffer.get(), [&](const uint8_t* d, size_t n) {
        starts.Feed(d, n);
        return true;
    });
    if (!readOk || ::lseek(fd, lmra ? 5 : 0, SEEK_SET) < 0) {
        run.Start(0);
        run.Fail(kConvertBadSource);
        return run.Finish();
    }
    run.Start(starts.Count());

    PieceCutter cutter(lmra ? 0xFD : 0xFE, lmra ? 2 : 4);
    FrameSlot& slot = run.Slot();
    bool stopped = false;
    readOk = ReadChunks(
        fd, buffer.get(),
        [&](const uint8_t* d, size_t n) {
            return cutter.Feed(d, n, [&](const uint8_t* piece, size_t length) {
                bool valid = lmra ? DecodeLmraPiece(piece, length, slot) : DecodeHeaderlessPiece(piece, length, slot);
                return !valid || run.Hand();
            });
        },
        &stopped);
    if (!readOk && !stopped) run.Fail(kConvertBadSource);
    return run.Finish();
}

int ReadJsonLines(SourceRun& run, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return kConvertBadSource;
    int64_t fileLength = st.st_size;
    const char* line = nullptr;
    size_t length = 0;
    size_t firstLength = 0;
    {
        LineReader first(fd);
        LineReader::Status s = first.Next(line, length);
        if (s == LineReader::kError) return kConvertBadLine;
        if (s == LineReader::kLine) {
            firstLength = length;
            if (firstLength > 0 && line[firstLength - 1] == '\r') --firstLength;
        }
    }
    if (fileLength == 0 || firstLength == 0) return kConvertBadLine;
    if (::lseek(fd, 0, SEEK_SET) < 0) return kConvertBadSource;
    run.Start(fileLength / static_cast<int64_t>(firstLength));

    LineReader lines(fd);
    JsonLineState state;
    const bool onlyMatched = run.Settings().m_OnlyMatched != 0;
    for (;;) {
        LineReader::Status s = lines.Next(line, length);
        if (s == LineReader::kEnd) break;
        if (s == LineReader::kError) {
            run.Fail(kConvertBadLine);
            break;
        }
        JsonLineResult r = DecodeJsonLine(line, length, onlyMatched, state, run.Slot());
        if (r == JsonLineResult::Fail) {
            run.Fail(kConvertBadLine);
            break;
        }
        if (r == JsonLineResult::Record && !run.Hand()) break;
    }
    return run.Finish();
}

}  // namespace

// ---- cutting ----

PieceCutter::PieceCutter(uint8_t marker, int runLength)
    : marker_(marker), runLength_(runLength), pending_(new uint8_t[kMaxPieceSize]) {}

bool PieceCutter::Complete(const uint8_t* data, size_t start, size_t end, const uint8_t*& piece, size_t& length) {
    size_t tail = end - start;
    if (overflow_) {
        // The end of a piece that grew too long: dropped, and the next piece
        // starts after this marker.
        overflow_ = false;
        pendingLength_ = 0;
        return false;
    }
    if (pendingLength_ + tail > kMaxPieceSize) {
        pendingLength_ = 0;
        return false;
    }
    if (pendingLength_ == 0) {
        piece = data + start;
        length = tail;
        return true;
    }
    std::memcpy(pending_.get() + pendingLength_, data + start, tail);
    piece = pending_.get();
    length = pendingLength_ + tail;
    pendingLength_ = 0;
    return true;
}

void PieceCutter::Keep(const uint8_t* data, size_t start, size_t end) {
    if (overflow_) return;
    size_t tail = end - start;
    if (pendingLength_ + tail > kMaxPieceSize) {
        overflow_ = true;
        pendingLength_ = 0;
        return;
    }
    std::memcpy(pending_.get() + pendingLength_, data + start, tail);
    pendingLength_ += tail;
}

void RunCounter::Feed(const uint8_t* data, size_t n) {
    size_t i = 0;
    while (i < n) {
        if (run_ == 0) {
            const void* hit = std::memchr(data + i, marker_, n - i);
            if (!hit) return;
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        }
        if (data[i++] != marker_) {
            run_ = 0;
            continue;
        }
        if (++run_ == runLength_) {
            run_ = 0;
            ++count_;
        }
    }
}

// ---- decoding ----

bool DecodeHeaderlessPiece(const uint8_t* p, size_t n, FrameSlot& slot) {
    // Fixed part: markers, time, counter, channel count and 32 count bytes.
    if (n < 67) return false;
    if (p[0] != 0xFF || p[1] != 0xFF || (p[2] != 0xFF && p[3] != 0xFF)) return false;
    if (p[4] != 0) return false;
    const int channels = p[34];
    if (channels > 32) return false;
    size_t announced = 0;
    for (int j = 0; j < channels; ++j) announced += p[35 + j];
    if (n < 67 + 4 * announced) return false;

    slot.time = Read32(p + 10);
    slot.counter = Read32(p + 18);
    int readings = 0;
    size_t index = 0;
    for (int j = 0; j < channels; ++j) {
        const int sensors = p[35 + j];
        for (int k = 0; k < sensors; ++k, ++index) {
            // Sensors beyond 60 of a channel are passed over so the next
            // channel starts with its own values.
            if (k >= kMaxSensorsPerChannel || readings >= kMaxReadings) continue;
            int32_t v = TruncateFloat(ReadFloat(p + 67 + 4 * index));
            SensorReading& r = slot.readings[readings++];
            r.id = static_cast<int32_t>(index) + 1;
            r.channel = j + 1;
            r.wavelength = WrappingAdd(v, kPhysicBase);
            r.serial = r.channel * 1000 + r.id;
            r.physicValue = static_cast<double>(v);
        }
    }
    slot.count = readings;
    return true;
}

bool DecodeLmraPiece(const uint8_t* p, size_t n, FrameSlot& slot) {
    if (n < 2) return false;
    size_t pair = 0;
    while (pair + 1 < n && !(p[pair] == 0xFF && p[pair + 1] == 0xFF)) ++pair;
    if (pair + 1 >= n) return false;
    const uint8_t* h = p + pair + 2;
    const size_t after = n - (pair + 2);
    if (after < 3) return false;
    const int channelByte = h[2];
    if (channelByte >= 64) return false;  // a spectrum record
    const int channels = channelByte & 0x3F;
    // Three header bytes, the count bytes, the values and 50 trailer bytes.
    const long long spare = static_cast<long long>(after) - channels - 53;
    if (spare < 0) return false;
    const int used = std::min(channels, 32);
    long long announced = 0;
    for (int l = 0; l < used; ++l) announced += h[3 + l];
    if (spare / 2 != announced) return false;

    const uint8_t* values = h + 3 + channels;
    slot.time = Read32(p + n - 22);
    slot.counter = Read32(p + n - 14);
    const int offset = static_cast<int8_t>(p[n - 10]);
    const int32_t base = Read32(p + n - 6);
    int readings = 0;
    size_t index = 0;
    for (int l = 0; l < used; ++l) {
        int x = offset + l;
        if (x > 31) x = 31;
        const int sensors = h[3 + l];
        for (int k = 0; k < sensors; ++k, ++index) {
            if (k >= kMaxSensorsPerChannel || readings >= kMaxReadings) continue;
            SensorReading& r = slot.readings[readings++];
            r.id = static_cast<int32_t>(index) + 1;
            r.channel = x + 1;
            r.wavelength = WrappingAdd(Read16(values + 2 * index), base);
            r.serial = r.channel * 1000 + r.id;
            r.physicValue = static_cast<double>(r.wavelength) - kPhysicBase;
        }
    }
    slot.count = readings;
    return true;
}

JsonLineResult DecodeJsonLine(const char* line, size_t n, bool onlyMatched, JsonLineState& state, FrameSlot& slot) {
    size_t skip = 0;
    while (skip < n && static_cast<unsigned char>(line[skip]) <= 0x20) ++skip;
    if (skip == n) return JsonLineResult::Fail;
    cJSON* root = cJSON_ParseWithLength(line + skip, n - skip);
    if (!root) return JsonLineResult::Fail;
    struct Free {
        cJSON* p;
        ~Free() { cJSON_Delete(p); }
    } owner{root};

    const cJSON* data = root;
    int time = 0;
    if (const cJSON* sysTime = cJSON_GetObjectItem(root, "SysTime")) {
        const cJSON* sysData = cJSON_GetObjectItem(root, "SysData");
        if (!sysData) return JsonLineResult::Fail;
        const cJSON* first = cJSON_GetArrayItem(sysTime, 0);
        if (!first || first->valueint == 0) return JsonLineResult::Fail;
        time = first->valueint;
        data = sysData;
    } else {
        const cJSON* t = cJSON_GetObjectItem(root, "Time");
        if (!t || t->valueint == 0) return JsonLineResult::Fail;
        time = t->valueint;
    }

    const cJSON* counter = cJSON_GetObjectItem(data, "Counter");
    if (!counter || counter->valueint == 0) return JsonLineResult::Fail;
    if (state.havePrevious && counter->valueint == state.previousCounter) return JsonLineResult::Skip;
    state.havePrevious = true;
    state.previousCounter = counter->valueint;
    if (!cJSON_IsString(cJSON_GetObjectItem(data, "SN"))) return JsonLineResult::Fail;
    const cJSON* sensors = cJSON_GetObjectItem(data, "Data");
    if (!sensors) return JsonLineResult::Fail;

    slot.time = time;
    slot.counter = counter->valueint;
    int readings = 0;
    for (const cJSON* e = sensors->child; e && readings < kMaxReadings; e = e->next) {
        // A sensor needs an array of at least six numbers; anything else is
        // left out.
        if (!cJSON_IsArray(e)) continue;
        const cJSON* item[6];
        int have = 0;
        for (const cJSON* v = e->child; v && have < 6 && cJSON_IsNumber(v); v = v->next) item[have++] = v;
        if (have < 6) continue;
        if (onlyMatched && item[0]->valueint == 0) continue;
        SensorReading& r = slot.readings[readings++];
        r.id = item[1]->valueint;
        r.channel = item[2]->valueint;
        r.wavelength = item[3]->valueint;
        r.physicValue = item[4]->valuedouble;
        r.serial = item[5]->valueint;
    }
    slot.count = readings;
    return JsonLineResult::Record;
}

// ---- the source ----

int DetectSourceKind(const std::string& path, SourceKind& kind) {
    int fd = OpenRegular(path);
    if (fd < 0) return kConvertCannotOpen;
    uint8_t head[5] = {0, 0, 0, 0, 0};
    ssize_t got = ReadFull(fd, head, sizeof head);
    ::close(fd);
    if (got < 0) return kConvertCannotOpen;
    if (head[0] == 0xFF && head[1] == 0xFF && head[2] == 0xFF && head[3] == 0xFF) {
        kind = SourceKind::HeaderlessBinary;
    } else if (std::memcmp(head, "LMRA", 4) != 0) {
        kind = SourceKind::JsonLines;
    } else if (head[4] == 0x65) {
        kind = SourceKind::LmraBinary;
    } else {
        return kConvertBadSource;
    }
    return kConvertOk;
}

int ConvertFile(ConversionContext& ctx, const std::string& path) {
    SourceKind kind;
    int r = DetectSourceKind(path, kind);
    if (r != kConvertOk) return r;

    ConfirmConvertSettings(ctx);
    ConvertSettings settings = ctx.Settings();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return kConvertCannotOpen;
    int fd = OpenRegular(path);
    if (fd < 0) return kConvertBadSource;
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    SourceRun run(ctx, path, kind, settings);
    int result = kind == SourceKind::JsonLines ? ReadJsonLines(run, fd) : ReadBinary(run, fd, kind);
    ::close(fd);
    return result;
}

}  // namespace lumora
