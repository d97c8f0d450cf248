#include "formats/lmra_records.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "formats/byte_order.h"

namespace lumora {
namespace {

constexpr uint8_t kFd = 0xFD;
// The longest record the structure can describe: 63 channels, 32 count
// bytes of 255 values.
constexpr size_t kLongestWhole = 2 + 3 + 63 + 2 * 32 * 255 + kTrailerSize;
// Bytes kept across reads at most: a piece not yet too long, and the record
// looked at from its end.
constexpr size_t kRetained = kMaxPieceSize + kLongestWhole + 8;

bool AllZero(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

}  // namespace

// ---- writing

bool FrameHasOwnTrailer(const uint8_t* frame, size_t length) {
    if (length < 2 + kTrailerSize) return false;
    return frame[length - 4] == kFd && frame[length - 3] == kFd;
}

void BuildRecorderTrailer(uint8_t* out, int64_t nowMs, uint32_t datagramCount) {
    std::memset(out, 0, kTrailerSize);
    std::memset(out, 0xFE, 4);
    out[4] = 0x65;
    out[5] = 'X';  // serial-number text "X", ended by the zero at 6
    const StampTime t = ToStamp(nowMs);
    PutLe32(out + 28, static_cast<uint32_t>(t.seconds));
    PutLe32(out + 32, static_cast<uint32_t>(t.microseconds));
    PutLe32(out + 36, datagramCount);
    PutLe32(out + 44, static_cast<uint32_t>(kWavelengthBase));
    std::memset(out + 48, kFd, 4);
}

bool IsRecorderTrailer(const uint8_t* t) {
    return t[5] == 'X' && t[6] == 0 && AllZero(t + 7, 21) && AllZero(t + 40, 4) && Le32(t + 44) == kWavelengthBase;
}

void AppendLmraRecord(std::vector<uint8_t>& out, uint8_t* frame, size_t length, const LmraStamp& stamp) {
    if (FrameHasOwnTrailer(frame, length)) {
        if (stamp.counterIntoOwnTrailer) PutLe32(frame + length - 16, stamp.datagramCount);
        if (stamp.timeIntoOwnTrailer) {
            const StampTime t = ToStamp(stamp.nowMs);
            PutLe32(frame + length - 24, static_cast<uint32_t>(t.seconds));
            PutLe32(frame + length - 20, static_cast<uint32_t>(t.microseconds));
        }
        out.insert(out.end(), frame, frame + length);
        return;
    }
    uint8_t trailer[kTrailerSize];
    BuildRecorderTrailer(trailer, stamp.nowMs, stamp.datagramCount);
    out.insert(out.end(), frame, frame + length);
    out.insert(out.end(), trailer, trailer + kTrailerSize);
}

// ---- reading

LmraRecordReader::LmraRecordReader(ByteReader read, size_t chunk)
    : read_(std::move(read)), chunk_(std::max<size_t>(chunk, 1)), buffer_(chunk_ + kRetained) {}

LmraRecordReader::Whole LmraRecordReader::TestWhole(size_t at, size_t& length) const {
    const size_t n = static_cast<size_t>(have_ - base_);
    const uint8_t* b = buffer_.data() + at;
    const Whole later = eof_ ? Whole::No : Whole::NeedMore;
    if (n - at < 5) return later;
    if (b[4] >= 0x40) return Whole::No;
    const size_t channels = b[4] & 0x3F;
    if (n - at < 5 + channels) return later;
    size_t values = 0;
    for (size_t l = 0; l < std::min<size_t>(channels, 32); ++l) values += b[5 + l];
    const size_t total = 5 + channels + 2 * values + kTrailerSize;
    if (n - at < total) return later;
    const uint8_t* end = b + total;
    if (end[-1] != kFd || end[-2] != kFd || end[-3] != kFd || end[-4] != kFd) return Whole::No;
    length = total;
    return Whole::Yes;
}

bool LmraRecordReader::Refill() {
    // A piece that is already too long is dropped at its end: only the bytes
    // from the scan on are still needed.
    const uint64_t keep = scan_ - pieceStart_ > kMaxPieceSize ? scan_ : pieceStart_;
    const size_t used = static_cast<size_t>(have_ - base_);
    if (buffer_.size() - used < chunk_) {
        const size_t kept = static_cast<size_t>(have_ - keep);
        std::memmove(buffer_.data(), buffer_.data() + (keep - base_), kept);
        base_ = keep;
    }
    const size_t at = static_cast<size_t>(have_ - base_);
    const ssize_t r = read_(buffer_.data() + at, std::min(chunk_, buffer_.size() - at));
    if (r < 0) {
        stopped_ = true;
        return false;
    }
    if (r == 0) eof_ = true;
    have_ += static_cast<uint64_t>(r);
    return true;
}

bool LmraRecordReader::Next(LmraRecordView& out) {
    while (!done_) {
        const uint8_t* b = buffer_.data();
        const size_t n = static_cast<size_t>(have_ - base_);
        size_t i = static_cast<size_t>(scan_ - base_);
        bool needMore = false;
        while (i < n) {
            const uint8_t c = b[i];
            if (c < kFd || c == 0xFE) {
                fdSeen_ = false;
                ++i;
                continue;
            }
            if (c == kFd) {
                if (!fdSeen_) {
                    fdSeen_ = true;
                    ++i;
                    continue;
                }
                // The second FD of a pair ends the piece. Two more FD right
                // after it are the rest of the end marker.
                if (n - i < 3 && !eof_) {
                    needMore = true;
                    break;
                }
                fdSeen_ = false;
                const size_t end = i + 1;
                const uint64_t pieceLength = base_ + end - pieceStart_;
                if (pieceLength > kMaxPieceSize || !havePair_) {
                    unclaimed_ += pieceLength;
                    pieceStart_ = base_ + end;
                    havePair_ = false;
                    i = end;
                    continue;
                }
                const size_t pair = static_cast<size_t>(firstPair_ - base_);
                const size_t next = n - end >= 2 && b[end] == kFd && b[end + 1] == kFd ? end + 2 : end;
                out.data = b + pair;
                out.offset = firstPair_;
                out.pieceLength = end - pair;
                out.length = next - pair;
                out.whole = false;
                unclaimed_ += firstPair_ - pieceStart_;
                pieceStart_ = scan_ = base_ + next;
                havePair_ = false;
                return true;
            }
            // 0xFF: a frame marker when the next byte is 0xFF too.
            fdSeen_ = false;
            if (i + 1 == n) {
                if (!eof_) needMore = true;
                else ++i;
                if (needMore) break;
                continue;
            }
            if (b[i + 1] != 0xFF) {
                ++i;
                continue;
            }
            size_t length = 0;
            const Whole whole = TestWhole(i, length);
            if (whole == Whole::NeedMore) {
                needMore = true;
                break;
            }
            if (whole == Whole::Yes) {
                out.data = b + i;
                out.offset = base_ + i;
                out.length = length;
                out.pieceLength = length - 2;
                out.whole = true;
                unclaimed_ += base_ + i - pieceStart_;
                pieceStart_ = scan_ = base_ + i + length;
                havePair_ = false;
                return true;
            }
            if (!havePair_) {
                havePair_ = true;
                firstPair_ = base_ + i;
            }
            ++i;
        }
        scan_ = base_ + i;
        if (eof_ && !needMore) {
            // Bytes after the last end marker are never a record.
            unclaimed_ += have_ - pieceStart_;
            pieceStart_ = have_;
            done_ = true;
            break;
        }
        if (!Refill()) done_ = true;
    }
    return false;
}

uint64_t ForEachLmraRecord(const uint8_t* body, size_t length, const std::function<void(const LmraRecordView&)>& sink) {
    size_t at = 0;
    LmraRecordReader reader([&](uint8_t* into, size_t n) -> ssize_t {
        const size_t take = std::min(n, length - at);
        if (take) std::memcpy(into, body + at, take);
        at += take;
        return static_cast<ssize_t>(take);
    });
    LmraRecordView r;
    while (reader.Next(r)) {
        r.data = body + r.offset;
        sink(r);
    }
    return reader.Unclaimed();
}

// ---- decoding

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
    slot.time = Le32(p + n - 22);
    slot.microseconds = Le32(p + n - 18);
    slot.counter = Le32(p + n - 14);
    SetFrameSn(slot, reinterpret_cast<const char*>(p + n - 45), 23);
    const int offset = static_cast<int8_t>(p[n - 10]);
    const int32_t base = Le32(p + n - 6);
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
            r.wavelength = WrappingAdd(Le16(values + 2 * index), base);
            r.serial = r.channel * 1000 + r.id;
            r.physicValue = static_cast<double>(r.wavelength) - kPhysicBase;
        }
    }
    slot.count = readings;
    return true;
}

}  // namespace lumora
