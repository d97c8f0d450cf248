#include "formats/headerless_pieces.h"

#include <climits>
#include <cmath>

#include "formats/byte_order.h"

namespace lumora {
namespace {

// Markers, time, counter, channel count and 32 count bytes.
constexpr size_t kFixedPart = 67;

// Truncation toward zero, kept inside 32 bits (NaN counts as 0).
int32_t TruncateFloat(float f) {
    if (std::isnan(f)) return 0;
    if (f >= 2147483647.0f) return INT32_MAX;
    if (f <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(f);
}

}  // namespace

bool IsHeaderlessPiece(const uint8_t* p, size_t n) {
    if (n < kFixedPart) return false;
    if (p[0] != 0xFF || p[1] != 0xFF || (p[2] != 0xFF && p[3] != 0xFF)) return false;
    if (p[4] != 0) return false;
    const int channels = p[34];
    if (channels > 32) return false;
    size_t announced = 0;
    for (int j = 0; j < channels; ++j) announced += p[35 + j];
    return n >= kFixedPart + 4 * announced;
}

bool DecodeHeaderlessPiece(const uint8_t* p, size_t n, FrameSlot& slot) {
    if (!IsHeaderlessPiece(p, n)) return false;
    const int channels = p[34];
    slot.time = Le32(p + 10);
    slot.microseconds = Le32(p + 14);
    slot.counter = Le32(p + 18);
    slot.sn[0] = '\0';  // these records carry none
    int readings = 0;
    size_t index = 0;
    for (int j = 0; j < channels; ++j) {
        const int sensors = p[35 + j];
        for (int k = 0; k < sensors; ++k, ++index) {
            // Sensors beyond 60 of a channel are passed over so the next
            // channel starts with its own values.
            if (k >= kMaxSensorsPerChannel || readings >= kMaxReadings) continue;
            const int32_t v = TruncateFloat(LeFloat(p + kFixedPart + 4 * index));
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

// ---- cutting

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

}  // namespace lumora
