#pragma once
// Plays recordings back: every record of a ".dat" file becomes the datagram
// the instrument sent (the trailer the recorder appended is taken off again,
// a text line loses the SysTime wrapping the recorder put around it), sent
// over UDP at the pace the recorded times give, or at a fixed rate.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conversion/recorded_file_reader.h"

namespace lumora {

struct RecordedDatagram {
    const uint8_t* data = nullptr;  // valid until the next call of Next
    size_t length = 0;
    bool haveTime = false;
    double time = 0;  // seconds since 1970, as recorded
};

// Reads one recording (any of the three kinds the conversion reads).
class RecordingReader {
public:
    RecordingReader() = default;
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // False with a reason in error when the file cannot be read.
    bool Open(const std::string& path, std::string& error);
    // The next datagram; false at the end of the file.
    bool Next(RecordedDatagram& out);
    uint64_t Offset() const { return offset_; }
    uint64_t Size() const { return size_; }
    SourceKind Kind() const { return kind_; }

private:
    bool NextBinary(RecordedDatagram& out);
    bool NextHeaderless(RecordedDatagram& out);
    bool NextLine(RecordedDatagram& out);

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t offset_ = 0;
    SourceKind kind_ = SourceKind::LmraBinary;
};

struct ReplayOptions {
    std::string to = "127.0.0.1";
    uint16_t port = 7008;
    double speed = 1.0;  // recorded time divided by this
    double rate = 0;     // frames per second; when above 0 the recorded times are not used
};

class RecordingPlayer {
public:
    // The longest pause between two datagrams, however far apart the
    // recorded times are (a recording may span a night between files).
    static constexpr double kLongestGapSeconds = 5.0;
    static constexpr double kSlowest = 0.1;
    static constexpr double kFastest = 100.0;

    RecordingPlayer() = default;
    ~RecordingPlayer();
    RecordingPlayer(const RecordingPlayer&) = delete;
    RecordingPlayer& operator=(const RecordingPlayer&) = delete;

    // Checks that every file can be read and starts playing them in order on
    // a thread of its own. False with a reason in error otherwise.
    bool Start(const std::vector<std::string>& files, const ReplayOptions& options, std::string& error);
    void SetPaused(bool paused);
    bool Paused() const { return paused_.load(); }
    // Speed is kept within kSlowest..kFastest.
    void SetSpeed(double speed);
    double Speed() const { return speed_.load(); }
    // Ends playing at once; returns when the thread has ended.
    void Stop();
    // Waits until everything has been sent (or Stop).
    void Wait();

    bool Playing() const { return playing_.load(); }
    // Fraction of the bytes of all files read so far, 0..1.
    double Progress() const;
    uint64_t Sent() const { return sent_.load(); }
    uint64_t SendFailures() const { return sendFailures_.load(); }
    std::string CurrentFile() const;

private:
    void Run(std::vector<std::string> files, ReplayOptions options);
    // Waits until due or until paused, stopped or the speed changed; false
    // when it returned early.
    bool WaitUntil(std::chrono::steady_clock::time_point due);

    std::thread thread_;
    std::atomic<bool> playing_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::atomic<double> speed_{1.0};
    std::atomic<bool> paceChanged_{false};
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string currentFile_;
    std::atomic<uint64_t> totalBytes_{0};
    std::atomic<uint64_t> doneBytes_{0};
    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> sendFailures_{0};
};

}  // namespace lumora
