// High-speed captures: the input is taken as a datagram (cut into frames as
// the capture cuts it) and as the body of a record file after its header
// (split into records and decoded as the CSV conversion decodes them, whole
// and in two pieces).
#include <cstdlib>
#include <vector>

#include "recording/high_speed_capture.h"
#include "recording/high_speed_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t covered = 0;
    lumora::ForEachFrame(data, size, [&](const uint8_t* f, size_t len) {
        if (f < data || f + len > data + size || len < 3 || f[0] != 0xFF || f[1] != 0xFF) std::abort();
        covered += len;
    });
    if (covered > size) std::abort();

    size_t inRecords = 0;
    size_t unclaimed = lumora::ForEachRecord(data, size, [&](const uint8_t* r, size_t len) {
        if (r < data || r + len > data + size) std::abort();
        inRecords += len;
        lumora::HighSpeedRecord rec;
        if (lumora::DecodeHighSpeedRecord(r, len, &rec) != 0) return;
        // Every value the converter reads lies inside the record.
        unsigned sum = 0;
        int v = 0;
        for (int c = 0; c < rec.channels; ++c)
            for (int k = 0; k < rec.counts[c]; ++k, ++v) {
                const uint8_t* p = rec.values + 2 * v;
                if (p < r || p + 2 > r + len) std::abort();
                sum += p[0] + p[1];
            }
        if (v != rec.valueCount) std::abort();
        (void)sum;
    });
    if (inRecords + unclaimed != size) std::abort();

    // Read in two pieces, as the conversion reads a file, the body splits
    // into the same records.
    std::vector<size_t> whole, pieces;
    lumora::ForEachRecord(data, size, [&](const uint8_t*, size_t len) { whole.push_back(len); });
    const size_t cut = size > 0 ? data[size - 1] * size / 256 : 0;
    std::vector<uint8_t> buf(data, data + cut);
    size_t pieceUnclaimed = 0;
    auto note = [&](const uint8_t*, size_t len) { pieces.push_back(len); };
    const size_t used = lumora::ForEachRecordSoFar(buf.data(), buf.size(), false, &pieceUnclaimed, note);
    if (used > buf.size()) std::abort();
    buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(used));
    buf.insert(buf.end(), data + cut, data + size);
    lumora::ForEachRecordSoFar(buf.data(), buf.size(), true, &pieceUnclaimed, note);
    if (pieces != whole || pieceUnclaimed != unclaimed) std::abort();
    return 0;
}
