#include "cli_sensors.h"

#include <sys/stat.h>

#include <cstdio>

#include "settings/settings_store.h"

namespace lumora::cli {

bool LoadCommandSensors(const char* command, const std::string& given, const SettingsStore& settings,
                        std::shared_ptr<const CompiledSensors>& out) {
    const std::string path = given.empty() ? ConfiguredSensorFile(settings) : given;
    struct stat st {};
    if (given.empty() && ::stat(path.c_str(), &st) != 0) return true;  // no table: none wanted
    std::vector<std::string> errors;
    out = LoadCompiledSensors(path, errors);
    if (out) {
        std::fprintf(stderr, "sensor table %s: %zu sensors\n", path.c_str(), out->Table().Rows().size());
        return true;
    }
    for (const std::string& e : errors) std::fprintf(stderr, "lumora-cli %s: %s\n", command, e.c_str());
    if (!given.empty()) return false;
    std::fprintf(stderr, "lumora-cli %s: going on without a sensor table\n", command);
    return true;
}

void AlarmPrinter::Keep(const std::vector<AlarmTransition>& transitions) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const AlarmTransition& t : transitions) lines_.push_back(AlarmLogLine(t));
}

void AlarmPrinter::KeepError(const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_.push_back(error);
}

void AlarmPrinter::Print() {
    std::vector<std::string> lines, errors;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines.swap(lines_);
        errors.swap(errors_);
    }
    for (const std::string& e : errors) std::fprintf(stderr, "alarm log: %s\n", e.c_str());
    if (lines.empty()) return;
    for (const std::string& l : lines) std::printf("alarm %s\n", l.c_str());
    std::fflush(stdout);
}

void AttachSensors(SensorProcessor& processor, FrameRing& ring, std::shared_ptr<const CompiledSensors> table,
                   const std::string& logPath, AlarmPrinter& printer, MqttPublisher* publisher) {
    if (!table) return;
    if (publisher) publisher->SetSensorTable(table);
    processor.SetTable(std::move(table));
    processor.SetLogPath(logPath);
    processor.SetListener([&printer, publisher](const std::vector<AlarmTransition>& batch) {
        printer.Keep(batch);
        if (publisher) publisher->OnAlarms(batch);
    });
    processor.SetLogErrorListener([&printer](const std::string& error) { printer.KeepError(error); });
    ring.processor.store(&processor, std::memory_order_release);
}

}  // namespace lumora::cli
