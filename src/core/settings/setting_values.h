#pragma once
// What the settings of the data port and the recorder may hold. The window's
// edits and lumora-cli check the values of Lumora.ini by these rules, as the
// command line checks its options. Numbers are read as the settings file
// reads them: leading decimal digits after an optional sign ("7008abc" is
// 7008, no digits is 0).
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumora {

// Optional sign and leading decimal digits; no digits gives 0; clamped to
// the int range.
int ReadLeadingInt(std::string_view text);

// The data port a text names, when it names one from 1 to 65535.
std::optional<uint16_t> UsablePort(std::string_view text);

// Recordings are named PREFIX-time.dat inside their folder: a prefix with
// "/", "\" or ".." could put them elsewhere.
bool IsSafeFilePrefix(std::string_view prefix);

// The receive worker's pause after each datagram ("INR (ms)", [DataRec]
// Interval), in milliseconds: 0 to 60000, so that no value can stall it.
constexpr int kMaxIntervalMs = 60000;
int UsableIntervalMs(int ms);

// Records per file ("File lines", [DataSave] LineNumber): a value below 1
// falls back to the default.
constexpr uint32_t kDefaultRecordsPerFile = 100000;
uint32_t UsableRecordsPerFile(long long lines);

}  // namespace lumora
