#include "device/device_discovery.h"

#include <arpa/inet.h>
#include <cJSON.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "window/string_table.h"
#include "window/window_port.h"
#include "lumora_version.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "json/json_reading.h"

namespace lumora {
namespace {

// The window of a run is a duration: a monotonic clock, so that a change of
// the computer's time neither ends a run early nor keeps it open.
class SteadyClock : public Clock {
public:
    int64_t NowMs() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

const SteadyClock& DefaultClock() {
    static const SteadyClock clock;
    return clock;
}

struct ColumnSpec {
    int stringId;  // 0: the fixed caption below
    const char* caption;
    int width;
};

// Captions of the last six columns come from the string table.
const ColumnSpec kColumns[kDeviceListColumns] = {
    {0, "#", 80},       {0, "PN", 200},     {0, "SN", 200},     {0, "IP", 240},     {240, nullptr, 240},
    {241, nullptr, 100}, {242, nullptr, 100}, {243, nullptr, 100}, {244, nullptr, 120}, {245, nullptr, 120},
};

// The receive buffer takes up to this many bytes; a longer datagram is a
// failed receive.
constexpr size_t kReceiveCapacity = 1023;

// The string value of the first member named name (any case), or null.
const char* StringMember(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItem(object, name);
    if (!cJSON_IsString(item) || item->valuestring == nullptr) return nullptr;
    return item->valuestring;
}

}  // namespace

AnnouncementBlock MakeAnnouncementBlock(uint32_t addressNetworkOrder, const void* data, size_t length) {
    AnnouncementBlock block;
    block.address = addressNetworkOrder;
    size_t n = std::min(length, sizeof block.text - 1);
    if (n > 0) std::memcpy(block.text, data, n);
    block.text[n] = '\0';
    return block;
}

std::string DeviceListColumnCaption(int column) {
    if (column < 0 || column >= kDeviceListColumns) return {};
    const ColumnSpec& col = kColumns[column];
    return col.stringId ? LoadString(col.stringId) : std::string(col.caption);
}

int DeviceListColumnWidth(int column) {
    if (column < 0 || column >= kDeviceListColumns) return 0;
    return kColumns[column].width;
}

DeviceDiscovery::DeviceDiscovery(WindowPort& window, std::function<bool()> stopRequested, DiscoveryOptions options)
    : window_(window), stopRequested_(std::move(stopRequested)), options_(options) {
    if (!options_.clock) options_.clock = &DefaultClock();
    if (options_.pollMs <= 0) options_.pollMs = 100;
}

DeviceDiscovery::~DeviceDiscovery() {
    *alive_ = false;
    Shutdown();
}

void DeviceDiscovery::PostGuarded(std::function<void(DeviceDiscovery&)> task) {
    std::shared_ptr<bool> alive = alive_;
    window_.Post([this, alive, task = std::move(task)]() {
        if (*alive) task(*this);
    });
}

void DeviceDiscovery::StartRun() {
    JoinFinishedRuns();
    auto state = std::make_shared<RunState>();
    {
        std::lock_guard<std::mutex> lock(runsMutex_);
        active_.fetch_add(1);
        runs_.push_back(Run{std::thread([this, state]() { Listen(state); }), state});
    }
    window_.SetActiveTab(kTabActiveSa);
}

void DeviceDiscovery::JoinFinishedRuns() {
    std::lock_guard<std::mutex> lock(runsMutex_);
    for (auto it = runs_.begin(); it != runs_.end();) {
        if (it->state->done.load()) {
            if (it->thread.joinable()) it->thread.join();
            it = runs_.erase(it);
        } else {
            ++it;
        }
    }
}

void DeviceDiscovery::Shutdown() {
    std::vector<Run> runs;
    {
        std::lock_guard<std::mutex> lock(runsMutex_);
        for (Run& run : runs_) run.state->stop.store(true);
        runs.swap(runs_);
    }
    for (Run& run : runs)
        if (run.thread.joinable()) run.thread.join();
}

void DeviceDiscovery::Enqueue(const std::shared_ptr<RunState>& state, const AnnouncementBlock& block) {
    if (state->full.load()) {
        ignored_.fetch_add(1);
        return;
    }
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(state->queueMutex);
        if (state->queued.size() >= options_.maxQueued) {
            ignored_.fetch_add(1);
            return;
        }
        state->queued.push_back(block);
        queued_.fetch_add(1);
        post = !state->takePosted;
        state->takePosted = true;
    }
    if (post) PostGuarded([state](DeviceDiscovery& self) { self.TakeQueued(*state); });
}

void DeviceDiscovery::TakeQueued(RunState& state) {
    std::vector<AnnouncementBlock> batch;
    {
        std::lock_guard<std::mutex> lock(state.queueMutex);
        batch.swap(state.queued);
        state.takePosted = false;
    }
    queued_.fetch_sub(batch.size());
    for (const AnnouncementBlock& block : batch) {
        if (state.listed >= options_.maxDevicesPerRun) {
            ignored_.fetch_add(1);
            continue;
        }
        if (HandleAnnouncement(block) && ++state.listed >= options_.maxDevicesPerRun) state.full.store(true);
    }
}

void DeviceDiscovery::FinishRun(RunState& state) {
    if (state.finished.exchange(true)) return;
    active_.fetch_sub(1);
    state.done.store(true);
}

void DeviceDiscovery::Listen(const std::shared_ptr<RunState>& run) {
    // Nothing may leave the listener's thread: an error ends this run and the
    // user is told, instead of ending the program.
    try {
        ListenLoop(run);
        return;
    } catch (const std::exception& e) {
        EndFailedRun(*run, e.what());
    } catch (...) {
        EndFailedRun(*run, "unknown error");
    }
}

void DeviceDiscovery::EndFailedRun(RunState& state, const char* what) {
    FinishRun(state);
    try {
        std::string text = StringPrintf(LoadString(226).c_str(), what);
        window_.Post([&w = window_, text]() { w.MessageBox(text, LUMORA_PRODUCT_NAME, kMbOk); });
    } catch (...) {
        // Even the message could not be made: the run has ended all the same.
    }
}

void DeviceDiscovery::ListenLoop(const std::shared_ptr<RunState>& run) {
    RunState& state = *run;
    UdpSocket socket;
    if (!socket.Create()) {
        std::string text = LoadString(214);
        window_.Post([&w = window_, text]() { w.MessageBox(text, LUMORA_PRODUCT_NAME, kMbOk); });
        FinishRun(state);
        return;
    }
    if (!socket.Bind(options_.port)) {
        socket.Close();
        std::string text = StringPrintf(LoadString(215).c_str(), std::to_string(options_.port).c_str());
        window_.Post([&w = window_, text]() { w.MessageBox(text, LUMORA_PRODUCT_NAME, kMbOk); });
        FinishRun(state);
        return;
    }
    socket.SetReceiveTimeout(options_.pollMs);

    // The start of the window is taken before the run counts as listening: who
    // waits for "listening" and then moves the clock moves it after this.
    const Clock& clock = *options_.clock;
    int64_t windowStart = clock.NowMs();
    bool heardOne = false;
    {
        // Counted while the port is held, however the loop ends.
        struct Listening {
            std::atomic<int>& runs;
            explicit Listening(std::atomic<int>& r) : runs(r) { runs.fetch_add(1); }
            ~Listening() { runs.fetch_sub(1); }
        } listening(listening_);
        char buffer[kReceiveCapacity + 1];
        char sourceIp[INET_ADDRSTRLEN] = {};
        while (!state.stop.load() && !(stopRequested_ && stopRequested_())) {
            if (clock.NowMs() - windowStart >= options_.windowMs) break;
            long n = socket.ReceiveFrom(buffer, kReceiveCapacity, sourceIp);
            if (n < 0) continue;  // nothing yet, a receive error or an oversized datagram
            in_addr addr{};
            if (::inet_pton(AF_INET, sourceIp, &addr) != 1) addr.s_addr = 0;
            // The window is measured from the first announcement; its time is
            // taken before the UI thread can see the announcement.
            if (!heardOne) {
                heardOne = true;
                windowStart = clock.NowMs();
            }
            Enqueue(run, MakeAnnouncementBlock(addr.s_addr, buffer, static_cast<size_t>(n)));
        }
        socket.Close();
    }
    // The run counts as ended before the window hears of it, so whoever reacts
    // to the news sees no active run.
    FinishRun(state);
    PostGuarded([](DeviceDiscovery& self) {
        if (self.onRunFinished) self.onRunFinished();
    });
}

bool DeviceDiscovery::HandleAnnouncement(const AnnouncementBlock& block) {
    const char* begin = block.text;
    const char* end = block.text + strnlen(block.text, sizeof block.text);
    while (begin < end && static_cast<unsigned char>(*begin) <= 0x20) ++begin;
    if (begin == end) return false;

    std::string pnText, snText;
    bool found = false;
    // The text is copied once into room the fast parser may read past.
    char padded[sizeof block.text + json::kPadding];
    const size_t length = static_cast<size_t>(end - begin);
    std::memcpy(padded, begin, length);
    json::AnnouncementFields fields;
    if (json::ReadAnnouncement(padded, length, sizeof padded, fields)) {
        found = fields.haveIdn && fields.haveSn && fields.idn.kind == json::Kind::String &&
                fields.sn.kind == json::Kind::String;
        if (found) {
            pnText = fields.idn.text;
            snText = fields.sn.text;
        }
    } else {
        cJSON* root = cJSON_ParseWithLength(begin, static_cast<size_t>(end - begin));
        if (!root) return false;
        const char* idn = cJSON_IsObject(root) ? StringMember(root, "IDN") : nullptr;
        const char* serial = cJSON_IsObject(root) ? StringMember(root, "SN") : nullptr;
        found = idn && serial;
        if (found) {
            pnText = idn;
            snText = serial;
        }
        cJSON_Delete(root);
    }
    bool added = false;
    const std::string& pn = pnText;
    const std::string& sn = snText;
    if (found) {
        in_addr addr{};
        addr.s_addr = block.address;
        char ip[INET_ADDRSTRLEN] = {};
        if (!::inet_ntop(AF_INET, &addr, ip, sizeof ip)) ip[0] = '\0';
        CSa device;
        device.pn = pn;
        device.sn = sn;
        device.ip = ip;
        std::string key = device.pn + '\0' + device.sn + '\0' + device.ip;
        if (known_.insert(std::move(key)).second) {
            devices_.push_back(device);
            DeviceRow row;
            row.cells[0] = std::to_string(devices_.size());
            row.cells[1] = device.pn;
            row.cells[2] = device.sn;
            row.cells[3] = device.ip;
            rows_.push_front(std::move(row));
            added = true;
        }
    }
    if (added && onDeviceAdded) onDeviceAdded(devices_.back());
    return added;
}

std::string DeviceDiscovery::RowUrl(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return {};
    return "http://" + rows_[static_cast<size_t>(row)].cells[3];
}

void DeviceDiscovery::OnRowDoubleClicked(int row) {
    std::string url = RowUrl(row);
    if (!url.empty()) window_.OpenUrl(url);
}

}  // namespace lumora
