#pragma once
// Where an installed Lumora keeps its files, and the folder of one's own that
// the program works in when it is started from the desktop's menu.
//
// An installation is relocatable: the scripts live in share/lumora/scripts
// beside the bin/ folder that holds the running program, whatever the prefix.
#include <string>
#include <vector>

namespace lumora {

// The names of the scripts the program starts: the high-speed capture and
// conversion launchers and the archiver run before a conversion.
const std::vector<std::string>& ProgramScriptNames();

// PREFIX/share/lumora/scripts for the program running from PREFIX/bin (the
// folder may not exist, as in a build tree).
std::string InstalledScriptsDirectory();

// PREFIX/share/doc/lumora, where the guide and the README are installed.
std::string InstalledDocsDirectory();

// The file to start for script: a name with "/" is taken as it is; otherwise
// the copy in the current folder when there is one, else the copy in
// installedDir when there is one, else the current folder's (missing) copy.
std::string LocateScript(const std::string& script, const std::string& installedDir);

// $HOME/Lumora, the working folder of a program started from the menu.
std::string UserWorkFolder();

// Creates folder when missing, copies into it each script of scriptsDir it
// does not hold yet (a user's edited copy is kept) and makes it the current
// folder. False with a message in *error when the folder cannot be made or
// entered; a script that cannot be copied is left out silently.
bool EnterWorkFolder(const std::string& folder, const std::string& scriptsDir, std::string* error);

}  // namespace lumora
