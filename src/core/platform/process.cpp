#include "platform/process.h"

#include "platform/install_paths.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace lumora {

StartResult StartDetached(const std::string& program, const std::vector<std::string>& args) {
    // Everything the children need is prepared before fork: after it, only
    // async-signal-safe calls are allowed in a program with several threads.
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The grandchild writes its errno here when exec fails; the pipe closes
    // without a byte when exec succeeds.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return StartResult::Failed;

    pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return StartResult::Failed;
    }
    if (child == 0) {
        // Intermediate child: start the real process and leave at once, so
        // that the process is adopted and reaped by the system.
        ::close(pipeFds[0]);
        pid_t grandchild = ::fork();
        if (grandchild < 0) {
            int err = errno;
            (void)!::write(pipeFds[1], &err, sizeof err);
            ::_exit(1);
        }
        if (grandchild == 0) {
            // Signals blocked or ignored by this program are not the
            // script's business.
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGPIPE, SIG_DFL);
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGTERM, SIG_DFL);
            ::signal(SIGCHLD, SIG_DFL);
            ::setsid();
            ::execv(argv[0], argv.data());
            int err = errno;
            (void)!::write(pipeFds[1], &err, sizeof err);
            ::_exit(127);
        }
        ::_exit(0);
    }

    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    do {
        n = ::read(pipeFds[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    if (n == static_cast<ssize_t>(sizeof err)) return err == ENOENT ? StartResult::NotFound : StartResult::Failed;
    return StartResult::Started;
}

StartResult StartShellScript(const std::string& script, const std::vector<std::string>& args) {
    // The working folder's copy first, then the one installed with the program.
    std::string path = LocateScript(script, InstalledScriptsDirectory());
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return StartResult::NotFound;
    std::vector<std::string> shellArgs;
    shellArgs.reserve(args.size() + 1);
    shellArgs.push_back(path);
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    StartResult result = StartDetached("/bin/sh", shellArgs);
    return result == StartResult::NotFound ? StartResult::Failed : result;
}

namespace {

// The first executable name in a folder of PATH; empty when there is none.
std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path) return {};
    std::string folders = path;
    for (size_t start = 0, end; start <= folders.size(); start = end + 1) {
        end = std::min(folders.find(':', start), folders.size());
        std::string folder = end > start ? folders.substr(start, end - start) : std::string(".");
        std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

bool OnDesktop() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// Runs "$@" (the shell and the script) and keeps the window open afterwards so
// that the report can be read. The script and its arguments reach this shell
// as positional parameters: nothing of them is ever parsed as shell text.
// Ctrl+C gets a handler, not an ignore, so the script still receives it.
constexpr char kHoldWindow[] =
    "trap : INT; \"$@\"; status=$?; "
    "printf '\\n%s ended (%s). Press Enter to close this window. ' \"$2\" \"$status\"; "
    "read answer; exit $status";

}  // namespace

StartResult StartShellScriptInTerminal(const std::string& script, const std::vector<std::string>& args) {
    std::string terminal = OnDesktop() ? FindOnPath("x-terminal-emulator") : std::string();
    if (terminal.empty()) return StartShellScript(script, args);
    std::string path = script.find('/') == std::string::npos ? "./" + script : script;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return StartResult::NotFound;
    // Terminals take the program and its arguments as the words after -e.
    std::vector<std::string> argv = {"-e", "/bin/sh", "-c", kHoldWindow, "lumora", "/bin/sh", path};
    argv.insert(argv.end(), args.begin(), args.end());
    StartResult result = StartDetached(terminal, argv);
    return result == StartResult::NotFound ? StartResult::Failed : result;
}

std::vector<std::string> SplitAtBlanks(const std::string& line) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) parts.push_back(line.substr(start, i - start));
    }
    return parts;
}

}  // namespace lumora
