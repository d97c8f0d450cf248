#pragma once
// Turns an "LMRA" record file (as the high-speed capture and the recorder
// write it) into a CSV table: one row per wavelength frame with its time, its
// counter and, per reading, the channel number plus a channel offset and the
// raw 16-bit value plus a wavelength offset.
#include <cstddef>
#include <cstdint>
#include <string>

namespace lumora {

struct HighSpeedConvertOptions {
    int32_t wavelengthOffset = 1510000;
    int32_t channelOffset = 0;
    std::string input;   // the .dat record file
    // The .csv file, replaced when the conversion is complete: rows go to
    // output + ".part" first and it takes the final name at the end.
    std::string output;
};

struct HighSpeedConvertStats {
    uint64_t frames = 0;           // rows written
    uint64_t readings = 0;
    uint64_t spectrumRecords = 0;  // spectra are not tabulated
    uint64_t invalidRecords = 0;   // pieces that are no well-formed frame
    uint64_t bytesRead = 0;
    std::string error;             // empty on success
};

// Reads the input with plain reads, so a file that shrinks or grows while it
// is read (a capture still running, a file being replaced) only ends the
// conversion early with an error; the rows made so far stay in the ".part"
// file then.
HighSpeedConvertStats ConvertHighSpeedFile(const HighSpeedConvertOptions& options);

// Splits the records of an LMRA file body (the bytes after the 5-byte header).
// A record starts with 0xFF 0xFF and ends with 0xFD 0xFD 0xFD 0xFD that is
// followed by the next record's marker or by the end of the data. Calls
// sink(record, length) for each record and returns the number of bytes that
// belong to no record (leading garbage, an unfinished last record).
template <typename Sink>
size_t ForEachRecord(const uint8_t* data, size_t length, Sink&& sink);

// The same for a body read piece by piece: splits data[0, length) and returns
// how many bytes it used up. Unless atEnd says the body ends there, the rest
// (a record whose end has not been read yet) is to be handed in again at the
// front of the next piece. Bytes that belong to no record are added to
// *unclaimed.
template <typename Sink>
size_t ForEachRecordSoFar(const uint8_t* data, size_t length, bool atEnd, size_t* unclaimed, Sink&& sink);

// Where the record whose body is searched from data[from] ends: the offset
// after its four 0xFD bytes, or 0 when the end is not in data[0, length)
// (or, unless atEnd, cannot be told before more data is read).
size_t FindRecordEnd(const uint8_t* data, size_t from, size_t length, bool atEnd);

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
size_t ForEachRecordSoFar(const uint8_t* data, size_t length, bool atEnd, size_t* unclaimed, Sink&& sink) {
    size_t pos = 0;
    while (pos < length) {
        // Find the next record start.
        size_t start = pos;
        while (start + 1 < length && !(data[start] == 0xFF && data[start + 1] == 0xFF)) ++start;
        if (start + 1 >= length) {
            // No record starts in the rest; its last byte may begin a marker.
            const size_t used = atEnd ? length : start;
            *unclaimed += used - pos;
            return used;
        }
        *unclaimed += start - pos;
        const size_t end = FindRecordEnd(data, start + 2, length, atEnd);
        if (end == 0) {
            if (!atEnd) return start;
            *unclaimed += length - start;
            return length;
        }
        sink(data + start, end - start);
        pos = end;
    }
    return length;
}

template <typename Sink>
size_t ForEachRecord(const uint8_t* data, size_t length, Sink&& sink) {
    size_t unclaimed = 0;
    ForEachRecordSoFar(data, length, true, &unclaimed, sink);
    return unclaimed;
}

}  // namespace lumora
