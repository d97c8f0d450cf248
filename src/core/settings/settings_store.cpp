#include "settings/settings_store.h"

#include "settings/setting_values.h"

#include <fcntl.h>
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

#include "platform/replace_file.h"

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
        case ReplaceResult::Ok:
            if (secret && (mode & kOthersMayRead) != 0) Tell(Notice::ExposedSecret, path_);
            return true;
        case ReplaceResult::ReadOnly:
            Tell(Notice::NotSaved, path_);
            return false;
        case ReplaceResult::Failed:
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
