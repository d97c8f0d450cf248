#include <cstdio>

#include "cli_commands.h"

namespace lumora::cli {

int RunHighSpeedConvert(const Args&) {
    std::fprintf(stderr, "lumora-cli hconvert: not available yet\n");
    return 2;
}

}  // namespace lumora::cli
