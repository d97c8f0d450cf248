#pragma once
// Small text helpers shared by the device code.
//
// Number boxes are read the way the C library's atoi reads: leading white
// space, an optional sign, then decimal digits up to the first other
// character. No digits gives 0. Values beyond the 32-bit range are clamped
// instead of overflowing.
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumora {

inline int32_t ParseLeadingInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// text cut after max characters (code points); a UTF-8 sequence is never split.
inline std::string CutCharacters(const std::string& text, size_t max) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == max) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

}  // namespace lumora
