#include <cstdio>

#include "cli_commands.h"

namespace lumora::cli {

int RunDiscover(const Args&) {
    std::fprintf(stderr, "lumora-cli discover: not available yet\n");
    return 2;
}

}  // namespace lumora::cli
