#include "conversion/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace lumora {
namespace {
constexpr size_t kBufferSize = 1 << 20;
}

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Create(const std::string& finalPath) {
    // A failure of an earlier file of the same source stays remembered.
    const bool earlierFailed = !Close();
    failed_ = earlierFailed;
    const std::string temporary = finalPath + kPartSuffix;
    fd_ = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    created_.push_back(finalPath);
    if (!buffer_) buffer_.reset(new char[kBufferSize]);
    used_ = 0;
    return true;
}

bool OutputFile::Flush() {
    size_t done = 0;
    while (done < used_) {
        ssize_t n = ::write(fd_, buffer_.get() + done, used_ - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        done += static_cast<size_t>(n);
    }
    used_ = 0;
    return !failed_;
}

void OutputFile::Write(const char* data, size_t size) {
    if (fd_ < 0) return;
    if (used_ + size > kBufferSize) {
        Flush();
        if (size > kBufferSize) {
            // Larger than the whole buffer: straight through.
            size_t done = 0;
            while (done < size) {
                ssize_t n = ::write(fd_, data + done, size - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    failed_ = true;
                    return;
                }
                done += static_cast<size_t>(n);
            }
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
}

bool OutputFile::Close() {
    if (fd_ < 0) return !failed_;
    Flush();
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    return !failed_;
}

bool OutputFile::Commit() {
    bool ok = Close();
    if (!ok) return false;
    // The first file is the one the "do not overwrite" rule looks at: it is
    // renamed last.
    for (size_t i = created_.size(); i-- > 0;) {
        const std::string temporary = created_[i] + kPartSuffix;
        if (::rename(temporary.c_str(), created_[i].c_str()) != 0) {
            // The rest (the first file among them) keep their temporary names.
            ok = false;
            break;
        }
    }
    created_.clear();
    return ok;
}

void OutputFile::Discard() {
    Close();
    for (const std::string& path : created_) ::unlink((path + kPartSuffix).c_str());
    created_.clear();
    failed_ = false;
}

void OutputFile::KeepTemporary() {
    Close();
    created_.clear();
    failed_ = false;
}

std::string OutputPath(const std::string& source, const std::string& replacement) {
    size_t slash = source.find_last_of('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (source.size() >= nameStart + 4 && strcasecmp(source.c_str() + source.size() - 4, ".dat") == 0)
        return source.substr(0, source.size() - 4) + replacement;
    return source + replacement;
}

std::string CsvOutputPath(const std::string& source, int fileNumber) {
    return OutputPath(source, "-" + std::to_string(fileNumber) + ".csv");
}

std::string ErrorLogPath(const std::string& source) { return OutputPath(source, "_err.log"); }

}  // namespace lumora
