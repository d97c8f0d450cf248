// High-speed captures: the input is taken as a datagram (cut into frames as
// the capture cuts it) and as the body of a record file after its header
// (split into records as every reader splits them and decoded as the
// high-speed conversion decodes them).
#include <cstdlib>

#include "formats/lmra_records.h"
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
    const uint64_t unclaimed = lumora::ForEachLmraRecord(data, size, [&](const lumora::LmraRecordView& record) {
        const uint8_t* r = record.data;
        const size_t len = record.length;
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
    return 0;
}
