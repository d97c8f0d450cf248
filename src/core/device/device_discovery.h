#pragma once
// Finds the instruments that announce themselves with a small JSON datagram
// ({"IDN": product, "SN": serial}) on UDP port 7000 and keeps the list of them.
//
// A run is a listener thread. It queues the announcements for the UI thread and
// posts one task (WindowPort::Post) whenever the queue was empty, so that the UI
// thread takes them in batches, parses them and lists what is new. Any host can
// flood the port, so a run holds at most maxQueued announcements for the UI
// thread and lists at most maxDevicesPerRun devices; what does not fit is
// counted and ignored. A run ends 10 s after its first announcement, 10 s after
// its start when none arrives, and at once when the stop flag is raised or the
// object is destroyed; it never keeps the port after that.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace lumora {

class Clock;
class WindowPort;

inline constexpr uint16_t kDiscoveryPort = 7000;
inline constexpr int kTabActiveSa = 4;

// One discovered instrument. The six numbers are kept but never filled.
struct CSa {
    std::string pn;  // "IDN" of the announcement
    std::string sn;  // "SN"
    std::string ip;  // sender, dotted decimal
    int32_t counter = 0;
    int32_t frq = 0;
    int32_t error = 0;
    int32_t warn = 0;
    int32_t dtPort = 0;
    int32_t cmdPort = 0;
};

// What the listener hands over for one datagram: the sender and the text,
// cut to fit and always ended by a zero byte.
struct AnnouncementBlock {
    uint32_t address = 0;  // IPv4, network byte order
    char text[500] = {};
};
static_assert(sizeof(AnnouncementBlock) == 504);

// Fills a block from a received datagram; text longer than the block holds is
// cut, never written past it.
AnnouncementBlock MakeAnnouncementBlock(uint32_t addressNetworkOrder, const void* data, size_t length);

// The device list: ten columns, centred.
inline constexpr int kDeviceListColumns = 10;
// Caption of column 0..9 in the current language.
std::string DeviceListColumnCaption(int column);
int DeviceListColumnWidth(int column);

// One row: "#", "PN", "SN", "IP" filled; the other six stay empty.
struct DeviceRow {
    std::array<std::string, kDeviceListColumns> cells;
};

struct DiscoveryOptions {
    uint16_t port = kDiscoveryPort;
    int64_t windowMs = 10000;
    // Longest wait in one receive, so that the stop flag and the window are
    // looked at while nothing arrives.
    int pollMs = 100;
    // Time source for the window; a steady clock when null.
    const Clock* clock = nullptr;
    // Devices one run lists at most.
    int maxDevicesPerRun = 1000;
    // Announcements a run holds for the UI thread at most (504 bytes each).
    size_t maxQueued = 2048;
};

class DeviceDiscovery {
public:
    // stopRequested is the program's "stop receiving" flag (raised by closing
    // the data port, Reset and the end of the program).
    DeviceDiscovery(WindowPort& window, std::function<bool()> stopRequested, DiscoveryOptions options = {});
    // Ends every run and waits for its listener.
    ~DeviceDiscovery();
    DeviceDiscovery(const DeviceDiscovery&) = delete;
    DeviceDiscovery& operator=(const DeviceDiscovery&) = delete;

    // UI thread. Called with each newly listed device (its row is row 0 now).
    std::function<void(const CSa&)> onDeviceAdded;
    // UI thread. Called when a run ends normally (not when it failed to start).
    std::function<void()> onRunFinished;

    // Tools > Active SA (UI thread): starts a listener and shows the list tab.
    void StartRun();
    // Ends all runs now and waits for their listeners (any thread but a listener).
    void Shutdown();
    // Listeners still running.
    int ActiveRuns() const { return active_.load(); }
    // Listeners that hold the port at this moment.
    int ListeningRuns() const { return listening_.load(); }

    // UI thread: one announcement. Returns true when a new device was listed.
    bool HandleAnnouncement(const AnnouncementBlock& block);
    // Announcements dropped because a run's list or queue was full (any thread).
    uint64_t IgnoredAnnouncements() const { return ignored_.load(); }
    // Announcements received and not yet taken by the UI thread (any thread).
    size_t QueuedAnnouncements() const { return queued_.load(); }

    // m_devices, in order of discovery.
    const std::vector<CSa>& Devices() const { return devices_; }
    // The rows, newest first.
    const std::deque<DeviceRow>& Rows() const { return rows_; }
    // "http://" and the IP of the row; empty for a row that does not exist.
    std::string RowUrl(int row) const;
    // A double click on a row opens its address; a click on no row opens nothing.
    void OnRowDoubleClicked(int row);

private:
    struct RunState {
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
        std::atomic<bool> finished{false};  // FinishRun has counted the run's end
        // Set by the UI thread once the run has listed its most devices; the
        // listener then stops queueing.
        std::atomic<bool> full{false};
        std::mutex queueMutex;
        std::vector<AnnouncementBlock> queued;  // guarded by queueMutex
        bool takePosted = false;                // guarded by queueMutex
        int listed = 0;                         // UI thread only
    };
    struct Run {
        std::thread thread;
        std::shared_ptr<RunState> state;
    };
    // The listener's thread: runs ListenLoop and turns an exception into the
    // end of the run with a message to the user.
    void Listen(const std::shared_ptr<RunState>& state);
    void ListenLoop(const std::shared_ptr<RunState>& state);
    void EndFailedRun(RunState& state, const char* what);
    // The run no longer counts as active (once, however it ended).
    void FinishRun(RunState& state);
    // Listener: queues one announcement, posting a task to take the queue when
    // none is pending.
    void Enqueue(const std::shared_ptr<RunState>& state, const AnnouncementBlock& block);
    // UI thread: handles what the run queued so far.
    void TakeQueued(RunState& state);
    void JoinFinishedRuns();
    // Posts a task that runs only while this object still exists.
    void PostGuarded(std::function<void(DeviceDiscovery&)> task);

    WindowPort& window_;
    std::function<bool()> stopRequested_;
    DiscoveryOptions options_;
    std::atomic<int> active_{0};
    std::atomic<int> listening_{0};
    std::atomic<uint64_t> ignored_{0};
    std::atomic<size_t> queued_{0};
    std::mutex runsMutex_;
    std::vector<Run> runs_;
    // Tasks posted to the UI thread check this before touching the object.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    std::vector<CSa> devices_;
    std::deque<DeviceRow> rows_;  // a new row goes in front
    // pn, sn and ip of every listed device, joined by zero bytes.
    std::unordered_set<std::string> known_;
};

}  // namespace lumora
