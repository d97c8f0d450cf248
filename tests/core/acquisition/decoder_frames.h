#pragma once
// Hand-built binary frames for the decoder, assembler and ring tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lumora::testframes {

struct Trailer {
    std::string sn = "SA0001";
    int32_t time = 1700000000;
    int32_t microseconds = 250000;
    int32_t counter = 77;
    int8_t channelOffset = 0;
};

inline void Put32(std::vector<uint8_t>& f, size_t at, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(u >> (8 * i));
}

inline void AppendTrailer(std::vector<uint8_t>& f, const Trailer& t) {
    const size_t at = f.size();
    f.resize(at + 52, 0);
    for (int i = 0; i < 4; ++i) f[at + i] = 0xFE;
    f[at + 4] = 0x65;
    std::memcpy(&f[at + 5], t.sn.data(), std::min<size_t>(t.sn.size(), 23));
    Put32(f, at + 28, t.time);
    Put32(f, at + 32, t.microseconds);
    Put32(f, at + 36, t.counter);
    f[at + 40] = static_cast<uint8_t>(t.channelOffset);
    Put32(f, at + 44, 1510000);
    for (int i = 48; i < 52; ++i) f[at + i] = 0xFD;
}

// Wavelength frame: marker, flags, one byte, kind = channel count, counts,
// values (value(j) for the j-th value), spare zero bytes, optional trailer.
template <typename V>
std::vector<uint8_t> WavelengthFrame(const std::vector<uint8_t>& counts, V value, int spare = 0,
                                     const Trailer* trailer = nullptr) {
    std::vector<uint8_t> f = {0xFF, 0xFF, 0x00, 0x00, static_cast<uint8_t>(counts.size())};
    int n = 0;
    for (uint8_t c : counts) {
        f.push_back(c);
        n += c;
    }
    for (int j = 0; j < n; ++j) {
        const uint16_t v = value(j);
        f.push_back(static_cast<uint8_t>(v & 0xFF));
        f.push_back(static_cast<uint8_t>(v >> 8));
    }
    f.resize(f.size() + static_cast<size_t>(spare), 0);
    if (trailer) AppendTrailer(f, *trailer);
    return f;
}

inline std::vector<uint8_t> WavelengthFrame(const std::vector<uint8_t>& counts, int spare = 0,
                                            const Trailer* trailer = nullptr) {
    return WavelengthFrame(counts, [](int j) { return static_cast<uint16_t>(100 * (j + 1)); }, spare, trailer);
}

// Spectrum frame of `kind` announcing `announced` samples and carrying
// `present` samples (sample i is 1000 + i).
inline std::vector<uint8_t> SpectrumFrame(uint8_t kind, int announced, int present) {
    std::vector<uint8_t> f = {0xFF, 0xFF, 0x00, 0x00, kind, static_cast<uint8_t>(announced & 0xFF),
                              static_cast<uint8_t>(announced >> 8)};
    for (int i = 0; i < present; ++i) {
        const uint16_t v = static_cast<uint16_t>(1000 + i);
        f.push_back(static_cast<uint8_t>(v & 0xFF));
        f.push_back(static_cast<uint8_t>(v >> 8));
    }
    return f;
}

}  // namespace lumora::testframes
