// lumora-cli sensors: checks a sensor table, and zeroes it from a recording.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/acquisition_state.h"
#include "acquisition/binary_decoder.h"
#include "acquisition/text_decoder.h"
#include "cli_commands.h"
#include "conversion/recording_player.h"
#include "sensors/sensor_table.h"
#include "sensors/sensor_values.h"

namespace lumora::cli {
namespace {

// Exit code of a table that is refused, as for a refused option.
constexpr int kExitRefused = 2;
// Records looked at for the first wavelength frame of a recording (it may
// begin with spectra).
constexpr int kMostRecordsSearched = 100000;

void PrintSensorsHelp(FILE* out) {
    std::fprintf(out,
                 "usage: lumora-cli sensors check FILE\n"
                 "       lumora-cli sensors zero FILE --from RECORDING [--yes]\n"
                 "  check  prints the table as understood, or its errors (exit 2)\n"
                 "  zero   writes the wavelength each sensor has in the first frame of RECORDING\n"
                 "         into its lambda0, after a confirmation (--yes: without asking)\n");
}

bool Load(const std::string& path, SensorTable& table) {
    std::vector<std::string> errors;
    if (LoadSensorTable(path, table, errors)) return true;
    for (const std::string& e : errors) std::fprintf(stderr, "%s\n", e.c_str());
    return false;
}

std::string Num(double v) { return SensorNumberText(v); }

// "0.827*d + 0.0001*d^2", or "0".
std::string Polynomial(const SensorRow& r) {
    static const char* const kPowers[] = {"", "*d", "*d^2", "*d^3"};
    std::string s;
    for (int k = 0; k < 4; ++k) {
        if (r.c[k] == 0) continue;
        if (!s.empty()) s += r.c[k] < 0 ? " - " : " + ";
        s += Num(s.empty() ? r.c[k] : std::fabs(r.c[k])) + kPowers[k];
    }
    return s.empty() ? "0" : s;
}

void PrintRow(const CompiledSensors& sensors, const SensorRow& r) {
    std::string line = (r.sn.empty() ? std::string("any") : r.sn) + " " + std::to_string(r.id);
    if (!r.label.empty()) line += " \"" + r.label + "\"";
    if (!r.unit.empty()) line += " [" + r.unit + "]";
    line += ": value = " + Polynomial(r) + ", d = (wl - " + Num(r.lambda0) + ")";
    if (r.compId) {
        const SensorCalibration& cal = sensors.PlanFor(r.sn).byId[r.id];
        line += " - " + Num(r.compFactor) + "*(wl[" + std::to_string(r.compId) + "] - " +
                (cal.compPresent ? Num(cal.compLambda0) : std::string("its lambda0")) + ")";
    }
    line += " pm";
    if (r.low || r.high) {
        line += "; alarm";
        if (r.low) line += " below " + Num(*r.low);
        if (r.low && r.high) line += " or";
        if (r.high) line += " above " + Num(*r.high);
        if (r.hysteresis != 0) line += ", hysteresis " + Num(r.hysteresis);
    }
    std::printf("%s\n", line.c_str());
}

int Check(const std::string& path) {
    SensorTable table;
    if (!Load(path, table)) return kExitRefused;
    const size_t rows = table.Rows().size();
    CompiledSensors sensors(std::move(table), path);
    std::printf("%s: %zu sensor%s\n", path.c_str(), rows, rows == 1 ? "" : "s");
    for (const SensorRow& r : sensors.Table().Rows()) PrintRow(sensors, r);
    return 0;
}

// The first wavelength frame of a recording, decoded as the receive worker
// decodes it.
bool FirstFrame(const std::string& path, FrameSlot& out, std::string& error) {
    RecordingReader reader;
    if (!reader.Open(path, error)) return false;
    auto state = std::make_unique<AcquisitionState>();
    RecordedDatagram d;
    for (int n = 0; n < kMostRecordsSearched && reader.Next(d); ++n) {
        if (reader.Kind() == SourceKind::JsonLines)
            DecodeTextFrame(*state, reinterpret_cast<const char*>(d.data), d.length);
        else
            DecodeBinaryFrame(*state, d.data, d.length);
        if (state->Ring().CopyLatest(out) && out.count > 0) return true;
    }
    error = path + ": no frame with readings";
    return false;
}

int Zero(const std::string& path, const std::string& recording, bool yes) {
    SensorTable table;
    if (!Load(path, table)) return kExitRefused;
    auto frame = std::make_unique<FrameSlot>();
    std::string error;
    if (!FirstFrame(recording, *frame, error)) {
        std::fprintf(stderr, "lumora-cli sensors: %s\n", error.c_str());
        return 1;
    }
    const SensorTable before = table;
    const ZeroResult z = ZeroFromFrame(table, *frame);
    for (size_t i = 0; i < table.RowCount(); ++i) {
        const std::string& was = before.Cell(i, "lambda0");
        const std::string& now = table.Cell(i, "lambda0");
        if (was != now) {
            const SensorRow& r = before.Rows()[i];
            std::printf("%s %d: lambda0 %s -> %s\n", r.sn.empty() ? "any" : r.sn.c_str(), r.id, was.c_str(), now.c_str());
        }
    }
    for (size_t i : z.missing) {
        const SensorRow& r = before.Rows()[i];
        std::printf("%s %d: not in the frame, left as it is\n", r.sn.empty() ? "any" : r.sn.c_str(), r.id);
    }
    if (z.changed == 0) {
        std::printf("no sensor of %s applies to instrument %s: nothing to write\n", path.c_str(), frame->sn);
        return 1;
    }
    if (!yes) {
        std::printf("Write %d new lambda0 value%s into %s? [y/N] ", z.changed, z.changed == 1 ? "" : "s", path.c_str());
        std::fflush(stdout);
        std::string answer;
        if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y" && answer != "yes")) {
            std::printf("nothing written\n");
            return 1;
        }
    }
    std::vector<std::string> errors;
    if (!table.Validate(path, errors)) {  // cannot fail: only lambda0 changed, to whole numbers
        for (const std::string& e : errors) std::fprintf(stderr, "%s\n", e.c_str());
        return kExitRefused;
    }
    if (!SaveSensorTable(path, table, error)) {
        std::fprintf(stderr, "lumora-cli sensors: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %d lambda0 value%s written from the first frame of %s (instrument %s, counter %d)\n", path.c_str(),
                z.changed, z.changed == 1 ? "" : "s", recording.c_str(), frame->sn, frame->counter);
    return 0;
}

}  // namespace

int RunSensors(const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        PrintSensorsHelp(args.empty() ? stderr : stdout);
        return args.empty() ? kExitRefused : 0;
    }
    if (args[0] == "check" && args.size() == 2) return Check(args[1]);
    if (args[0] == "zero" && args.size() >= 2) {
        std::string recording;
        bool yes = false;
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--yes") {
                yes = true;
            } else if (args[i] == "--from" && i + 1 < args.size()) {
                recording = args[++i];
            } else {
                std::fprintf(stderr, "lumora-cli sensors zero: bad option %s\n", args[i].c_str());
                return kExitRefused;
            }
        }
        if (recording.empty()) {
            std::fprintf(stderr, "lumora-cli sensors zero: --from RECORDING is required\n");
            return kExitRefused;
        }
        return Zero(args[1], recording, yes);
    }
    PrintSensorsHelp(stderr);
    return kExitRefused;
}

}  // namespace lumora::cli
