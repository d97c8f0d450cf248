#include "conversion/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/durable_file.h"

namespace lumora {
namespace {
constexpr size_t kBufferSize = 1 << 20;
}

OutputFile::~OutputFile() { CloseUnsynced(); }

void OutputFile::Failed(const char* what, const std::string& path, int error) {
    if (error_.empty()) error_ = std::string(what) + " " + path + ": " + std::strerror(error);
    failed_ = true;
}

bool OutputFile::Create(const std::string& finalPath) {
    // A failure of an earlier file of the same source stays remembered.
    Close();
    const std::string temporary = finalPath + kPartSuffix;
    fd_ = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        Failed("cannot create", temporary, errno);
        return false;
    }
    openPath_ = temporary;
    created_.push_back(finalPath);
    if (!buffer_) buffer_.reset(new char[kBufferSize]);
    used_ = 0;
    return true;
}

// Writes all of data straight to the file; false (and the reason kept) when
// any of it could not be written.
bool OutputFile::WriteOut(const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that takes nothing without an error: the device is full.
            Failed("cannot write", openPath_, n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool OutputFile::Flush() {
    if (used_ > 0) WriteOut(buffer_.get(), used_);
    used_ = 0;
    return !failed_;
}

void OutputFile::Write(const char* data, size_t size) {
    if (fd_ < 0) return;
    if (used_ + size > kBufferSize) {
        Flush();
        // Larger than the whole buffer: straight through.
        if (size > kBufferSize) {
            WriteOut(data, size);
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
}

bool OutputFile::Close() {
    if (fd_ < 0) return !failed_;
    Flush();
    // The file reaches the disk before it can take its final name.
    if (!failed_) {
        if (const int e = SyncFile(fd_); e != 0) Failed("cannot write", openPath_, e);
    }
    if (::close(fd_) != 0) Failed("cannot write", openPath_, errno);
    fd_ = -1;
    return !failed_;
}

void OutputFile::CloseUnsynced() {
    if (fd_ < 0) return;
    Flush();
    ::close(fd_);
    fd_ = -1;
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
            Failed("cannot rename", temporary, errno);
            ok = false;
            break;
        }
    }
    created_.clear();
    return ok;
}

void OutputFile::Discard() {
    CloseUnsynced();
    for (const std::string& path : created_) ::unlink((path + kPartSuffix).c_str());
    created_.clear();
    failed_ = false;
    error_.clear();
}

void OutputFile::KeepTemporary() {
    CloseUnsynced();
    created_.clear();
    failed_ = false;
    error_.clear();
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
