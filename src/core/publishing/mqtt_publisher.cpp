#include "publishing/mqtt_publisher.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <set>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "publishing/frame_payload.h"

namespace lumora {
namespace {

using Steady = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr int kKeepAliveSeconds = 30;
// Batches handed to the client library but not yet written out (QoS 0) or
// acknowledged (QoS 1 and 2). Beyond this the broker is not keeping up:
// frames wait (and age out) in our queue instead of piling up in the
// library's memory.
constexpr size_t kMaxBatchesInFlight = 8;
constexpr Ms kFirstRetry{250};
constexpr Ms kLongestRetry{8000};
// From the end of the name lookup to the broker's answer: TCP, TLS and
// the CONNACK together.
constexpr Ms kAnswerTimeout{10000};
constexpr Ms kLongestLoopWait{50};
// How often a publisher that waits for the lookup looks whether it ended.
constexpr Ms kLookupPoll{10};
// How often a publisher that gave up counts what was handed over as dropped.
constexpr Ms kIdleDiscard{100};
// A stop gives "offline" at least this long to go out.
constexpr double kOfflineSeconds = 0.1;
constexpr char kSystemCaFolder[] = "/etc/ssl/certs";

std::once_flag g_libraryInit;
std::atomic<MqttPublisher::ConnectStep> g_connectStep{nullptr};

std::string ErrorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

std::string StatusTopic(const MqttSettings& s) { return s.topic + "/status/" + s.clientId; }

// Why TLS cannot be used with these settings, or "" when it can be tried.
// The CA file is read here, before anything is connected, because the
// client library finds a bad one only while it connects.
std::string TlsProblem(const MqttSettings& s) {
    const std::string prefix = "TLS could not be set up: ";
    if (s.caFile.empty()) {
        if (::access(kSystemCaFolder, R_OK | X_OK) != 0)
            return prefix + "the system's CA folder " + kSystemCaFolder + " cannot be read: " + std::strerror(errno);
        return {};
    }
    const std::string what = "the CA file " + s.caFile;
    const int fd = ::open(s.caFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return prefix + what + " cannot be read: " + std::strerror(errno);
    static constexpr char kMarker[] = "-----BEGIN CERTIFICATE-----";
    std::string text;
    char buf[4096];
    ssize_t n = 0;
    while (text.find(kMarker) == std::string::npos && (n = ::read(fd, buf, sizeof buf)) > 0) {
        // Keep only what a marker cut by the block's end needs.
        if (text.size() > sizeof kMarker) text.erase(0, text.size() - sizeof kMarker);
        text.append(buf, static_cast<size_t>(n));
    }
    const int err = errno;
    ::close(fd);
    if (n < 0) return prefix + what + " cannot be read: " + std::strerror(err);
    if (text.find(kMarker) == std::string::npos) return prefix + what + " holds no certificate (PEM)";
    return {};
}

// The client with everything that needs no network: client id, last will,
// login and TLS. Null, with the reason in problem, when it cannot be had.
std::shared_ptr<mosquitto> NewClient(const MqttSettings& s, std::string& problem) {
    std::call_once(g_libraryInit, [] { mosquitto_lib_init(); });
    std::string error;
    if (!CheckMqttNames(s, error)) {
        problem = "cannot publish: " + error;
        return nullptr;
    }
    if (s.UsesTls()) {
        problem = TlsProblem(s);
        if (!problem.empty()) return nullptr;
    }
    mosquitto* raw = mosquitto_new(s.clientId.c_str(), true, nullptr);
    if (!raw) {
        problem = "cannot create the MQTT client: " + std::string(std::strerror(errno));
        return nullptr;
    }
    std::shared_ptr<mosquitto> client(raw, mosquitto_destroy);
    mosquitto_int_option(raw, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const std::string status = StatusTopic(s);
    int rc = mosquitto_will_set(raw, status.c_str(), 7, "offline", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !s.user.empty())
        rc = mosquitto_username_pw_set(raw, s.user.c_str(), s.password.empty() ? nullptr : s.password.c_str());
    if (rc != MOSQ_ERR_SUCCESS) {
        problem = "cannot set up the MQTT client: " + ErrorText(rc);
        return nullptr;
    }
    if (s.UsesTls()) {
        rc = mosquitto_tls_set(raw, s.caFile.empty() ? nullptr : s.caFile.c_str(),
                               s.caFile.empty() ? kSystemCaFolder : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            problem = "TLS could not be set up: " + ErrorText(rc);
            return nullptr;
        }
    }
    return client;
}

// One connection attempt: the name lookup and the start of the connection,
// on a helper thread of its own, since getaddrinfo takes as long as the
// name server likes and cannot be interrupted. The helper holds the client
// until the step returns, so a publisher that stops meanwhile leaves it
// behind instead of waiting; the client is then freed by whichever lets go
// of it last.
struct ConnectJob {
    std::shared_ptr<mosquitto> client;
    std::string host;
    int port = 0;
    int rc = MOSQ_ERR_SUCCESS;
    int err = 0;  // errno right after the step
    std::atomic<bool> done{false};
};

std::shared_ptr<ConnectJob> StartConnect(std::shared_ptr<mosquitto> client, const std::string& host, int port) {
    auto job = std::make_shared<ConnectJob>();
    job->client = std::move(client);
    job->host = host;
    job->port = port;
    try {
        std::thread([job] {
            const MqttPublisher::ConnectStep step = g_connectStep.load();
            errno = 0;
            job->rc = step ? step(job->client.get(), job->host.c_str(), job->port, kKeepAliveSeconds)
                           : mosquitto_connect_async(job->client.get(), job->host.c_str(), job->port,
                                                     kKeepAliveSeconds);
            job->err = errno;
            job->done.store(true, std::memory_order_release);
        }).detach();
    } catch (const std::system_error& e) {  // no thread to be had: this attempt fails
        job->rc = MOSQ_ERR_ERRNO;
        job->err = e.code().value();
        job->done.store(true, std::memory_order_release);
    }
    return job;
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

void MqttPublisher::SetConnectStepForTesting(ConnectStep step) { g_connectStep.store(step); }

// Everything the publisher thread keeps about one connection; libmosquitto's
// callbacks run inside mosquitto_loop and mosquitto_publish on the same
// thread.
struct MqttPublisher::Session {
    enum class Link {
        Down,        // waiting for the next attempt
        Opening,     // the helper looks the name up and starts the connection
        Tcp,         // waiting for the TCP connection to be made
        Handshake,   // TLS and CONNECT, waiting for the CONNACK
        Up,          // connected
    };

    MqttPublisher& owner;
    MqttSettings settings;
    std::string where;  // "HOST:PORT" for messages
    std::string statusTopic;
    std::shared_ptr<mosquitto> client;
    mosquitto* mosq;

    Link link = Link::Down;
    bool gaveUp = false;
    bool refused = false;  // the broker answered the last attempt with a refusal
    std::shared_ptr<ConnectJob> job;
    int connectErrno = 0;
    Steady::time_point attemptStart{};
    Steady::time_point nextAttempt{};
    Ms retryDelay = kFirstRetry;

    std::unordered_map<int, uint64_t> inFlight;  // message id -> frames in it
    std::unordered_set<int> writtenEarly;        // written before mosquitto_publish returned
    std::set<int> reportedErrors;                // publish errors already shown
    // An exception thrown inside a callback waits here until the library
    // has returned: it must not unwind through C code.
    std::exception_ptr callbackError;
    struct Group {
        std::string device;
        std::string payload;
        uint64_t frames = 0;
    };
    std::vector<Group> groups;
    size_t groupsUsed = 0;

    Session(MqttPublisher& o, MqttSettings s, std::shared_ptr<mosquitto> c)
        : owner(o), settings(std::move(s)), client(std::move(c)), mosq(client.get()) {
        where = settings.host + ":" + std::to_string(settings.port);
        statusTopic = StatusTopic(settings);
        mosquitto_user_data_set(mosq, this);
        mosquitto_connect_callback_set(mosq, &Session::Callback<&Session::Answered>);
        mosquitto_publish_callback_set(mosq, &Session::Callback<&Session::Written>);
    }
    // What was never acknowledged is lost with the client.
    ~Session() {
        uint64_t lost = 0;
        for (const auto& m : inFlight) lost += m.second;
        owner.lostInFlight_.fetch_add(lost, std::memory_order_relaxed);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Connected() const { return link == Link::Up; }

    // A callback of the library: handler on the session, any exception kept.
    template <void (Session::*Handler)(int)>
    static void Callback(mosquitto*, void* self, int value) {
        auto* s = static_cast<Session*>(self);
        try {
            (s->*Handler)(value);
        } catch (...) {
            s->callbackError = std::current_exception();
        }
    }
    void RethrowCallbackError() {
        if (callbackError) std::rethrow_exception(std::exchange(callbackError, nullptr));
    }

    void Answered(int rc) {
        if (rc != 0) {
            refused = true;
            owner.SetState(MqttState::Failed,
                           "the MQTT broker at " + where + " refused the connection: " + mosquitto_connack_string(rc));
            return;
        }
        link = Link::Up;
        refused = false;
        retryDelay = kFirstRetry;
        Track(Publish(statusTopic, "online", 1, true), 0);
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
        RethrowCallbackError();
        if (rc == MOSQ_ERR_SUCCESS) return mid;
        Refused(topic, rc);
        return -1;
    }

    // A message the library would not take. Its frames count as dropped;
    // the reason is shown the first time. A connection that has just gone is
    // reported by the loop instead.
    void Refused(const std::string& topic, int rc) {
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) return;
        if (!reportedErrors.insert(rc).second) return;
        owner.SetState(owner.State(), "cannot publish to " + topic + " at the MQTT broker at " + where + ": " +
                                          ErrorText(rc) + " (such frames are counted as dropped)");
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
        job = StartConnect(client, settings.host, settings.port);
        link = Link::Opening;
        if (owner.State() != MqttState::Failed)
            owner.SetState(MqttState::Connecting, "connecting to the MQTT broker at " + where);
    }

    // The helper's answer, once it has one.
    void Opened() {
        if (!job->done.load(std::memory_order_acquire)) return;
        const int rc = job->rc;
        connectErrno = job->err;
        job.reset();
        attemptStart = Steady::now();
        if (rc == MOSQ_ERR_SUCCESS) {
            link = Link::Tcp;
        } else if (rc == MOSQ_ERR_TLS) {
            // The library sets TLS up while it connects; nothing has been sent.
            gaveUp = true;
            link = Link::Down;
            owner.gaveUp_.store(true, std::memory_order_release);
            owner.SetState(MqttState::Failed, "TLS could not be set up: " + ErrorText(rc));
        } else if (rc == MOSQ_ERR_EAI) {
            // The library leaves getaddrinfo's code in errno.
            Failed(Steady::now(), "the host name cannot be looked up" +
                                      (connectErrno != 0 ? ": " + std::string(gai_strerror(connectErrno)) : ""));
        } else {
            errno = connectErrno;
            Failed(Steady::now(), ErrorText(rc));
        }
    }

    // The library is not let near the socket until the TCP connection is
    // made: its TLS handshake would take the connection's error and go on
    // waiting for an answer that cannot come, where a refusal must be told
    // as one.
    void AwaitTcp(Steady::time_point now, Ms wait) {
        pollfd p{mosquitto_socket(mosq), POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) {
            if (now - attemptStart > kAnswerTimeout) Failed(Steady::now(), "no answer");
            return;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        sockaddr_storage peer{};
        socklen_t peerLen = sizeof peer;
        if (soError == 0 && ::getpeername(p.fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0) {
            link = Link::Handshake;
            return;
        }
        // The handshake's first write may already have taken the error:
        // then it is what that write left in errno.
        if (soError == 0)
            soError = connectErrno != 0 && connectErrno != EINPROGRESS && connectErrno != EAGAIN ? connectErrno
                                                                                                : ENOTCONN;
        Failed(Steady::now(), std::strerror(soError));
    }

    // The connection is gone (or never came). QoS 0 messages not yet
    // written are lost with it; the library keeps QoS 1 and 2 messages and
    // sends them again once connected, so they stay in flight. The next
    // attempt waits a little longer than the last.
    void Failed(Steady::time_point now, const std::string& reason) {
        if (link == Link::Tcp || link == Link::Handshake || link == Link::Up) mosquitto_disconnect(mosq);
        const bool wasConnected = Connected();
        link = Link::Down;
        if (settings.qos == 0) {
            uint64_t lost = 0;
            for (const auto& m : inFlight) lost += m.second;
            owner.lostInFlight_.fetch_add(lost, std::memory_order_relaxed);
            inFlight.clear();
        }
        writtenEarly.clear();
        if (!refused)
            owner.SetState(MqttState::Failed, (wasConnected ? "lost the MQTT broker at " : "cannot reach the MQTT broker at ") +
                                                  where + ": " + reason);
        nextAttempt = now + retryDelay;
        retryDelay = std::min(retryDelay * 2, kLongestRetry);
    }

    // Serves the connection for at most wait.
    void Loop(Steady::time_point now, Ms wait) {
        if (link != Link::Handshake && link != Link::Up) return;
        if (link == Link::Handshake && now - attemptStart > kAnswerTimeout) {
            Failed(now, "no answer");
            return;
        }
        const int rc = mosquitto_loop(mosq, static_cast<int>(wait.count()), 1);
        RethrowCallbackError();
        if (rc != MOSQ_ERR_SUCCESS) Failed(Steady::now(), ErrorText(rc));
    }

    // Publishes what the queue holds, one message per device.
    void PublishQueued(PublishQueue& queue) {
        if (!Connected() || inFlight.size() >= kMaxBatchesInFlight) {
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
    if (s.topic.empty()) s.topic = kDefaultMqttTopic;
    stop_.store(false, std::memory_order_release);
    std::string problem;
    std::shared_ptr<mosquitto> client = NewClient(s, problem);
    gaveUp_.store(!client, std::memory_order_release);
    if (client)
        SetState(MqttState::Connecting, "connecting to the MQTT broker at " + s.host + ":" + std::to_string(s.port));
    else
        SetState(MqttState::Failed, problem);
    running_.store(true, std::memory_order_release);
    thread_ = std::thread(&MqttPublisher::Run, this, std::move(client), std::move(s));
    activeQueue_.store(queue_.get(), std::memory_order_release);
}

void MqttPublisher::Stop(double drainSeconds) {
    activeQueue_.store(nullptr);
    // A frame being offered may have taken the queue just before it was
    // withdrawn; it is let in before the thread's last discard counts the
    // queue, so that every frame offered is published or dropped.
    while (offering_.load() != 0) std::this_thread::yield();
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        drainSeconds_ = std::clamp(drainSeconds, 0.0, kStopSeconds);
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

void MqttPublisher::SetFinalState(MqttState state, const std::string& message) noexcept {
    try {
        SetState(state, message);
    } catch (...) {
        // The state and its message are kept; only the listener failed.
    }
}

void MqttPublisher::OnFrame(const FrameSlot& frame, uint32_t sourceAddr) {
    struct Offering {
        std::atomic<int>& count;
        explicit Offering(std::atomic<int>& c) : count(c) { count.fetch_add(1); }
        ~Offering() { count.fetch_sub(1); }
    } offering(offering_);
    PublishQueue* queue = activeQueue_.load();
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

void MqttPublisher::WaitForStop(Ms wait) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wake_.wait_for(lock, std::max(wait, Ms(0)), [this] { return stop_.load(); });
}

void MqttPublisher::IdleUntilStop(PublishQueue& queue) {
    while (!stop_.load(std::memory_order_acquire)) {
        queue.DiscardAll();
        WaitForStop(kIdleDiscard);
    }
}

void MqttPublisher::Run(std::shared_ptr<mosquitto> client, MqttSettings settings) {
    PublishQueue& queue = *queue_;
    std::string failure;
    if (client) {
        try {
            Session session(*this, std::move(settings), std::move(client));
            Serve(session, queue);
            if (!session.gaveUp) Finish(session, queue);
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "unknown error";
        }
    }
    if (!failure.empty()) {
        gaveUp_.store(true, std::memory_order_release);
        SetFinalState(MqttState::Failed, "publishing stopped after an internal error: " + failure);
    }
    IdleUntilStop(queue);
    queue.DiscardAll();
    SetFinalState(MqttState::Off, "publishing stopped");
}

void MqttPublisher::Serve(Session& session, PublishQueue& queue) {
    const Ms batch(session.settings.batchMs);
    Steady::time_point nextBatch = Steady::now() + batch;
    session.nextAttempt = Steady::now();
    while (!stop_.load(std::memory_order_acquire) && !session.gaveUp) {
        Steady::time_point now = Steady::now();
        if (session.link == Session::Link::Down && now >= session.nextAttempt) session.Attempt(now);
        now = Steady::now();
        if (now >= nextBatch) {
            session.PublishQueued(queue);
            nextBatch = std::max(nextBatch + batch, now);
        }
        const Ms wait = std::clamp(std::chrono::duration_cast<Ms>(nextBatch - now), Ms(0), kLongestLoopWait);
        switch (session.link) {
            case Session::Link::Down:
                WaitForStop(std::min(std::chrono::duration_cast<Ms>(session.nextAttempt - now), wait));
                break;
            case Session::Link::Opening:
                WaitForStop(std::min(wait, kLookupPoll));
                session.Opened();
                break;
            case Session::Link::Tcp:
                session.AwaitTcp(now, wait);
                break;
            case Session::Link::Handshake:
            case Session::Link::Up:
                session.Loop(now, wait);
                break;
        }
    }
}

// Stopping: send what is queued while the broker is there, say "offline"
// and leave, all within the time Stop allows.
void MqttPublisher::Finish(Session& session, PublishQueue& queue) {
    using Seconds = std::chrono::duration<double>;
    const Steady::time_point start = Steady::now();
    const Steady::time_point drainUntil = start + std::chrono::duration_cast<Steady::duration>(Seconds(drainSeconds_));
    const Steady::time_point offlineUntil =
        start + std::chrono::duration_cast<Steady::duration>(Seconds(std::max(drainSeconds_, kOfflineSeconds)));
    while (session.Connected() && Steady::now() < drainUntil) {
        session.PublishQueued(queue);
        if (queue.Waiting() == 0 && session.inFlight.empty()) break;
        session.Loop(Steady::now(), Ms(10));
    }
    if (!session.Connected()) return;
    session.Track(session.Publish(session.statusTopic, "offline", 1, true), 0);
    while (session.Connected() && !session.inFlight.empty() && Steady::now() < offlineUntil)
        session.Loop(Steady::now(), Ms(10));
    mosquitto_disconnect(session.mosq);
    mosquitto_loop(session.mosq, 0, 1);
    session.RethrowCallbackError();
}

}  // namespace lumora
