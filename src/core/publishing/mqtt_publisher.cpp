#include "publishing/mqtt_publisher.h"

#include <arpa/inet.h>
#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "publishing/frame_payload.h"

namespace lumora {
namespace {

using Steady = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr int kKeepAliveSeconds = 30;
// Batches handed to the client library but not yet written out. Beyond
// this the broker is not keeping up: frames wait (and age out) in our queue
// instead of piling up in the library's memory.
constexpr size_t kMaxBatchesInFlight = 8;
constexpr Ms kFirstRetry{250};
constexpr Ms kLongestRetry{8000};
constexpr Ms kConnackTimeout{10000};
constexpr Ms kLongestLoopWait{50};

std::once_flag g_libraryInit;

std::string ErrorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

}  // namespace

const char* MqttStateName(MqttState state) {
    switch (state) {
        case MqttState::Off: return "off";
        case MqttState::Connecting: return "connecting";
        case MqttState::Connected: return "connected";
        case MqttState::Failed: return "failed";
    }
    return "?";
}

// Everything the publisher thread keeps about one connection; libmosquitto's
// callbacks run inside mosquitto_loop on the same thread.
struct MqttPublisher::Session {
    MqttPublisher& owner;
    MqttSettings settings;
    std::string where;  // "HOST:PORT" for messages
    std::string statusTopic;
    mosquitto* mosq = nullptr;

    bool socketOpen = false;
    bool connected = false;
    bool refused = false;  // the broker answered the last attempt with a refusal
    Steady::time_point attemptStart{};
    Steady::time_point nextAttempt{};
    Ms retryDelay = kFirstRetry;

    std::unordered_map<int, uint64_t> inFlight;  // message id -> frames in it
    std::unordered_set<int> writtenEarly;        // written before mosquitto_publish returned
    struct Group {
        std::string device;
        std::string payload;
        uint64_t frames = 0;
    };
    std::vector<Group> groups;
    size_t groupsUsed = 0;

    Session(MqttPublisher& o, MqttSettings s) : owner(o), settings(std::move(s)) {
        where = settings.host + ":" + std::to_string(settings.port);
        statusTopic = settings.topic + "/status/" + settings.clientId;
    }

    static void OnConnect(mosquitto*, void* self, int rc) { static_cast<Session*>(self)->Connected(rc); }
    static void OnPublish(mosquitto*, void* self, int mid) { static_cast<Session*>(self)->Written(mid); }

    void Connected(int rc) {
        if (rc != 0) {
            refused = true;
            owner.SetState(MqttState::Failed,
                           "the MQTT broker at " + where + " refused the connection: " + mosquitto_connack_string(rc));
            return;
        }
        connected = true;
        refused = false;
        retryDelay = kFirstRetry;
        Track(Publish(statusTopic, "online", 1, true), 0);
        owner.sensorMessages_.Reconnected();
        owner.SetState(MqttState::Connected, "connected to the MQTT broker at " + where);
    }

    void Written(int mid) {
        auto it = inFlight.find(mid);
        if (it == inFlight.end()) {
            writtenEarly.insert(mid);
            return;
        }
        owner.published_.fetch_add(it->second, std::memory_order_relaxed);
        inFlight.erase(it);
    }

    // Returns the message id, or -1 when the library refused the message.
    int Publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
        int mid = 0;
        const int rc = mosquitto_publish(mosq, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                         qos, retain);
        return rc == MOSQ_ERR_SUCCESS ? mid : -1;
    }

    void Track(int mid, uint64_t frames) {
        if (mid < 0) {
            owner.lostInFlight_.fetch_add(frames, std::memory_order_relaxed);
        } else if (writtenEarly.erase(mid)) {
            owner.published_.fetch_add(frames, std::memory_order_relaxed);
        } else {
            inFlight[mid] = frames;
        }
        writtenEarly.clear();
    }

    void Attempt(Steady::time_point now) {
        attemptStart = now;
        refused = false;
        const int rc = mosquitto_connect_async(mosq, settings.host.c_str(), settings.port, kKeepAliveSeconds);
        if (rc == MOSQ_ERR_SUCCESS) {
            socketOpen = true;
            if (owner.State() != MqttState::Failed)
                owner.SetState(MqttState::Connecting, "connecting to the MQTT broker at " + where);
            return;
        }
        Failed(now, ErrorText(rc));
    }

    // The connection is gone (or never came): what was in flight is lost,
    // and the next attempt waits a little longer than the last.
    void Failed(Steady::time_point now, const std::string& reason) {
        if (socketOpen) mosquitto_disconnect(mosq);
        socketOpen = false;
        const bool wasConnected = connected;
        connected = false;
        uint64_t lost = 0;
        for (const auto& m : inFlight) lost += m.second;
        owner.lostInFlight_.fetch_add(lost, std::memory_order_relaxed);
        inFlight.clear();
        writtenEarly.clear();
        if (!refused)
            owner.SetState(MqttState::Failed, (wasConnected ? "lost the MQTT broker at " : "cannot reach the MQTT broker at ") +
                                                  where + ": " + reason);
        nextAttempt = now + retryDelay;
        retryDelay = std::min(retryDelay * 2, kLongestRetry);
    }

    // Serves the connection for at most wait.
    void Loop(Steady::time_point now, Ms wait) {
        if (!socketOpen) return;
        if (!connected && now - attemptStart > kConnackTimeout) {
            Failed(now, "no answer");
            return;
        }
        const int rc = mosquitto_loop(mosq, static_cast<int>(wait.count()), 1);
        if (rc != MOSQ_ERR_SUCCESS) Failed(Steady::now(), ErrorText(rc));
    }

    // Publishes what the queue holds, one message per device.
    void PublishQueued(PublishQueue& queue) {
        if (!connected) {
            queue.DiscardOverwritten();
            return;
        }
        if (inFlight.size() >= kMaxBatchesInFlight) {
            queue.DiscardOverwritten();
            return;
        }
        groupsUsed = 0;
        queue.Drain(queue.Capacity(), [this](const QueuedFrame& f) { Add(f); });
        for (size_t i = 0; i < groupsUsed; ++i) {
            Group& g = groups[i];
            EndBatch(g.payload);
            const std::string topic = settings.topic + "/" + TopicSafe(g.device.c_str()) + "/frames";
            Track(Publish(topic, g.payload, settings.qos, false), g.frames);
        }
        owner.sensorMessages_.Flush(settings.topic, [this](const std::string& topic, const std::string& payload,
                                                           bool retain) {
            Track(Publish(topic, payload, retain ? 1 : settings.qos, retain), 0);
        });
    }

    void Add(const QueuedFrame& f) {
        size_t i = 0;
        while (i < groupsUsed && groups[i].device != f.device) ++i;
        if (i == groupsUsed) {
            if (groups.size() == groupsUsed) groups.emplace_back();
            Group& g = groups[groupsUsed++];
            g.device = f.device;
            g.payload.clear();
            g.frames = 0;
            BeginBatch(g.payload, f.device);
        }
        owner.sensorMessages_.SawDevice(f.device, f.sn);
        Group& g = groups[i];
        AppendFrame(g.payload, f, g.frames == 0);
        ++g.frames;
    }
};

MqttPublisher::MqttPublisher(const Clock& clock, size_t queueFrames) : clock_(clock), queueFrames_(queueFrames) {}

MqttPublisher::~MqttPublisher() { Stop(0); }

void MqttPublisher::SetListener(std::function<void(MqttState, const std::string&)> listener) {
    std::lock_guard<std::mutex> lock(messageMutex_);
    listener_ = std::move(listener);
}

void MqttPublisher::Start(const MqttSettings& settings) {
    Stop(0);
    if (!queue_) queue_ = std::make_unique<PublishQueue>(queueFrames_);
    queue_->DiscardAll();
    queueDroppedBase_ = queue_->Dropped();
    published_.store(0, std::memory_order_relaxed);
    lostInFlight_.store(0, std::memory_order_relaxed);
    MqttSettings s = settings;
    if (s.clientId.empty()) s.clientId = DefaultClientId();
    if (s.topic.empty()) s.topic = "lumora";
    stop_.store(false, std::memory_order_release);
    SetState(MqttState::Connecting, "connecting to the MQTT broker at " + s.host + ":" + std::to_string(s.port));
    running_.store(true, std::memory_order_release);
    thread_ = std::thread(&MqttPublisher::Run, this, std::move(s));
    activeQueue_.store(queue_.get(), std::memory_order_release);
}

void MqttPublisher::Stop(double drainSeconds) {
    activeQueue_.store(nullptr, std::memory_order_release);
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        drainSeconds_ = drainSeconds;
        stop_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
    thread_.join();
    running_.store(false, std::memory_order_release);
}

uint64_t MqttPublisher::Dropped() const {
    const uint64_t queued = queue_ ? queue_->Dropped() - queueDroppedBase_ : 0;
    return queued + lostInFlight_.load(std::memory_order_relaxed);
}

std::string MqttPublisher::LastMessage() const {
    std::lock_guard<std::mutex> lock(messageMutex_);
    return message_;
}

void MqttPublisher::SetState(MqttState state, const std::string& message) {
    std::function<void(MqttState, const std::string&)> listener;
    {
        std::lock_guard<std::mutex> lock(messageMutex_);
        const bool same = state == state_.load() && message == message_;
        state_.store(state, std::memory_order_release);
        message_ = message;
        if (same) return;
        listener = listener_;
    }
    if (listener) listener(state, message);
}

void MqttPublisher::OnFrame(const FrameSlot& frame, uint32_t sourceAddr) {
    PublishQueue* queue = activeQueue_.load(std::memory_order_acquire);
    if (!queue) return;
    // A frame without a serial number of its own ("X" is what a frame
    // without trailer gets) is named after its sender.
    char device[INET_ADDRSTRLEN] = {};
    const char* name = frame.sn;
    if (name[0] == '\0' || std::strcmp(name, "X") == 0) {
        in_addr a{};
        a.s_addr = sourceAddr;
        name = ::inet_ntop(AF_INET, &a, device, sizeof device) ? device : "unknown";
    }
    if (stampLocalTime_.load(std::memory_order_relaxed)) {
        const StampTime t = ToStamp(clock_.NowMs());
        queue->Push(frame, name, t.seconds, t.microseconds);
    } else {
        queue->Push(frame, name, frame.time, frame.microseconds);
    }
}

void MqttPublisher::Run(MqttSettings settings) {
    std::call_once(g_libraryInit, [] { mosquitto_lib_init(); });
    PublishQueue& queue = *queue_;
    Session session(*this, settings);
    session.mosq = mosquitto_new(settings.clientId.c_str(), true, &session);
    if (!session.mosq) {
        SetState(MqttState::Failed, "cannot create the MQTT client: " + std::string(std::strerror(errno)));
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait(lock, [this] { return stop_.load(); });
        queue.DiscardAll();
        return;
    }
    mosquitto* mosq = session.mosq;
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq, &Session::OnConnect);
    mosquitto_publish_callback_set(mosq, &Session::OnPublish);
    mosquitto_will_set(mosq, session.statusTopic.c_str(), 7, "offline", 1, true);
    if (!settings.user.empty())
        mosquitto_username_pw_set(mosq, settings.user.c_str(),
                                  settings.password.empty() ? nullptr : settings.password.c_str());
    if (!settings.caFile.empty() || settings.tls) {
        const int rc = mosquitto_tls_set(mosq, settings.caFile.empty() ? nullptr : settings.caFile.c_str(),
                                         settings.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                                         nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            SetState(MqttState::Failed, "cannot use the CA file " + settings.caFile + ": " + ErrorText(rc));
    }

    const Ms batch(settings.batchMs);
    Steady::time_point nextBatch = Steady::now() + batch;
    session.nextAttempt = Steady::now();
    while (!stop_.load(std::memory_order_acquire)) {
        Steady::time_point now = Steady::now();
        if (!session.socketOpen && now >= session.nextAttempt) session.Attempt(now);
        now = Steady::now();
        if (now >= nextBatch) {
            session.PublishQueued(queue);
            nextBatch = std::max(nextBatch + batch, now);
        }
        const Ms wait = std::clamp(std::chrono::duration_cast<Ms>(nextBatch - now), Ms(0), kLongestLoopWait);
        if (session.socketOpen) {
            session.Loop(now, wait);
        } else {
            const Ms untilAttempt = std::chrono::duration_cast<Ms>(session.nextAttempt - now);
            std::unique_lock<std::mutex> lock(wakeMutex_);
            wake_.wait_for(lock, std::clamp(untilAttempt, Ms(0), wait), [this] { return stop_.load(); });
        }
    }

    // Stopping: send what is queued while the broker is there, say "offline"
    // and leave.
    const Steady::time_point deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                                            std::chrono::duration<double>(drainSeconds_));
    while (session.socketOpen && Steady::now() < deadline) {
        if (session.connected) {
            session.PublishQueued(queue);
            if (queue.Waiting() == 0 && session.inFlight.empty()) break;
        }
        session.Loop(Steady::now(), Ms(10));
    }
    if (session.connected) {
        session.Track(session.Publish(session.statusTopic, "offline", 1, true), 0);
        const Steady::time_point until = Steady::now() + Ms(1000);
        while (session.connected && session.socketOpen && !session.inFlight.empty() && Steady::now() < until)
            session.Loop(Steady::now(), Ms(10));
        mosquitto_disconnect(mosq);
        mosquitto_loop(mosq, 0, 1);
    }
    uint64_t lost = 0;
    for (const auto& m : session.inFlight) lost += m.second;
    lostInFlight_.fetch_add(lost, std::memory_order_relaxed);
    queue.DiscardAll();
    mosquitto_destroy(mosq);
    SetState(MqttState::Off, "publishing stopped");
}

}  // namespace lumora
