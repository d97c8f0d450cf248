#pragma once
// Starting helper programs and scripts that the program does not wait for.
// Arguments are handed over as a vector: no shell ever reads them, so blanks,
// quotes, ";" or "$(...)" inside an argument are plain characters.
#include <string>
#include <vector>

namespace lumora {

enum class StartResult {
    Started,
    NotFound,  // the program or script does not exist
    Failed,    // it exists but could not be started
};

// Runs program (a path; no search of PATH) with args as argv[1..]. The new
// process is not a child that has to be waited for: it is reaped by the
// system when it ends. Returns once it has started (or failed to).
StartResult StartDetached(const std::string& program, const std::vector<std::string>& args);

// Runs "/bin/sh script args..."; a script name without "/" is taken from the
// current directory, else from the installed scripts (LocateScript). NotFound
// when the script file does not exist.
StartResult StartShellScript(const std::string& script, const std::vector<std::string>& args);

// Splits an argument line at blanks; runs of blanks count as one and
// leading or trailing blanks give no empty argument.
std::vector<std::string> SplitAtBlanks(const std::string& line);

}  // namespace lumora
