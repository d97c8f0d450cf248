#include "acquisition/frame_encoder.h"


#include <algorithm>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <cstring>

namespace lumora {
namespace {

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void PutHead(std::vector<uint8_t>& out, bool extension, uint8_t kind) {
    out.push_back(0xFF);
    out.push_back(0xFF);
    out.push_back(extension ? 0x01 : 0x00);
    out.push_back(0x00);
    if (extension) out.insert(out.end(), 4, 0x00);
    out.push_back(kind);
}

}  // namespace

void WriteFrameTrailer(uint8_t* out, const TrailerFields& f) {
    std::memset(out, 0, kFrameTrailerSize);
    std::memset(out, 0xFE, 4);
    out[4] = 0x65;
    size_t snLen = std::min<size_t>(f.sn.size(), 22);
    std::memcpy(out + 5, f.sn.data(), snLen);
    PutLe32(out + 28, static_cast<uint32_t>(f.time));
    PutLe32(out + 32, static_cast<uint32_t>(f.microseconds));
    PutLe32(out + 36, static_cast<uint32_t>(f.counter));
    out[40] = static_cast<uint8_t>(f.channelOffset);
    PutLe32(out + 44, 1510000);
    std::memset(out + 48, 0xFD, 4);
}

void EncodeWavelengthFrame(std::vector<uint8_t>& out, const std::vector<uint8_t>& peakCounts,
                           const std::vector<uint16_t>& values, const TrailerFields* trailer, int spareBytes,
                           bool extension) {
    out.clear();
    PutHead(out, extension, static_cast<uint8_t>(peakCounts.size() & 0x3F));
    out.insert(out.end(), peakCounts.begin(), peakCounts.end());
    for (uint16_t v : values) PutLe16(out, v);
    if (spareBytes > 0) out.insert(out.end(), static_cast<size_t>(spareBytes), 0x00);
    if (trailer) {
        size_t at = out.size();
        out.resize(at + kFrameTrailerSize);
        WriteFrameTrailer(out.data() + at, *trailer);
    }
}

std::vector<uint8_t> EncodeWavelengthFrame(const std::vector<uint8_t>& peakCounts, const std::vector<uint16_t>& values,
                                           const TrailerFields* trailer, int spareBytes, bool extension) {
    std::vector<uint8_t> out;
    EncodeWavelengthFrame(out, peakCounts, values, trailer, spareBytes, extension);
    return out;
}

std::vector<uint8_t> EncodeSpectrumFrame(int channel, const std::vector<uint16_t>& samples, int declaredCount,
                                         bool extension) {
    std::vector<uint8_t> out;
    out.reserve(9 + 2 * samples.size());
    PutHead(out, extension, static_cast<uint8_t>(0x40 | (channel & 0x3F)));
    PutLe16(out, static_cast<uint16_t>(declaredCount >= 0 ? declaredCount : static_cast<int>(samples.size())));
    for (uint16_t v : samples) PutLe16(out, v);
    return out;
}

bool FrameWouldBeCut(const uint8_t* frame, size_t length) {
    if (length <= 2) return false;
    for (size_t i = 3; i < length; ++i) {
        if (frame[i] == 0xFF && frame[i - 1] == 0xFF) return true;
    }
    return frame[length - 1] == 0xFF;
}

void AppendJsonNumber(std::string& out, double d) {
    char buf[32];
    if (!std::isfinite(d)) {
        out += "null";
        return;
    }
    // Whole numbers within the int range are written as integers (-0 keeps
    // its sign).
    const int asInt = d >= INT_MAX ? INT_MAX : d <= static_cast<double>(INT_MIN) ? INT_MIN : static_cast<int>(d);
    if (d == static_cast<double>(asInt) && !(d == 0 && std::signbit(d))) {
        out.append(buf, std::to_chars(buf, buf + sizeof buf, asInt).ptr);
        return;
    }
    // 15 significant digits when they read back as the same number (within
    // one unit of the last place), else 17.
    char* end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15).ptr;
    double back = 0.0;
    std::from_chars(buf, end, back);
    if (!(std::fabs(back - d) <= std::max(std::fabs(back), std::fabs(d)) * DBL_EPSILON)) {
        end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 17).ptr;
    }
    out.append(buf, end);
}

void AppendJsonString(std::string& out, const std::string& s) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 32) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

std::string EncodeTextFrame(const TextFrameFields& f) {
    std::string out = "{\"Time\":";
    out.reserve(64 + 48 * f.data.size());
    AppendJsonNumber(out, static_cast<double>(f.time));
    out += ",\"Counter\":";
    AppendJsonNumber(out, static_cast<double>(f.counter));
    out += ",\"SN\":";
    AppendJsonString(out, f.sn);
    if (f.hasCode) {
        out += ",\"Code\":";
        AppendJsonNumber(out, f.code);
    }
    out += ",\"Data\":[";
    bool first = true;
    for (const TextReading& r : f.data) {
        if (!first) out += ',';
        first = false;
        const double fields[] = {static_cast<double>(r.matched), static_cast<double>(r.id),
                                 static_cast<double>(r.channel), static_cast<double>(r.wavelength),
                                 r.physicValue, static_cast<double>(r.serial),
                                 static_cast<double>(r.auxA), static_cast<double>(r.auxB)};
        out += '[';
        for (size_t i = 0; i < std::size(fields); ++i) {
            if (i) out += ',';
            AppendJsonNumber(out, fields[i]);
        }
        out += ']';
    }
    out += "]}";
    return out;
}

}  // namespace lumora
