#pragma once
// Text that arrives as bytes (a serial number from the network, a label from
// a file) on its way into JSON, which must be well-formed UTF-8.
#include <cstddef>
#include <string>
#include <string_view>

namespace lumora {

// Length of the well-formed UTF-8 sequence of 2 to 4 bytes that starts at p,
// or 0 when the bytes there are not one. Reads at most to end.
inline size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const auto in = [](unsigned char c, unsigned char lo, unsigned char hi) { return c >= lo && c <= hi; };
    const size_t left = static_cast<size_t>(end - p);
    const unsigned char c = p[0];
    if (in(c, 0xC2, 0xDF)) return left >= 2 && in(p[1], 0x80, 0xBF) ? 2 : 0;
    if (in(c, 0xE0, 0xEF)) {
        const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return left >= 3 && in(p[1], lo, hi) && in(p[2], 0x80, 0xBF) ? 3 : 0;
    }
    if (in(c, 0xF0, 0xF4)) {
        const unsigned char lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return left >= 4 && in(p[1], lo, hi) && in(p[2], 0x80, 0xBF) && in(p[3], 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

// The text with every byte that is not part of well-formed UTF-8 replaced by
// U+FFFD.
inline std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            out += static_cast<char>(*p++);
            continue;
        }
        const size_t n = Utf8SequenceLength(p, end);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++p;
        } else {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        }
    }
    return out;
}

}  // namespace lumora
