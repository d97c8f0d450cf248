#pragma once
// A real mosquitto broker on a free loopback port and a libmosquitto
// subscriber.
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/free_ports.h"

namespace lumora::test {

inline bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// mosquitto with a configuration written into dir; anonymous clients
// allowed unless a user is given (then only that user and password).
class Broker {
public:
    Broker(std::string dir, std::string user = "", std::string password = "")
        : dir_(std::move(dir)), port_(FreeTcpPort()) {
        std::ofstream conf(dir_ + "/mosquitto.conf");
        conf << "listener " << port_ << " 127.0.0.1\n";
        if (user.empty()) {
            conf << "allow_anonymous true\n";
        } else {
            conf << "allow_anonymous false\npassword_file " << dir_ << "/passwd\n";
            const std::string cmd = "mosquitto_passwd -b -c '" + dir_ + "/passwd' '" + user + "' '" + password + "'";
            passwordOk_ = std::system(cmd.c_str()) == 0;
            // A broker started as root reads the file as the user it drops to.
            ::chmod(dir_.c_str(), 0755);
            ::chmod((dir_ + "/passwd").c_str(), 0644);
        }
    }
    ~Broker() { Kill(); }

    bool Start() {
        child_ = Spawn(dir_, {"/usr/sbin/mosquitto", "-c", dir_ + "/mosquitto.conf"}, dir_ + "/mosquitto.log");
        return child_.pid > 0 && WaitUntil([&] { return Accepts(port_); }, 30);
    }
    void Kill() {
        if (child_.pid <= 0) return;
        ::kill(child_.pid, SIGKILL);
        ::waitpid(child_.pid, nullptr, 0);
        ::close(child_.out);
        child_ = {};
    }
    int Port() const { return port_; }
    pid_t Pid() const { return child_.pid; }
    bool PasswordOk() const { return passwordOk_; }

private:
    std::string dir_;
    int port_;
    bool passwordOk_ = true;
    Child child_;
};

struct Message {
    std::string topic;
    std::string payload;
    bool retained;
};

// Subscribes to filter and keeps every message; reconnects by itself and
// subscribes again after a broker restart.
class Subscriber {
public:
    Subscriber(int port, std::string filter) : filter_(std::move(filter)) {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed_ = true;
        });
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mutex_);
            s->messages_.push_back({m->topic, std::string(static_cast<const char*>(m->payload), size_t(m->payloadlen)),
                                    m->retain});
        });
        mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
        mosquitto_connect_async(mosq_, "127.0.0.1", port, 30);
        mosquitto_loop_start(mosq_);
    }
    ~Subscriber() {
        // After the disconnect the network thread ends by itself. Cancelling
        // it instead could catch it between looking up the broker's address
        // and freeing the answer, while it reconnects after a broker restart.
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    bool WaitSubscribed() { return WaitUntil([&] { return subscribed_.load(); }, 30); }
    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

private:
    std::string filter_;
    mosquitto* mosq_ = nullptr;
    std::atomic<bool> subscribed_{false};
    std::mutex mutex_;
    std::vector<Message> messages_;
};

}  // namespace lumora::test
