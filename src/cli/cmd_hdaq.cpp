#include <cstdio>

#include "cli_commands.h"

namespace lumora::cli {

int RunHighSpeedDaq(const Args&) {
    std::fprintf(stderr, "lumora-cli hdaq: not available yet\n");
    return 2;
}

}  // namespace lumora::cli
