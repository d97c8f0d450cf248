// lumora-cli discover [--seconds N] [--port N]
// One discovery run: prints "#,PN,SN,IP" for each new instrument in the order
// found, and ends with the run or after N seconds.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "window/console_window_port.h"
#include "cli_commands.h"
#include "cli_util.h"
#include "device/device_discovery.h"

namespace lumora::cli {
namespace {

// The main thread plays the window: posted tasks queue up and run there.
class ConsoleWindow : public ConsoleWindowPort {
public:
    int MessageBox(const std::string& text, const std::string&, int, int) override {
        std::fprintf(stderr, "lumora-cli discover: %s\n", text.c_str());
        failed = true;
        return kIdOk;
    }
    void Post(std::function<void()> task) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        cv_.notify_one();
    }

    // Runs the tasks queued by now, waiting for one at most until deadline.
    // Tasks posted meanwhile wait for the next call, so that a listener that
    // keeps posting cannot keep the caller from looking at its deadline.
    void RunTasksUntil(std::chrono::steady_clock::time_point deadline) {
        std::deque<std::function<void()>> due;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait_until(lock, deadline, [&] { return !tasks_.empty(); });
            due.swap(tasks_);
        }
        for (std::function<void()>& task : due) task();
    }

    bool failed = false;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
};

int Usage() {
    std::fprintf(stderr, "usage: lumora-cli discover [--seconds N] [--port N]\n");
    return 2;
}

}  // namespace

int RunDiscover(const Args& args) {
    int seconds = 0;
    DiscoveryOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--seconds" || a == "--port") && i + 1 < args.size()) {
            long long value = 0;
            if (!ReadWholeNumber("discover", a, args[++i], 1, a == "--port" ? 65535 : INT32_MAX, &value)) return 2;
            if (a == "--seconds")
                seconds = static_cast<int>(value);
            else
                options.port = static_cast<uint16_t>(value);
        } else if (a == "--help" || a == "-h") {
            std::printf("usage: lumora-cli discover [--seconds N] [--port N]\n"
                        "Listens for instrument announcements on UDP port N (default 7000) and prints\n"
                        "\"#,PN,SN,IP\" for each new instrument. The run ends 10 s after the first\n"
                        "announcement (10 s after the start when none arrives), or after --seconds.\n");
            return 0;
        } else {
            return Usage();
        }
    }

    ConsoleWindow window;
    bool finished = false;
    {
        DeviceDiscovery discovery(window, nullptr, options);
        discovery.onDeviceAdded = [&discovery](const CSa& d) {
            std::printf("%zu,%s,%s,%s\n", discovery.Devices().size(), d.pn.c_str(), d.sn.c_str(), d.ip.c_str());
            std::fflush(stdout);
        };
        discovery.onRunFinished = [&finished] { finished = true; };
        discovery.StartRun();

        using Steady = std::chrono::steady_clock;
        const auto deadline = seconds > 0 ? Steady::now() + std::chrono::seconds(seconds) : Steady::time_point::max();
        while (!finished && !window.failed && Steady::now() < deadline) {
            auto next = std::min(deadline, Steady::now() + std::chrono::milliseconds(200));
            window.RunTasksUntil(next);
            if (discovery.ActiveRuns() == 0) window.RunTasksUntil(Steady::now());
            if (discovery.ActiveRuns() == 0 && !finished) break;  // failed to start; told by a message
        }
        discovery.Shutdown();
        // Announcements received before the end are still listed.
        window.RunTasksUntil(Steady::now());
        if (uint64_t ignored = discovery.IgnoredAnnouncements())
            std::fprintf(stderr, "lumora-cli discover: %llu announcements ignored (more than %d devices, or faster than they could be handled)\n",
                         static_cast<unsigned long long>(ignored), options.maxDevicesPerRun);
    }
    return window.failed ? 1 : 0;
}

}  // namespace lumora::cli
