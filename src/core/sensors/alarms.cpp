#include "sensors/alarms.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/durable_file.h"

namespace lumora {

const char* AlarmStateName(AlarmState state) {
    switch (state) {
        case AlarmState::High: return "HIGH";
        case AlarmState::Low: return "LOW";
        case AlarmState::Normal: break;
    }
    return "NORMAL";
}

std::string AlarmTimeText(int64_t seconds, int32_t microseconds) {
    const time_t t = static_cast<time_t>(seconds);
    std::tm tm{};
    char buf[64];
    const int ms = microseconds >= 0 && microseconds < 1000000 ? microseconds / 1000 : 0;
    if (!localtime_r(&t, &tm)) {
        std::snprintf(buf, sizeof buf, "%lld.%03d", static_cast<long long>(seconds), ms);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return buf;
}

namespace {

// The serial number comes from the network as any bytes: one with a comma,
// a quote or a line break is quoted so that it stays one field of one record.
void AppendCsvField(std::string& line, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        line += text;
        return;
    }
    line += '"';
    for (char c : text) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

}  // namespace

std::string AlarmLogLine(const AlarmTransition& t) {
    char value[32];
    std::snprintf(value, sizeof value, "%g", t.value);
    std::string line = AlarmTimeText(t.seconds, t.microseconds);
    line += ',';
    AppendCsvField(line, t.sn);
    line += ',';
    line += std::to_string(t.id);
    line += ',';
    line += t.label;
    line += ',';
    line += value;
    line += ',';
    line += AlarmStateName(t.state);
    return line;
}

void AlarmLog::SetPath(std::string path) {
    path_ = std::move(path);
    if (path_.empty()) waiting_.clear();
}

namespace {

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool AlarmLog::Append(const std::vector<std::string>& lines, std::string& error) {
    if (path_.empty()) return true;
    for (const std::string& l : lines) {
        if (waiting_.size() >= kMostKept) {
            ++lost_;
            continue;
        }
        waiting_.push_back(l);
    }
    if (waiting_.empty()) return true;

    // Opened for each batch, so that a log moved or deleted meanwhile is
    // created again with its header.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + path_ + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : 0;
    std::string text;
    if (before == 0) {
        text += kHeader;
        text += '\n';
    }
    for (const std::string& l : waiting_) {
        text += l;
        text += '\n';
    }
    bool ok = WriteAll(fd, text) && SyncFile(fd) == 0;
    if (!ok) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        // A partly written batch is cut off, so that the next attempt does
        // not repeat half of it.
        if (::ftruncate(fd, before) == 0) SyncFile(fd);
    }
    ::close(fd);
    if (ok) waiting_.clear();
    return ok;
}

}  // namespace lumora
