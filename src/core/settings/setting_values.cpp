#include "settings/setting_values.h"

#include <algorithm>
#include <climits>

namespace lumora {

int ReadLeadingInt(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (n <= static_cast<long long>(INT_MAX) + 1) n = n * 10 + (text[i] - '0');
    }
    if (negative) n = -n;
    return static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

std::optional<uint16_t> UsablePort(std::string_view text) {
    const int port = ReadLeadingInt(text);
    if (port < 1 || port > 65535) return std::nullopt;
    return static_cast<uint16_t>(port);
}

bool IsSafeFilePrefix(std::string_view prefix) {
    return prefix.find_first_of("/\\") == std::string_view::npos && prefix.find("..") == std::string_view::npos;
}

int UsableIntervalMs(int ms) { return std::clamp(ms, 0, kMaxIntervalMs); }

uint32_t UsableRecordsPerFile(long long lines) {
    if (lines < 1) return kDefaultRecordsPerFile;
    return static_cast<uint32_t>(std::min<long long>(lines, UINT32_MAX));
}

}  // namespace lumora
