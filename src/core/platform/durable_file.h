#pragma once
// Files that must survive a crash or a power cut the moment they carry their
// final name (conversion outputs, high-speed tables, the settings file), and
// the advisory lock that keeps two conversions out of one folder.
#include <string>

namespace lumora {

// Flushes what was written through fd to the disk. 0, or the errno of the
// failure. A descriptor that cannot be synced at all (a pipe, some special
// files: EINVAL) counts as synced, since there is nothing to keep.
int SyncFile(int fd);

// An advisory lock on a folder, taken with flock() on a descriptor of the
// folder itself: no lock file is left behind, and the kernel releases the
// lock when its holder ends, however it ends. Every holder opens the folder
// anew, so two holders in one process exclude each other as two processes do.
class FolderLock {
public:
    enum Result { kLocked, kBusy, kFailed };

    FolderLock() = default;
    ~FolderLock() { Release(); }
    FolderLock(FolderLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock without waiting. kBusy when another holder has it;
    // kFailed (errno set) when the folder cannot be opened.
    Result Acquire(const std::string& folder);
    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

}  // namespace lumora
