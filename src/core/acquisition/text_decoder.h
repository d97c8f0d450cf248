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
// NUL. Runs on the receive worker (the ring's only producer).
int DecodeTextFrame(AcquisitionState& state, const char* text, size_t length);

}  // namespace lumora
