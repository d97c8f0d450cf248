#pragma once
// Replacing a file's whole content so that a crash or a kill never leaves it
// truncated or empty: a temporary file in the same folder, flushed to the
// disk, then renamed over the file. Used for the settings file and the
// sensor table.
#include <string>

namespace lumora {

enum class ReplaceResult {
    Ok,
    Failed,    // nothing was changed
    ReadOnly,  // the file has no write permission at all: the user's decision, left alone
};

// Replaces the file at path by content, creating it when missing. A symbolic
// link is written through to its target, in the target's folder (the link
// stays a link). Temporary copies left by writers that were killed are
// removed. Only where no temporary file can be created is an existing file
// rewritten in place.
ReplaceResult ReplaceFile(const std::string& path, const std::string& content);

}  // namespace lumora
