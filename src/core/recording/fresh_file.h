#pragma once
// Creating a file without ever replacing one: recordings and captures are
// named by the user or by the second they start, so a name can already be
// taken by an earlier run.
#include <string>

namespace lumora {

// Creates stem + ext, or, when that name is taken, stem + "_2" + ext,
// stem + "_3" + ext, ... (the first name not taken, from firstVariant on;
// variant 1 is the name without a number). The file is created exclusively,
// so an existing file is never opened, not even by a race with another
// program. Returns the write-only, close-on-exec descriptor, with the name in
// *path and its variant number in *variant (unless null); -1 with errno when
// no file could be created, *path then being the last name tried. extraFlags
// are added to the open flags (O_APPEND, say).
int CreateFreshFile(const std::string& stem, const std::string& ext, int firstVariant, std::string* path,
                    int* variant, int extraFlags = 0);

}  // namespace lumora
