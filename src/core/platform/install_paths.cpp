#include "platform/install_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace lumora {
namespace fs = std::filesystem;

namespace {

bool IsRegularFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

}  // namespace

const std::vector<std::string>& ProgramScriptNames() {
    static const std::vector<std::string> names = {"daq.sh", "convert.sh", "7z.sh"};
    return names;
}

namespace {

// PREFIX/share/SUB of the running program (PREFIX/bin/NAME); empty when the
// program's own path cannot be read.
std::string InstalledShareDirectory(const fs::path& sub) {
    std::error_code ec;
    fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return (program.parent_path().parent_path() / "share" / sub).string();
}

}  // namespace

std::string InstalledScriptsDirectory() { return InstalledShareDirectory(fs::path("lumora") / "scripts"); }

std::string InstalledDocsDirectory() { return InstalledShareDirectory(fs::path("doc") / "lumora"); }

std::string LocateScript(const std::string& script, const std::string& installedDir) {
    if (script.find('/') != std::string::npos) return script;
    std::string local = "./" + script;
    if (IsRegularFile(local) || installedDir.empty()) return local;
    fs::path installed = fs::path(installedDir) / script;
    return IsRegularFile(installed) ? installed.string() : local;
}

std::string UserWorkFolder() {
    const char* home = std::getenv("HOME");
    std::string base = home && *home ? home : "";
    if (base.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid())) base = pw->pw_dir;
    }
    return (fs::path(base.empty() ? "." : base) / "Lumora").string();
}

bool EnterWorkFolder(const std::string& folder, const std::string& scriptsDir, std::string* error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        if (error) *error = "cannot create the folder " + folder;
        return false;
    }
    for (const std::string& name : ProgramScriptNames()) {
        fs::path source = fs::path(scriptsDir) / name;
        fs::path target = fs::path(folder) / name;
        // symlink_status: a dangling link the user left is theirs too.
        if (scriptsDir.empty() || !IsRegularFile(source) || fs::exists(fs::symlink_status(target, ec))) continue;
        fs::copy_file(source, target, fs::copy_options::skip_existing, ec);
    }
    if (::chdir(folder.c_str()) != 0) {
        if (error) *error = "cannot enter the folder " + folder;
        return false;
    }
    return true;
}

}  // namespace lumora
