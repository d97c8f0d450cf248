#include "settings/settings_store.h"

#include "settings/setting_values.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "platform/durable_file.h"

namespace lumora {
namespace {

// One lock for every store object: two objects may name the same file, and
// the receive worker writes [Net] IP while the UI thread writes other keys.
std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// The file as lines (line ends removed). Reading never fails on content:
// garbage simply yields lines that are neither headers nor keys.
struct IniText {
    std::vector<std::string> lines;
    std::string eol = "\n";
    mode_t mode = 0;  // permission bits of the file read
};

enum class ReadResult { Ok, Missing, Unreadable };

ReadResult ReadIni(const std::string& path, IniText& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::Unreadable;
    }
    out.mode = st.st_mode & 07777;
    std::string content;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return ReadResult::Unreadable;
        }
        if (n == 0) break;
        content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);

    size_t firstNl = content.find('\n');
    if (firstNl != std::string::npos && firstNl > 0 && content[firstNl - 1] == '\r') out.eol = "\r\n";
    size_t start = 0;
    while (start < content.size()) {
        size_t nl = content.find('\n', start);
        size_t end = nl == std::string::npos ? content.size() : nl;
        size_t stop = end;
        if (stop > start && content[stop - 1] == '\r') --stop;
        out.lines.emplace_back(content, start, stop - start);
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return ReadResult::Ok;
}

// The text of a line that the parser looks at: a UTF-8 byte order mark at the
// start of the file is not part of the first line's name.
std::string_view ParsedText(const IniText& ini, size_t index) {
    std::string_view s = ini.lines[index];
    if (index == 0 && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    return s;
}

bool SectionHeader(std::string_view line, std::string_view& name) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return false;
    line.remove_prefix(1);
    size_t close = line.find(']');
    name = Trim(close == std::string_view::npos ? line : line.substr(0, close));
    return true;
}

bool KeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

struct Location {
    long sectionLine = -1;  // header of the first matching section
    long keyLine = -1;      // first matching key inside that section
    long lastContent = -1;  // last non-blank line of that section
};

Location Find(const IniText& ini, std::string_view section, std::string_view key) {
    Location loc;
    bool inside = false;
    for (size_t i = 0; i < ini.lines.size(); ++i) {
        std::string_view text = ParsedText(ini, i);
        std::string_view name;
        if (SectionHeader(text, name)) {
            if (inside) break;  // only the first section of a name counts
            if (SameName(name, section)) {
                inside = true;
                loc.sectionLine = loc.lastContent = static_cast<long>(i);
            }
            continue;
        }
        if (!inside) continue;
        if (!Trim(text).empty()) loc.lastContent = static_cast<long>(i);
        std::string_view k, v;
        if (loc.keyLine < 0 && KeyLine(text, k, v) && SameName(k, key)) loc.keyLine = static_cast<long>(i);
    }
    return loc;
}

// Keys whose values are secrets: a file holding one must not be readable by
// other users.
struct SecretKey {
    std::string_view section, key;
};
constexpr SecretKey kSecretKeys[] = {{"MQTT", "Password"}};

// True when a secret key has a value in the file, in whichever section of
// its name it stands (a second section of the name is not read, but its
// text is in the file all the same).
bool HoldsSecret(const IniText& ini) {
    std::string_view section;
    for (size_t i = 0; i < ini.lines.size(); ++i) {
        std::string_view text = ParsedText(ini, i);
        std::string_view name, k, v;
        if (SectionHeader(text, name)) {
            section = name;
        } else if (KeyLine(text, k, v) && !v.empty()) {
            for (const SecretKey& secret : kSecretKeys)
                if (SameName(section, secret.section) && SameName(k, secret.key)) return true;
        }
    }
    return false;
}

// What the program is told once per file: a write refused because the file
// is read-only, and a file holding a secret that others may read.
struct Notices {
    std::mutex mutex;
    std::function<void(const std::string& path)> notSaved, exposedSecret;
    std::set<std::string> toldNotSaved, toldExposed;
};
Notices& NoticeState() {
    static Notices n;
    return n;
}

enum class Notice { NotSaved, ExposedSecret };

void Tell(Notice which, const std::string& path) {
    Notices& n = NoticeState();
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(n.mutex);
        auto& h = which == Notice::NotSaved ? n.notSaved : n.exposedSecret;
        auto& told = which == Notice::NotSaved ? n.toldNotSaved : n.toldExposed;
        // Nobody to tell yet: the notice waits for the first read or write
        // after a handler is set.
        if (!h || !told.insert(path).second) return;
        handler = h;
    }
    handler(path);
}

constexpr mode_t kOthersMayRead = S_IRGRP | S_IROTH;

void NoteExposedSecret(const std::string& path, const IniText& ini) {
    if ((ini.mode & kOthersMayRead) != 0 && HoldsSecret(ini)) Tell(Notice::ExposedSecret, path);
}

bool Lookup(const std::string& path, const std::string& section, const std::string& key, std::string& value) {
    IniText ini;
    if (ReadIni(path, ini) != ReadResult::Ok) return false;
    NoteExposedSecret(path, ini);
    Location loc = Find(ini, section, key);
    if (loc.keyLine < 0) return false;
    std::string_view k, v;
    KeyLine(ParsedText(ini, static_cast<size_t>(loc.keyLine)), k, v);
    value.assign(v);
    return true;
}

// At most maxChars characters of UTF-8 text, never splitting a sequence.
std::string CutUtf8(const std::string& s, int maxChars) {
    if (maxChars <= 0) return {};
    int chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        bool leadByte = (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
        if (leadByte && ++chars > maxChars) return s.substr(0, i);
    }
    return s;
}

// Names and values are single lines; a NUL ends them.
std::string OneLine(const std::string& s) {
    std::string out(s.c_str());
    for (char& c : out) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return out;
}

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

enum class WriteResult { Ok, Failed, ReadOnly };

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

// Replaces the file at path (through symbolic links) by content: temporary
// file in the same folder, flush, rename. The file keeps its owner and its
// mode; where the owner cannot be kept it is rewritten in place. A new file
// that holds a secret is readable by its owner only. *mode receives the
// permission bits the file has afterwards.
WriteResult ReplaceFile(const std::string& path, const std::string& content, bool secret, mode_t* mode) {
    const std::string target = ResolveLinks(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !MayWrite(target, st)) return WriteResult::ReadOnly;
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
        if (exists) return RewriteInPlace(target, content) ? WriteResult::Ok : WriteResult::Failed;
        return WriteResult::Failed;
    }
    bool ok = ::fchmod(fd, *mode) == 0 && WriteAll(fd, content) && SyncFile(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(name.data(), target.c_str()) == 0;
    if (!ok) ::unlink(name.data());
    return ok ? WriteResult::Ok : WriteResult::Failed;
}

std::atomic<bool>& ProcessReadOnly() {
    static std::atomic<bool> readOnly{false};
    return readOnly;
}

}  // namespace

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

int SettingsStore::GetInt(const std::string& section, const std::string& key, int def) const {
    std::string value;
    if (!Lookup(path_, section, key, value)) return def;
    return ReadLeadingInt(value);
}

std::string SettingsStore::GetString(const std::string& section, const std::string& key, const std::string& def,
                                     int capacity) const {
    std::string value;
    if (!Lookup(path_, section, key, value)) value = def;
    return CutUtf8(value, capacity - 1);
}

bool SettingsStore::SetString(const std::string& section, const std::string& key, const std::string& value) {
    const std::string sec = OneLine(section);
    const std::string k = OneLine(key);
    const std::string line = k + "=" + OneLine(value);

    if (ProcessReadOnly().load()) return false;
    std::lock_guard<std::mutex> lock(WriteMutex());
    IniText ini;
    if (ReadIni(path_, ini) == ReadResult::Unreadable) return false;

    Location loc = Find(ini, sec, k);
    if (loc.keyLine >= 0) {
        std::string& target = ini.lines[static_cast<size_t>(loc.keyLine)];
        bool bom = loc.keyLine == 0 && target.compare(0, 3, "\xEF\xBB\xBF") == 0;
        target = bom ? "\xEF\xBB\xBF" + line : line;
    } else if (loc.sectionLine >= 0) {
        ini.lines.insert(ini.lines.begin() + loc.lastContent + 1, line);
    } else {
        ini.lines.push_back("[" + sec + "]");
        ini.lines.push_back(line);
    }
    std::string content;
    for (const std::string& l : ini.lines) {
        content += l;
        content += ini.eol;
    }
    const bool secret = HoldsSecret(ini);
    mode_t mode = 0;
    switch (ReplaceFile(path_, content, secret, &mode)) {
        case WriteResult::Ok:
            if (secret && (mode & kOthersMayRead) != 0) Tell(Notice::ExposedSecret, path_);
            return true;
        case WriteResult::ReadOnly:
            Tell(Notice::NotSaved, path_);
            return false;
        case WriteResult::Failed:
            break;
    }
    return false;
}

void SettingsStore::SetNotSavedHandler(std::function<void(const std::string& path)> handler) {
    Notices& n = NoticeState();
    std::lock_guard<std::mutex> lock(n.mutex);
    n.notSaved = std::move(handler);
    n.toldNotSaved.clear();
}

void SettingsStore::SetExposedSecretHandler(std::function<void(const std::string& path)> handler) {
    Notices& n = NoticeState();
    std::lock_guard<std::mutex> lock(n.mutex);
    n.exposedSecret = std::move(handler);
    n.toldExposed.clear();
}

bool SettingsStore::HoldsSecrets() const {
    IniText ini;
    return ReadIni(path_, ini) == ReadResult::Ok && HoldsSecret(ini);
}

void SettingsStore::SetProcessReadOnly(bool readOnly) { ProcessReadOnly().store(readOnly); }

bool SettingsStore::SetInt(const std::string& section, const std::string& key, int value) {
    return SetString(section, key, std::to_string(value));
}

}  // namespace lumora
