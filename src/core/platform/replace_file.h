#pragma once
// Replacing a file's whole content so that a crash or a kill never leaves it
// truncated or empty: a temporary file in the same folder, flushed to the
// disk, then renamed over the file. Used for the settings file and the
// sensor table.
#include <sys/types.h>

#include <string>

namespace lumora {

enum class ReplaceResult {
    Ok,
    Failed,    // nothing was changed
    ReadOnly,  // the process may not write the file (no write bit, or not ours): left alone
};

// Replaces the file at path by content, creating it when missing. A symbolic
// link is written through to its target, in the target's folder (the link
// stays a link). The file keeps its owner and its mode; where no temporary
// file can be created, or the owner cannot be kept, an existing file is
// rewritten in place. Temporary copies left by writers that were killed are
// removed. A new file that holds a secret is readable by its owner only.
// *mode (when given) receives the permission bits the file has afterwards.
ReplaceResult ReplaceFile(const std::string& path, const std::string& content, bool secret = false,
                          mode_t* mode = nullptr);

}  // namespace lumora
