#pragma once
// Publishes decoded frames to an MQTT broker (libmosquitto).
//
// The receive worker calls OnFrame, which only copies the frame into a
// bounded queue. The publisher thread takes the queue every BatchMs, groups
// the frames by device and publishes one message per device to
// TOPIC/DEVICE/frames. A retained TOPIC/status/CLIENTID says "online"; the
// broker's last will turns it into "offline". A broker that is slow, away or
// restarting costs frames from the queue (counted as dropped), never time of
// the receive worker; the client reconnects by itself with a growing pause.
//
// Every frame handed over ends up counted once, as published or as dropped.
// A stop takes less than a second whatever the connection is doing: the
// name lookup runs on a helper thread that a stop leaves behind.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition/frame_sink.h"
#include "platform/clock.h"
#include "publishing/mqtt_settings.h"
#include "publishing/publish_queue.h"

struct mosquitto;

namespace lumora {

enum class MqttState {
    Off,         // not started
    Connecting,  // waiting for the broker's answer or for the next attempt
    Connected,
    Failed,      // the last attempt failed (see LastMessage); retrying unless GaveUp
};

// English name of a state ("off", "connecting", "connected", "failed").
const char* MqttStateName(MqttState state);

class MqttPublisher : public FrameSink {
public:
    // Frames the queue holds; at 2,000 frames/s about one second.
    static constexpr size_t kDefaultQueueFrames = 2048;
    // How long a stop goes on sending what is queued, at most, so that it
    // ends within a second however the broker behaves.
    static constexpr double kStopSeconds = 0.8;

    explicit MqttPublisher(const Clock& clock = SystemClock(), size_t queueFrames = kDefaultQueueFrames);
    ~MqttPublisher() override;
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Called whenever the state or its message changes (connected, a
    // refusal, a lost connection...): on the publisher thread, and on the
    // caller's for the first state Start sets.
    void SetListener(std::function<void(MqttState, const std::string&)> listener);

    // Starts the thread (a running publisher is stopped first). Frames are
    // taken from this moment on. What needs no network is set up here, before
    // Start returns: when the names are unusable or TLS was asked for and
    // cannot be set up, nothing is ever sent, the state is Failed with the
    // reason and GaveUp is true.
    void Start(const MqttSettings& settings);
    // Sends what is queued (for at most drainSeconds, kStopSeconds at most),
    // says "offline" and disconnects. What could not be sent counts as
    // dropped.
    void Stop(double drainSeconds = kStopSeconds);
    bool Running() const { return running_.load(std::memory_order_acquire); }
    // The publisher has stopped trying (see LastMessage): TLS could not be
    // set up, a name is unusable, or publishing broke down. Until Stop,
    // frames are counted as dropped.
    bool GaveUp() const { return gaveUp_.load(std::memory_order_acquire); }

    // The frame's time is the time of receipt, as the recorder stamps it,
    // while set (default); otherwise the time the frame carries.
    void SetStampLocalTime(bool on) { stampLocalTime_.store(on, std::memory_order_relaxed); }

    // ---- FrameSink (receive worker)
    void OnFrame(const FrameSlot& frame, uint32_t sourceAddr) override;

    // ---- counters and state (any thread); the counters start at 0 with Start
    uint64_t Published() const { return published_.load(std::memory_order_relaxed); }
    uint64_t Dropped() const;
    MqttState State() const { return state_.load(std::memory_order_acquire); }
    std::string LastMessage() const;

    // The step that looks the host up and opens the connection, as
    // mosquitto_connect_async does (the default, or when step is null). It
    // runs on a helper thread; tests put a lookup that stalls in its place.
    using ConnectStep = int (*)(mosquitto* client, const char* host, int port, int keepAliveSeconds);
    static void SetConnectStepForTesting(ConnectStep step);

private:
    struct Session;
    void Run(std::shared_ptr<mosquitto> client, MqttSettings settings);
    void Serve(Session& session, PublishQueue& queue);
    void Finish(Session& session, PublishQueue& queue);
    // Counts every frame handed over as dropped until Stop.
    void IdleUntilStop(PublishQueue& queue);
    // Waits at most wait, or until Stop.
    void WaitForStop(std::chrono::milliseconds wait);
    void SetState(MqttState state, const std::string& message);
    // The same, for the end of a run that broke down: the listener cannot
    // break it again.
    void SetFinalState(MqttState state, const std::string& message) noexcept;

    const Clock& clock_;
    size_t queueFrames_;
    std::unique_ptr<PublishQueue> queue_;
    std::atomic<PublishQueue*> activeQueue_{nullptr};
    std::atomic<int> offering_{0};  // OnFrame calls under way

    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> gaveUp_{false};
    std::atomic<bool> stampLocalTime_{true};
    double drainSeconds_ = kStopSeconds;
    std::mutex wakeMutex_;
    std::condition_variable wake_;

    std::atomic<MqttState> state_{MqttState::Off};
    std::atomic<uint64_t> published_{0};
    std::atomic<uint64_t> lostInFlight_{0};
    uint64_t queueDroppedBase_ = 0;
    mutable std::mutex messageMutex_;
    std::string message_;
    std::function<void(MqttState, const std::string&)> listener_;
};

}  // namespace lumora
