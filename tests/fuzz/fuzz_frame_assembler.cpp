// A byte stream cut into datagrams, through the frame assembler into the
// binary decoder. The assembler's frames are compared with those of a plain
// byte-at-a-time model of the same rules.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "acquisition/binary_decoder.h"
#include "acquisition/frame_assembler.h"

namespace {

using Frames = std::vector<std::vector<uint8_t>>;

// The rules one byte at a time: store, count 0xFF bytes, cut at two; a buffer
// filled up to the reset index without a frame drops the rest of the datagram.
// At the end of a datagram a frame that passes the decoder's check goes on
// when it began in that datagram or ends with a trailer, and the marker after
// it then cuts no empty frame; the end of the session hands on a frame that
// passes the check.
struct Model {
    uint8_t buffer[lumora::FrameAssembler::kBufferSize] = {0xFF, 0xFF};
    size_t index = 2;
    int ff = 0;
    bool early = false;
    Frames frames;
    void Feed(const uint8_t* p, size_t n) {
        bool began = false;
        for (size_t i = 0; i < n; ++i) {
            buffer[index++] = p[i];
            ff = p[i] == 0xFF ? ff + 1 : 0;
            if (ff >= 2) {
                if (!(early && index - 2 == 2)) frames.emplace_back(buffer, buffer + index - 2);
                early = false;
                index = 2;
                ff = 0;
                began = true;
            } else if (index >= lumora::FrameAssembler::kResetIndex) {
                index = 2;
                ff = 0;
                early = false;
                return;
            }
        }
        const bool trailer = index >= 4 && buffer[index - 4] == 0xFD && buffer[index - 3] == 0xFD;
        if (index > 2 && (began || trailer) && lumora::BinaryFramePassesCheck(buffer, index)) {
            frames.emplace_back(buffer, buffer + index);
            index = 2;
            ff = 0;
            early = true;
        }
    }
    void Finish() {
        if (index > 2 && lumora::BinaryFramePassesCheck(buffer, index)) frames.emplace_back(buffer, buffer + index);
        index = 2;
        ff = 0;
        early = false;
    }
};

struct Pipeline {
    lumora::AcquisitionState* state;
    Frames frames;
    static void OnFrame(void* self, const uint8_t* frame, size_t length) {
        auto* p = static_cast<Pipeline*>(self);
        if (length < 2 || frame[0] != 0xFF || frame[1] != 0xFF || length > 11261) std::abort();
        p->frames.emplace_back(frame, frame + length);
        lumora::DecodeBinaryFrame(*p->state, frame, length);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumora::AcquisitionState* state = new lumora::AcquisitionState();
    static auto* assembler = new lumora::FrameAssembler(nullptr, nullptr, &lumora::BinaryFramePassesCheck);
    if (size < 2) return 0;
    // The first two bytes choose the datagram sizes; the rest is the stream.
    // Small inputs are stretched by repeating them so that the buffer limit
    // is reached as well.
    const size_t step = 1 + ((data[0] | (data[1] << 8)) % 12000);
    std::vector<uint8_t> stream(data + 2, data + size);
    if (data[0] & 0x80) {
        while (!stream.empty() && stream.size() < 30000) stream.insert(stream.end(), data + 2, data + size);
    }
    Pipeline pipeline{state, {}};
    auto model = std::make_unique<Model>();
    assembler->Reset();
    assembler->SetCallback(&Pipeline::OnFrame, &pipeline);
    for (size_t at = 0; at < stream.size(); at += step) {
        const size_t n = std::min(step, stream.size() - at);
        assembler->Feed(stream.data() + at, n);
        model->Feed(stream.data() + at, n);
        if (assembler->WriteIndex() != model->index) std::abort();
    }
    assembler->Finish();
    model->Finish();
    if (pipeline.frames != model->frames) std::abort();
    return 0;
}
