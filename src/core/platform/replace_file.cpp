#include "platform/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/durable_file.h"

namespace lumora {
namespace {

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a write must replace: path itself, or the end of the chain of
// symbolic links it names (a link the user made stays a link). A link that
// points nowhere yet names the file to create.
std::string ResolveLinks(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        ssize_t n = ::readlink(current.c_str(), target.data(), target.size() - 1);
        if (n <= 0) return current;
        std::string next(target.data(), static_cast<size_t>(n));
        current = next.front() == '/' ? next : DirectoryOf(current) + "/" + next;
    }
    return current;
}

// Temporary files are named "<file>.<pid>.XXXXXX", so that one left by a
// killed writer can be told from one another process is writing right now.
std::string TemporaryPrefix(const std::string& target) {
    return target + "." + std::to_string(::getpid()) + ".";
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Removes temporary copies of target left by writers that no longer run (a
// kill between creating the copy and the rename), and our own.
void RemoveStaleTemporaries(const std::string& target) {
    const std::string folder = DirectoryOf(target);
    const std::string name = NameOf(target) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        std::string_view entry = e->d_name;
        if (entry.size() <= name.size() + 7 || entry.substr(0, name.size()) != name) continue;
        std::string_view rest = entry.substr(name.size());  // "<pid>.XXXXXX"
        size_t dot = rest.size() - 7;
        if (rest[dot] != '.' || !AllDigits(rest.substr(0, dot))) continue;
        const long pid = std::strtol(std::string(rest.substr(0, dot)).c_str(), nullptr, 10);
        const bool gone = pid == ::getpid() || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
        if (gone) ::unlinkat(::dirfd(dir), e->d_name, 0);
    }
    ::closedir(dir);
}

// Rewrites the file in place: for a folder where no temporary file can be
// created but the file itself may be written. Not atomic, so only then.
bool RewriteInPlace(const std::string& target, const std::string& content) {
    int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content) && ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 && SyncFile(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    return ok;
}

// Permission bits of a new file: 0666 less the process's umask, read from
// the kernel (setting the umask to read it would race with other threads).
mode_t NewFileMode() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value & 0777);
                break;
            }
        }
        std::fclose(f);
    }
    return 0666 & ~mask;
}

// Whether the process may write the file. The write bits alone are not
// enough: a file of another user with bits for its owner only is not ours to
// write, however writable its folder. A file without any write bit is the
// user's decision, for root as well.
bool MayWrite(const std::string& target, const struct stat& st) {
    return (st.st_mode & 0222) != 0 && ::access(target.c_str(), W_OK) == 0;
}

// The copy must belong to whoever owns the file it replaces: a rename would
// otherwise hand someone else's file to this process's user. False when the
// owner cannot be kept (only root may give a file away).
bool TakeOwner(int fd, const struct stat& original) {
    struct stat copy {};
    if (::fstat(fd, &copy) != 0) return false;
    if (copy.st_uid == original.st_uid && copy.st_gid == original.st_gid) return true;
    return ::fchown(fd, original.st_uid, original.st_gid) == 0;
}

}  // namespace

ReplaceResult ReplaceFile(const std::string& path, const std::string& content, bool secret, mode_t* mode) {
    mode_t unused = 0;
    if (!mode) mode = &unused;
    const std::string target = ResolveLinks(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !MayWrite(target, st)) return ReplaceResult::ReadOnly;
    RemoveStaleTemporaries(target);
    *mode = exists ? (st.st_mode & 0777) : secret ? 0600 : NewFileMode();

    std::string tmpl = TemporaryPrefix(target) + "XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd >= 0 && exists && !TakeOwner(fd, st)) {
        ::close(fd);
        ::unlink(name.data());
        fd = -1;
    }
    if (fd < 0) {
        if (exists) return RewriteInPlace(target, content) ? ReplaceResult::Ok : ReplaceResult::Failed;
        return ReplaceResult::Failed;
    }
    bool ok = ::fchmod(fd, *mode) == 0 && WriteAll(fd, content) && SyncFile(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(name.data(), target.c_str()) == 0;
    if (!ok) ::unlink(name.data());
    return ok ? ReplaceResult::Ok : ReplaceResult::Failed;
}

}  // namespace lumora
