// "LMRA" recordings: the input follows the 5-byte file header. The bytes are
// also decoded directly as one record piece.
#include <cstdlib>

#include "reader_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumora::FrameSlot* slot = new lumora::FrameSlot();
    if (lumora::DecodeLmraPiece(data, size, *slot) && (slot->count < 0 || slot->count > lumora::kMaxReadings))
        std::abort();
    lumora::fuzz::ConvertImage(std::string("LMRA\x65", 5), data, size);
    return 0;
}
