#pragma once
// Number formatting for CSV rows without printf: the same bytes as the
// decimal and the six-digit general conversions, several times faster.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace lumora {

// Room an AppendInt or AppendG needs at p.
constexpr int kNumberRoom = 32;

namespace detail {
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
inline unsigned DigitCount(uint32_t v) {
    return v < 10 ? 1 : v < 100 ? 2 : v < 1000 ? 3 : v < 10000 ? 4 : v < 100000 ? 5 : v < 1000000 ? 6
         : v < 10000000 ? 7 : v < 100000000 ? 8 : v < 1000000000 ? 9 : 10;
}
}  // namespace detail

// Decimal digits of v.
inline char* AppendUint(char* p, uint32_t v) {
    char* end = p + detail::DigitCount(v);
    char* q = end;
    while (v >= 100) {
        const uint32_t r = v % 100;
        v /= 100;
        q -= 2;
        q[0] = detail::kDigitPairs[2 * r];
        q[1] = detail::kDigitPairs[2 * r + 1];
    }
    if (v >= 10) {
        q[-2] = detail::kDigitPairs[2 * v];
        q[-1] = detail::kDigitPairs[2 * v + 1];
    } else {
        q[-1] = static_cast<char>('0' + v);
    }
    return end;
}

// "%d"
inline char* AppendInt(char* p, int32_t v) {
    if (v < 0) {
        *p++ = '-';
        return AppendUint(p, 0u - static_cast<uint32_t>(v));
    }
    return AppendUint(p, static_cast<uint32_t>(v));
}

// "%g": six significant digits, trailing zeros dropped, exponent form below
// 0.0001 or from 1000000 on. Whole numbers of up to six digits are by far the
// most common values and are written as integers; everything else goes through
// the general form with precision 6, which prints what printf prints.
inline char* AppendG(char* p, double v) {
    if (v > -1000000.0 && v < 1000000.0) {
        int32_t whole = static_cast<int32_t>(v);
        if (static_cast<double>(whole) == v && !(whole == 0 && std::signbit(v))) return AppendInt(p, whole);
    }
    if (std::isfinite(v)) return std::to_chars(p, p + kNumberRoom, v, std::chars_format::general, 6).ptr;
    int n = std::snprintf(p, kNumberRoom, "%g", v);
    return p + (n > 0 ? n : 0);
}

}  // namespace lumora
