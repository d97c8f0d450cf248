#pragma once
// Headless high-rate capture of the instrument's UDP stream into an "LMRA"
// record file, the same format the desktop recorder writes: the 5-byte header
// "LMRA" 0x65, then one record per frame (the frame as received, followed by a
// 52-byte trailer with time and datagram count unless the frame brings its own;
// the trailer and its test are the recorder's own, see raw_recorder.h).
//
// Built for rate rather than for the window: datagrams are taken in batches
// (recvmmsg), the socket's receive buffer is made as large as the system
// grants, records collect in large memory buffers that a writer thread hands
// to the file, so the receive loop never waits for the disk unless every
// buffer is full.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/udp_socket.h"

namespace lumora {

class Clock;

struct HighSpeedCaptureOptions {
    uint16_t port = 8190;                 // 0 lets the system choose (see Port())
    std::string bindAddress = "0.0.0.0";
    int64_t maxFrames = 0;                // stop after this many frames; 0 or less: no limit
    double maxSeconds = 0;                // stop after this many seconds; 0 or less: no limit
    double flushIntervalSeconds = 10;     // buffered records reach the file at least this often
    // The record file. An existing file is never replaced: when the name is
    // taken, the first free one of name_2.dat, name_3.dat, ... is used (Path()).
    std::string path;
    size_t writeBufferBytes = 8u << 20;   // size of each of the write buffers
    int writeBuffers = 4;
    int batch = 64;                       // datagrams per receive call
    int requestedReceiveBuffer = 128 << 20;
    const std::atomic<bool>* externalStop = nullptr;  // e.g. set by a signal handler
    // Time source of the time limit and the flush interval; the monotonic
    // clock when null. Record stamps always take the computer's clock.
    const Clock* clock = nullptr;
};

struct HighSpeedCaptureStats {
    uint64_t frames = 0;            // records that reached the file
    uint64_t framesLost = 0;        // records taken but not written (a write failed)
    uint64_t datagrams = 0;         // datagrams received
    uint64_t bytesReceived = 0;
    uint64_t bytesWritten = 0;      // including the file header
    uint64_t kernelDrops = 0;       // datagrams the system dropped for lack of buffer space
    uint64_t skippedDatagrams = 0;  // datagrams that did not start with the frame marker
    uint64_t truncatedDatagrams = 0;
    uint64_t writerStalls = 0;      // times the receive loop waited for a free write buffer
    double seconds = 0;
    bool writeFailed = false;
    std::string error;              // empty when the capture ended normally
};

class HighSpeedCapture {
public:
    explicit HighSpeedCapture(HighSpeedCaptureOptions options);
    ~HighSpeedCapture();
    HighSpeedCapture(const HighSpeedCapture&) = delete;
    HighSpeedCapture& operator=(const HighSpeedCapture&) = delete;

    // Binds the socket and creates the file (with its header). False with a
    // reason in *error when either fails; nothing is left behind then.
    bool Open(std::string* error);
    uint16_t Port() const { return port_; }
    // The file Open created.
    const std::string& Path() const { return path_; }
    int ReceiveBufferBytes() const { return receiveBuffer_; }

    // Receives until the frame or time limit, Stop() or the external stop
    // flag; flushes and closes the file before returning.
    HighSpeedCaptureStats Run();
    // Any thread.
    void Stop() { stop_.store(true, std::memory_order_relaxed); }
    // True once Run() has taken its start time (any thread).
    bool Started() const { return started_.load(std::memory_order_acquire); }

private:
    HighSpeedCaptureOptions options_;
    UdpSocket socket_;
    int fd_ = -1;  // the record file
    std::string path_;
    uint16_t port_ = 0;
    int receiveBuffer_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
};

// Splits a datagram into the frames it holds: each frame starts with the
// marker 0xFF 0xFF and ends where the next marker starts. Calls
// sink(begin, length) for each frame longer than the marker alone and returns
// the number of frames; bytes before the first marker are not a frame.
template <typename Sink>
int ForEachFrame(const uint8_t* data, size_t length, Sink&& sink);

// The file named by the scripts' FILE argument: the words of the name joined
// again by single blanks (an argument line split at blanks gives a name with
// blanks as several words), backslashes taken as path separators, and ext
// (".dat", ".csv") appended unless the name already ends with it.
std::string HighSpeedDataPath(const std::string& name, const std::string& ext);
// Creates the missing directories above path; false with a reason on failure.
bool MakeParentDirectories(const std::string& path, std::string* error);

// Drop counter of the UDP socket with the given inode, from the system's
// socket table (/proc/net/udp); -1 when it cannot be read.
long long ReadUdpDropCounter(unsigned long inode);

template <typename Sink>
int ForEachFrame(const uint8_t* data, size_t length, Sink&& sink) {
    if (length < 2 || data[0] != 0xFF || data[1] != 0xFF) return 0;
    int frames = 0;
    size_t start = 0;
    size_t i = 2;
    // memchr finds the candidates; the values of a frame seldom hold 0xFF.
    while (i + 1 < length) {
        const void* hit = std::memchr(data + i, 0xFF, length - 1 - i);
        if (!hit) break;
        i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (data[i + 1] != 0xFF) {
            i += 2;  // data[i + 1] is no 0xFF, so no marker starts there either
            continue;
        }
        if (i - start > 2) {
            sink(data + start, i - start);
            ++frames;
        }
        start = i;
        i += 2;
    }
    if (length - start > 2) {
        sink(data + start, length - start);
        ++frames;
    }
    return frames;
}

}  // namespace lumora
