// The reader of binary recordings: the input is the body of an "LMRA" file.
// It is read in chunks of sizes taken from the input and must give the same
// records as a plain model of the rules that looks at the whole body at once;
// every record and every byte it decodes lies inside the body, and every byte
// of the body is in one record or counted as belonging to none.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/lmra_records.h"
#include "recording/high_speed_convert.h"

namespace {

struct Seen {
    size_t at, length, pieceLength;
    bool whole;
    bool operator==(const Seen& o) const {
        return at == o.at && length == o.length && pieceLength == o.pieceLength && whole == o.whole;
    }
};

// The rules as plainly as they can be written, over the whole body.
size_t WholeLength(const uint8_t* b, size_t n, size_t i) {
    if (n - i < 5 || b[i + 4] >= 0x40) return 0;
    const size_t k = b[i + 4] & 0x3F;
    if (n - i < 5 + k) return 0;
    size_t s = 0;
    for (size_t l = 0; l < k && l < 32; ++l) s += b[i + 5 + l];
    const size_t total = 5 + k + 2 * s + lumora::kTrailerSize;
    if (n - i < total) return 0;
    for (size_t j = total - 4; j < total; ++j)
        if (b[i + j] != 0xFD) return 0;
    return total;
}

std::vector<Seen> Model(const uint8_t* b, size_t n, uint64_t& unclaimed) {
    std::vector<Seen> out;
    size_t start = 0, i = 0, pair = 0;
    bool havePair = false, fd = false;
    unclaimed = 0;
    while (i < n) {
        if (b[i] == 0xFD && fd) {
            fd = false;
            const size_t end = i + 1;
            if (end - start > lumora::kMaxPieceSize || !havePair) {
                unclaimed += end - start;
            } else {
                const size_t next = end + 2 <= n && b[end] == 0xFD && b[end + 1] == 0xFD ? end + 2 : end;
                out.push_back({pair, next - pair, end - pair, false});
                unclaimed += pair - start;
                i = next - 1;
            }
            start = i + 1;
            havePair = false;
        } else if (b[i] == 0xFD) {
            fd = true;
        } else {
            fd = false;
            if (b[i] == 0xFF && i + 1 < n && b[i + 1] == 0xFF) {
                if (const size_t length = WholeLength(b, n, i)) {
                    out.push_back({i, length, length - 2, true});
                    unclaimed += i - start;
                    start = i + length;
                    havePair = false;
                    i = start;
                    continue;
                }
                if (!havePair) pair = i, havePair = true;
            }
        }
        ++i;
    }
    unclaimed += n - start;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumora::FrameSlot* slot = new lumora::FrameSlot();
    uint64_t modelUnclaimed = 0;
    const std::vector<Seen> expected = Model(data, size, modelUnclaimed);

    // Chunks of 1 to 256 bytes, their sizes taken from the body itself; the
    // reader's own buffer is as small as it can be.
    size_t at = 0, calls = 0;
    lumora::LmraRecordReader reader(
        [&](uint8_t* into, size_t n) -> ssize_t {
            const size_t step = size ? 1 + data[(calls++ * 7919) % size] : 1;
            const size_t take = std::min({n, step, size - at});
            std::memcpy(into, data + at, take);
            at += take;
            return static_cast<ssize_t>(take);
        },
        1);
    std::vector<Seen> seen;
    lumora::LmraRecordView r;
    uint64_t inRecords = 0;
    while (reader.Next(r)) {
        const Seen s{static_cast<size_t>(r.offset), r.length, r.pieceLength, r.whole};
        if (r.offset + r.length > size || std::memcmp(r.data, data + r.offset, r.length) != 0) std::abort();
        if (r.length < 2 || r.data[0] != 0xFF || r.data[1] != 0xFF || r.pieceLength > r.length) std::abort();
        seen.push_back(s);
        inRecords += r.length;
        if (lumora::DecodeLmraPiece(r.data, r.pieceLength, *slot) && (slot->count < 0 || slot->count > lumora::kMaxReadings))
            std::abort();
        lumora::HighSpeedRecord rec;
        lumora::DecodeHighSpeedRecord(r.data, r.length, &rec);
    }
    if (seen != expected || reader.Unclaimed() != modelUnclaimed || inRecords + reader.Unclaimed() != size)
        std::abort();
    return 0;
}
