#pragma once
// Decoding of JSON text frames (one object per datagram) into the frame ring.
#include <cstddef>

#include "acquisition/acquisition_state.h"

namespace lumora {

// Results of DecodeTextFrame.
enum TextDecodeResult {
    kTextDecoded = 0,
    kTextNull = -1,        // no text
    kTextEmpty = -2,       // empty text
    kTextNotJson = -3,     // not parseable (or out of memory)
    kTextNoTime = -4,      // "Time" missing, not a number, or 0
    kTextNoCounter = -5,   // "Counter" missing, not a number, or 0
    kTextNoSn = -6,        // "SN" missing or not a string
    kTextNoData = -8,      // "Data" missing or not an array
};

// text need not be NUL-terminated: length bytes are looked at, up to the first
// NUL. capacity is how many bytes from text may be read: when it leaves
// json::kPadding bytes after length, the text is parsed where it lies,
// otherwise from a copy. Runs on the receive worker (the ring's only producer).
int DecodeTextFrame(AcquisitionState& state, const char* text, size_t length, size_t capacity = 0);

// The same decoding done entirely with cJSON, which also reads texts that are
// not standard JSON. DecodeTextFrame leaves to it the texts simdjson refuses;
// the fuzz target compares the two.
int DecodeTextFrameLenient(AcquisitionState& state, const char* text, size_t length);

}  // namespace lumora
