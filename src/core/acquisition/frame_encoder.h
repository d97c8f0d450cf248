#pragma once
// Builds the frames an instrument sends: binary wavelength frames (with or
// without the 52-byte trailer), spectrum frames and JSON text frames. Used by
// the simulator, by tests and by benchmarks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumora {

constexpr size_t kFrameTrailerSize = 52;

// Fields an instrument puts into a frame's trailer.
struct TrailerFields {
    std::string sn = "X";  // at most 22 characters are stored
    int32_t time = 0;      // seconds since 1970
    int32_t microseconds = 0;
    int32_t counter = 0;
    int8_t channelOffset = 0;
};

// Writes the 52 trailer bytes to out: FE FE FE FE, 0x65, the serial-number
// text, time, microseconds, counter, channel offset, 1510000, FD FD FD FD.
void WriteFrameTrailer(uint8_t* out, const TrailerFields& fields);

// Wavelength frame: marker, flags, one spare byte, (a 4-byte extension when
// extension is set), kind = channel count, the peak count of each channel,
// the 16-bit values (wavelength - 1510000) little-endian, spareBytes zero
// bytes, and the trailer when given. out is cleared first (its capacity is
// kept, so a sender can reuse one buffer).
void EncodeWavelengthFrame(std::vector<uint8_t>& out, const std::vector<uint8_t>& peakCounts,
                           const std::vector<uint16_t>& values, const TrailerFields* trailer = nullptr,
                           int spareBytes = 0, bool extension = false);
std::vector<uint8_t> EncodeWavelengthFrame(const std::vector<uint8_t>& peakCounts, const std::vector<uint16_t>& values,
                                           const TrailerFields* trailer = nullptr, int spareBytes = 0,
                                           bool extension = false);

// Spectrum frame of channel index 0..63: marker, flags, spare byte, kind
// 0x40 | channel, the sample count (declaredCount when not negative, else the
// number of samples) and the samples.
std::vector<uint8_t> EncodeSpectrumFrame(int channel, const std::vector<uint16_t>& samples, int declaredCount = -1,
                                         bool extension = false);

// True when a frame would not arrive whole: its bytes after the marker hold
// two 0xFF in a row, or it ends in 0xFF (which joins the next frame's marker).
bool FrameWouldBeCut(const uint8_t* frame, size_t length);

// One element of a JSON text frame's "Data" array.
struct TextReading {
    int matched = 1;
    int id = 0;
    int channel = 0;
    int wavelength = 0;
    double physicValue = 0.0;
    int serial = 0;
    int auxA = 0;
    int auxB = 0;
};

struct TextFrameFields {
    int64_t time = 0;
    int64_t counter = 0;
    std::string sn;
    bool hasCode = false;
    int code = 0;
    std::vector<TextReading> data;
};

// {"Time":..,"Counter":..,"SN":"..","Code":..,"Data":[[matched,id,channel,
// wavelength,physicValue,serial,auxA,auxB],...]} without blanks, numbers and
// strings written as instruments write them: whole numbers in the int range as
// integers, others with 15 significant digits (17 when 15 do not read back);
// quotes, backslashes and control characters escaped.
std::string EncodeTextFrame(const TextFrameFields& fields);
void AppendJsonNumber(std::string& out, double value);
void AppendJsonString(std::string& out, const std::string& text);

}  // namespace lumora
