#include "cli_util.h"

#include <cerrno>
#include <cstdlib>

namespace lumora::cli {

bool ParseInteger(const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *value = v;
    return true;
}

std::string JoinRest(const Args& args, size_t first) {
    std::string s;
    for (size_t i = first; i < args.size(); ++i) {
        if (i > first) s += ' ';
        s += args[i];
    }
    return s;
}

}  // namespace lumora::cli
