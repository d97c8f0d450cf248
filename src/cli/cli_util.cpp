#include "cli_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/settings_store.h"

#include "acquisition/receive_session.h"

namespace lumora::cli {

bool ParseInteger(const std::string& text, long long* value) {
    // strtoll would skip leading blanks and take "+ 5"; only digits with an
    // optional sign are a number here.
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-' || text[0] == '+'))
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    *value = v;
    return true;
}

bool ReadWholeNumber(const char* command, const std::string& name, const std::string& text, long long min,
                     long long max, long long* value) {
    long long v = 0;
    if (ParseInteger(text, &v) && v >= min && v <= max) {
        *value = v;
        return true;
    }
    std::fprintf(stderr, "lumora-cli %s: %s must be a whole number from %lld to %lld, not '%s'\n", command,
                 name.c_str(), min, max, text.c_str());
    return false;
}

bool ReadDecimalNumber(const char* command, const std::string& name, const std::string& text, double min,
                       double max, double* value) {
    const bool starts = !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-' ||
                                          text[0] == '+' || text[0] == '.');
    char* end = nullptr;
    errno = 0;
    double v = starts ? std::strtod(text.c_str(), &end) : 0;
    if (starts && errno == 0 && end != text.c_str() && *end == '\0' && std::isfinite(v) && v >= min && v <= max) {
        *value = v;
        return true;
    }
    std::fprintf(stderr, "lumora-cli %s: %s must be a number from %.10g to %.10g, not '%s'\n", command, name.c_str(), min,
                 max, text.c_str());
    return false;
}

void CatchStopSignals(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

std::string SettingName(const SettingsStore& settings, const char* section, const char* key) {
    return std::string("[") + section + "] " + key + " of " + settings.Path();
}

bool WritableFolder(const std::string& dir, std::string* why) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        *why = errno == ENOENT ? "folder " + dir + " does not exist"
                               : "folder " + dir + " cannot be used: " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = dir + " is not a folder";
        return false;
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        *why = "no file can be created in folder " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string JoinRest(const Args& args, size_t first) {
    std::string s;
    for (size_t i = first; i < args.size(); ++i) {
        if (i > first) s += ' ';
        s += args[i];
    }
    return s;
}

void PrintDatagramTroubles(const ReceiveSession& session) {
    std::fprintf(stderr, "ignored: %llu datagrams (empty or blank), %llu cut short\n",
                 static_cast<unsigned long long>(session.IgnoredDatagrams()),
                 static_cast<unsigned long long>(session.CutShortDatagrams()));
}

}  // namespace lumora::cli
