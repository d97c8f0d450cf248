// Binary frames straight from the network into the decoder.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "acquisition/binary_decoder.h"

namespace {

struct CheckingSink : lumora::SpectrumSink, lumora::SpectrumAutoShowHook {
    size_t frameLength = 0;
    void ShowSpectrumFrame(int channel, const uint16_t* values, int count) override {
        if (channel < 0 || channel > 31 || count < 0 || static_cast<size_t>(count) * 2 > frameLength) std::abort();
        volatile uint32_t sum = 0;
        for (int i = 0; i < count; ++i) sum = sum + values[i];
    }
    void BringSpectrumForward() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumora::AcquisitionState* state = [] {
        auto* s = new lumora::AcquisitionState();
        lumora::FrameSlot reference;
        reference.count = lumora::kMaxReadings;
        for (int i = 0; i < lumora::kMaxReadings; ++i) reference.readings[i].wavelength = 1510000 + 7 * i;
        s->SetReference(reference);
        return s;
    }();
    static CheckingSink sink;
    state->m_spectrumSink = &sink;
    state->m_spectrumAutoShowHook = &sink;
    state->m_spectrumAutoShow = true;
    state->m_showSourceData = (size & 1) != 0;
    state->m_rcvPort = size > 8 ? data[size - 1] * 300 : 7008;
    sink.frameLength = size;

    const int64_t before = state->Ring().framesDecoded.load();
    const int result = lumora::DecodeBinaryFrame(*state, data, size);
    const int64_t after = state->Ring().framesDecoded.load();
    if (result != 0 && after != before) std::abort();  // a rejection changes nothing
    if (after != before) {
        const lumora::FrameSlot& slot = state->Ring().slots[state->Ring().LatestIndex()];
        if (slot.count < 0 || slot.count > lumora::kMaxReadings) std::abort();
        for (int j = 0; j < slot.count; ++j) {
            const lumora::SensorReading& r = slot.readings[j];
            if (r.id != j + 1 || r.channel < 1 || r.channel > 32 || r.wavelength < 1510000 ||
                r.wavelength > 1510000 + 65535) {
                std::abort();
            }
        }
        if (std::memchr(slot.sn, 0, sizeof slot.sn) == nullptr) std::abort();
        if (std::memchr(slot.text, 0, sizeof slot.text) == nullptr) std::abort();
    }
    return 0;
}
