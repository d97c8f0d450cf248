#include "acquisition/frame_assembler.h"

#include <algorithm>
#include <cstring>

namespace lumora {

FrameAssembler::FrameAssembler(FrameCallback callback, void* context) : callback_(callback), context_(context) {
    std::memset(buffer_, 0, sizeof buffer_);
    Reset();
}

void FrameAssembler::SetCallback(FrameCallback callback, void* context) {
    callback_ = callback;
    context_ = context;
}

void FrameAssembler::Reset() {
    buffer_[0] = 0xFF;
    buffer_[1] = 0xFF;
    writeIndex_ = 2;
    ffCount_ = 0;
}

// Bytes other than 0xFF are copied in runs; only 0xFF bytes are looked at one
// by one. A frame grows until two 0xFF bytes in a row arrive (the next frame's
// marker) or until the buffer is full, which discards the partial frame and the
// rest of the datagram. The full buffer is noticed right after the byte that
// fills it, so the next datagram always starts afresh.
void FrameAssembler::Feed(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr) return;
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
                if (callback_) callback_(context_, buffer_, writeIndex_ - 2);
                Reset();
                continue;
            }
        }
        if (writeIndex_ >= kResetIndex) {
            Reset();
            return;
        }
    }
}

}  // namespace lumora
