// JSON-lines recordings: the input is the whole file. The bytes are also
// decoded directly as one line.
#include <cstdlib>

#include "reader_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumora::FrameSlot* slot = new lumora::FrameSlot();
    lumora::JsonLineState state;
    if (lumora::DecodeJsonLine(reinterpret_cast<const char*>(data), size, (size & 1) != 0, state, *slot) ==
            lumora::JsonLineResult::Record &&
        (slot->count < 0 || slot->count > lumora::kMaxReadings))
        std::abort();
    lumora::fuzz::ConvertImage(std::string(), data, size);
    return 0;
}
