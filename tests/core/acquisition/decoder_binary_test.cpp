#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "acquisition/binary_decoder.h"
#include "decoder_frames.h"

namespace lumora {
namespace {

using testframes::SpectrumFrame;
using testframes::Trailer;
using testframes::WavelengthFrame;

int Decode(AcquisitionState& s, const std::vector<uint8_t>& f) { return DecodeBinaryFrame(s, f.data(), f.size()); }

// The newest frame; the tests call it only after a frame was decoded, and an
// empty ring stops the test instead of reading before the first slot.
const FrameSlot& Latest(const AcquisitionState& s) {
    const int i = s.Ring().LatestIndex();
    if (i < 0) throw std::logic_error("no frame decoded yet");
    return s.Ring().slots[static_cast<size_t>(i)];
}

// Ring index, frame count and sequence number: none of them may move on a rejection.
struct Marks {
    int writeIndex;
    int64_t framesDecoded;
    uint32_t sequence;
    explicit Marks(const AcquisitionState& s)
        : writeIndex(s.Ring().writeIndex.load()),
          framesDecoded(s.Ring().framesDecoded.load()),
          sequence(g_frameSequence.load()) {}
    bool operator==(const Marks&) const = default;
};

TEST(BinaryDecoder, TrailerIsRecognisedByLengthWithZeroToThreeSpareBytes) {
    auto state = std::make_unique<AcquisitionState>();
    for (int spare = 0; spare <= 3; ++spare) {
        const auto before = static_cast<int32_t>(std::time(nullptr));
        ASSERT_EQ(Decode(*state, WavelengthFrame({3, 2}, spare)), 0) << spare;
        const auto after = static_cast<int32_t>(std::time(nullptr));
        const FrameSlot& s = Latest(*state);
        ASSERT_EQ(s.count, 5);
        const int channels[] = {1, 1, 1, 2, 2};
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(s.readings[j].id, j + 1);
            EXPECT_EQ(s.readings[j].channel, channels[j]);
            EXPECT_EQ(s.readings[j].wavelength, 1510000 + 100 * (j + 1));
            EXPECT_EQ(s.readings[j].serial, 7008 * 1000 + j + 1);
            EXPECT_EQ(s.readings[j].physicValue, 0.0);
        }
        EXPECT_STREQ(s.sn, "X");
        EXPECT_EQ(s.counter, static_cast<int32_t>(g_frameSequence.load()));
        // Stamped with the time of decoding, however long the machine took.
        EXPECT_TRUE(s.time >= before && s.time <= after) << s.time;
    }
    EXPECT_EQ(state->Ring().writeIndex.load(), 4);
    EXPECT_EQ(state->Ring().framesDecoded.load(), 3);

    Marks before(*state);
    EXPECT_EQ(Decode(*state, WavelengthFrame({3, 2}, 4)), kBinaryBadLength);
    EXPECT_EQ(Marks(*state), before);

    // 52 more bytes: the trailer's fields replace clock and sequence.
    Trailer t;
    t.sn = "SA-20260001";
    for (int spare = 0; spare <= 3; ++spare) {
        t.counter = 500 + spare;
        ASSERT_EQ(Decode(*state, WavelengthFrame({3, 2}, spare, &t)), 0) << spare;
        const FrameSlot& s = Latest(*state);
        EXPECT_EQ(s.count, 5);
        EXPECT_EQ(s.time, 1700000000);
        EXPECT_EQ(s.microseconds, 250000);
        EXPECT_EQ(s.counter, 500 + spare);
        EXPECT_STREQ(s.sn, "SA-20260001");
        EXPECT_EQ(s.readings[4].channel, 2);
    }
    EXPECT_EQ(Decode(*state, WavelengthFrame({3, 2}, 4, &t)), kBinaryBadLength);
}

TEST(BinaryDecoder, TrailerCounterChannelOffsetAndSerialNumbers) {
    auto state = std::make_unique<AcquisitionState>();
    state->m_rcvPort = 9100;
    Trailer t;
    t.counter = 0;  // the decoder's own sequence number stands in
    t.channelOffset = 4;
    ASSERT_EQ(Decode(*state, WavelengthFrame({1, 1}, 0, &t)), 0);
    const FrameSlot* s = &Latest(*state);
    EXPECT_EQ(s->counter, static_cast<int32_t>(g_frameSequence.load()));
    EXPECT_EQ(s->readings[0].channel, 5);
    EXPECT_EQ(s->readings[1].channel, 6);
    EXPECT_EQ(s->readings[0].serial, 9100001);
    EXPECT_EQ(s->readings[1].serial, 9100002);

    t.counter = 9;
    t.channelOffset = 30;
    ASSERT_EQ(Decode(*state, WavelengthFrame({1, 1, 1}, 0, &t)), 0);
    s = &Latest(*state);
    EXPECT_EQ(s->readings[0].channel, 31);
    EXPECT_EQ(s->readings[1].channel, 32);
    EXPECT_EQ(s->readings[2].channel, 32);

    // A negative offset never yields a channel below 1.
    t.channelOffset = -3;
    ASSERT_EQ(Decode(*state, WavelengthFrame({1, 1, 1, 1, 1}, 0, &t)), 0);
    s = &Latest(*state);
    EXPECT_EQ(s->readings[0].channel, 1);
    EXPECT_EQ(s->readings[3].channel, 1);
    EXPECT_EQ(s->readings[4].channel, 2);

    // A serial-number text without its NUL stops at 29 characters.
    std::vector<uint8_t> f = WavelengthFrame({1}, 0, &t);
    for (size_t i = f.size() - 47; i < f.size() - 12; ++i) f[i] = 'Z';
    ASSERT_EQ(Decode(*state, f), 0);
    EXPECT_EQ(std::string(Latest(*state).sn), std::string(29, 'Z'));
}

TEST(BinaryDecoder, RejectionsChangeNothingAndNeverReadPastTheFrame) {
    auto state = std::make_unique<AcquisitionState>();
    Marks start(*state);
    const uint8_t twoBytes[] = {0xFF, 0xFF};
    const uint8_t noMarker[] = {0xFF, 0xFE, 0, 0, 0};
    EXPECT_EQ(DecodeBinaryFrame(*state, nullptr, 10), kBinaryTooShort);
    EXPECT_EQ(DecodeBinaryFrame(*state, twoBytes, 1), kBinaryTooShort);
    EXPECT_EQ(DecodeBinaryFrame(*state, twoBytes, 2), kBinaryBadLength);
    EXPECT_EQ(DecodeBinaryFrame(*state, noMarker, sizeof noMarker), kBinaryNoMarker);
    EXPECT_EQ(Marks(*state), start);

    // Every cut of a frame with trailer, each copied into a buffer of exactly
    // its size (the sanitizer build catches any read beyond it).
    Trailer t;
    std::vector<uint8_t> full = WavelengthFrame({3, 2, 7}, 0, &t);
    for (size_t len = 2; len < full.size(); ++len) {
        auto cut = std::make_unique<uint8_t[]>(len);
        std::copy(full.begin(), full.begin() + static_cast<long>(len), cut.get());
        DecodeBinaryFrame(*state, cut.get(), len);
    }

    // With the 4-byte extension the length check ignores the extension, so a
    // frame can pass it while its values would run past the end: refused.
    std::vector<uint8_t> ext = {0xFF, 0xFF, 0x01, 0, 0, 0, 0, 0, 0x01, 6};
    ext.resize(ext.size() + 10, 0x11);  // 5 values, but the check asks for 6 or 7
    Marks before(*state);
    EXPECT_EQ(Decode(*state, ext), kBinaryBadLength);
    EXPECT_EQ(Marks(*state), before);
}

TEST(BinaryDecoder, ChannelAndFrameLimitsNeverShiftOrOverrunReadings) {
    auto state = std::make_unique<AcquisitionState>();
    // 70 values on channel 1: the first 60 are stored, the other 10 skipped,
    // and channel 2 keeps its own values.
    auto value = [](int j) { return static_cast<uint16_t>(j); };
    ASSERT_EQ(Decode(*state, WavelengthFrame({70, 2}, value)), 0);
    const FrameSlot* s = &Latest(*state);
    ASSERT_EQ(s->count, 62);
    EXPECT_EQ(s->readings[59].wavelength, 1510000 + 59);
    EXPECT_EQ(s->readings[59].channel, 1);
    EXPECT_EQ(s->readings[60].wavelength, 1510000 + 70);
    EXPECT_EQ(s->readings[60].channel, 2);
    EXPECT_EQ(s->readings[61].id, 62);

    // 32 channels of 60 announce 1920 readings: 320 are stored.
    ASSERT_EQ(Decode(*state, WavelengthFrame(std::vector<uint8_t>(32, 60), value)), 0);
    s = &Latest(*state);
    ASSERT_EQ(s->count, kMaxReadings);
    EXPECT_EQ(s->readings[319].id, 320);
    EXPECT_EQ(s->readings[319].channel, 6);
    EXPECT_EQ(s->readings[319].wavelength, 1510000 + 319);

    // More than 32 channel counts: only the first 32 are read, but all of
    // them occupy the frame.
    std::vector<uint8_t> counts(40, 0);
    counts[0] = 1;
    ASSERT_EQ(Decode(*state, WavelengthFrame(counts, value)), 0);
    EXPECT_EQ(Latest(*state).count, 1);
}

TEST(BinaryDecoder, ReferenceAndHexDump) {
    auto state = std::make_unique<AcquisitionState>();
    ASSERT_EQ(Decode(*state, WavelengthFrame({2})), 0);
    EXPECT_EQ(Latest(*state).readings[1].physicValue, 0.0);
    EXPECT_STREQ(Latest(*state).text, "");  // only written while the box is ticked

    state->SetReference(Latest(*state));
    ASSERT_EQ(Decode(*state, WavelengthFrame({2}, [](int j) { return static_cast<uint16_t>(150 + j); })), 0);
    EXPECT_EQ(Latest(*state).readings[0].physicValue, 50.0);  // 1510150 - 1510100
    EXPECT_EQ(Latest(*state).readings[1].physicValue, -49.0);  // 1510151 - 1510200

    state->m_showSourceData = true;
    ASSERT_EQ(Decode(*state, WavelengthFrame({1}, [](int) { return uint16_t{0xAB01}; })), 0);
    EXPECT_STREQ(Latest(*state).text, "FF FF 00 00 01 01 01 AB ");
    // Unticked: the slot keeps the text an earlier frame left there.
    state->m_showSourceData = false;
    for (int i = 0; i < kRingSlots; ++i) ASSERT_EQ(Decode(*state, WavelengthFrame({1})), 0);
    EXPECT_STREQ(Latest(*state).text, "FF FF 00 00 01 01 01 AB ");
}

struct RecordingSink : SpectrumSink, SpectrumAutoShowHook {
    int calls = 0, channel = -1, autoShows = 0;
    std::vector<uint16_t> values;
    void ShowSpectrumFrame(int ch, const uint16_t* v, int count) override {
        ++calls;
        channel = ch;
        values.assign(v, v + count);
    }
    void BringSpectrumForward() override { ++autoShows; }
};

TEST(BinaryDecoder, SpectrumFramesGoToTheSinkWithinTolerance) {
    auto state = std::make_unique<AcquisitionState>();
    RecordingSink sink;
    state->m_spectrumSink = &sink;
    state->m_spectrumAutoShowHook = &sink;
    state->m_spectrumAutoShow = true;  // the port was just opened
    Marks start(*state);

    EXPECT_EQ(Decode(*state, SpectrumFrame(0x45, 100 + 20, 100)), kBinaryBadSpectrumCount);
    EXPECT_EQ(Decode(*state, SpectrumFrame(0x45, 100 - 20, 100)), kBinaryBadSpectrumCount);
    EXPECT_EQ(sink.calls + sink.autoShows, 0);

    ASSERT_EQ(Decode(*state, SpectrumFrame(0x45, 100 - 19, 100)), 0);
    EXPECT_EQ(sink.channel, 5);
    ASSERT_EQ(sink.values.size(), 81u);
    EXPECT_EQ(sink.values[0], 1000);
    EXPECT_EQ(sink.values[80], 1080);
    EXPECT_EQ(sink.autoShows, 1);

    // Announcing more than present: only the samples present are handed on.
    ASSERT_EQ(Decode(*state, SpectrumFrame(0x7F, 100 + 19, 100)), 0);
    EXPECT_EQ(sink.channel, 31);
    EXPECT_EQ(sink.values.size(), 100u);
    EXPECT_EQ(sink.values[99], 1099);
    EXPECT_EQ(sink.autoShows, 1);  // once per opening

    state->m_spectrumAutoShow = true;  // opened again
    ASSERT_EQ(Decode(*state, SpectrumFrame(0x40, 3, 3)), 0);
    EXPECT_EQ(sink.channel, 0);
    EXPECT_EQ(sink.autoShows, 2);

    // Too short to hold a sample count at all.
    const uint8_t stub[] = {0xFF, 0xFF, 0x00, 0x00, 0x41, 0x00};
    EXPECT_EQ(DecodeBinaryFrame(*state, stub, sizeof stub), kBinaryBadSpectrumCount);
    EXPECT_EQ(Marks(*state), start);  // spectra never touch the ring

    state->m_spectrumSink = nullptr;  // no view yet: checked and dropped
    EXPECT_EQ(Decode(*state, SpectrumFrame(0x41, 10, 10)), 0);
    EXPECT_EQ(sink.calls, 3);
}

}  // namespace
}  // namespace lumora
