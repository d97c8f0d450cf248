#pragma once
// Cuts the binary byte stream of the data port into frames. A frame starts
// with the marker 0xFF 0xFF and is complete when the next marker arrives, so
// with one frame per datagram each frame is delivered one datagram late.
#include <cstddef>
#include <cstdint>

namespace lumora {

class FrameAssembler {
public:
    static constexpr size_t kBufferSize = 11264;
    // Reaching this index without a complete frame resets the assembler.
    static constexpr size_t kResetIndex = 11263;

    // Called for every complete frame, marker included. The bytes live in the
    // assembler's buffer and are valid only during the call.
    using FrameCallback = void (*)(void* context, const uint8_t* frame, size_t length);

    explicit FrameAssembler(FrameCallback callback = nullptr, void* context = nullptr);
    FrameAssembler(const FrameAssembler&) = delete;
    FrameAssembler& operator=(const FrameAssembler&) = delete;

    void SetCallback(FrameCallback callback, void* context);

    // Initial state: marker in the first two bytes, nothing else held.
    void Reset();

    // Appends one datagram's bytes, delivering every frame completed by them.
    void Feed(const uint8_t* bytes, size_t length);

    // Bytes held, marker included (2 when empty).
    size_t WriteIndex() const { return writeIndex_; }

private:
    FrameCallback callback_;
    void* context_;
    size_t writeIndex_ = 2;
    int ffCount_ = 0;
    uint8_t buffer_[kBufferSize];
};

}  // namespace lumora
