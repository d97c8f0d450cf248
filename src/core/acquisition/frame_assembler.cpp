#include "acquisition/frame_assembler.h"

#include <algorithm>
#include <cstring>

namespace lumora {
namespace {

constexpr size_t kMarkerSize = 2;

// The instrument's trailer ends in 0xFD bytes: 0xFD at length - 4 and length - 3.
bool EndsWithTrailer(const uint8_t* frame, size_t length) {
    return length >= 4 && frame[length - 4] == 0xFD && frame[length - 3] == 0xFD;
}

}  // namespace

FrameAssembler::FrameAssembler(FrameCallback callback, void* context, FrameCheck check)
    : callback_(callback), context_(context), check_(check) {
    std::memset(buffer_, 0, sizeof buffer_);
    Reset();
}

void FrameAssembler::SetCallback(FrameCallback callback, void* context) {
    callback_ = callback;
    context_ = context;
}

void FrameAssembler::Reset() {
    StartNextFrame();
    handedOnEarly_ = false;
}

void FrameAssembler::StartNextFrame() {
    buffer_[0] = 0xFF;
    buffer_[1] = 0xFF;
    writeIndex_ = kMarkerSize;
    ffCount_ = 0;
}

void FrameAssembler::Deliver(size_t length) {
    if (callback_) callback_(context_, buffer_, length);
}

// Bytes other than 0xFF are copied in runs; only 0xFF bytes are looked at one
// by one. A frame grows until two 0xFF bytes in a row arrive (the next frame's
// marker) or until the buffer is full, which discards the partial frame and the
// rest of the datagram. The full buffer is noticed right after the byte that
// fills it, so the next datagram always starts afresh.
void FrameAssembler::Feed(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr) return;
    bool beganHere = false;  // the frame in hand starts with a marker of this datagram
    size_t i = 0;
    while (i < length) {
        const size_t room = kResetIndex - writeIndex_;
        const size_t chunk = std::min(room, length - i);
        const void* ff = std::memchr(bytes + i, 0xFF, chunk);
        const size_t run = ff ? static_cast<size_t>(static_cast<const uint8_t*>(ff) - (bytes + i)) : chunk;
        if (run > 0) {
            std::memcpy(buffer_ + writeIndex_, bytes + i, run);
            writeIndex_ += run;
            i += run;
            ffCount_ = 0;
        }
        if (ff) {
            buffer_[writeIndex_++] = 0xFF;
            ++i;
            if (++ffCount_ >= 2) {
                const size_t frameLength = writeIndex_ - kMarkerSize;
                if (!(handedOnEarly_ && frameLength == kMarkerSize)) Deliver(frameLength);
                handedOnEarly_ = false;
                StartNextFrame();
                beganHere = true;
                continue;
            }
        }
        if (writeIndex_ >= kResetIndex) {
            Reset();
            return;
        }
    }
    HandOnIfWhole(beganHere);
}

void FrameAssembler::HandOnIfWhole(bool beganHere) {
    if (!check_ || writeIndex_ <= kMarkerSize) return;
    if (!beganHere && !EndsWithTrailer(buffer_, writeIndex_)) return;
    if (!check_(buffer_, writeIndex_)) return;
    Deliver(writeIndex_);
    StartNextFrame();
    handedOnEarly_ = true;
}

void FrameAssembler::Finish() {
    if (check_ && writeIndex_ > kMarkerSize && check_(buffer_, writeIndex_)) Deliver(writeIndex_);
    Reset();
}

}  // namespace lumora
