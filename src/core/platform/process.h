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
// system when it ends. It leads a session of its own, so Ctrl+C or a hang-up
// in the terminal this program was started from does not reach it. Returns
// once it has started (or failed to).
StartResult StartDetached(const std::string& program, const std::vector<std::string>& args);

// Runs "/bin/sh script args..."; a script name without "/" is taken from the
// current directory, else from the installed scripts (LocateScript). NotFound
// when the script file does not exist.
StartResult StartShellScript(const std::string& script, const std::vector<std::string>& args);

// Runs a script as StartShellScript does, but on a desktop (DISPLAY or
// WAYLAND_DISPLAY set) that has the system's terminal "x-terminal-emulator"
// on PATH, in a terminal window of its own: its report is seen there, and
// Ctrl+C in that window reaches the script. The window stays open after the
// script until Enter is pressed. Without a desktop or a terminal it runs as
// StartShellScript does, writing to this program's output.
StartResult StartShellScriptInTerminal(const std::string& script, const std::vector<std::string>& args);

// Splits an argument line at blanks; runs of blanks count as one and
// leading or trailing blanks give no empty argument.
std::vector<std::string> SplitAtBlanks(const std::string& line);

}  // namespace lumora
