#pragma once
// Cuts the binary byte stream of the data port into frames. A frame starts
// with the marker 0xFF 0xFF and is complete when the next marker arrives.
//
// Waiting for the next marker alone would keep every frame one datagram late
// and lose the last one of a session. With a check (the decoder's own), the
// frame in hand at the end of a datagram is handed on at once when it passes
// the check and either ends with a trailer or began in that datagram; the
// marker that follows it then hands on nothing. Finish() hands on the frame in
// hand at the end of a session.
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
    // Whether a frame, marker included, is whole enough to be handed on
    // without waiting for the next marker.
    using FrameCheck = bool (*)(const uint8_t* frame, size_t length);

    explicit FrameAssembler(FrameCallback callback = nullptr, void* context = nullptr, FrameCheck check = nullptr);
    FrameAssembler(const FrameAssembler&) = delete;
    FrameAssembler& operator=(const FrameAssembler&) = delete;

    void SetCallback(FrameCallback callback, void* context);
    // Without a check (null) frames are handed on only at the next marker.
    void SetCheck(FrameCheck check) { check_ = check; }

    // Initial state: marker in the first two bytes, nothing else held.
    void Reset();

    // Appends one datagram's bytes, delivering every frame completed by them,
    // then the frame in hand if it is whole (see above).
    void Feed(const uint8_t* bytes, size_t length);

    // The end of a session: hands on the frame in hand if it passes the
    // check, then returns to the initial state.
    void Finish();

    // Bytes held, marker included (2 when empty).
    size_t WriteIndex() const { return writeIndex_; }

private:
    void Deliver(size_t length);
    void HandOnIfWhole(bool beganHere);
    void StartNextFrame();

    FrameCallback callback_;
    void* context_;
    FrameCheck check_;
    size_t writeIndex_ = 2;
    int ffCount_ = 0;
    // The last frame was handed on before its successor's marker: that
    // marker ends an empty frame, which is not handed on.
    bool handedOnEarly_ = false;
    uint8_t buffer_[kBufferSize];
};

}  // namespace lumora
