// Speed of the receive path's decoding steps, each against a floor measured in
// the same run:
//  - DecodeBinaryFrame on a 32-channel frame of 320 readings with trailer,
//    against a plain copy of the same bytes into a ring slot (the copy floor)
//    and against storing the 320 readings without any checks (the store floor);
//  - DecodeTextFrame on a JSON frame of 320 readings;
//  - FrameAssembler::Feed over a stream of such binary frames (MB/s), against
//    a plain copy of the stream;
//  - the sensor layer (engineering values and alarm states) on a decoded frame
//    of 320 readings with a 320-row table, against the binary decode.
#include <benchmark/benchmark.h>
#include <cjson/cJSON.h>
#include <simdjson.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/binary_decoder.h"
#include "acquisition/frame_assembler.h"
#include "acquisition/text_decoder.h"
#include "json/json_reading.h"
#include "sensors/sensor_processor.h"

namespace {

using namespace lumora;

void Put32(std::vector<uint8_t>& f, size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

// 32 channels of 10 peaks, values that never hold 0xFF 0xFF, and a trailer.
std::vector<uint8_t> BinaryFrame(int counter) {
    std::vector<uint8_t> f = {0xFF, 0xFF, 0x00, 0x00, 32};
    for (int c = 0; c < 32; ++c) f.push_back(10);
    for (int j = 0; j < 320; ++j) {
        const uint16_t v = static_cast<uint16_t>(40000 + 37 * j);
        f.push_back(static_cast<uint8_t>(v & 0xFF));
        f.push_back(static_cast<uint8_t>(v >> 8));
    }
    const size_t t = f.size();
    f.resize(t + 52, 0);
    std::memset(&f[t], 0xFE, 4);
    f[t + 4] = 0x65;
    std::memcpy(&f[t + 5], "SA2026000001", 12);
    Put32(f, t + 28, 1700000000);
    Put32(f, t + 32, 500000);
    Put32(f, t + 36, counter);
    Put32(f, t + 44, 1510000);
    std::memset(&f[t + 48], 0xFD, 4);
    return f;
}

std::string TextFrame() {
    std::string s = R"({"Time":1700000000,"Counter":12345,"SN":"SA2026000001","Code":1,"Data":[)";
    for (int j = 0; j < 320; ++j) {
        if (j) s += ',';
        s += "[1," + std::to_string(j + 1) + "," + std::to_string(j / 10 + 1) + "," + std::to_string(1550000 + 37 * j) +
             ",-12.5," + std::to_string(7008001 + j) + ",0,0]";
    }
    return s + "]}";
}

void BM_CopyFloor(benchmark::State& st) {
    auto state = std::make_unique<AcquisitionState>();
    const std::vector<uint8_t> frame = BinaryFrame(1);
    FrameRing& ring = state->Ring();
    int index = 0;
    for (auto _ : st) {
        std::memcpy(ring.slots[index].readings, frame.data(), frame.size());
        benchmark::ClobberMemory();
        if (++index == kRingSlots) index = 0;
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * frame.size()));
}

// The least any decoder must do: put 320 readings into the slot.
void BM_StoreFloor(benchmark::State& st) {
    auto state = std::make_unique<AcquisitionState>();
    const std::vector<uint8_t> frame = BinaryFrame(1);
    FrameRing& ring = state->Ring();
    int index = 0;
    const uint8_t* values = frame.data() + 5 + 32;
    for (auto _ : st) {
        FrameSlot& slot = ring.slots[index];
        for (int j = 0; j < 320; ++j) {
            SensorReading& r = slot.readings[j];
            r.id = j + 1;
            r.serial = 7008001 + j;
            r.channel = j / 10 + 1;
            r.wavelength = (values[2 * j] | (values[2 * j + 1] << 8)) + kWavelengthBase;
            r.physicValue = 0.0;
        }
        slot.count = 320;
        benchmark::ClobberMemory();
        if (++index == kRingSlots) index = 0;
    }
}

void BM_DecodeBinaryFrame(benchmark::State& st) {
    auto state = std::make_unique<AcquisitionState>();
    const std::vector<uint8_t> frame = BinaryFrame(1);
    for (auto _ : st) {
        benchmark::DoNotOptimize(DecodeBinaryFrame(*state, frame.data(), frame.size()));
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * frame.size()));
}

void BM_DecodeBinaryFrameWithReference(benchmark::State& st) {
    auto state = std::make_unique<AcquisitionState>();
    const std::vector<uint8_t> frame = BinaryFrame(1);
    DecodeBinaryFrame(*state, frame.data(), frame.size());
    FrameSlot reference;
    state->Ring().CopyLatest(reference);
    state->SetReference(reference);
    for (auto _ : st) {
        benchmark::DoNotOptimize(DecodeBinaryFrame(*state, frame.data(), frame.size()));
    }
}

void BM_DecodeTextFrame(benchmark::State& st) {
    auto state = std::make_unique<AcquisitionState>();
    const std::string text = TextFrame();
    for (auto _ : st) {
        benchmark::DoNotOptimize(DecodeTextFrame(*state, text.data(), text.size()));
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text.size()));
}

// The JSON library's parse and free of the same text: what the decoder adds
// is the difference.
void BM_JsonParseFloor(benchmark::State& st) {
    const std::string text = TextFrame();
    for (auto _ : st) {
        cJSON* root = cJSON_ParseWithLength(text.data(), text.size());
        benchmark::DoNotOptimize(root);
        cJSON_Delete(root);
    }
}

// simdjson's own parse of the same bytes (with its padding), the floor of the
// decoder: the whole document into the parser's tree.
void BM_SimdjsonParseFloor(benchmark::State& st) {
    const simdjson::padded_string text(TextFrame());
    simdjson::dom::parser parser;
    for (auto _ : st) {
        simdjson::dom::element root;
        benchmark::DoNotOptimize(parser.parse(text).get(root));
        benchmark::DoNotOptimize(root);
    }
}

// The decoder as the receive worker calls it: the text in a buffer with room
// after it.
void BM_DecodeTextFramePadded(benchmark::State& st) {
    auto state = std::make_unique<AcquisitionState>();
    const simdjson::padded_string text(TextFrame());
    for (auto _ : st) {
        benchmark::DoNotOptimize(DecodeTextFrame(*state, text.data(), text.size(), text.size() + json::kPadding));
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text.size()));
}

// 1000 frames, fed one per datagram.
struct Stream {
    std::vector<uint8_t> bytes;
    std::vector<size_t> frameStarts;
    Stream() {
        for (int k = 1; k <= 1000; ++k) {
            frameStarts.push_back(bytes.size());
            const std::vector<uint8_t> f = BinaryFrame(k);
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        frameStarts.push_back(bytes.size());
    }
};

void BM_StreamCopyFloor(benchmark::State& st) {
    Stream s;
    auto buffer = std::make_unique<uint8_t[]>(FrameAssembler::kBufferSize);
    for (auto _ : st) {
        for (size_t i = 0; i + 1 < s.frameStarts.size(); ++i) {
            std::memcpy(buffer.get(), s.bytes.data() + s.frameStarts[i], s.frameStarts[i + 1] - s.frameStarts[i]);
            benchmark::ClobberMemory();
        }
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * s.bytes.size()));
}

void BM_FrameAssemblerFeed(benchmark::State& st) {
    Stream s;
    size_t frames = 0;
    FrameAssembler assembler(
        [](void* ctx, const uint8_t*, size_t length) { *static_cast<size_t*>(ctx) += length; }, &frames);
    for (auto _ : st) {
        for (size_t i = 0; i + 1 < s.frameStarts.size(); ++i) {
            assembler.Feed(s.bytes.data() + s.frameStarts[i], s.frameStarts[i + 1] - s.frameStarts[i]);
        }
    }
    benchmark::DoNotOptimize(frames);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * s.bytes.size()));
}

// Values and alarms for every reading: a 320-row table in which every other
// sensor is compensated by its neighbour and every sensor has alarm limits
// (which the values stay inside, as they mostly do).
void BM_SensorValuesAndAlarms(benchmark::State& st) {
    auto state = std::make_unique<AcquisitionState>();
    const std::vector<uint8_t> frame = BinaryFrame(1);
    DecodeBinaryFrame(*state, frame.data(), frame.size());
    auto slot = std::make_unique<FrameSlot>();
    state->Ring().CopyLatest(*slot);
    std::string csv = "sn,id,label,unit,lambda0,c0,c1,c2,comp_id,low,high,hysteresis\n";
    for (int id = 1; id <= 320; ++id) {
        csv += ",";
        csv += std::to_string(id) + ",S" + std::to_string(id) + ",ue," + std::to_string(slot->readings[id - 1].wavelength - 3) +
               ",0,0.827,0.0001," + (id % 2 ? std::to_string(id + 1) : std::string()) + ",-1000,1000,5\n";
    }
    SensorTable table;
    std::vector<std::string> errors;
    if (!table.Parse(csv, "bench", errors) || !table.Validate("bench", errors)) {
        st.SkipWithError(errors.empty() ? "table" : errors[0].c_str());
        return;
    }
    SensorProcessor processor;
    processor.SetTable(std::make_shared<CompiledSensors>(std::move(table)));
    for (auto _ : st) {
        processor.Process(*slot);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_CopyFloor);
BENCHMARK(BM_StoreFloor);
BENCHMARK(BM_DecodeBinaryFrame);
BENCHMARK(BM_DecodeBinaryFrameWithReference);
BENCHMARK(BM_JsonParseFloor);
BENCHMARK(BM_DecodeTextFrame);
BENCHMARK(BM_SimdjsonParseFloor);
BENCHMARK(BM_DecodeTextFramePadded);
BENCHMARK(BM_StreamCopyFloor);
BENCHMARK(BM_FrameAssemblerFeed);
BENCHMARK(BM_SensorValuesAndAlarms);

// Keeps every result so that the ratios can be printed after the run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
            // CPU time: on a shared machine the wall clock mostly measures waiting.
            nsPerIteration[r.benchmark_name()] = r.GetAdjustedCPUTime();  // ns (default unit)
            if (r.counters.count("bytes_per_second")) bytesPerSecond[r.benchmark_name()] = r.counters.at("bytes_per_second");
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> nsPerIteration;
    std::map<std::string, double> bytesPerSecond;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& ns = reporter.nsPerIteration;
    auto& bps = reporter.bytesPerSecond;
    std::printf("\nCPU time per frame and throughput:\n");
    if (ns.count("BM_DecodeBinaryFrame") && ns.count("BM_CopyFloor") && ns.count("BM_StoreFloor")) {
        const double decode = ns["BM_DecodeBinaryFrame"];
        std::printf("binary frame (320 readings, trailer): %.0f ns/frame (target < 1000); copy floor %.1f ns, "
                    "ratio %.1fx (target < 5x); store floor %.0f ns, ratio %.2fx\n",
                    decode, ns["BM_CopyFloor"], decode / ns["BM_CopyFloor"], ns["BM_StoreFloor"],
                    decode / ns["BM_StoreFloor"]);
    }
    if (ns.count("BM_DecodeTextFramePadded") && ns.count("BM_SimdjsonParseFloor") && ns.count("BM_JsonParseFloor")) {
        const double decode = ns["BM_DecodeTextFramePadded"];
        std::printf("text frame (320 readings): %.1f us/frame (target < 15 us); simdjson parse alone %.1f us, "
                    "ratio %.2fx (target <= 1.5x); cJSON parse alone %.1f us, %.1fx faster; unpadded text %.1f us\n",
                    decode / 1000.0, ns["BM_SimdjsonParseFloor"] / 1000.0, decode / ns["BM_SimdjsonParseFloor"],
                    ns["BM_JsonParseFloor"] / 1000.0, ns["BM_JsonParseFloor"] / decode,
                    ns.count("BM_DecodeTextFrame") ? ns["BM_DecodeTextFrame"] / 1000.0 : 0.0);
    }
    if (bps.count("BM_FrameAssemblerFeed") && bps.count("BM_StreamCopyFloor")) {
        std::printf("frame assembler: %.0f MB/s (target >= 1000); copy floor %.0f MB/s, ratio %.2fx\n",
                    bps["BM_FrameAssemblerFeed"] / 1e6, bps["BM_StreamCopyFloor"] / 1e6,
                    bps["BM_StreamCopyFloor"] / bps["BM_FrameAssemblerFeed"]);
    }
    if (ns.count("BM_SensorValuesAndAlarms") && ns.count("BM_DecodeBinaryFrame")) {
        const double sensors = ns["BM_SensorValuesAndAlarms"];
        std::printf("sensor values and alarms (320 readings, 320-row table): %.0f ns/frame (target <= 2000), "
                    "%.1f ns/reading; binary decode %.0f ns, ratio %.2fx\n",
                    sensors, sensors / 320.0, ns["BM_DecodeBinaryFrame"], sensors / ns["BM_DecodeBinaryFrame"]);
    }
    benchmark::Shutdown();
    return 0;
}
