#include "acquisition/binary_decoder.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace lumora {

std::atomic<uint32_t> g_frameSequence{0};

namespace {

constexpr size_t kTrailerSize = 52;
constexpr int kMaxChannels = 32;
constexpr int kMaxPerChannel = 60;
constexpr int kSpectrumTolerance = 20;

// Multi-byte fields are little-endian and not aligned.
inline uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int32_t Read32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

void WriteHexDump(const uint8_t* frame, size_t length, char* text) {
    static const char kHex[] = "0123456789ABCDEF";
    const size_t bytes = std::min<size_t>(length, (kFrameTextSize - 1) / 3);
    char* out = text;
    for (size_t i = 0; i < bytes; ++i) {
        *out++ = kHex[frame[i] >> 4];
        *out++ = kHex[frame[i] & 0x0F];
        *out++ = ' ';
    }
    *out = '\0';
}

// What the checks learn of a wavelength frame, for the decoding that follows.
struct WavelengthLayout {
    int channels = 0;
    int countsRead = 0;
    long n = 0;
    bool trailer = false;
    size_t valuesAt = 0;
};

int SpectrumCheck(const uint8_t* frame, size_t length, size_t x, long& sampleCount) {
    const size_t countAt = 5 + x;
    if (countAt + 2 > length) return kBinaryBadSpectrumCount;
    sampleCount = Read16(frame + countAt);
    // The expected count leaves the extension out; the tolerance covers it.
    const long expected = (static_cast<long>(length) - 2 - 5) / 2;
    if (sampleCount >= expected + kSpectrumTolerance || sampleCount <= expected - kSpectrumTolerance) {
        return kBinaryBadSpectrumCount;
    }
    return kBinaryDecoded;
}

int WavelengthCheck(const uint8_t* frame, size_t length, size_t x, uint8_t kind, WavelengthLayout& out) {
    // N channel counts, then n 16-bit values, then spare bytes and possibly
    // the trailer.
    out.channels = kind & 0x3F;
    out.countsRead = std::min(out.channels, kMaxChannels);
    const size_t countsAt = 5 + x;
    if (countsAt + static_cast<size_t>(out.countsRead) > length) return kBinaryBadLength;
    long n = 0;
    for (int i = 0; i < out.countsRead; ++i) n += frame[countsAt + static_cast<size_t>(i)];
    out.n = n;

    // Whether a trailer is present follows from the length alone: the values
    // leave 0 to 3 spare bytes, with or without the 52 trailer bytes after them.
    const long rest = static_cast<long>(length) - 2 - out.channels - 3;
    if (n == rest / 2 || n == rest / 2 - 1) {
        out.trailer = false;
    } else {
        const uint32_t half = static_cast<uint32_t>(rest - static_cast<long>(kTrailerSize)) / 2;
        if (static_cast<uint32_t>(n) == half || static_cast<uint32_t>(n) == half - 1) {
            out.trailer = true;
        } else {
            return kBinaryBadLength;
        }
    }
    // The check leaves the extension out, so with an extension the values can
    // run into the trailer or past the end: such frames are refused too.
    out.valuesAt = countsAt + static_cast<size_t>(out.channels);
    const size_t valuesEnd = out.valuesAt + 2 * static_cast<size_t>(n);
    if (valuesEnd + (out.trailer ? kTrailerSize : 0) > length) return kBinaryBadLength;
    return kBinaryDecoded;
}

int DecodeSpectrum(AcquisitionState& state, const uint8_t* frame, size_t length, size_t x, uint8_t kind) {
    long sampleCount = 0;
    if (int r = SpectrumCheck(frame, length, x, sampleCount); r != kBinaryDecoded) return r;
    const size_t countAt = 5 + x;
    const int channel = std::min(kind & 0x3F, 31);

    if (state.m_spectrumAutoShow.exchange(false)) {
        if (SpectrumAutoShowHook* hook = state.m_spectrumAutoShowHook.load()) hook->BringSpectrumForward();
    }
    // The count may announce up to 19 samples more than the frame holds: only
    // the samples present are handed on.
    const size_t present = (length - countAt - 2) / 2;
    const int count = static_cast<int>(std::min<size_t>({static_cast<size_t>(sampleCount), present,
                                                         static_cast<size_t>(kMaxSpectrumSamples)}));
    if (SpectrumSink* sink = state.m_spectrumSink.load()) {
        uint16_t* samples = state.SpectrumBuffer();
        const uint8_t* p = frame + countAt + 2;
        for (int i = 0; i < count; ++i) samples[i] = Read16(p + 2 * i);
        sink->ShowSpectrumFrame(channel, samples, count);
    }
    return kBinaryDecoded;
}

// The marker and the kind byte; kBinaryDecoded when there is a kind to look at.
int HeaderCheck(const uint8_t* frame, size_t length, size_t& x, uint8_t& kind) {
    if (frame == nullptr || length < 2) return kBinaryTooShort;
    if (frame[0] != 0xFF || frame[1] != 0xFF) return kBinaryNoMarker;
    if (length == 2) return kBinaryBadLength;
    x = (frame[2] & 0x01) ? 4 : 0;
    const size_t kindAt = 4 + x;
    if (kindAt >= length) return kBinaryBadLength;
    kind = frame[kindAt];
    return kBinaryDecoded;
}

}  // namespace

int CheckBinaryFrame(const uint8_t* frame, size_t length) {
    size_t x = 0;
    uint8_t kind = 0;
    if (int r = HeaderCheck(frame, length, x, kind); r != kBinaryDecoded) return r;
    if (kind >= 0x40) {
        long sampleCount = 0;
        return SpectrumCheck(frame, length, x, sampleCount);
    }
    WavelengthLayout layout;
    return WavelengthCheck(frame, length, x, kind, layout);
}

bool BinaryFramePassesCheck(const uint8_t* frame, size_t length) {
    return CheckBinaryFrame(frame, length) == kBinaryDecoded;
}

int DecodeBinaryFrame(AcquisitionState& state, const uint8_t* frame, size_t length) {
    size_t x = 0;
    uint8_t kind = 0;
    if (int r = HeaderCheck(frame, length, x, kind); r != kBinaryDecoded) return r;
    if (kind >= 0x40) return DecodeSpectrum(state, frame, length, x, kind);

    WavelengthLayout layout;
    if (int r = WavelengthCheck(frame, length, x, kind, layout); r != kBinaryDecoded) return r;
    const int countsRead = layout.countsRead;
    const bool trailer = layout.trailer;
    const size_t valuesAt = layout.valuesAt;
    const uint8_t* counts = frame + 5 + x;

    // The sequence wraps as an unsigned 32-bit count; the slot takes its bits.
    const int32_t seq = static_cast<int32_t>(g_frameSequence.fetch_add(1, std::memory_order_relaxed) + 1u);

    SlotWriter writer(state.Ring());
    FrameSlot& slot = writer.Slot();
    if (state.m_showSourceData.load(std::memory_order_relaxed)) WriteHexDump(frame, length, slot.text);

    int channelOffset = 0;
    if (trailer) {
        const uint8_t* t = frame + length;
        slot.time = Read32(t - 24);
        slot.microseconds = Read32(t - 20);
        const int32_t counter = Read32(t - 16);
        slot.counter = counter != 0 ? counter : seq;
        // At most 29 bytes, all inside the frame (the text starts 47 bytes
        // before its end).
        const char* sn = reinterpret_cast<const char*>(t - 47);
        const size_t snLength = strnlen(sn, kSnSize - 1);
        std::memcpy(slot.sn, sn, snLength);
        slot.sn[snLength] = '\0';
        channelOffset = static_cast<int8_t>(t[-12]);
    } else {
        slot.time = static_cast<int32_t>(std::time(nullptr));
        slot.counter = seq;
        slot.sn[0] = 'X';
        slot.sn[1] = '\0';
    }

    const int64_t serialBase = static_cast<int64_t>(state.m_rcvPort.load(std::memory_order_relaxed)) * 1000;
    const uint8_t* values = frame + valuesAt;
    int stored = 0;
    state.WithReference([&](const FrameSlot* reference) {
        long valueIndex = 0;  // values belong to channels in order
        for (int i = 0; i < countsRead && stored < kMaxReadings; ++i) {
            // Channel numbers outside 1..32 (from the trailer's offset) are
            // pulled to the nearest valid one.
            const int channel = std::clamp(channelOffset + i, 0, kMaxChannels - 1) + 1;
            const int take = std::min<int>({counts[i], kMaxPerChannel, kMaxReadings - stored});
            // Values beyond 60 of a channel are skipped, so that the following
            // channels keep their own values.
            const uint8_t* v = values + 2 * valueIndex;
            for (int k = 0; k < take; ++k) {
                SensorReading& r = slot.readings[stored];
                const int32_t wavelength = Read16(v + 2 * k) + kWavelengthBase;
                r.id = stored + 1;
                r.serial = static_cast<int32_t>(serialBase + stored + 1);
                r.channel = channel;
                r.wavelength = wavelength;
                r.physicValue = reference ? static_cast<double>(wavelength) - reference->readings[stored].wavelength
                                          : 0.0;
                ++stored;
            }
            valueIndex += counts[i];
        }
    });
    slot.count = stored;
    writer.Publish();
    return kBinaryDecoded;
}

}  // namespace lumora
