#pragma once
// Reads one recorded ".dat" file back record by record and hands every valid
// record to the CSV writer. Three kinds of recording are told apart by their
// first bytes: headerless binary (FF FF FF FF ... FE FE FE FE records), the
// program's own "LMRA" binary files, and JSON lines.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "model/frame_types.h"
#include "conversion/conversion_context.h"

namespace lumora {

enum class SourceKind { HeaderlessBinary, LmraBinary, JsonLines };

// Results of ConvertFile: 0 converted (also when records were skipped), any
// other value a failure.
constexpr int kConvertOk = 0;
constexpr int kConvertCannotOpen = -1;    // cannot be opened, or no longer exists
constexpr int kConvertBadSource = -2;     // "LMRA" with an unknown format byte, or unreadable
constexpr int kConvertBadLine = -3;       // JSON lines: empty file or first line, or a line failed
constexpr int kConvertOutputFailed = -4;  // an output file could not be created or written
constexpr int kConvertCancelled = -5;     // the run was told to stop
constexpr int kConvertSourceChanged = -6; // the source's size or time changed while it was read
constexpr int kConvertNoRecords = -7;     // text source without a single valid line (lines skipped)
constexpr int kConvertFault = -8;         // the conversion itself failed (out of memory, ...)

// Binary pieces longer than this (markers included) are discarded.
constexpr size_t kMaxPieceSize = 20480;
// Readings taken from one channel of a binary record.
constexpr int kMaxSensorsPerChannel = 60;
// Base of the headerless kind's float values and of every physical value of a
// binary record.
constexpr int32_t kPhysicBase = 1500000;

// The kind of path from its first five bytes; 0, or -1 / -2 as ConvertFile.
int DetectSourceKind(const std::string& path, SourceKind& kind);

// Converts one source into CSV files beside it. Runs on the conversion thread.
// On failure ctx.failureReason says why, in a line of its own ("cannot write
// a-2.csv.part: No space left on device"). Never throws.
int ConvertFile(ConversionContext& ctx, const std::string& path);

// Decoding of one piece or line into slot (readings, count, time, counter).
// false when the piece is not a valid record.
bool DecodeHeaderlessPiece(const uint8_t* piece, size_t n, FrameSlot& slot);
bool DecodeLmraPiece(const uint8_t* piece, size_t n, FrameSlot& slot);

enum class JsonLineResult { Record, Skip, Fail };
// Counter of the previous line that had a usable one (duplicate frames are
// skipped); starts unset for every source.
struct JsonLineState {
    bool havePrevious = false;
    int previousCounter = 0;
};
// capacity: bytes readable from line; when it leaves json::kPadding bytes after
// n the line is parsed where it lies, otherwise from a copy.
JsonLineResult DecodeJsonLine(const char* line, size_t n, bool onlyMatched, JsonLineState& state, FrameSlot& slot,
                              size_t capacity = 0);
// The same done entirely with cJSON, which also reads lines that are not
// standard JSON; DecodeJsonLine leaves to it the lines simdjson refuses.
JsonLineResult DecodeJsonLineLenient(const char* line, size_t n, bool onlyMatched, JsonLineState& state,
                                     FrameSlot& slot);

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
