// A sensor table file: parsed, validated and, when usable, compiled and used
// for a frame; what the table writes back must read back the same.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sensors/sensor_processor.h"
#include "sensors/sensor_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumora::SensorTable table;
    std::vector<std::string> errors;
    if (!table.Parse(text, "f.csv", errors)) {
        if (errors.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    // Writing the cells back and reading them again gives the same cells.
    lumora::SensorTable again;
    std::vector<std::string> againErrors;
    if (!again.Parse(table.ToCsv(), "f.csv", againErrors) || again.ToCsv() != table.ToCsv()) std::abort();
    if (!table.Validate("f.csv", errors)) {
        if (errors.empty() || !table.Rows().empty()) std::abort();
        return 0;
    }
    // A frame of every id with wavelengths from the input's bytes.
    auto frame = std::make_unique<lumora::FrameSlot>();
    frame->count = lumora::kMaxReadings;
    for (int k = 0; k < lumora::kMaxReadings; ++k) {
        frame->readings[k].id = k + 1;
        frame->readings[k].wavelength = 1510000 + (size ? data[k % size] * 257 : 0);
    }
    if (!table.Rows().empty()) std::snprintf(frame->sn, sizeof frame->sn, "%s", table.Rows()[0].sn.c_str());
    lumora::SensorProcessor processor;
    processor.SetTable(std::make_shared<const lumora::CompiledSensors>(table));
    processor.Process(*frame);
    processor.Process(*frame);
    if (!frame->hasValues) std::abort();
    for (int k = 0; k < lumora::kMaxReadings; ++k)
        if (frame->alarms[k] < -1 || frame->alarms[k] > 1) std::abort();
    lumora::ZeroFromFrame(table, *frame);
    return 0;
}
