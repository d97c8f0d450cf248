#pragma once
// The program's binary recording: "LMRA", the format mark 0x65, then records
// back to back without length fields. A record is one frame as the
// instrument sent it (marker 0xFF 0xFF, flags, a spare byte, the channel
// byte, one count byte per channel, 16-bit values) followed by a 52-byte
// trailer that ends FD FD FD FD: the instrument's own, stamped by the
// recorder, or one the recorder appends.
//
// Reading: a record whose structure is whole is taken whole, whatever FD
// pairs lie inside it (a counter of 0xFDFD, a second whose low bytes are
// FD FD, a value of 0xFD00 or more before one whose low byte is 0xFD). At
// any FF FF pair the third byte after it (h[2]) must be below 0x40; its low
// six bits are the channel count K, the first min(K, 32) count bytes add up
// to S, and the record is whole when its 2 + 3 + K + 2S + 52 bytes end with
// FD FD FD FD. The flags' extension bit is not honoured. Everywhere else
// (damaged bytes, spectra, frames with spare bytes, partial records) the
// stream is cut after every pair of FD bytes, counted without overlap, and a
// piece holds a record from its first FF FF pair on. Pieces longer than
// kMaxPieceSize are dropped together with everything up to their end marker;
// bytes after the last end marker are never a record.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "model/frame_types.h"
#include "platform/clock.h"

namespace lumora {

inline constexpr uint8_t kLmraFileHeader[5] = {'L', 'M', 'R', 'A', 0x65};
inline constexpr size_t kLmraHeaderSize = sizeof kLmraFileHeader;
inline constexpr size_t kTrailerSize = 52;
// Binary pieces longer than this (markers included) are discarded.
inline constexpr size_t kMaxPieceSize = 20480;
// Readings taken from one channel of a binary record.
inline constexpr int kMaxSensorsPerChannel = 60;
// Base of every physical value of a binary record.
inline constexpr int32_t kPhysicBase = 1500000;

// ---- writing

// True when a binary frame ends in a trailer of its own: 0xFD at length - 4
// and length - 3. A frame too short to hold a marker and a whole trailer never
// counts as carrying one, so every stamp offset stays inside the frame.
bool FrameHasOwnTrailer(const uint8_t* frame, size_t length);

// Fills out[0..51] with the trailer the recorder appends: FE FE FE FE 65,
// serial-number text "X", the time of writing, the datagram count, channel
// offset 0, the wavelength base 1510000 and FD FD FD FD.
void BuildRecorderTrailer(uint8_t* out, int64_t nowMs, uint32_t datagramCount);

// True when the 52 bytes at trailer are one that BuildRecorderTrailer made
// (an instrument's own trailer carries its serial number).
bool IsRecorderTrailer(const uint8_t* trailer);

// What goes into a record besides the frame.
struct LmraStamp {
    uint32_t datagramCount = 0;
    int64_t nowMs = 0;
    // Only for a frame with its own trailer: whether the datagram count
    // ("Counter") and the time ("Local Time") are stamped into it. An
    // appended trailer always carries both.
    bool counterIntoOwnTrailer = true;
    bool timeIntoOwnTrailer = true;
};

// Appends one record to out: the frame, its own trailer stamped in place,
// or the frame and an appended trailer.
void AppendLmraRecord(std::vector<uint8_t>& out, uint8_t* frame, size_t length, const LmraStamp& stamp);

// ---- reading

struct LmraRecordView {
    const uint8_t* data = nullptr;  // from the frame marker FF FF on
    uint64_t offset = 0;            // where that is in the body
    // The record through the end of its trailer, where the file holds it.
    size_t length = 0;
    // Up to and with the first FD FD of the end marker: what DecodeLmraPiece
    // reads.
    size_t pieceLength = 0;
    bool whole = false;  // taken by its structure
};

// Reads up to n bytes of the body into `into`: the count read, 0 at the end,
// below 0 when reading must stop (failure, or the caller wants to stop).
using ByteReader = std::function<ssize_t(uint8_t* into, size_t n)>;

// Cuts the body of an LMRA recording (the bytes after its header) into
// records, reading it through a buffer of its own.
class LmraRecordReader {
public:
    explicit LmraRecordReader(ByteReader read, size_t chunk = 1u << 20);

    // The next record, valid until the next call. false at the end of the
    // body, or when the byte reader stopped (Stopped()).
    bool Next(LmraRecordView& out);
    bool Stopped() const { return stopped_; }
    // Bytes of the body so far that belong to no record handed out.
    uint64_t Unclaimed() const { return unclaimed_; }

private:
    enum class Whole { Yes, No, NeedMore };
    // Whether a whole record starts at the FF FF pair at buffer_[at]; its
    // length when it does.
    Whole TestWhole(size_t at, size_t& length) const;
    bool Refill();

    ByteReader read_;
    size_t chunk_;
    std::vector<uint8_t> buffer_;
    uint64_t base_ = 0;        // absolute offset of buffer_[0]
    uint64_t have_ = 0;        // absolute end of the bytes read
    uint64_t scan_ = 0;        // next byte to look at
    uint64_t pieceStart_ = 0;  // where the current piece began
    uint64_t firstPair_ = 0;   // its first FF FF pair, when havePair_
    bool havePair_ = false;
    bool fdSeen_ = false;      // the byte before scan_ was an unpaired FD
    bool eof_ = false;
    bool stopped_ = false;
    bool done_ = false;
    uint64_t unclaimed_ = 0;
};

// The records of a body held in memory (data points into body); returns the
// bytes that belong to no record.
uint64_t ForEachLmraRecord(const uint8_t* body, size_t length, const std::function<void(const LmraRecordView&)>& sink);

// Decoding of one piece (readings, count, time, counter) as the conversion
// reads it: from the piece's first FF FF pair on, the trailer fields located
// from its end. false when the piece is not a valid wavelength record.
bool DecodeLmraPiece(const uint8_t* piece, size_t n, FrameSlot& slot);

}  // namespace lumora
