#pragma once
// Reading the program's JSON documents quickly (simdjson's on-demand parser)
// with the results the program has always had from cJSON: member names
// compared without regard to ASCII case and cut at the first NUL, the first
// member of a name counts, numbers keep cJSON's double and its int (truncated
// toward zero, saturated to the int range), true counts as the int 1.
//
// simdjson accepts only standard JSON, while cJSON also takes leading zeros,
// invalid UTF-8, stray control bytes and whatever follows the first value. The
// readers here therefore walk the whole document and give up (return false) at
// the first thing simdjson refuses or cJSON could read differently; the caller
// then decodes the same text with cJSON, so every text keeps its result.
//
// Texts are parsed where they lie when capacity (bytes readable from text)
// leaves kPadding bytes after length, otherwise from a copy. Strings handed
// back stay valid until the calling thread's next parse.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/frame_types.h"

namespace lumora::json {

// Bytes that must be readable after a text for it to be parsed in place.
inline constexpr size_t kPadding = 64;

// What a value was, as far as the program's readers look at it.
enum class Kind { Number, String, True, False, Null, Array, Object };

struct Item {
    Kind kind = Kind::Null;
    double number = 0.0;     // Number only
    int32_t integer = 0;     // cJSON's valueint: numbers saturated, true 1, else 0
    std::string_view text;   // String only, cut at the first NUL
};

// The ASCII-case-insensitive member name comparison of cJSON (key cut at NUL).
bool NameIs(std::string_view key, std::string_view name);

// cJSON's int of a number: truncated toward zero, saturated to the int range.
int32_t CjsonInt(double number);

// A text frame: the first member of each name the decoder looks at. The
// elements of "Data" (arrays of at least eight items, at most kMaxReadings)
// are stored into readings while walking.
struct FrameFields {
    Item time, counter, sn, code;
    bool haveTime = false, haveCounter = false, haveSn = false, haveCode = false, haveData = false;
    bool dataIsArray = false;
    int count = 0;
};
bool ReadTextFrame(const char* text, size_t length, size_t capacity, SensorReading* readings, FrameFields& out);

// A recorded JSON line: the members of the top-level object (outer) and of
// its first "SysData" member when that is an object (inner). Sensors of
// "Data" (arrays starting with six numbers; with onlyMatched, not those whose
// first number is 0) go into readings; a line with "Data" at both levels is
// left to cJSON, since only afterwards is it known which of them counts.
struct LineFields {
    bool haveSysTime = false, sysTimeHasItem = false, sysTimeHasSecond = false, haveSysData = false;
    bool haveTime = false, haveCounter = false, haveSn = false, haveData = false;
    // The first two items of "SysTime": seconds and microseconds.
    Item sysTimeFirst, sysTimeSecond, time, counter, sn;
    int readings = 0;
};
bool ReadJsonLine(const char* text, size_t length, size_t capacity, bool onlyMatched, SensorReading* readings,
                  LineFields& outer, LineFields& inner);

// A discovery announcement: its "IDN" and "SN" members.
struct AnnouncementFields {
    Item idn, sn;
    bool haveIdn = false, haveSn = false;
};
bool ReadAnnouncement(const char* text, size_t length, size_t capacity, AnnouncementFields& out);

}  // namespace lumora::json
