// JSON text datagrams (not NUL-terminated) into the text decoder, which must
// give what decoding with cJSON alone gives.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "acquisition/text_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumora::AcquisitionState* state = new lumora::AcquisitionState();
    static lumora::AcquisitionState* reference = new lumora::AcquisitionState();
    state->m_showSourceData = (size & 1) != 0;
    const int64_t before = state->Ring().framesDecoded.load();
    const int result = lumora::DecodeTextFrame(*state, reinterpret_cast<const char*>(data), size);
    const int64_t after = state->Ring().framesDecoded.load();
    if (lumora::DecodeTextFrameLenient(*reference, reinterpret_cast<const char*>(data), size) != result) std::abort();
    if ((result == 0) != (after == before + 1)) std::abort();
    if (result == 0) {
        const lumora::FrameSlot& slot = state->Ring().slots[state->Ring().LatestIndex()];
        if (slot.count < 0 || slot.count > lumora::kMaxReadings) std::abort();
        if (slot.time == 0 || slot.counter == 0) std::abort();
        if (std::memchr(slot.sn, 0, sizeof slot.sn) == nullptr) std::abort();
        if (std::memchr(slot.text, 0, sizeof slot.text) == nullptr) std::abort();
        const lumora::FrameSlot& same = reference->Ring().slots[reference->Ring().LatestIndex()];
        if (slot.time != same.time || slot.counter != same.counter || std::strcmp(slot.sn, same.sn) != 0 ||
            slot.count != same.count || std::memcmp(slot.readings, same.readings, sizeof(lumora::SensorReading) * slot.count) != 0)
            std::abort();
    }
    return 0;
}
