#pragma once
// A window for tests: records what the engine does to it and keeps posted
// tasks until the test runs them on its own thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "window/window_port.h"

namespace lumora::test {

class FakeWindow : public WindowPort {
public:
    void SetText(int id, const std::string& text) override {
        texts[id] = text;
        calls.push_back("text " + std::to_string(id));
    }
    std::string GetText(int id) override { return texts[id]; }
    void SetCheck(int id, bool on) override {
        checks[id] = on;
        calls.push_back("check " + std::to_string(id) + (on ? " on" : " off"));
    }
    bool GetCheck(int id) override { return checks[id]; }
    void EnableControl(int, bool) override {}
    void SetProgress(int, int, int) override {}
    int MessageBox(const std::string& text, const std::string&, int, int) override {
        messages.push_back(text);
        return kIdOk;
    }
    void SetActiveTab(int tab) override { calls.push_back("tab " + std::to_string(tab)); }
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    void Post(std::function<void()> task) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            posted_.push_back(std::move(task));
        }
        cv_.notify_all();
    }
    void OpenFolder(const std::string&) override {}
    void OpenUrl(const std::string& url) override { urls.push_back(url); }

    // Runs posted tasks on the calling thread until done() holds or the
    // timeout passes; returns done().
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            RunPosted();
            if (done()) return true;
            std::unique_lock<std::mutex> lock(mutex_);
            if (std::chrono::steady_clock::now() >= deadline) return done();
            cv_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(10)),
                           [&] { return !posted_.empty(); });
        }
    }
    void RunPosted() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!posted_.empty()) {
            auto task = std::move(posted_.front());
            posted_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }
    size_t PendingTasks() {
        std::lock_guard<std::mutex> lock(mutex_);
        return posted_.size();
    }

    std::map<int, std::string> texts;
    std::map<int, bool> checks;
    std::vector<std::string> calls;
    std::vector<std::string> messages;
    std::vector<std::string> urls;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace lumora::test
