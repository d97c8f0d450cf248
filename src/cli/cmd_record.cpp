// lumora-cli record: the receive session and the recorder without a window.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition/acquisition_state.h"
#include "acquisition/receive_session.h"
#include "window/control_ids.h"
#include "window/console_window_port.h"
#include "cli_commands.h"
#include "cli_util.h"
#include "cli_mqtt.h"
#include "recording/raw_recorder.h"
#include "settings/setting_values.h"
#include "settings/settings_store.h"

namespace lumora::cli {
namespace {

// Not every record reached the disk (full disk, uncreatable file).
constexpr int kExitRecordsLost = 3;

volatile std::sig_atomic_t g_recordStop = 0;
void OnRecordSignal(int) { g_recordStop = 1; }

// The console as the session's window: posted tasks run on the main thread,
// message boxes and the sender's address go to stderr.
class ConsoleWindow : public ConsoleWindowPort {
public:
    void SetText(int id, const std::string& text) override {
        if (id == IDC_DEVICE_IP) std::fprintf(stderr, "sender %s\n", text.c_str());
    }
    void Post(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }

    // Runs the tasks posted so far (main thread).
    void RunPosted() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& t : tasks) t();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

struct RecordOptions {
    // Where each value came from: "--port", or the key of the settings file.
    std::string portFrom = "--port", dirFrom = "--dir", prefixFrom = "--prefix";
    // Said unless the option replaces the value of the settings file.
    std::string linesWarning, intervalWarning;
    std::string port;
    std::string dir;
    std::string prefix;
    long long lines = 0;
    bool stringFormat = false;
    bool localTime = true;
    bool counter = true;
    std::string interval;
    double seconds = 0;
    bool mqtt = false;
    MqttSettings mqttSettings;
};

// The defaults from the settings file. A record count below 1 and a pause
// outside 0..60000 ms are replaced, with a warning unless an option replaces
// them; a port or a prefix that cannot be used is refused by
// CheckRecordOptions, which names the key it came from.
void ReadRecordSettings(const SettingsStore& settings, RecordOptions& o) {
    o.portFrom = SettingName(settings, "Net", "Port");
    o.dirFrom = SettingName(settings, "DataSave", "Dir");
    o.prefixFrom = SettingName(settings, "DataSave", "FileName");
    const int port = settings.GetInt("Net", "Port", 7008);
    o.port = UsablePort(std::to_string(port)) ? std::to_string(port) : settings.GetString("Net", "Port", "");
    o.stringFormat = settings.GetInt("Net", "StringFormat", 0) != 0;
    o.dir = settings.GetString("DataSave", "Dir", "NULL");
    o.prefix = settings.GetString("DataSave", "FileName", "sa");
    o.localTime = settings.GetInt("DataSave", "EnableLocalTime", 1) != 0;
    o.counter = settings.GetInt("DataSave", "SaveCounter", 1) != 0;

    o.lines = settings.GetInt("DataSave", "LineNumber", static_cast<int>(kDefaultRecordsPerFile));
    if (o.lines < 1) {
        o.linesWarning = SettingName(settings, "DataSave", "LineNumber") + " is '" +
                         settings.GetString("DataSave", "LineNumber", "") + "', below 1: " +
                         std::to_string(kDefaultRecordsPerFile) + " records per file";
        o.lines = kDefaultRecordsPerFile;
    }
    const int interval = settings.GetInt("DataRec", "Interval", 0);
    if (interval != UsableIntervalMs(interval))
        o.intervalWarning = SettingName(settings, "DataRec", "Interval") + " is " + std::to_string(interval) +
                            ", outside 0 to " + std::to_string(kMaxIntervalMs) + ": " +
                            std::to_string(UsableIntervalMs(interval)) + " ms";
    o.interval = std::to_string(UsableIntervalMs(interval));
}

// What cannot be used is refused before the port is bound, so that a run
// never listens for data it cannot keep.
bool CheckRecordOptions(RecordOptions& o) {
    for (const std::string* warning : {&o.linesWarning, &o.intervalWarning})
        if (!warning->empty()) std::fprintf(stderr, "lumora-cli record: warning: %s\n", warning->c_str());
    if (!UsablePort(o.port) && !(o.portFrom == "--port" && o.port == "0")) {
        std::fprintf(stderr, "lumora-cli record: %s must be a port from 1 to 65535, not '%s'\n", o.portFrom.c_str(),
                     o.port.c_str());
        return false;
    }
    if (!IsSafeFilePrefix(o.prefix)) {
        std::fprintf(stderr, "lumora-cli record: %s may not contain /, \\ or .., not '%s'\n", o.prefixFrom.c_str(),
                     o.prefix.c_str());
        return false;
    }
    // "NULL" is the current directory.
    if (o.dir == "NULL") {
        char cwd[4096];
        o.dir = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    std::string why;
    if (!WritableFolder(o.dir, &why)) {
        std::fprintf(stderr, "lumora-cli record: %s: %s\n", o.dirFrom.c_str(), why.c_str());
        return false;
    }
    return true;
}

}  // namespace

int RunRecord(const Args& args) {
    SettingsStore settings;
    RecordOptions o;
    ReadRecordSettings(settings, o);

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--str-format") {
            o.stringFormat = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            std::printf(
                "usage: lumora-cli record [--port N] [--dir DIR] [--prefix P] [--lines N] [--str-format]\n"
                "                         [--local-time 0|1] [--counter 0|1] [--interval MS] [--seconds S]\n"
                "                         [--mqtt mqtt://[USER:PASS@]HOST[:PORT]/TOPIC]\n"
                "Options not given come from ./Lumora.ini. --port 0 takes a free port. DIR must exist and be\n"
                "writable; P may not contain /, \\ or ..; --interval is 0 to %d.\n"
                "Ends on Ctrl+C, SIGTERM, SIGHUP or after S seconds.\n"
                "With --mqtt the decoded frames are also published (see 'lumora-cli publish --help').\n"
                "Exit status 2 when an option or a value of ./Lumora.ini cannot be used, 1 when the port\n"
                "cannot be bound, 3 when any record did not reach the disk.\n",
                kMaxIntervalMs);
            return 0;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "lumora-cli record: unknown option or missing value: %s\n", a.c_str());
            return 2;
        }
        const std::string& v = args[++i];
        long long n = 0;
        if (a == "--port") {
            if (!ReadWholeNumber("record", a, v, 0, 65535, &n)) return 2;
            o.port = v;
            o.portFrom = a;
        } else if (a == "--dir") {
            o.dir = v;
            o.dirFrom = a;
        } else if (a == "--prefix") {
            o.prefix = v;
            o.prefixFrom = a;
        } else if (a == "--interval") {
            if (!ReadWholeNumber("record", a, v, 0, kMaxIntervalMs, &n)) return 2;
            o.interval = v;
            o.intervalWarning.clear();
        } else if (a == "--mqtt") {
            if (!ParseMqttOption("record", v, settings, o.mqttSettings)) return 2;
            o.mqtt = true;
        } else if (a == "--lines") {
            if (!ReadWholeNumber("record", a, v, 1, UINT32_MAX, &o.lines)) return 2;
            o.linesWarning.clear();
        } else if (a == "--local-time" || a == "--counter") {
            if (!ReadWholeNumber("record", a, v, 0, 1, &n)) return 2;
            (a == "--local-time" ? o.localTime : o.counter) = n != 0;
        } else if (a == "--seconds") {
            if (!ReadDecimalNumber("record", a, v, 0, 1e9, &o.seconds)) return 2;
        } else {
            std::fprintf(stderr, "lumora-cli record: bad option %s %s\n", a.c_str(), v.c_str());
            return 2;
        }
    }
    if (!CheckRecordOptions(o)) return 2;

    ConsoleWindow window;
    AcquisitionState state;
    RawRecorder recorder(&window);
    recorder.SetDirectory(o.dir);
    recorder.SetFilePrefix(o.prefix);
    recorder.SetRecordsPerFile(static_cast<uint32_t>(o.lines));
    recorder.SetStampLocalTime(o.localTime);
    recorder.SetSaveCounter(o.counter);

    MqttPublisher publisher;  // outlives the session, which hands it frames
    ReceiveSession session(state, recorder, settings, window);
    if (o.mqtt) {
        publisher.SetStampLocalTime(o.localTime);
        session.SetFrameSink(&publisher);
        if (!StartCliPublisher(publisher, o.mqttSettings)) return 2;  // TLS asked for and not to be had
    }
    session.SetPortText(o.port);
    session.SetIntervalText(o.interval);
    session.SetStringFormat(o.stringFormat);
    session.SetRecordEnabled(true);
    state.m_rcvPort = LeadingInt(o.port);

    g_recordStop = 0;
    CatchStopSignals(OnRecordSignal);

    if (!session.Open()) return 1;  // the message (string 214 or 215) went to stderr
    std::printf("listening on UDP port %u\n", unsigned(session.BoundPort()));
    std::fflush(stdout);
    std::fprintf(stderr, "recording %s frames into %s (prefix %s, %lld records per file); receive buffer %d bytes\n",
                 o.stringFormat ? "JSON text" : "binary", o.dir.c_str(), o.prefix.c_str(), o.lines,
                 session.GrantedSocketBuffer());

    using Steady = std::chrono::steady_clock;
    const Steady::time_point start = Steady::now();
    Steady::time_point nextStatus = start + std::chrono::seconds(1);
    uint32_t lastCount = session.DatagramCount();
    while (!g_recordStop && !session.WorkerFailed()) {
        window.RunPosted();
        const Steady::time_point now = Steady::now();
        if (o.seconds > 0 && now - start >= std::chrono::duration<double>(o.seconds)) break;
        if (now >= nextStatus) {
            const uint32_t count = session.DatagramCount();
            std::fprintf(stderr,
                         "datagrams/s %u (10 s window %d), saved lines %u, records lost %llu, file number %d, "
                         "datagrams %u\n",
                         count - lastCount, session.PacketRate(), recorder.SavedInFile(),
                         static_cast<unsigned long long>(recorder.RecordsLost()), recorder.FileNumber(), count);
            lastCount = count;
            nextStatus += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    session.Close();  // joins the worker, then flushes and closes the file
    window.RunPosted();  // a worker that failed has posted its message
    const unsigned long long lost = recorder.RecordsLost();
    std::fprintf(stderr, "stopped: %u datagrams, %d files, %llu records written, %llu records lost\n",
                 session.DatagramCount(), recorder.FilesCreated(),
                 static_cast<unsigned long long>(recorder.RecordsWritten()), lost);
    PrintDatagramTroubles(session);
    if (o.mqtt) StopCliPublisher(publisher);
    if (session.WorkerFailed()) return 1;
    return lost ? kExitRecordsLost : 0;
}

}  // namespace lumora::cli
