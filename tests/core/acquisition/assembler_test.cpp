#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "acquisition/binary_decoder.h"
#include "acquisition/frame_assembler.h"
#include "acquisition/frame_encoder.h"

namespace lumora {
namespace {

using Bytes = std::vector<uint8_t>;

struct Collector {
    std::vector<Bytes> frames;
    static void OnFrame(void* self, const uint8_t* frame, size_t length) {
        static_cast<Collector*>(self)->frames.emplace_back(frame, frame + length);
    }
};

struct Fixture {
    explicit Fixture(FrameAssembler::FrameCheck check = nullptr)
        : assembler(std::make_unique<FrameAssembler>(&Collector::OnFrame, &got, check)) {}
    Collector got;
    std::unique_ptr<FrameAssembler> assembler;
    void Feed(const Bytes& b) { assembler->Feed(b.data(), b.size()); }
};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(FrameAssembler, FramesAreDeliveredWhenTheNextMarkerArrives) {
    Fixture f;
    const Bytes a = {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x01, 0x10, 0x20};
    const Bytes b = {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x01, 0x30, 0x40};
    // The first datagram's marker meets the marker already held: a marker-only frame.
    f.Feed(a);
    ASSERT_EQ(f.got.frames.size(), 1u);
    EXPECT_EQ(f.got.frames[0], (Bytes{0xFF, 0xFF}));
    // One frame per datagram: each is delivered while the next is fed.
    f.Feed(b);
    ASSERT_EQ(f.got.frames.size(), 2u);
    EXPECT_EQ(f.got.frames[1], a);
    f.Feed(a);
    ASSERT_EQ(f.got.frames.size(), 3u);
    EXPECT_EQ(f.got.frames[2], b);
    EXPECT_EQ(f.assembler->WriteIndex(), a.size());  // the last frame waits

    // The same stream cut anywhere (even between the two 0xFF) gives the same frames.
    Fixture g;
    Bytes stream = a;
    stream.insert(stream.end(), b.begin(), b.end());
    stream.insert(stream.end(), a.begin(), a.end());
    for (uint8_t byte : stream) g.assembler->Feed(&byte, 1);
    EXPECT_EQ(g.got.frames, f.got.frames);
    g.assembler->Feed(nullptr, 0);
    g.assembler->Feed(stream.data(), 0);
    EXPECT_EQ(g.got.frames.size(), 3u);
}

TEST(FrameAssembler, TwoFfBytesInsideABodyCutTheFrame) {
    Fixture f;
    f.Feed({0xFF, 0xFF, 0x01, 0xFF, 0x02, 0xFF, 0xFF, 0x03, 0x04, 0xFF});
    // marker-only frame, then the body up to the inner 0xFF 0xFF; a single 0xFF stays in the body.
    ASSERT_EQ(f.got.frames.size(), 2u);
    EXPECT_EQ(f.got.frames[1], (Bytes{0xFF, 0xFF, 0x01, 0xFF, 0x02}));
    EXPECT_EQ(f.assembler->WriteIndex(), 5u);  // FF FF 03 04 FF held
    f.Feed({0xFF});
    ASSERT_EQ(f.got.frames.size(), 3u);
    EXPECT_EQ(f.got.frames[2], (Bytes{0xFF, 0xFF, 0x03, 0x04}));
}

TEST(FrameAssembler, OverflowDiscardsThePartialFrameAndTheRestOfTheDatagram) {
    Fixture f;
    f.Feed({0xFF, 0xFF});  // marker-only frame; now holding the marker
    f.got.frames.clear();
    // The longest frame that can be delivered: 11261 bytes with its marker.
    f.Feed(Bytes(11259, 0x11));
    f.Feed({0xFF, 0xFF});
    ASSERT_EQ(f.got.frames.size(), 1u);
    EXPECT_EQ(f.got.frames[0].size(), 11261u);

    // One byte more cannot complete: the assembler resets and the rest of the
    // datagram, marker included, is discarded.
    Bytes big(11260, 0x22);
    big.push_back(0xFF);
    big.push_back(0xFF);
    big.insert(big.end(), {0x33, 0xFF, 0xFF});
    f.Feed(big);
    EXPECT_EQ(f.got.frames.size(), 1u);
    EXPECT_EQ(f.assembler->WriteIndex(), 2u);

    // Filling the buffer exactly at the end of a datagram does not cost the
    // next datagram: it is assembled from a fresh start.
    f.Feed(Bytes(11261, 0x44));
    EXPECT_EQ(f.assembler->WriteIndex(), 2u);
    f.Feed({0x55, 0x66, 0xFF, 0xFF});
    ASSERT_EQ(f.got.frames.size(), 2u);
    EXPECT_EQ(f.got.frames[1], (Bytes{0xFF, 0xFF, 0x55, 0x66}));
}

TEST(FrameAssembler, WholeFramesAreHandedOnAtTheEndOfTheirOwnDatagram) {
    Fixture f(&BinaryFramePassesCheck);
    TrailerFields t;
    t.counter = 9;
    const Bytes plain = EncodeWavelengthFrame({2}, {100, 200});
    const Bytes own = EncodeWavelengthFrame({1, 1}, {300, 400}, &t);
    const Bytes spectrum = EncodeSpectrumFrame(3, std::vector<uint16_t>(40, 7));

    // The session's first marker still gives the marker-only frame; then each
    // frame goes on with its own datagram, and the next marker adds nothing.
    f.Feed(plain);
    f.Feed(own);
    f.Feed(spectrum);
    EXPECT_EQ(f.got.frames, (std::vector<Bytes>{{0xFF, 0xFF}, plain, own, spectrum}));
    EXPECT_EQ(f.assembler->WriteIndex(), 2u);

    // Two frames in one datagram: the first at the second's marker, the
    // second at the end.
    f.got.frames.clear();
    f.Feed(Join({plain, own}));
    EXPECT_EQ(f.got.frames, (std::vector<Bytes>{plain, own}));

    // A first part that fails the check waits. The rest of a frame without
    // trailer, which did not begin in its datagram, waits for the next marker;
    // with a trailer it goes on at the end of the datagram that completes it.
    f.got.frames.clear();
    f.Feed(Bytes(plain.begin(), plain.begin() + 6));
    f.Feed(Bytes(plain.begin() + 6, plain.end()));
    EXPECT_TRUE(f.got.frames.empty());
    f.Feed(Bytes(own.begin(), own.begin() + 9));
    EXPECT_EQ(f.got.frames, (std::vector<Bytes>{plain}));
    f.Feed(Bytes(own.begin() + 9, own.end()));
    EXPECT_EQ(f.got.frames, (std::vector<Bytes>{plain, own}));

    // Bytes that fail the check wait for the next marker as before, which
    // then hands them on as they are.
    f.got.frames.clear();
    const Bytes broken = {0xFF, 0xFF, 0x00, 0x00, 0x02, 0x01};
    f.Feed(broken);
    EXPECT_TRUE(f.got.frames.empty());
    f.Feed(plain);
    EXPECT_EQ(f.got.frames, (std::vector<Bytes>{broken, plain}));

    // At the session's end the frame in hand goes on only if it passes the
    // check; either way the next session starts afresh, marker-only frame
    // included.
    f.got.frames.clear();
    f.Feed(Bytes(plain.begin(), plain.begin() + 6));
    f.Feed(Bytes(plain.begin() + 6, plain.end()));
    f.assembler->Finish();
    EXPECT_EQ(f.got.frames, (std::vector<Bytes>{plain}));
    f.Feed(broken);
    f.assembler->Finish();
    f.Feed(plain);
    EXPECT_EQ(f.got.frames, (std::vector<Bytes>{plain, {0xFF, 0xFF}, {0xFF, 0xFF}, plain}));
}

}  // namespace
}  // namespace lumora
