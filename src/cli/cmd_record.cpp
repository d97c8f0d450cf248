#include <cstdio>

#include "cli_commands.h"

namespace lumora::cli {

int RunRecord(const Args&) {
    std::fprintf(stderr, "lumora-cli record: not available yet\n");
    return 2;
}

}  // namespace lumora::cli
