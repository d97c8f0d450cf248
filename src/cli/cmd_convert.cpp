#include <cstdio>

#include "cli_commands.h"

namespace lumora::cli {

int RunConvert(const Args&) {
    std::fprintf(stderr, "lumora-cli convert: not available yet\n");
    return 2;
}

}  // namespace lumora::cli
