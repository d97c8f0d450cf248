// The receive worker's recording path: a byte stream cut into datagrams,
// either assembled into binary frames or taken whole as texts, handed to the
// recorder (which stamps frames in place) and then to the decoders. The files
// written must add up to exactly what the records call for.
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/binary_decoder.h"
#include "acquisition/frame_assembler.h"
#include "acquisition/text_decoder.h"
#include "recording/raw_recorder.h"

namespace {

constexpr int64_t kNowMs = 1700000000250;

struct Run {
    lumora::RawRecorder* recorder;
    lumora::AcquisitionState* state;
    bool localTime;
    uint64_t expected = 0;  // bytes the files must hold
    uint32_t count = 0;

    void Record(uint8_t* data, size_t length) {
        const bool binary = length >= 2 && data[0] == 0xFF && data[1] == 0xFF;
        const bool wasOpen = recorder->IsFileOpen();
        const bool ownTrailer = binary && lumora::FrameHasOwnTrailer(data, length);
        recorder->RecordData(data, length, count);
        if (!wasOpen) {
            if (binary) expected += 5;
            if (binary && length <= 2) return;
        }
        if (binary) {
            expected += length + (ownTrailer ? 0 : lumora::kTrailerSize);
        } else if (localTime) {
            expected += length + 2 + std::strlen("{\"SysTime\":[1700000000,250000],\"SysData\":");
        } else {
            expected += length + 1;
        }
    }
    static void OnFrame(void* self, const uint8_t* frame, size_t length) {
        auto* run = static_cast<Run*>(self);
        run->Record(const_cast<uint8_t*>(frame), length);
        lumora::DecodeBinaryFrame(*run->state, frame, length);
    }
};

const std::string& Dir() {
    static const std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "lumora-fuzz-recorder-XXXXXX").string();
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data())) std::abort();
        return std::string(name.data());
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* state = new lumora::AcquisitionState();
    static auto* assembler = new lumora::FrameAssembler(nullptr, nullptr, &lumora::BinaryFramePassesCheck);
    static auto* clock = new lumora::ManualClock(kNowMs);
    if (size < 3) return 0;
    // Byte 0: bit 0 text mode, bit 1 Counter, bit 2 Local Time, bits 3-5
    // records per file (0 to 7). Byte 1: datagram size. The rest: the stream.
    const bool text = data[0] & 1;
    const size_t step = 1 + data[1] * 8u;
    lumora::RawRecorder recorder(nullptr, *clock);
    recorder.SetDirectory(Dir());
    recorder.SetSaveCounter(data[0] & 2);
    recorder.SetStampLocalTime(data[0] & 4);
    recorder.SetRecordsPerFile((data[0] >> 3) & 7);
    Run run{&recorder, state, (data[0] & 4) != 0};
    std::vector<uint8_t> stream(data + 2, data + size);
    assembler->Reset();
    assembler->SetCallback(&Run::OnFrame, &run);
    for (size_t at = 0; at < stream.size(); at += step) {
        const size_t n = std::min(step, stream.size() - at);
        ++run.count;
        if (text) {
            std::vector<uint8_t> datagram(stream.begin() + long(at), stream.begin() + long(at + n));
            lumora::DecodeTextFrame(*state, reinterpret_cast<const char*>(datagram.data()), datagram.size());
            run.Record(datagram.data(), datagram.size());
        } else {
            assembler->Feed(stream.data() + at, n);
        }
    }
    assembler->Finish();  // the session's end hands on a whole frame in hand
    recorder.Close();
    uint64_t written = 0;
    for (const auto& e : std::filesystem::directory_iterator(Dir())) {
        written += e.file_size();
        std::filesystem::remove(e.path());
    }
    if (written != run.expected) {
        std::fprintf(stderr, "files hold %" PRIu64 " bytes, records call for %" PRIu64 "\n", written, run.expected);
        std::abort();
    }
    return 0;
}
