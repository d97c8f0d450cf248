#pragma once
// The JSON walkers built for CPUs with AVX2, in a shared library of their own
// (see src/core/CMakeLists.txt). Called only after the CPU was found to have
// it; without that library they are never called.
#include "json/json_reading.h"

#define LUMORA_JSON_AVX2_EXPORT __attribute__((visibility("default")))

namespace lumora::json::avx2 {

#ifdef LUMORA_JSON_AVX2
LUMORA_JSON_AVX2_EXPORT bool ReadTextFrame(const char* text, size_t length, size_t capacity,
                                           SensorReading* readings, FrameFields& out);
LUMORA_JSON_AVX2_EXPORT bool ReadJsonLine(const char* text, size_t length, size_t capacity, bool onlyMatched,
                                          SensorReading* readings, LineFields& outer, LineFields& inner);
LUMORA_JSON_AVX2_EXPORT bool ReadAnnouncement(const char* text, size_t length, size_t capacity,
                                              AnnouncementFields& out);
#else
inline bool ReadTextFrame(const char*, size_t, size_t, SensorReading*, FrameFields&) { return false; }
inline bool ReadJsonLine(const char*, size_t, size_t, bool, SensorReading*, LineFields&, LineFields&) { return false; }
inline bool ReadAnnouncement(const char*, size_t, size_t, AnnouncementFields&) { return false; }
#endif

}  // namespace lumora::json::avx2
