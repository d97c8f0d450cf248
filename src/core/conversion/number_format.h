#pragma once
// Number formatting for CSV rows without printf: the same bytes as the
// decimal and the six-digit general conversions, several times faster.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace lumora {

// Room an AppendInt or AppendG needs at p (they may write a few bytes past
// the characters they count).
constexpr int kNumberRoom = 32;

namespace detail {
// "0000" .. "9999", four characters each, and room for a 4-byte read past the end.
struct QuadTable {
    char digits[10000 * 4 + 4];
    constexpr QuadTable() : digits() {
        for (int i = 0; i < 10000; ++i) {
            digits[4 * i] = static_cast<char>('0' + i / 1000);
            digits[4 * i + 1] = static_cast<char>('0' + i / 100 % 10);
            digits[4 * i + 2] = static_cast<char>('0' + i / 10 % 10);
            digits[4 * i + 3] = static_cast<char>('0' + i % 10);
        }
    }
};
inline constexpr QuadTable kQuads{};

// Up to four digits of v < 10000 without leading zeros; writes 4 bytes.
[[gnu::always_inline]] inline char* AppendSmall(char* p, uint32_t v) {
    const unsigned n = v < 10 ? 1 : v < 100 ? 2 : v < 1000 ? 3 : 4;
    std::memcpy(p, kQuads.digits + 4 * v + (4 - n), 4);
    return p + n;
}
// Exactly four digits of v < 10000.
[[gnu::always_inline]] inline char* AppendQuad(char* p, uint32_t v) {
    std::memcpy(p, kQuads.digits + 4 * v, 4);
    return p + 4;
}
}  // namespace detail

// Decimal digits of v. May write up to three bytes past the digits.
[[gnu::always_inline]] inline char* AppendUint(char* p, uint32_t v) {
    if (v < 10000) return detail::AppendSmall(p, v);
    if (v < 100000000) return detail::AppendQuad(detail::AppendSmall(p, v / 10000), v % 10000);
    p = detail::AppendSmall(p, v / 100000000);
    return detail::AppendQuad(detail::AppendQuad(p, v / 10000 % 10000), v % 10000);
}

// Exactly `digits` decimal digits of v, with leading zeros ("%0*u").
inline char* AppendDigits(char* p, uint32_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
    return p + digits;
}

// "%d"
[[gnu::always_inline]] inline char* AppendInt(char* p, int32_t v) {
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
