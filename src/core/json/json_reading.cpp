#include "json/json_reading.h"

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

#include "json/json_walk_avx2.h"

namespace lumora::json {

static_assert(kPadding >= simdjson::SIMDJSON_PADDING);

// The walkers for any CPU. simdjson compiles its on-demand parser for the
// instruction set the whole file is built for; CPUs with AVX2 use the copy in
// the AVX2 library instead.
namespace generic {
namespace {
namespace od = simdjson::ondemand;
#include "json/json_walk.inc"
}  // namespace
}  // namespace generic

namespace {

bool UseAvx2() {
#ifdef LUMORA_JSON_AVX2
    static const bool avx2 = [] {
        const auto* haswell = simdjson::get_available_implementations()["haswell"];
        return haswell != nullptr && haswell->supported_by_runtime_system();
    }();
    return avx2;
#else
    return false;
#endif
}

}  // namespace

bool NameIs(std::string_view key, std::string_view name) { return generic::NameIs(key, name); }

int32_t CjsonInt(double number) { return generic::CjsonInt(number); }

bool ReadTextFrame(const char* text, size_t length, size_t capacity, SensorReading* readings, FrameFields& out) {
    if (UseAvx2()) return avx2::ReadTextFrame(text, length, capacity, readings, out);
    return generic::WalkTextFrame(text, length, capacity, readings, out);
}

bool ReadJsonLine(const char* text, size_t length, size_t capacity, bool onlyMatched, SensorReading* readings,
                  LineFields& outer, LineFields& inner) {
    if (UseAvx2()) return avx2::ReadJsonLine(text, length, capacity, onlyMatched, readings, outer, inner);
    return generic::WalkJsonLine(text, length, capacity, onlyMatched, readings, outer, inner);
}

bool ReadAnnouncement(const char* text, size_t length, size_t capacity, AnnouncementFields& out) {
    if (UseAvx2()) return avx2::ReadAnnouncement(text, length, capacity, out);
    return generic::WalkAnnouncement(text, length, capacity, out);
}

}  // namespace lumora::json
