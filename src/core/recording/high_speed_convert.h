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
// file then. Records are cut as every reader of recordings cuts them
// (formats/lmra_records.h).
HighSpeedConvertStats ConvertHighSpeedFile(const HighSpeedConvertOptions& options);

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

}  // namespace lumora
