#pragma once
// Decoding of the instrument's binary frames (marker 0xFF 0xFF) into the frame
// ring, and hand-off of spectrum frames.
#include <cstddef>
#include <cstdint>

#include "acquisition/acquisition_state.h"

namespace lumora {

// Results of DecodeBinaryFrame.
enum BinaryDecodeResult {
    kBinaryDecoded = 0,            // wavelength frame stored, or spectrum handed on
    kBinaryTooShort = -1,          // fewer than 2 bytes
    kBinaryNoMarker = -2,          // does not start with 0xFF 0xFF
    kBinaryBadLength = -4,         // wavelength frame failing the length check (every 2-byte frame too)
    kBinaryBadSpectrumCount = -21, // spectrum frame whose sample count does not fit its length
};

// frame points at the marker and length counts it. Runs on the receive worker
// (the ring's only producer). Never reads past frame + length. Rejected frames
// change nothing.
int DecodeBinaryFrame(AcquisitionState& state, const uint8_t* frame, size_t length);

// The result DecodeBinaryFrame would give (the marker, the wavelength length
// check or the spectrum count check), with nothing stored or handed on.
int CheckBinaryFrame(const uint8_t* frame, size_t length);
bool BinaryFramePassesCheck(const uint8_t* frame, size_t length);

}  // namespace lumora
