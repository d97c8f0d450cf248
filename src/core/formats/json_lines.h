#pragma once
// Text recordings: one line per datagram, each ended by a line feed. The line
// is the datagram's JSON text, or {"SysTime":[s,us],"SysData":<text>} when the
// recorder stamps the time.
//
// Writing: each CR and LF byte of the datagram becomes a blank, so that a
// datagram that ends in CR LF or is pretty-printed still makes one line. The
// JSON value stays the same, since a raw line break may only stand between
// tokens.
//
// Reading: a line that leaves a JSON object open (it would parse as an object
// if it went on) is joined with the next line, a blank between, and the join
// is tried again. So recordings made before the writer replaced line breaks
// read as one record per datagram. Blank lines are never joined, and a join
// gives up after kMaxJoinedLines lines or kMaxJoinedBytes bytes; the lines
// are then read one by one as they are.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/lmra_records.h"
#include "model/frame_types.h"
#include "platform/clock.h"

namespace lumora {

// ---- writing

// Appends the line of one datagram to out: wrapped with its SysTime when
// sysTime is given, line breaks inside made blanks, ended by a line feed.
void AppendJsonLine(std::vector<uint8_t>& out, const uint8_t* text, size_t length, const StampTime* sysTime);

// ---- reading lines

// Lines of a byte stream; a line ends at a line feed, which is not part of it.
// A last line without one counts too.
class TextLineReader {
public:
    // A line longer than this cannot be a recorded datagram: reading fails
    // instead of growing the buffer without end.
    static constexpr size_t kMaxLine = 16u << 20;

    explicit TextLineReader(ByteReader read, size_t chunk = 1u << 20);
    enum Status { kLine, kEnd, kError };
    // The line stays valid until the next call.
    Status Next(std::string_view& line);

private:
    ByteReader read_;
    // Not cleared first: only what is read into it is ever looked at.
    std::unique_ptr<char[]> buffer_;
    size_t capacity_;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
};

// Tells, for a text fed in parts, whether it is a complete JSON value, a JSON
// value that is still open at the end (its parse fails only because the text
// ends), or broken before its end. Tokens are checked for their order only:
// numbers and literals are taken as they stand, as the lenient parser that
// decides about a failed line takes more than standard JSON.
class JsonStructureScanner {
public:
    enum class State { Complete, Open, Broken };
    void Reset();
    void Feed(std::string_view text);
    State Result() const;

private:
    enum class Expect : uint8_t { Value, ValueOrClose, Key, KeyOrClose, Colon, CommaOrClose, Done };
    void ValueEnded() { expect_ = stack_.empty() ? Expect::Done : Expect::CommaOrClose; }
    void Step(char c);

    std::vector<char> stack_;
    Expect expect_ = Expect::Value;
    bool broken_ = false;
    bool inString_ = false;
    bool escaped_ = false;
    bool stringIsKey_ = false;
    bool inScalar_ = false;
};

// One record of a text recording.
struct JsonRecord {
    std::string_view text;  // valid until the next call of Next
    int64_t line = 0;       // its first line, counted from 1
    int lines = 0;          // the lines it was joined from
};

class JsonRecordReader {
public:
    static constexpr int kMaxJoinedLines = 64;
    static constexpr size_t kMaxJoinedBytes = 1u << 20;

    // chunk: the bytes read at a time (the buffer grows for longer lines).
    explicit JsonRecordReader(ByteReader read, size_t chunk = 1u << 20);
    // kError: the byte reader failed or a line was longer than
    // TextLineReader::kMaxLine.
    TextLineReader::Status Next(JsonRecord& out);

private:
    struct Line {
        std::string_view text;
        int64_t number = 0;
    };
    // The next line, read ahead ones first; kept lines are copied so that
    // reading on does not move them.
    TextLineReader::Status Take(Line& line);

    TextLineReader lines_;
    int64_t nextNumber_ = 1;
    std::deque<std::pair<std::string, int64_t>> readAhead_;
    std::string taken_;    // a read-ahead line being handed out
    std::string current_;  // the first line of a join that gave up
    std::vector<std::pair<std::string, int64_t>> joinedLines_;
    std::string joined_;
    JsonStructureScanner scanner_;
    bool failed_ = false;
};

// ---- decoding records

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

// True when text is one JSON object as the lenient parser reads it (what
// follows the object is not looked at, as in the conversion).
bool IsJsonObjectText(std::string_view text);

}  // namespace lumora
