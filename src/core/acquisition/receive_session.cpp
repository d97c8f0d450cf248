#include "acquisition/receive_session.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "acquisition/binary_decoder.h"
#include "acquisition/text_decoder.h"
#include "json/json_reading.h"
#include "window/control_ids.h"
#include "window/string_table.h"
#include "window/window_port.h"
#include "settings/setting_values.h"
#include "settings/settings_store.h"

namespace lumora {
namespace {

constexpr int kSocketFailedString = 214;
constexpr int kBindFailedString = 215;
constexpr int kCloseCaptionString = 211;
constexpr int kOpenCaptionString = 212;
constexpr int kWorkerFailedString = 225;
// The worker looks at the stop flag at least this often even if nothing
// arrives and the wake-up by Stop() were missed.
constexpr int kReceiveTimeoutMs = 250;

}  // namespace

int LeadingInt(const std::string& text) { return ReadLeadingInt(text); }

bool RateWindow::Count(int64_t nowMs, int& rate) {
    ++count_;
    if (startMs_ == 0) {
        startMs_ = nowMs;
        return false;
    }
    const int64_t elapsed = nowMs - startMs_;
    if (elapsed < kWindowMs) return false;  // also a clock that went back
    rate = static_cast<int>(static_cast<double>(count_) / (static_cast<double>(elapsed) / 1000.0));
    count_ = 0;
    startMs_ = nowMs;
    return true;
}

ReceiveSession::ReceiveSession(AcquisitionState& state, RecordSink& recorder, SettingsStore& settings,
                               WindowPort& window, const Clock& clock)
    : state_(state),
      recorder_(recorder),
      settings_(settings),
      window_(window),
      clock_(clock),
      receiveBuffer_(std::make_unique<uint8_t[]>(kReceiveStride * kReceiveBatch)),
      assembler_(&ReceiveSession::OnFrame, this, &BinaryFramePassesCheck),
      sourceText_(std::make_shared<SourceTextBox>()) {
    for (int i = 0; i < kReceiveBatch; ++i) batchBuffers_[i] = receiveBuffer_.get() + kReceiveStride * size_t(i);
}

static_assert(ReceiveSession::kReceivePadding >= json::kPadding);

ReceiveSession::~ReceiveSession() {
    *alive_ = false;
    Stop();
}

void ReceiveSession::SetPortText(const std::string& text) {
    std::lock_guard<std::mutex> lock(textMutex_);
    portText_ = text;
}

std::string ReceiveSession::PortText() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return portText_;
}

void ReceiveSession::SetIntervalText(const std::string& text) {
    // A negative interval (possible only through the settings file) counts as
    // 0; a very long one is cut to a minute, so that the worker never stalls.
    intervalMs_.store(UsableIntervalMs(LeadingInt(text)), std::memory_order_relaxed);
}

void ReceiveSession::SetWorkerStartHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(textMutex_);
    startHook_ = std::move(hook);
}

void ReceiveSession::SetWorkerFailedHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(textMutex_);
    failedHook_ = std::move(hook);
}

void ReceiveSession::LimitDatagramSize(size_t bytes) {
    datagramLimit_.store(std::clamp<size_t>(bytes, 1, kReceiveBufferSize), std::memory_order_relaxed);
}

std::string ReceiveSession::WorkerError() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return workerError_;
}

std::string ReceiveSession::LastSourceIp() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return lastSourceIp_;
}

void ReceiveSession::ClearLastSourceIp() {
    std::lock_guard<std::mutex> lock(textMutex_);
    lastSourceIp_[0] = '\0';
}

void ReceiveSession::ResetProgressBars() {
    window_.SetProgress(IDC_PROGRESS_FILES, 1, 0);
    window_.SetProgress(IDC_PROGRESS_RECORDS, 1, 0);
}

bool ReceiveSession::Open(const std::function<void()>& prepareViews) {
    if (portOpen_.load()) return true;
    ResetProgressBars();
    state_.m_spectrumAutoShow.store(true, std::memory_order_release);

    if (!socket_.Create()) {
        window_.MessageBox(LoadString(kSocketFailedString), "lumora", kMbOk);
        return false;
    }
    const std::string portText = PortText();
    const int port = LeadingInt(portText);
    // A number beyond the port range is refused rather than bound to
    // whatever port its low 16 bits name.
    if (port < 0 || port > 65535 || !socket_.Bind(static_cast<uint16_t>(port))) {
        window_.MessageBox(StringPrintf(LoadString(kBindFailedString).c_str(), portText.c_str()), "lumora", kMbOk);
        socket_.Close();
        return false;
    }
    boundPort_.store(socket_.LocalPort(), std::memory_order_relaxed);
    grantedBuffer_.store(socket_.SetReceiveBuffer(kSocketBufferRequest), std::memory_order_relaxed);
    socket_.SetReceiveTimeout(kReceiveTimeoutMs);

    if (prepareViews) prepareViews();

    if (worker_.joinable()) worker_.join();  // a worker that stopped itself
    stop_.store(false, std::memory_order_release);
    workerFailed_.store(false, std::memory_order_release);
    receiveCapacity_ = datagramLimit_.load(std::memory_order_relaxed);
    worker_ = std::thread(&ReceiveSession::ReceiveThreadProc, this);

    window_.SetText(IDC_OPEN_CLOSE, LoadString(kCloseCaptionString));
    portOpen_.store(true, std::memory_order_release);
    return true;
}

void ReceiveSession::Close() {
    window_.SetText(IDC_OPEN_CLOSE, LoadString(kOpenCaptionString));
    ResetProgressBars();
    Stop();
}

void ReceiveSession::Stop() {
    {
        std::lock_guard<std::mutex> lock(sleepMutex_);
        stop_.store(true, std::memory_order_release);
    }
    sleepWake_.notify_all();
    socket_.Shutdown();
    // A window that runs posted tasks at once may close the port from the
    // worker's own error report: the worker is then joined by the next Stop.
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
    socket_.Close();
    recorder_.Close();
    portOpen_.store(false, std::memory_order_release);
}

void ReceiveSession::OnFrame(void* context, const uint8_t* frame, size_t length) {
    auto* self = static_cast<ReceiveSession*>(context);
    if (self->recordEnabled_.load(std::memory_order_relaxed)) {
        // The frame lies in the assembler's own buffer: the recorder stamps
        // its trailer in place, so the decoder below sees the stamps.
        self->recorder_.RecordData(const_cast<uint8_t*>(frame), length,
                                   self->datagramCount_.load(std::memory_order_relaxed));
    }
    DecodeBinaryFrame(self->state_, frame, length);
}

void ReceiveSession::NoteSource(uint32_t addr) {
    if (haveAddr_ && addr == lastAddr_) return;
    lastAddr_ = addr;
    haveAddr_ = true;
    char ip[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = addr;
    if (!::inet_ntop(AF_INET, &a, ip, sizeof ip)) return;
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        if (std::strcmp(ip, lastSourceIp_) == 0) return;
        std::snprintf(lastSourceIp_, sizeof lastSourceIp_, "%s", ip);
    }
    // Shown in the "IP" edit and stored as [Net] IP, both on the UI thread.
    WindowPort* window = &window_;
    SettingsStore* settings = &settings_;
    std::string text = ip;
    window_.Post([window, settings, text] {
        window->SetText(IDC_DEVICE_IP, text);
        settings->SetString("Net", "IP", text);
    });
}

void ReceiveSession::ShowSourceText(const char* text, size_t length) {
    // Only the newest text matters: while a post is pending, later texts
    // replace the one it will show instead of queueing more posts.
    std::shared_ptr<SourceTextBox> box = sourceText_;
    {
        std::lock_guard<std::mutex> lock(box->mutex);
        box->text.assign(text, length);
        if (box->posted) return;
        box->posted = true;
    }
    WindowPort* window = &window_;
    window_.Post([window, box] {
        std::string shown;
        {
            std::lock_guard<std::mutex> lock(box->mutex);
            shown.swap(box->text);
            box->posted = false;
        }
        window->SetText(IDC_RAW_TEXT, shown);
    });
}

void ReceiveSession::SleepInterval(int ms) {
    std::unique_lock<std::mutex> lock(sleepMutex_);
    sleepWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

uint32_t ReceiveSession::CountDatagram() {
    // The rate is brought up to date before the datagram count moves, so
    // whoever sees the new count also sees the rate that includes it.
    int rate = 0;
    if (rate_.Count(clock_.NowMs(), rate)) packetRate_.store(rate, std::memory_order_relaxed);
    return datagramCount_.fetch_add(1, std::memory_order_acq_rel) + 1;
}

namespace {

// Nothing but blanks, line breaks and other control bytes (or nothing at
// all): a text datagram that would make a broken line in a recording.
bool IsBlankText(const uint8_t* data, size_t length) {
    return std::all_of(data, data + length, [](uint8_t b) { return b <= 0x20; });
}

}  // namespace

void ReceiveSession::HandleDatagram(uint8_t* data, size_t length, uint32_t sourceAddr) {
    NoteSource(sourceAddr);
    const uint32_t count = CountDatagram();

    if (stringFormat_.load(std::memory_order_relaxed)) {
        const char* text = reinterpret_cast<const char*>(data);
        DecodeTextFrame(state_, text, length, kReceiveStride);
        if (state_.m_showSourceData.load(std::memory_order_relaxed)) ShowSourceText(text, length);
        if (IsBlankText(data, length)) {
            ignored_.fetch_add(1, std::memory_order_relaxed);
        } else if (recordEnabled_.load(std::memory_order_relaxed)) {
            recorder_.RecordData(data, length, count);
        }
    } else {
        if (length == 0) ignored_.fetch_add(1, std::memory_order_relaxed);
        assembler_.Feed(data, length);
    }
    PassNewFramesToSink(sourceAddr);
}

void ReceiveSession::PassNewFramesToSink(uint32_t sourceAddr) {
    // The worker is the ring's only writer, so the slots it has just
    // published can be read here without the slot locks.
    const FrameRing& ring = state_.Ring();
    const int64_t decoded = ring.framesDecoded.load(std::memory_order_relaxed);
    int64_t fresh = decoded - sinkDecoded_;
    sinkDecoded_ = decoded;
    FrameSink* sink = frameSink_.load(std::memory_order_acquire);
    if (!sink || fresh <= 0) return;
    if (fresh > kRingSlots - 1) fresh = kRingSlots - 1;
    const int next = ring.writeIndex.load(std::memory_order_relaxed);
    for (int back = static_cast<int>(fresh); back > 0; --back)
        sink->OnFrame(ring.slots[(next - back + kRingSlots) % kRingSlots], sourceAddr);
}

void ReceiveSession::ReceiveThreadProc() {
    const int64_t cpuStart = ThreadCpuNs();
    workerCpuNs_.store(0, std::memory_order_relaxed);
    // Nothing may leave the thread: an error ends this run, and the user is
    // told, instead of ending the program.
    try {
        RunWorker();
    } catch (const std::exception& e) {
        ReportWorkerFailure(e.what());
    } catch (...) {
        ReportWorkerFailure("unknown error");
    }
    workerCpuNs_.store(ThreadCpuNs() - cpuStart, std::memory_order_relaxed);
}

void ReceiveSession::ReportWorkerFailure(const char* what) {
    workerFailed_.store(true, std::memory_order_release);
    // Telling the user needs memory too; if even that fails, the flag above
    // still ends the run for whoever watches it.
    try {
        std::function<void()> hook;
        std::string text = StringPrintf(LoadString(kWorkerFailedString).c_str(), what);
        {
            std::lock_guard<std::mutex> lock(textMutex_);
            workerError_ = text;
            hook = failedHook_;
        }
        std::shared_ptr<std::atomic<bool>> alive = alive_;
        WindowPort* window = &window_;
        window_.Post([alive, window, text, hook] {
            if (!*alive) return;
            window->MessageBox(text, "lumora", kMbOk);
            if (hook) hook();
        });
    } catch (...) {
    }
}

void ReceiveSession::RunWorker() {
    std::memset(receiveBuffer_.get(), 0, kReceiveStride * kReceiveBatch);
    recorder_.ResetRecordsInFile();
    packetRate_.store(0, std::memory_order_relaxed);
    {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(textMutex_);
            hook = startHook_;
        }
        if (hook) hook();
    }
    rate_.Clear();
    assembler_.Reset();
    haveAddr_ = false;
    sinkDecoded_ = state_.Ring().framesDecoded.load(std::memory_order_relaxed);

    while (!stop_.load(std::memory_order_acquire)) {
        // With an "INR (ms)" sleep, datagrams wait in the socket, one taken
        // per pass; otherwise all that are waiting are taken at once.
        const int want = intervalMs_.load(std::memory_order_relaxed) > 0 ? 1 : kReceiveBatch;
        const int got = socket_.ReceiveMany(batchBuffers_, receiveCapacity_, batch_, want);
        for (int i = 0; i < got; ++i) {
            // A datagram in hand when the stop is given is not handled:
            // nothing is recorded after Close.
            if (stop_.load(std::memory_order_acquire)) break;
            if (batch_[i].length < 0) {
                // Longer than the receive buffer: counted, and counted as cut
                // short, but never handled as if whole.
                CountDatagram();
                cutShort_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            HandleDatagram(batchBuffers_[i], static_cast<size_t>(batch_[i].length), batch_[i].sourceAddr);
            const int interval = intervalMs_.load(std::memory_order_relaxed);
            if (interval > 0) {
                recorder_.Flush();
                SleepInterval(interval);
            }
        }
        // Every record of the batch reaches the file before the worker waits
        // again: a program killed now loses nothing it has handled.
        recorder_.Flush();
    }
    // The session ends: the frame in hand goes on if it is whole, rather
    // than waiting for a marker that will not come.
    assembler_.Finish();
    if (haveAddr_) PassNewFramesToSink(lastAddr_);
    recorder_.Flush();
}

}  // namespace lumora
