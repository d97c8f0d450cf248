#pragma once
// The JSON published for a batch of frames of one device:
//   {"device":"SIM0001","frames":[{"t":1796806291.056,"counter":12,
//     "sensors":[[ID,SERIAL,CHANNEL,WAVELENGTH,PHYSIC],...]},...]}
#include <cstdint>
#include <string>

#include "publishing/publish_queue.h"

namespace lumora {

// Starts a batch: the device member and the opening of the frames array.
void BeginBatch(std::string& out, const char* device);
// Appends one frame (with a comma when it is not the batch's first).
void AppendFrame(std::string& out, const QueuedFrame& frame, bool first);
// Closes the frames array and the object.
void EndBatch(std::string& out);

// The device part of a topic: the text with "/", "+", "#" and every byte
// outside printable ASCII replaced by "_". The first three would change the
// topic's meaning, and a serial number is not known to be UTF-8, which a
// topic must be. Empty text gives "_".
std::string TopicSafe(const char* device);

}  // namespace lumora
