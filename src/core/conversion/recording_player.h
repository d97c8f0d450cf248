#pragma once
// Plays recordings back: every record of a ".dat" file becomes the datagram
// the instrument sent (the trailer the recorder appended is taken off again,
// a text line loses the SysTime wrapping the recorder put around it), sent
// over UDP at the pace the recorded times give, or at a fixed rate.
// Files are read as formats/recording_reader.h reads them: every file is
// checked to be a recording before the first datagram goes out, and a file
// that changes while it plays ends the replay.
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

#include "formats/recording_reader.h"

namespace lumora {

struct ReplayOptions {
    std::string to = "127.0.0.1";  // a host name or an IPv4 address, resolved once at Start
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
    // The lowest fixed rate, in frames per second (one frame in 11.6 days).
    static constexpr double kLowestRate = 1e-6;

    RecordingPlayer() = default;
    ~RecordingPlayer();
    RecordingPlayer(const RecordingPlayer&) = delete;
    RecordingPlayer& operator=(const RecordingPlayer&) = delete;

    // Checks that every file exists and starts like a recording and that the
    // destination resolves, then plays the files in order on a thread of its
    // own. That thread first reads every file through (Checking()) and sends
    // nothing when one is no recording. False with a reason in error when
    // the replay cannot start.
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
    // Why the replay ended early (a file that is no recording or changed
    // while it played, a datagram that could not be sent); empty otherwise.
    std::string Error() const;
    // The files are still being checked; nothing has been sent yet.
    bool Checking() const { return checking_.load(); }
    std::string CurrentFile() const;

private:
    void Run(std::vector<std::string> files, ReplayOptions options);
    void Play(const std::vector<std::string>& files, const ReplayOptions& options);
    void EndWith(const std::string& error);
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
    std::atomic<bool> checking_{false};
    std::string error_;  // guarded by mutex_
};

}  // namespace lumora
