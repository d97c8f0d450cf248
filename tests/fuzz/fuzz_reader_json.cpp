// JSON-lines recordings: the input is the whole file. The bytes are also
// decoded directly as one line, which must give what cJSON alone gives.
#include <cstdlib>
#include <cstring>

#include "reader_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumora::FrameSlot* slot = new lumora::FrameSlot();
    static lumora::FrameSlot* same = new lumora::FrameSlot();
    const char* text = reinterpret_cast<const char*>(data);
    lumora::JsonLineState state, sameState;
    const lumora::JsonLineResult result = lumora::DecodeJsonLine(text, size, (size & 1) != 0, state, *slot);
    if (lumora::DecodeJsonLineLenient(text, size, (size & 1) != 0, sameState, *same) != result ||
        state.havePrevious != sameState.havePrevious || state.previousCounter != sameState.previousCounter)
        std::abort();
    if (result == lumora::JsonLineResult::Record &&
        (slot->count < 0 || slot->count > lumora::kMaxReadings || slot->time != same->time ||
         slot->microseconds != same->microseconds ||
         slot->counter != same->counter || slot->count != same->count ||
         std::memcmp(slot->readings, same->readings, sizeof(lumora::SensorReading) * slot->count) != 0))
        std::abort();
    lumora::fuzz::ConvertImage(std::string(), data, size);
    return 0;
}
