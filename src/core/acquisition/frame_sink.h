#pragma once
// Where the receive worker hands every decoded wavelength frame, right after
// the frame is published in the ring (the MQTT publisher is one). Runs on the
// receive worker: an implementation must return quickly and never wait.
#include <cstdint>

#include "model/frame_types.h"

namespace lumora {

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // frame is valid only during the call. sourceAddr is the sender's IPv4
    // address in network byte order.
    virtual void OnFrame(const FrameSlot& frame, uint32_t sourceAddr) = 0;
};

}  // namespace lumora
