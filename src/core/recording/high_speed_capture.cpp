#include "recording/high_speed_capture.h"

#include "platform/clock.h"
#include "recording/fresh_file.h"
#include "formats/lmra_records.h"
#include "recording/raw_recorder.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace lumora {

namespace {

constexpr size_t kHeaderBytes = kLmraHeaderSize;
// Room for the longest frame the instrument sends (the desktop program takes
// datagrams of up to 10240 bytes); a longer datagram is counted as too long
// and not recorded. Small slots keep the receive batch in the caches.
constexpr size_t kSlotBytes = 16384;

double MonotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Where the extension of the file name in path starts (its size when the
// name has none).
size_t ExtensionStart(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path.size();
    return dot;
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Full buffers go to the file on a thread of their own, so that a slow disk
// holds up the receive loop only once every buffer is waiting to be written.
class BufferWriter {
public:
    BufferWriter(int fd, size_t bufferBytes, int buffers) : fd_(fd), bufferBytes_(bufferBytes) {
        for (int i = 0; i < buffers; ++i) {
            // Not cleared: pages are touched only as records fill them.
            storage_.push_back(std::unique_ptr<uint8_t[]>(new uint8_t[bufferBytes]));
            free_.push_back(storage_.back().get());
        }
        thread_ = std::thread([this] { Loop(); });
    }
    ~BufferWriter() { Finish(); }

    size_t Capacity() const { return bufferBytes_; }

    // A free buffer; waits (and counts the wait) when all are queued.
    uint8_t* Acquire(uint64_t* stalls) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (free_.empty()) {
            ++*stalls;
            freed_.wait(lock, [this] { return !free_.empty(); });
        }
        uint8_t* b = free_.front();
        free_.pop_front();
        return b;
    }
    // Queues length bytes of buffer, holding `records` whole records, for the
    // file; sync asks for the data to reach the disk as well.
    void Submit(uint8_t* buffer, size_t length, uint64_t records, bool sync) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            full_.push_back(Job{buffer, length, records, sync});
        }
        queued_.notify_one();
    }
    void Finish() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        queued_.notify_one();
        thread_.join();
    }
    bool Failed() const { return failed_.load(std::memory_order_relaxed); }
    uint64_t Written() const { return written_.load(std::memory_order_relaxed); }
    uint64_t RecordsWritten() const { return recordsWritten_.load(std::memory_order_relaxed); }
    int Errno() const { return errno_.load(); }

private:
    struct Job {
        uint8_t* buffer;
        size_t length;
        uint64_t records;
        bool sync;
    };

    void Loop() {
        for (;;) {
            Job job{};
            {
                std::unique_lock<std::mutex> lock(mutex_);
                queued_.wait(lock, [this] { return done_ || !full_.empty(); });
                if (full_.empty()) return;
                job = full_.front();
                full_.pop_front();
            }
            // After a failure the data is dropped but buffers keep circulating,
            // so the receive loop is never left waiting.
            if (!failed_.load(std::memory_order_relaxed) && job.length > 0) {
                if (WriteAll(fd_, job.buffer, job.length)) {
                    written_.fetch_add(job.length, std::memory_order_relaxed);
                    recordsWritten_.fetch_add(job.records, std::memory_order_relaxed);
                    if (job.sync) ::fdatasync(fd_);
                } else {
                    errno_ = errno;
                    failed_.store(true, std::memory_order_relaxed);
                    // A full disk takes part of a buffer: cut the file back to
                    // the records written before, so that it ends on a whole
                    // record and the counts tell what it holds.
                    (void)!::ftruncate(fd_, static_cast<off_t>(kHeaderBytes + written_.load()));
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                free_.push_back(job.buffer);
            }
            freed_.notify_one();
        }
    }

    int fd_;
    size_t bufferBytes_;
    std::vector<std::unique_ptr<uint8_t[]>> storage_;
    std::deque<uint8_t*> free_;
    std::deque<Job> full_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable freed_;
    bool done_ = false;
    std::atomic<bool> failed_{false};
    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> recordsWritten_{0};
    std::atomic<int> errno_{0};
    std::thread thread_;
};

}  // namespace

std::string HighSpeedDataPath(const std::string& name, const std::string& ext) {
    std::string path = name;
    for (char& c : path)
        if (c == '\\') c = '/';
    if (path.size() < ext.size() || path.compare(path.size() - ext.size(), ext.size(), ext) != 0) path += ext;
    return path;
}

bool MakeParentDirectories(const std::string& path, std::string* error) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return true;
    std::error_code ec;
    std::filesystem::create_directories(path.substr(0, slash), ec);
    if (ec) {
        if (error) *error = "cannot create the folder " + path.substr(0, slash) + ": " + ec.message();
        return false;
    }
    return true;
}

long long ReadUdpDropCounter(unsigned long inode) {
    FILE* f = std::fopen("/proc/net/udp", "r");
    if (!f) return -1;
    char line[512];
    long long drops = -1;
    bool header = true;
    while (std::fgets(line, sizeof line, f)) {
        if (header) {
            header = false;
            continue;
        }
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
        unsigned long ino = 0;
        unsigned long long d = 0;
        int consumed = 0;
        if (std::sscanf(line, " %*s %*s %*s %*s %*s %*s %*s %*s %*s %lu %*s %*s %llu%n", &ino, &d, &consumed) >= 2 &&
            ino == inode) {
            drops = static_cast<long long>(d);
            break;
        }
    }
    std::fclose(f);
    return drops;
}

HighSpeedCapture::HighSpeedCapture(HighSpeedCaptureOptions options) : options_(std::move(options)) {
    if (options_.batch < 1) options_.batch = 1;
    if (options_.batch > 1024) options_.batch = 1024;
    if (options_.writeBuffers < 2) options_.writeBuffers = 2;
    // A buffer must hold at least one record of the largest datagram.
    if (options_.writeBufferBytes < 2 * (kSlotBytes + kTrailerSize))
        options_.writeBufferBytes = 2 * (kSlotBytes + kTrailerSize);
}

HighSpeedCapture::~HighSpeedCapture() {
    if (fd_ >= 0) ::close(fd_);
}

bool HighSpeedCapture::Open(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        socket_.Close();
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
            ::unlink(path_.c_str());
        }
        return false;
    };
    if (!socket_.Create()) return fail(std::string("cannot create the socket: ") + std::strerror(errno));
    if (!socket_.Bind(options_.port, options_.bindAddress))
        return fail("cannot bind UDP port " + std::to_string(options_.port) + ": " + std::strerror(errno));
    port_ = socket_.LocalPort();
    int s = socket_.Handle();
    // The system cuts the request down to what it allows (more for root).
    receiveBuffer_ = socket_.SetReceiveBuffer(options_.requestedReceiveBuffer);
    int on = 1;
    // Each datagram then carries the socket's drop count (when it is not 0).
    ::setsockopt(s, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    // Short timeout so that the time limit and stop requests are noticed
    // while nothing arrives.
    socket_.SetReceiveTimeout(100);

    // The extension stays last: "run.dat" is followed by "run_2.dat".
    const size_t dot = ExtensionStart(options_.path);
    fd_ = CreateFreshFile(options_.path.substr(0, dot), options_.path.substr(dot), 1, &path_, nullptr);
    if (fd_ < 0) return fail("cannot create " + path_ + ": " + std::strerror(errno));
    if (!WriteAll(fd_, kLmraFileHeader, sizeof kLmraFileHeader))
        return fail("cannot write " + path_ + ": " + std::strerror(errno));
    return true;
}

HighSpeedCaptureStats HighSpeedCapture::Run() {
    HighSpeedCaptureStats st;
    if (fd_ < 0 || !socket_.IsOpen()) {
        st.error = "capture not open";
        return st;
    }
    const int batch = options_.batch;
    const int s = socket_.Handle();
    constexpr size_t kControlBytes = CMSG_SPACE(sizeof(uint32_t)) + 32;

    std::unique_ptr<uint8_t[]> slots(new uint8_t[static_cast<size_t>(batch) * kSlotBytes]);
    std::vector<uint8_t> control(static_cast<size_t>(batch) * kControlBytes);
    std::vector<iovec> iov(batch);
    std::vector<mmsghdr> msgs(batch);
    for (int i = 0; i < batch; ++i) {
        iov[i].iov_base = slots.get() + static_cast<size_t>(i) * kSlotBytes;
        iov[i].iov_len = kSlotBytes;
    }

    BufferWriter writer(fd_, options_.writeBufferBytes, options_.writeBuffers);
    const size_t capacity = writer.Capacity();
    uint8_t* cur = writer.Acquire(&st.writerStalls);
    size_t used = 0;
    uint64_t usedRecords = 0;  // whole records in cur
    uint64_t taken = 0;        // records put into buffers

    const Clock* clock = options_.clock;
    auto nowSeconds = [clock] { return clock ? static_cast<double>(clock->NowMs()) / 1000.0 : MonotonicSeconds(); };
    const double start = nowSeconds();
    // Published after the start time is taken: whoever waits for it and then
    // moves the clock moves it past the start.
    started_.store(true, std::memory_order_release);
    const double deadline = options_.maxSeconds > 0 ? start + options_.maxSeconds : 0;
    const double interval = options_.flushIntervalSeconds > 0 ? options_.flushIntervalSeconds : 0;
    double lastFlush = start;
    const int64_t maxFrames = options_.maxFrames;
    uint32_t datagramNumber = 0;
    uint64_t cmsgDrops = 0;
    bool limitReached = false;

    auto stopRequested = [&] {
        return stop_.load(std::memory_order_relaxed) ||
               (options_.externalStop && options_.externalStop->load(std::memory_order_relaxed));
    };

    while (!limitReached && !stopRequested() && !writer.Failed()) {
        for (int i = 0; i < batch; ++i) {
            msghdr& h = msgs[i].msg_hdr;
            h.msg_name = nullptr;
            h.msg_namelen = 0;
            h.msg_iov = &iov[i];
            h.msg_iovlen = 1;
            h.msg_control = control.data() + static_cast<size_t>(i) * kControlBytes;
            h.msg_controllen = kControlBytes;
            h.msg_flags = 0;
            msgs[i].msg_len = 0;
        }
        int got = ::recvmmsg(s, msgs.data(), static_cast<unsigned>(batch), MSG_WAITFORONE, nullptr);
        double now = nowSeconds();
        if (got > 0) {
            // Records are stamped with the time they are taken, as the
            // recorder does: one clock reading per batch.
            timespec wall{};
            clock_gettime(CLOCK_REALTIME, &wall);
            const int64_t stampMs = static_cast<int64_t>(wall.tv_sec) * 1000 + wall.tv_nsec / 1000000;
            for (int i = 0; i < got && !limitReached; ++i) {
                const msghdr& h = msgs[i].msg_hdr;
                const size_t len = msgs[i].msg_len;
                ++st.datagrams;
                ++datagramNumber;
                st.bytesReceived += len;
                for (cmsghdr* c = CMSG_FIRSTHDR(&h); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&h), c)) {
                    if (c->cmsg_level != SOL_SOCKET) continue;
                    if (c->cmsg_type == SO_RXQ_OVFL && c->cmsg_len >= CMSG_LEN(sizeof(uint32_t))) {
                        uint32_t d;
                        std::memcpy(&d, CMSG_DATA(c), sizeof d);
                        if (d > cmsgDrops) cmsgDrops = d;
                    }
                }
                if (h.msg_flags & MSG_TRUNC) {
                    // Never record part of a datagram as if it were whole.
                    ++st.truncatedDatagrams;
                    continue;
                }
                const uint8_t* data = static_cast<const uint8_t*>(iov[i].iov_base);
                int frames = ForEachFrame(data, len, [&](const uint8_t* f, size_t flen) {
                    if (limitReached) return;
                    const bool own = FrameHasOwnTrailer(f, flen);
                    const size_t need = flen + (own ? 0 : kTrailerSize);
                    if (used + need > capacity) {
                        writer.Submit(cur, used, usedRecords, false);
                        cur = writer.Acquire(&st.writerStalls);
                        used = 0;
                        usedRecords = 0;
                    }
                    std::memcpy(cur + used, f, flen);
                    used += flen;
                    if (!own) {
                        BuildRecorderTrailer(cur + used, stampMs, datagramNumber);
                        used += kTrailerSize;
                    }
                    ++usedRecords;
                    ++taken;
                    if (maxFrames > 0 && static_cast<int64_t>(taken) >= maxFrames) limitReached = true;
                });
                if (frames == 0) ++st.skippedDatagrams;
            }
        } else if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            st.error = std::string("receive failed: ") + std::strerror(errno);
            break;
        }
        if (deadline > 0 && now >= deadline) limitReached = true;
        if (used > 0 && (interval == 0 || now - lastFlush >= interval)) {
            writer.Submit(cur, used, usedRecords, interval > 0);
            cur = writer.Acquire(&st.writerStalls);
            used = 0;
            usedRecords = 0;
            lastFlush = now;
        }
    }
    if (used > 0) writer.Submit(cur, used, usedRecords, false);
    writer.Finish();
    st.seconds = nowSeconds() - start;
    st.bytesWritten = kHeaderBytes + writer.Written();
    st.frames = writer.RecordsWritten();
    st.framesLost = taken - st.frames;
    if (writer.Failed()) {
        st.writeFailed = true;
        st.error = "cannot write " + path_ + ": " + std::strerror(writer.Errno());
    }
    if (::fsync(fd_) != 0 && st.error.empty() && errno != EINVAL) {
        st.writeFailed = true;
        st.error = "cannot flush " + path_ + ": " + std::strerror(errno);
    }
    if (::close(fd_) != 0 && st.error.empty()) {
        st.writeFailed = true;
        st.error = "cannot close " + path_ + ": " + std::strerror(errno);
    }
    fd_ = -1;

    // The counter carried by the last datagram misses drops after it; the
    // socket table has the final figure.
    struct stat sb{};
    long long tableDrops = -1;
    if (::fstat(s, &sb) == 0) tableDrops = ReadUdpDropCounter(static_cast<unsigned long>(sb.st_ino));
    st.kernelDrops = cmsgDrops;
    if (tableDrops > static_cast<long long>(st.kernelDrops)) st.kernelDrops = static_cast<uint64_t>(tableDrops);
    socket_.Close();
    return st;
}

}  // namespace lumora
