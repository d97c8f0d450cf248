#pragma once
// Number formatting for CSV rows without printf: the same bytes as "%d" and
// "%g", several times faster.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace lumora {

// Room an AppendInt or AppendG needs at p.
constexpr int kNumberRoom = 32;

// "%d"
inline char* AppendInt(char* p, int32_t v) { return std::to_chars(p, p + 12, v).ptr; }

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
