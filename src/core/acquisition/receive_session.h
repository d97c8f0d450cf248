#pragma once
// The data port: one UDP socket and one worker thread that reads datagrams,
// cuts them into binary frames or takes them whole as JSON text, records them
// while "Enable" is ticked and decodes them into the frame ring.
//
// Open, Close and Stop run on the UI thread. The worker never waits for it:
// what it shows goes through WindowPort::Post, and what it reads of the
// window (check boxes, "INR (ms)") are atomics set by the window's handlers.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition/acquisition_state.h"
#include "acquisition/frame_assembler.h"
#include "acquisition/frame_sink.h"
#include "acquisition/record_sink.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace lumora {

class SettingsStore;
class WindowPort;

// Leading decimal digits of text after an optional sign, as the window's
// number edits are read; no digits gives 0; clamped to the int range.
int LeadingInt(const std::string& text);

// Datagrams per second over windows of at least 10 s (m_packetRate).
class RateWindow {
public:
    static constexpr int64_t kWindowMs = 10000;
    void Clear() {
        count_ = 0;
        startMs_ = 0;
    }
    // Counts one datagram received at nowMs (milliseconds since 1970). When a
    // window of at least 10 s has passed, stores count / seconds (truncated)
    // in rate, starts a new window and returns true.
    bool Count(int64_t nowMs, int& rate);

private:
    uint32_t count_ = 0;
    int64_t startMs_ = 0;  // 0: no window has started
};

class ReceiveSession {
public:
    // The largest UDP payload over IPv4: every datagram is received whole,
    // text frames of 320 full-precision readings included.
    static constexpr size_t kReceiveBufferSize = 65507;
    // Each buffer is followed by room the JSON parser may read past the text,
    // so that a text datagram is parsed where it was received.
    static constexpr size_t kReceivePadding = 64;
    static constexpr size_t kReceiveStride = kReceiveBufferSize + kReceivePadding;
    // Datagrams already waiting are taken up to this many per system call,
    // which lets the worker catch up quickly after it was held up.
    static constexpr int kReceiveBatch = 32;
    // Asked of the system so that a short stall of the worker loses nothing.
    static constexpr int kSocketBufferRequest = 16 * 1024 * 1024;

    ReceiveSession(AcquisitionState& state, RecordSink& recorder, SettingsStore& settings, WindowPort& window,
                   const Clock& clock = SystemClock());
    ~ReceiveSession();
    ReceiveSession(const ReceiveSession&) = delete;
    ReceiveSession& operator=(const ReceiveSession&) = delete;

    // ---- values the window's handlers set (any thread)
    // "RCV Port" text (m_portText), read by Open.
    void SetPortText(const std::string& text);
    std::string PortText() const;
    // "INR (ms)" (m_intervalText): sleep after each datagram; negative counts as
    // 0, more than kMaxIntervalMs as kMaxIntervalMs.
    void SetIntervalText(const std::string& text);
    int IntervalMs() const { return intervalMs_.load(std::memory_order_relaxed); }
    // "Enable" (1011): hand frames and texts to the recorder.
    void SetRecordEnabled(bool on) { recordEnabled_.store(on, std::memory_order_relaxed); }
    // m_stringFormat: datagrams are JSON text.
    void SetStringFormat(bool on) { stringFormat_.store(on, std::memory_order_relaxed); }
    // Run by each worker when it starts, before the first datagram (the
    // window resets the conversion's header state there).
    void SetWorkerStartHook(std::function<void()> hook);
    // Decoded wavelength frames also go to sink (null: to nobody). May be
    // changed while the worker runs; the sink must outlive its use here.
    void SetFrameSink(FrameSink* sink) { frameSink_.store(sink, std::memory_order_release); }
    // Run on the UI thread after the worker has ended with an error and the
    // message box has been shown: the window closes the port its own way.
    // Without it the session only shows the message.
    void SetWorkerFailedHook(std::function<void()> hook);
    // Datagrams longer than bytes (at most kReceiveBufferSize) are cut short
    // by the system; from the next Open on. Lets tests see a cut datagram,
    // which over IPv4 cannot otherwise happen.
    void LimitDatagramSize(size_t bytes);

    // ---- Open / Close
    // The Open path. prepareViews runs after the port is bound and before the
    // worker starts (trace series, realtime canvas and timers). On failure a
    // message box (214 or 215) is shown and false returned.
    bool Open(const std::function<void()>& prepareViews = nullptr);
    // The Close path: button caption "Open", then Stop(). The caller releases
    // the views afterwards.
    void Close();
    // Ends the worker and closes the recording: the socket is shut, the worker
    // joined and only then the file flushed and closed, so nothing is recorded
    // after this returns. Used by Close, Reset and the window's close.
    void Stop();

    bool IsOpen() const { return portOpen_.load(std::memory_order_acquire); }   // m_portOpen
    bool StopRequested() const { return stop_.load(std::memory_order_acquire); }  // g_stopReceive
    uint16_t BoundPort() const { return boundPort_.load(std::memory_order_relaxed); }
    // Receive buffer size the system granted at the last Open.
    int GrantedSocketBuffer() const { return grantedBuffer_.load(std::memory_order_relaxed); }

    // ---- counters (read from any thread)
    int PacketRate() const { return packetRate_.load(std::memory_order_relaxed); }        // m_packetRate
    // System > Reset shows the rate from zero again.
    void ResetPacketRate() { packetRate_.store(0, std::memory_order_relaxed); }
    uint32_t DatagramCount() const { return datagramCount_.load(std::memory_order_acquire); }  // m_datagramCount
    void ResetDatagramCount() { datagramCount_.store(0, std::memory_order_relaxed); }
    // Only for tests of long runs: the count is taken to wrap as an unsigned 32-bit value.
    void PresetDatagramCount(uint32_t count) { datagramCount_.store(count, std::memory_order_relaxed); }
    // Datagrams with nothing to record (empty, or only blanks and line breaks
    // in text mode) and datagrams the system cut short (longer than the
    // receive buffer), since the session was made. Both count as datagrams.
    uint64_t IgnoredDatagrams() const { return ignored_.load(std::memory_order_relaxed); }
    uint64_t CutShortDatagrams() const { return cutShort_.load(std::memory_order_relaxed); }
    // The last worker ended with an error (an exception) instead of a stop;
    // its text. Cleared by Open.
    bool WorkerFailed() const { return workerFailed_.load(std::memory_order_acquire); }
    std::string WorkerError() const;
    std::string LastSourceIp() const;  // m_lastSourceIp
    void ClearLastSourceIp();
    // CPU time the last worker used from its start to its end (0 while running).
    int64_t LastWorkerCpuNs() const { return workerCpuNs_.load(std::memory_order_relaxed); }

    // The worker (ReceiveThreadProc).
    void ReceiveThreadProc();

private:
    static void OnFrame(void* context, const uint8_t* frame, size_t length);
    void RunWorker();
    void ReportWorkerFailure(const char* what);
    uint32_t CountDatagram();
    void HandleDatagram(uint8_t* data, size_t length, uint32_t sourceAddr);
    void NoteSource(uint32_t addr);
    void ShowSourceText(const char* text, size_t length);
    void SleepInterval(int ms);
    void ResetProgressBars();
    void PassNewFramesToSink(uint32_t sourceAddr);

    AcquisitionState& state_;
    RecordSink& recorder_;
    SettingsStore& settings_;
    WindowPort& window_;
    const Clock& clock_;

    UdpSocket socket_;
    std::thread worker_;
    std::atomic<bool> portOpen_{false};
    std::atomic<bool> stop_{false};
    std::mutex sleepMutex_;
    std::condition_variable sleepWake_;
    std::atomic<uint16_t> boundPort_{0};
    std::atomic<int> grantedBuffer_{0};

    mutable std::mutex textMutex_;  // guards portText_, lastSourceIp_, the hooks, workerError_
    std::string portText_ = "7008";
    char lastSourceIp_[30] = {};
    std::function<void()> startHook_;
    std::function<void()> failedHook_;
    std::string workerError_;

    std::atomic<int> intervalMs_{0};
    std::atomic<bool> recordEnabled_{false};
    std::atomic<bool> stringFormat_{false};

    std::atomic<int> packetRate_{0};
    std::atomic<uint32_t> datagramCount_{0};
    std::atomic<uint64_t> ignored_{0};
    std::atomic<uint64_t> cutShort_{0};
    std::atomic<bool> workerFailed_{false};
    std::atomic<size_t> datagramLimit_{kReceiveBufferSize};
    // Tasks posted to the UI thread look at this before touching the session.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    std::atomic<int64_t> workerCpuNs_{0};
    std::atomic<FrameSink*> frameSink_{nullptr};

    // Worker state, fresh for every run.
    std::unique_ptr<uint8_t[]> receiveBuffer_;  // kReceiveBatch buffers, kReceiveStride apart
    uint8_t* batchBuffers_[kReceiveBatch];
    UdpSocket::Datagram batch_[kReceiveBatch];
    FrameAssembler assembler_;
    RateWindow rate_;
    uint32_t lastAddr_ = 0;
    bool haveAddr_ = false;
    size_t receiveCapacity_ = kReceiveBufferSize;
    int64_t sinkDecoded_ = -1;  // the ring's framesDecoded already handed to the sink

    // The newest source text waiting to be shown; one post at a time.
    struct SourceTextBox {
        std::mutex mutex;
        std::string text;
        bool posted = false;
    };
    std::shared_ptr<SourceTextBox> sourceText_;
};

}  // namespace lumora
