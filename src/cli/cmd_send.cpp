#include <cstdio>

#include "cli_commands.h"

namespace lumora::cli {

int RunSend(const Args&) {
    std::fprintf(stderr, "lumora-cli send: not available yet\n");
    return 2;
}

}  // namespace lumora::cli
