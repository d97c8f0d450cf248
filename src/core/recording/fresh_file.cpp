#include "recording/fresh_file.h"

#include <fcntl.h>

#include <cerrno>

namespace lumora {
namespace {

// How many taken names one creation tries before it gives up.
constexpr int kMaxNameTries = 1000;

}  // namespace

int CreateFreshFile(const std::string& stem, const std::string& ext, int firstVariant, std::string* path,
                    int* variant, int extraFlags) {
    int v = firstVariant < 1 ? 1 : firstVariant;
    int fd = -1;
    for (int tries = 0; tries < kMaxNameTries; ++tries, ++v) {
        *path = v > 1 ? stem + "_" + std::to_string(v) + ext : stem + ext;
        fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | extraFlags, 0644);
        if (fd >= 0 || errno != EEXIST) break;
    }
    if (variant) *variant = v;
    return fd;
}

}  // namespace lumora
