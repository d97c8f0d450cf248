// The stored formats: how binary recordings are cut into records and how
// text recordings are read as one record per datagram.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "formats/headerless_pieces.h"
#include "formats/json_lines.h"
#include "formats/lmra_records.h"

namespace lumora {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(const std::vector<uint8_t>& counts, const std::vector<uint16_t>& values, int spare = 0) {
    Bytes b = {0xFF, 0xFF, 0x00, 0x00, static_cast<uint8_t>(counts.size())};
    for (uint8_t c : counts) b.push_back(c);
    for (uint16_t v : values) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    }
    b.insert(b.end(), static_cast<size_t>(spare), 0);
    return b;
}

void AddRecord(Bytes& body, Bytes frame, uint32_t counter) {
    LmraStamp stamp;
    stamp.datagramCount = counter;
    stamp.nowMs = 1700000000000;
    AppendLmraRecord(body, frame.data(), frame.size(), stamp);
}

// What a record decodes to, compared as a whole.
using Decoded = std::tuple<int32_t, int32_t, std::vector<int32_t>>;
Decoded Decode(const uint8_t* p, size_t n, bool& valid) {
    static FrameSlot slot;
    valid = DecodeLmraPiece(p, n, slot);
    std::vector<int32_t> w;
    for (int i = 0; valid && i < slot.count; ++i) w.push_back(slot.readings[i].wavelength * 64 + slot.readings[i].channel);
    return {slot.time, slot.counter, w};
}

// A recording in which no FD pair stands inside a record reads exactly as
// when every FD pair ended a piece, however it is read in chunks.
TEST(LmraRecords, FilesWithoutInnerFdPairsReadAsBefore) {
    std::mt19937 random(7);
    auto value = [&] {
        uint16_t v;
        do v = static_cast<uint16_t>(random());
        while ((v & 0xFF) == 0xFD || (v >> 8) == 0xFD || (v & 0xFF) == 0xFF || (v >> 8) == 0xFF);
        return v;
    };
    Bytes body;
    for (uint32_t r = 1; r <= 300; ++r) {
        std::vector<uint8_t> counts(1 + random() % 8);
        std::vector<uint16_t> values;
        for (uint8_t& c : counts) {
            c = static_cast<uint8_t>(random() % 12);
            for (int k = 0; k < c; ++k) values.push_back(value());
        }
        // Now and then a spare byte, text between records or a spectrum.
        AddRecord(body, Frame(counts, values, r % 17 == 0), r);
        if (r % 23 == 0) body.insert(body.end(), {'{', '"', 'a', '"', ':', '1', '}', '\n'});
        if (r % 31 == 0) AddRecord(body, Bytes{0xFF, 0xFF, 0, 0, 0x41, 3, 0, 1, 0, 2, 0, 3, 0}, r);
    }

    std::vector<Decoded> before;
    PieceCutter cutter(0xFD, 2);
    cutter.Feed(body.data(), body.size(), [&](const uint8_t* p, size_t n) {
        bool valid;
        Decoded d = Decode(p, n, valid);
        if (valid) before.push_back(d);
        return true;
    });
    ASSERT_EQ(before.size(), 300u);

    for (size_t chunk : {size_t(1) << 20, size_t(1000), size_t(1)}) {
        size_t at = 0;
        LmraRecordReader reader(
            [&](uint8_t* into, size_t n) -> ssize_t {
                const size_t take = std::min(n, body.size() - at);
                std::memcpy(into, body.data() + at, take);
                at += take;
                return static_cast<ssize_t>(take);
            },
            chunk);
        std::vector<Decoded> now;
        LmraRecordView r;
        while (reader.Next(r)) {
            bool valid;
            Decoded d = Decode(r.data, r.pieceLength, valid);
            if (valid) now.push_back(d);
        }
        EXPECT_TRUE(now == before) << "read in chunks of " << chunk;
    }
}

std::vector<std::pair<std::string, int>> Records(const std::string& text) {
    size_t at = 0;
    JsonRecordReader reader([&](uint8_t* into, size_t n) -> ssize_t {
        const size_t take = std::min(n, text.size() - at);
        std::memcpy(into, text.data() + at, take);
        at += take;
        return static_cast<ssize_t>(take);
    });
    std::vector<std::pair<std::string, int>> out;
    JsonRecord r;
    while (reader.Next(r) == TextLineReader::kLine) out.emplace_back(std::string(r.text), r.lines);
    return out;
}

using Joined = std::vector<std::pair<std::string, int>>;

TEST(JsonRecords, LinesThatLeaveAnObjectOpenAreJoinedWithinLimits) {
    // A datagram that ended in CR LF, recorded with its time before line
    // breaks were made blanks; a pretty-printed one; a plain one.
    EXPECT_EQ(Records("{\"SysTime\":[1,0],\"SysData\":{\"a\":1}\r\n}\n{\n  \"b\": [\n    1,\n    2\n  ]\n}\n{\"c\":3}\n"),
              (Joined{{"{\"SysTime\":[1,0],\"SysData\":{\"a\":1}\r }", 2}, {"{   \"b\": [     1,     2   ] }", 6},
                      {"{\"c\":3}", 1}}));
    // A blank line is never joined; a broken line is not joined with the
    // good line after it; neither is an array or a closed object.
    EXPECT_EQ(Records("{\"a\":\n\n1}\n{\"a\":1 \"b\"\n{\"c\":3}\n[1,\n2]\n{\"s\":\"{\"}\n"),
              (Joined{{"{\"a\":", 1}, {"", 1}, {"1}", 1}, {"{\"a\":1 \"b\"", 1}, {"{\"c\":3}", 1}, {"[1,", 1}, {"2]", 1},
                      {"{\"s\":\"{\"}", 1}}));
    // A join gives up after 64 lines or 1 MiB: the lines are read one by one.
    std::string tall = "{\"a\":[\n";
    for (int i = 0; i < 70; ++i) tall += "1,\n";
    tall += "1]}\n";
    EXPECT_EQ(Records(tall).size(), 72u);
    const std::string half(600 * 1024, ' ');
    EXPECT_EQ(Records("{\"a\":" + half + "\n" + half + "1}\n").size(), 2u);
    EXPECT_EQ(Records("{\"a\":" + half + "\n1}\n").size(), 1u);
}

TEST(JsonRecords, TheWriterKeepsEveryDatagramOnOneLine) {
    const std::string datagram = "{\r\n  \"Time\": 1,\n  \"SN\": \"A\"\r\n}\r\n";
    std::vector<uint8_t> out;
    const StampTime t{1700000000, 250000};
    AppendJsonLine(out, reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(), &t);
    AppendJsonLine(out, reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(), nullptr);
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "{\"SysTime\":[1700000000,250000],\"SysData\":{    \"Time\": 1,   \"SN\": \"A\"  }  }\n"
              "{    \"Time\": 1,   \"SN\": \"A\"  }  \n");
}

}  // namespace
}  // namespace lumora
