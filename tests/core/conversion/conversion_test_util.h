#pragma once
// Helpers of the conversion tests: a scratch directory, recordings built byte
// by byte, and reading back what the conversion wrote.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/frame_encoder.h"

namespace lumora::test {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "lumora_conv_XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        path_ = ::mkdtemp(buf.data());
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return (fs::path(path_) / name).string(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}
inline bool Exists(const std::string& path) { return fs::exists(path); }

inline void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }
inline void Put32(Bytes& b, size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

// One record of an "LMRA" recording: a wavelength frame with its trailer.
inline Bytes LmraRecord(const std::vector<uint8_t>& counts, const std::vector<uint16_t>& values, int32_t time,
                        int32_t counter, int8_t channelOffset = 0) {
    TrailerFields t;
    t.time = time;
    t.counter = counter;
    t.channelOffset = channelOffset;
    return EncodeWavelengthFrame(counts, values, &t);
}
// A spectrum frame as the recorder stores it: with an appended trailer.
inline Bytes LmraSpectrumRecord(int channel, const std::vector<uint16_t>& samples) {
    Bytes b = EncodeSpectrumFrame(channel, samples);
    Bytes t(kFrameTrailerSize);
    WriteFrameTrailer(t.data(), TrailerFields{});
    Append(b, t);
    return b;
}
inline Bytes LmraFile(const std::vector<Bytes>& records) {
    Bytes b = {'L', 'M', 'R', 'A', 0x65};
    for (const Bytes& r : records) Append(b, r);
    return b;
}

// One record of the headerless kind: FF FF FF FF, zero, time at 10, counter
// at 18, channel count at 34, 32 count bytes, the floats, FE FE FE FE.
inline Bytes HeaderlessRecord(const std::vector<uint8_t>& counts, const std::vector<float>& values, int32_t time,
                              int32_t counter) {
    Bytes b(67, 0);
    b[0] = b[1] = b[2] = b[3] = 0xFF;
    Put32(b, 10, time);
    Put32(b, 18, counter);
    b[34] = static_cast<uint8_t>(counts.size());
    for (size_t i = 0; i < counts.size() && i < 32; ++i) b[35 + i] = counts[i];
    for (float f : values) {
        uint8_t raw[4];
        std::memcpy(raw, &f, 4);
        b.insert(b.end(), raw, raw + 4);
    }
    b.insert(b.end(), {0xFE, 0xFE, 0xFE, 0xFE});
    return b;
}

// Local time of the tests: UTC, so that times print as they do in the
// examples.
inline void UseUtc() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

}  // namespace lumora::test
