#pragma once
// Turns an "LMRA" record file (as the high-speed capture and the recorder
// write it) into a CSV table: one row per wavelength frame with its time, its
// counter and, per reading, the channel number plus a channel offset and the
// raw 16-bit value plus a wavelength offset.
#include <cstdint>
#include <string>

namespace lumora {

struct HighSpeedConvertOptions {
    int32_t wavelengthOffset = 1510000;
    int32_t channelOffset = 0;
    std::string input;   // the .dat record file
    std::string output;  // the .csv file, replaced when it exists
};

struct HighSpeedConvertStats {
    uint64_t frames = 0;           // rows written
    uint64_t readings = 0;
    uint64_t spectrumRecords = 0;  // spectra are not tabulated
    uint64_t invalidRecords = 0;   // pieces that are no well-formed frame
    uint64_t bytesRead = 0;
    std::string error;             // empty on success
};

HighSpeedConvertStats ConvertHighSpeedFile(const HighSpeedConvertOptions& options);

// Splits the records of an LMRA file body (the bytes after the 5-byte header).
// A record starts with 0xFF 0xFF and ends with 0xFD 0xFD 0xFD 0xFD that is
// followed by the next record's marker or by the end of the data. Calls
// sink(record, length) for each record and returns the number of bytes that
// belong to no record (leading garbage, an unfinished last record).
template <typename Sink>
size_t ForEachRecord(const uint8_t* data, size_t length, Sink&& sink);

// One decoded wavelength record; the readings are read straight from the record.
struct HighSpeedRecord {
    int32_t time = 0;
    int32_t microseconds = 0;
    int32_t counter = 0;
    int channelOffset = 0;        // from the trailer
    int channels = 0;             // N
    const uint8_t* counts = nullptr;  // N peak counts
    const uint8_t* values = nullptr;  // little-endian 16-bit values
    int valueCount = 0;
};

// 0: a wavelength record; 1: a spectrum record; -1: malformed.
int DecodeHighSpeedRecord(const uint8_t* record, size_t length, HighSpeedRecord* out);

template <typename Sink>
size_t ForEachRecord(const uint8_t* data, size_t length, Sink&& sink) {
    size_t unclaimed = 0;
    size_t pos = 0;
    while (pos < length) {
        // Find the next record start.
        size_t start = pos;
        while (start + 1 < length && !(data[start] == 0xFF && data[start + 1] == 0xFF)) ++start;
        if (start + 1 >= length) {
            unclaimed += length - pos;
            break;
        }
        unclaimed += start - pos;
        // Find its end: four 0xFD bytes followed by a marker or the end.
        size_t end = 0;
        for (size_t i = start + 2; i + 4 <= length; ++i) {
            if (data[i] != 0xFD) continue;
            if (data[i + 1] != 0xFD || data[i + 2] != 0xFD || data[i + 3] != 0xFD) continue;
            size_t after = i + 4;
            if (after == length || (after + 1 < length && data[after] == 0xFF && data[after + 1] == 0xFF)) {
                end = after;
                break;
            }
        }
        if (end == 0) {
            unclaimed += length - start;
            break;
        }
        sink(data + start, end - start);
        pos = end;
    }
    return unclaimed;
}

}  // namespace lumora
