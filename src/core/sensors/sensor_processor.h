#pragma once
// The sensor layer on the receive worker: computes the engineering value and
// the alarm state of every reading of every decoded frame into the frame's
// slot before it is published, collects the alarm transitions of a receive
// batch, writes them to alarms.csv (fsynced) at the end of the batch and then
// hands them to a listener (the console, the publisher, the window).
//
// The table may be replaced from any thread; the worker takes the new one at
// its next frame. Without a table, frames pass untouched (no values).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/frame_types.h"
#include "sensors/alarms.h"
#include "sensors/sensor_values.h"

namespace lumora {

class SensorProcessor : public SlotProcessor {
public:
    // Instruments whose alarm states are followed. Frames of further
    // instruments (names that only hostile input would bring) get values but
    // no alarms, so that memory stays bounded.
    static constexpr size_t kMostInstruments = 256;

    using TransitionListener = std::function<void(const std::vector<AlarmTransition>&)>;

    // ---- any thread
    // The table from the next frame on; null: none (alarm states are forgotten).
    void SetTable(std::shared_ptr<const CompiledSensors> table);
    std::shared_ptr<const CompiledSensors> Table() const;
    // Where transitions are written; empty: nowhere. Taken at the next batch end.
    void SetLogPath(std::string path);
    // Called on the receive worker at the end of each batch that had
    // transitions, after they were written. Must return quickly and never
    // wait. Set it before frames arrive.
    void SetListener(TransitionListener listener);
    // Called on the receive worker when alarms.csv cannot be written: once
    // when writing starts failing (writing is tried again at later batches).
    void SetLogErrorListener(std::function<void(const std::string&)> listener);

    // The alarms active now, by instrument and id: each as the transition
    // that began it.
    std::vector<AlarmTransition> ActiveAlarms() const;
    int ActiveCount() const { return activeCount_.load(std::memory_order_relaxed); }
    uint64_t TransitionCount() const { return transitionCount_.load(std::memory_order_relaxed); }
    // Transitions not written because too many waited for a log that failed.
    uint64_t LogLost() const { return logLost_.load(std::memory_order_relaxed); }

    // ---- receive worker
    void Process(FrameSlot& slot) override;
    void EndBatch() override;

private:
    struct Instrument {
        char sn[kSnSize] = {};
        const SensorPlan* plan = nullptr;
        AlarmState states[kMaxSensorId + 1] = {};
    };
    void TakeTable();
    Instrument* FindInstrument(const char* sn);
    void UpdateActive();

    // Set by any thread, taken by the worker.
    mutable std::mutex configMutex_;
    std::shared_ptr<const CompiledSensors> pendingTable_;
    std::atomic<bool> tableChanged_{false};
    std::string pendingLogPath_;
    std::atomic<bool> logPathChanged_{false};
    TransitionListener listener_;
    std::function<void(const std::string&)> logErrorListener_;

    // The worker's own.
    std::shared_ptr<const CompiledSensors> table_;
    ValueCalculator calculator_;
    std::vector<std::unique_ptr<Instrument>> instruments_;
    std::map<std::string, Instrument*, std::less<>> byName_;
    Instrument* lastInstrument_ = nullptr;
    std::vector<AlarmTransition> batch_;
    AlarmLog log_;
    bool logFailing_ = false;
    std::chrono::steady_clock::time_point lastRetry_{};

    mutable std::mutex activeMutex_;
    std::map<std::pair<std::string, int>, AlarmTransition> active_;
    std::atomic<int> activeCount_{0};
    std::atomic<uint64_t> transitionCount_{0};
    std::atomic<uint64_t> logLost_{0};
};

}  // namespace lumora
