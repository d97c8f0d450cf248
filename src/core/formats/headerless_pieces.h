#pragma once
// Headerless recordings: pieces FF FF FF FF ... FE FE FE FE back to back, as
// an instrument's own capture writes them, with no file header. A piece holds
// a zero byte at 4, the time at 10, the counter at 18, the channel count K at
// 34, 32 count bytes and then one 32-bit float per announced sensor.
//
// Also the cutting of a byte stream at runs of a marker byte, which this
// format and the record estimate of the binary kinds use.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "formats/lmra_records.h"
#include "model/frame_types.h"

namespace lumora {

// True when a piece (from its start marker through its end marker) is a
// record of this kind: at least 67 bytes, FF FF at 0 and 1 and FF at 2 or 3,
// a zero at 4, at most 32 channels, and room for every announced value.
bool IsHeaderlessPiece(const uint8_t* piece, size_t n);

// Decoding of one piece into slot (readings, count, time, counter); false
// when IsHeaderlessPiece is not.
bool DecodeHeaderlessPiece(const uint8_t* piece, size_t n, FrameSlot& slot);

// Cuts a byte stream into pieces that end with a run of `runLength` bytes of
// value `marker` (runs counted without overlap). A piece that grows beyond
// kMaxPieceSize is dropped together with everything up to the next end marker.
// Bytes after the last end marker never form a piece.
class PieceCutter {
public:
    PieceCutter(uint8_t marker, int runLength);
    // Calls onPiece(const uint8_t* piece, size_t n) -> bool for every complete
    // piece; stops early (returning false) when onPiece returns false.
    template <class F>
    bool Feed(const uint8_t* data, size_t n, F&& onPiece);

private:
    bool Complete(const uint8_t* data, size_t start, size_t end, const uint8_t*& piece, size_t& length);
    void Keep(const uint8_t* data, size_t start, size_t end);

    uint8_t marker_;
    int runLength_;
    int run_ = 0;
    std::unique_ptr<uint8_t[]> pending_;
    size_t pendingLength_ = 0;
    bool overflow_ = false;
};

// Counts runs of runLength bytes of value marker without overlap, across calls.
class RunCounter {
public:
    RunCounter(uint8_t marker, int runLength) : marker_(marker), runLength_(runLength) {}
    void Feed(const uint8_t* data, size_t n);
    int64_t Count() const { return count_; }

private:
    uint8_t marker_;
    int runLength_;
    int run_ = 0;
    int64_t count_ = 0;
};

// ---- template implementation ----

template <class F>
bool PieceCutter::Feed(const uint8_t* data, size_t n, F&& onPiece) {
    size_t i = 0;
    size_t start = 0;
    while (i < n) {
        if (run_ == 0) {
            const void* hit = std::memchr(data + i, marker_, n - i);
            if (!hit) break;
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        }
        if (data[i] != marker_) {
            run_ = 0;
            ++i;
            continue;
        }
        ++i;
        if (++run_ < runLength_) continue;
        run_ = 0;
        const uint8_t* piece;
        size_t length;
        if (Complete(data, start, i, piece, length) && !onPiece(piece, length)) return false;
        start = i;
    }
    Keep(data, start, n);
    return true;
}

}  // namespace lumora
