#include "publishing/frame_payload.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "model/utf8_text.h"

namespace lumora {
namespace {

void AppendInt(std::string& out, int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void AppendDouble(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";  // JSON has no NaN or infinity
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// A serial number is whatever bytes the instrument sent: a byte that is not
// part of well-formed UTF-8 becomes U+FFFD, so that the payload stays JSON.
void AppendJsonString(std::string& out, const char* text) {
    out += '"';
    const auto* end = reinterpret_cast<const unsigned char*>(text) + std::strlen(text);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); p < end; ++p) {
        if (*p >= 0x80) {
            const size_t n = Utf8SequenceLength(p, end);
            if (n == 0) {
                out += "\\ufffd";
            } else {
                out.append(reinterpret_cast<const char*>(p), n);
                p += n - 1;
            }
        } else if (*p == '"' || *p == '\\') {
            out += '\\';
            out += static_cast<char>(*p);
        } else if (*p < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", *p);
            out += esc;
        } else {
            out += static_cast<char>(*p);
        }
    }
    out += '"';
}

// Seconds since 1970 with the fraction the stamp carries: three digits for
// whole milliseconds (how instrument and recorder stamp), six otherwise.
void AppendTime(std::string& out, int64_t seconds, int32_t microseconds) {
    if (microseconds < 0 || microseconds >= 1000000) {
        AppendDouble(out, static_cast<double>(seconds) + microseconds / 1e6);
        return;
    }
    AppendInt(out, seconds);
    char frac[8];
    if (microseconds % 1000 == 0)
        std::snprintf(frac, sizeof frac, ".%03d", microseconds / 1000);
    else
        std::snprintf(frac, sizeof frac, ".%06d", microseconds);
    out += frac;
}

}  // namespace

void BeginBatch(std::string& out, const char* device) {
    out += "{\"device\":";
    AppendJsonString(out, device);
    out += ",\"frames\":[";
}

void AppendFrame(std::string& out, const QueuedFrame& frame, bool first) {
    if (!first) out += ',';
    out += "{\"t\":";
    AppendTime(out, frame.seconds, frame.microseconds);
    out += ",\"counter\":";
    AppendInt(out, frame.counter);
    out += ",\"sensors\":[";
    for (int i = 0; i < frame.count; ++i) {
        const QueuedReading& r = frame.readings[i];
        if (i) out += ',';
        out += '[';
        AppendInt(out, r.id);
        out += ',';
        AppendInt(out, r.serial);
        out += ',';
        AppendInt(out, r.channel);
        out += ',';
        AppendInt(out, r.wavelength);
        out += ',';
        AppendDouble(out, r.physicValue);
        if (frame.hasValues) {
            out += ',';
            AppendDouble(out, r.value);  // an empty value is null
        }
        out += ']';
    }
    out += "]}";
}

void EndBatch(std::string& out) { out += "]}"; }

std::string TopicSafe(const char* device) {
    std::string s;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(device); *p; ++p)
        s += (*p == '/' || *p == '+' || *p == '#' || *p < 0x20 || *p > 0x7E) ? '_' : static_cast<char>(*p);
    if (s.empty()) s = "_";
    return s;
}

}  // namespace lumora
