#pragma once
// Small argument helpers shared by the sub-commands.
#include <cstddef>
#include <string>

#include "cli_commands.h"

namespace lumora::cli {

// A whole decimal number with an optional sign; false for anything else.
bool ParseInteger(const std::string& text, long long* value);

// The words from index first on, joined by single blanks.
std::string JoinRest(const Args& args, size_t first);

}  // namespace lumora::cli
