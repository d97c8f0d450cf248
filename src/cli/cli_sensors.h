#pragma once
// The sensor table and alarms of record and publish.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/frame_types.h"
#include "publishing/mqtt_publisher.h"
#include "sensors/sensor_file.h"
#include "sensors/sensor_processor.h"

namespace lumora {
class SettingsStore;
}

namespace lumora::cli {

// The table of a command: the FILE of --sensors, else [Sensors] File of
// ./Lumora.ini, else ./sensors.csv, each loaded only when it exists. False
// (the command ends with exit 2) when a file named by --sensors cannot be
// used; a table found by default that cannot be used is reported on stderr
// and the command goes on without one, so that it still records.
bool LoadCommandSensors(const char* command, const std::string& given, const SettingsStore& settings,
                        std::shared_ptr<const CompiledSensors>& out);

// Alarm transitions on stdout, one line each ("alarm " and the alarms.csv
// line), printed by the command's main thread: the receive worker only hands
// them over.
class AlarmPrinter {
public:
    // SensorProcessor's listener (receive worker).
    void Keep(const std::vector<AlarmTransition>& transitions);
    // A failure to write alarms.csv (receive worker), printed on stderr.
    void KeepError(const std::string& error);
    // Prints what was handed over so far (main thread).
    void Print();

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::string> errors_;
};

// Puts processor on ring with table (nothing when table is null): alarm
// transitions go to logPath (none when empty), to printer, and to publisher
// when given, which also publishes the table. The processor must outlive the
// receive session.
void AttachSensors(SensorProcessor& processor, FrameRing& ring, std::shared_ptr<const CompiledSensors> table,
                   const std::string& logPath, AlarmPrinter& printer, MqttPublisher* publisher = nullptr);

}  // namespace lumora::cli
