#include <cstdio>

#include "cli_commands.h"

namespace lumora::cli {

int RunSimulate(const Args&) {
    std::fprintf(stderr, "lumora-cli simulate: not available yet\n");
    return 2;
}

}  // namespace lumora::cli
