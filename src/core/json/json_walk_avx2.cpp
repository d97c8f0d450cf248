// Built with AVX2 enabled, so that simdjson's on-demand parser uses it. The
// library hides everything but the three entry points: its own copies of
// inline code never stand in for those of the rest of the program.
#include "json/json_walk_avx2.h"

#include <simdjson.h>

#include <bit>
#include <charconv>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace lumora::json::avx2 {
namespace {
namespace od = simdjson::ondemand;
#include "json/json_walk.inc"
}  // namespace

bool ReadTextFrame(const char* text, size_t length, size_t capacity, SensorReading* readings, FrameFields& out) {
    return WalkTextFrame(text, length, capacity, readings, out);
}

bool ReadJsonLine(const char* text, size_t length, size_t capacity, bool onlyMatched, SensorReading* readings,
                  LineFields& outer, LineFields& inner) {
    return WalkJsonLine(text, length, capacity, onlyMatched, readings, outer, inner);
}

bool ReadAnnouncement(const char* text, size_t length, size_t capacity, AnnouncementFields& out) {
    return WalkAnnouncement(text, length, capacity, out);
}

}  // namespace lumora::json::avx2
