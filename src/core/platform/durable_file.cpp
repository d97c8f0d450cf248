#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace lumora {

int SyncFile(int fd) {
    while (::fsync(fd) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL ? 0 : errno;
    }
    return 0;
}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FolderLock::Result FolderLock::Acquire(const std::string& folder) {
    Release();
    // Close-on-exec: a script started while the lock is held must not keep
    // it after this program has ended.
    int fd = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return kFailed;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        errno = error;
        return error == EWOULDBLOCK ? kBusy : kFailed;
    }
    fd_ = fd;
    return kLocked;
}

void FolderLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the only descriptor of this open releases the lock
    fd_ = -1;
}

}  // namespace lumora
