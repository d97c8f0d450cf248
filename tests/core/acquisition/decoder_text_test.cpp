#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "acquisition/receive_session.h"
#include "acquisition/text_decoder.h"

namespace lumora {
namespace {

int Decode(AcquisitionState& s, const std::string& text) { return DecodeTextFrame(s, text.data(), text.size()); }

const FrameSlot& Latest(const AcquisitionState& s) { return s.Ring().slots[s.Ring().LatestIndex()]; }

std::string Reading(int i) {
    return "[1," + std::to_string(i + 1) + ",3," + std::to_string(1550000 + i) + ",-2.5," + std::to_string(7008001 + i) +
           ",11,12]";
}

TEST(TextDecoder, DocumentFillsTheSlotWithNamesInAnyCase) {
    auto state = std::make_unique<AcquisitionState>();
    state->m_showSourceData = true;
    // Not NUL-terminated: the bytes after the datagram must not be looked at.
    std::string datagram = R"( {"time":1700000001,"COUNTER":42,"sn":"SA-1","Code":5,"extra":[1],)"
                           R"("data":[[1,7,2,1550123,-3.25,7008007,8,9,99],[0,8,3,1550200,0.5,7008008,0,0]]})";
    std::string buffer = datagram + "garbage";
    ASSERT_EQ(DecodeTextFrame(*state, buffer.data(), datagram.size()), 0);
    const FrameSlot& s = Latest(*state);
    EXPECT_EQ(s.time, 1700000001);
    EXPECT_EQ(s.counter, 42);
    EXPECT_STREQ(s.sn, "SA-1");
    EXPECT_EQ(s.code, 5);
    ASSERT_EQ(s.count, 2);
    EXPECT_EQ(s.readings[0].id, 7);
    EXPECT_EQ(s.readings[0].channel, 2);
    EXPECT_EQ(s.readings[0].wavelength, 1550123);
    EXPECT_EQ(s.readings[0].physicValue, -3.25);
    EXPECT_EQ(s.readings[0].serial, 7008007);
    EXPECT_EQ(s.readings[0].auxA, 8);
    EXPECT_EQ(s.readings[0].auxB, 9);
    EXPECT_EQ(s.readings[1].physicValue, 0.5);
    EXPECT_EQ(std::string(s.text), datagram + "\n");
    EXPECT_EQ(state->Ring().framesDecoded.load(), 0);
    EXPECT_EQ(state->Ring().writeIndex.load(), 1);

    // A second document in the same datagram is ignored.
    ASSERT_EQ(Decode(*state, R"({"Time":1,"Counter":2,"SN":"B","Data":[]} {"Time":)"), 0);
    EXPECT_EQ(Latest(*state).count, 0);
    EXPECT_EQ(Latest(*state).counter, 2);
}

// The parser of a very long document gives its memory back only when the
// next document is parsed: the strings read from the long one (an escaped
// SN is unescaped into the parser's own memory) are still there to copy.
TEST(TextDecoder, StringsOfAVeryLongDocumentOutliveItsParse) {
    auto state = std::make_unique<AcquisitionState>();
    const std::string pad(2u << 20, 'x');
    ASSERT_EQ(Decode(*state, R"({"Time":1,"Counter":1,"SN":"S\u0041-1","Pad":")" + pad + R"(","Data":[]})"), 0);
    EXPECT_STREQ(Latest(*state).sn, "SA-1");
    ASSERT_EQ(Decode(*state, R"({"Time":1,"Counter":2,"SN":"S\u0042","Data":[]})"), 0);
    EXPECT_STREQ(Latest(*state).sn, "SB");
}

TEST(TextDecoder, EveryRejectionHasItsCodeAndPublishesNothing) {
    auto state = std::make_unique<AcquisitionState>();
    const struct {
        std::string text;
        int result;
    } cases[] = {
        {"", kTextEmpty},
        {std::string("\0{\"Time\":1}", 11), kTextEmpty},
        {" \r\n\t ", kTextNotJson},
        {"{\"Time\":1,", kTextNotJson},
        {"not json", kTextNotJson},
        {R"({"Counter":2,"SN":"A","Data":[]})", kTextNoTime},
        {R"({"Time":0,"Counter":2,"SN":"A","Data":[]})", kTextNoTime},
        {R"({"Time":"1","Counter":2,"SN":"A","Data":[]})", kTextNoTime},
        {R"([{"Time":1,"Counter":2,"SN":"A","Data":[]}])", kTextNoTime},
        {R"({"Time":1,"Counter":0,"SN":"A","Data":[]})", kTextNoCounter},
        {R"({"Time":1,"SN":"A","Data":[]})", kTextNoCounter},
        {R"({"Time":1,"Counter":2,"SN":7,"Data":[]})", kTextNoSn},
        {R"({"Time":1,"Counter":2,"Data":[]})", kTextNoSn},
        {R"({"Time":1,"Counter":2,"SN":"A"})", kTextNoData},
        {R"({"Time":1,"Counter":2,"SN":"A","Data":{"a":[1,2,3,4,5,6,7,8]}})", kTextNoData},
    };
    EXPECT_EQ(DecodeTextFrame(*state, nullptr, 5), kTextNull);
    for (const auto& c : cases) {
        EXPECT_EQ(Decode(*state, c.text), c.result) << c.text;
    }
    EXPECT_EQ(state->Ring().writeIndex.load(), 0);
    EXPECT_EQ(state->Ring().framesDecoded.load(), -1);
    EXPECT_EQ(state->Ring().LatestIndex(), -1);
}

TEST(TextDecoder, CodeDataElementsAndLimits) {
    auto state = std::make_unique<AcquisitionState>();
    // Code 0 or absent keeps what the slot held. All 100 slots get code 9 first.
    for (int i = 0; i < kRingSlots; ++i) {
        ASSERT_EQ(Decode(*state, R"({"Time":1,"Counter":1,"SN":"A","Code":9,"Data":[]})"), 0);
    }
    ASSERT_EQ(Decode(*state, R"({"Time":1,"Counter":2,"SN":"A","Data":[]})"), 0);
    EXPECT_EQ(Latest(*state).code, 9);
    ASSERT_EQ(Decode(*state, R"({"Time":1,"Counter":3,"SN":"A","Code":0,"Data":[]})"), 0);
    EXPECT_EQ(Latest(*state).code, 9);

    // Elements that are not arrays of eight are skipped; the others keep order.
    ASSERT_EQ(Decode(*state, R"({"Time":1,"Counter":4,"SN":"A","Data":[5,[1,2,3],)" + Reading(0) +
                                 R"(,{"x":1},[],)" + Reading(1) + "]}"),
              0);
    const FrameSlot* s = &Latest(*state);
    ASSERT_EQ(s->count, 2);
    EXPECT_EQ(s->readings[0].id, 1);
    EXPECT_EQ(s->readings[1].id, 2);
    EXPECT_EQ(s->readings[1].wavelength, 1550001);

    // 400 elements store 320; a long SN keeps 29 characters; huge numbers are clamped.
    std::string doc = R"({"Time":1e12,"Counter":-5,"SN":")" + std::string(40, 'S') + R"(","Data":[)";
    for (int i = 0; i < 400; ++i) doc += (i ? "," : "") + Reading(i);
    doc += "]}";
    ASSERT_EQ(Decode(*state, doc), 0);
    s = &Latest(*state);
    EXPECT_EQ(s->count, kMaxReadings);
    EXPECT_EQ(s->readings[319].id, 320);
    EXPECT_EQ(std::string(s->sn), std::string(29, 'S'));
    EXPECT_EQ(s->time, 2147483647);
    EXPECT_EQ(s->counter, -5);
}


// Texts on which the fast parser and cJSON could part: each gives the result
// and the slot that cJSON alone gives.
TEST(TextDecoder, TextsWhereTheParsersCouldDifferKeepTheirResults) {
    const std::string head = R"({"Time":1700000000,"Counter":7,"SN":"A",)";
    auto frame = [&](const std::string& item) {
        return head + R"("Data":[[1,2,3,)" + item + ",4,5,6]]}";
    };
    const std::string longFloat = "0.74505405126006295712479692912360910541";
    std::string full = head + R"("Pad":")";
    full += std::string(ReceiveSession::kReceiveBufferSize - full.size() - 13, 'x') + R"(","Data":[]})";
    const std::vector<std::string> texts = {
        frame("1550000,-0"), frame("1.5505e6,2E+2"), frame("1550000,-0.0"), frame("1e2,1E-2"),
        frame("18446744073709551616,18446744073709551616"), frame("-99999999999999999999,1e400"),
        frame("1550000," + longFloat), frame("1550000,1" + std::string(70, '0')), frame("01,1."),
        R"({"Time":0,"time":5,"Counter":1,"SN":"A","Data":[]})", R"({"tIME":5,"Time":0,"Counter":1,"SN":"A","Data":[]})",
        R"({"Time":5,"Counter":1,"Counter":2,"SN":"A","SN":"B","Data":[],"Data":[[1,1,1,1,1,1,1,1]]})",
        "{\"Time\\u0000x\":5,\"Counter\":1,\"SN\":\"A\\u0000B\",\"Data\":[]}",
        head + "\"SN\":\"\xff\xfe\",\"Data\":[]}", head + "\"Data\":[]} trailing \xff \"",
        head + "\"Data\":[]}{\"Time\":2}", head + "\"Data\":[]\x0b}", head + R"("Data":[],"x":tru})",
        head + R"("Data":[],"x":[)" + std::string(70, '[') + std::string(70, ']') + "]}", R"({"Time":true})",
        "{\"Time\":1,\"Counter\":1,\"SN\":\"\x01\",\"Data\":[]}", full,
        // "Data" read in one pass: number shapes at its limits, spaces, arrays
        // of other lengths, more arrays than readings, "Data" not last.
        frame("-1234567,-7654321.1234567"), frame("12345678,123456789.012345"), frame("-0,-0.000001"),
        frame("1234567890123456,0.1234567890123456"), frame("2147483648,-2147483649"), frame("-2147483648,.5"),
        frame("-,1"), frame("1.2.3,4"), frame("1-2,3"), frame("--1,3"), frame("0.10,99.990000"),
        head + "\"Data\": [ [ 1 , 2 ,3,\t4,5,6,7,8 ] ,\r\n[1,2,3,4,5,6,7,8,9,10] ,[],[1,2] ] } \n",
        head + R"("Data":[[1,2,3,4,5,6,7,8]],"x":1})", head + R"("Data":[[1,2,3,4,5,6,7,8],"x"]})",
        head + R"("Data":[[1,2,3,4,5,6,7,8],]})", head + R"("Data":[[1,2,3,4,5,6,7,8]]})" + " x",
        [&] {
            std::string many = head + R"("Data":[)";
            for (int i = 0; i < 330; ++i) many += (i ? ",[" : "[") + std::to_string(i) + ",2,3,4,5.5,6,7,8]";
            return many + "]}";
        }(),
    };
    // The receive worker's buffer: the text and the room after it.
    std::vector<char> buffer(ReceiveSession::kReceiveStride);
    for (const std::string& text : texts) {
        ASSERT_LE(text.size(), ReceiveSession::kReceiveBufferSize);
        auto fast = std::make_unique<AcquisitionState>();
        auto reference = std::make_unique<AcquisitionState>();
        std::copy(text.begin(), text.end(), buffer.begin());
        const int result = DecodeTextFrame(*fast, buffer.data(), text.size(), buffer.size());
        EXPECT_EQ(result, DecodeTextFrameLenient(*reference, text.data(), text.size())) << text;
        EXPECT_EQ(DecodeTextFrame(*fast, text.data(), text.size()), result) << "unpadded: " << text;
        if (result != kTextDecoded) continue;
        const FrameSlot& a = Latest(*fast);
        const FrameSlot& b = Latest(*reference);
        EXPECT_EQ(std::make_tuple(a.time, a.counter, std::string(a.sn), a.code, a.count),
                  std::make_tuple(b.time, b.counter, std::string(b.sn), b.code, b.count))
            << text;
        for (int i = 0; i < a.count; ++i) {
            EXPECT_EQ(std::memcmp(&a.readings[i], &b.readings[i], sizeof(SensorReading)), 0) << text;
        }
    }
    // What cJSON gives, spelled out for a few of them.
    auto state = std::make_unique<AcquisitionState>();
    ASSERT_EQ(Decode(*state, frame("1.5505e6,-0")), 0);
    EXPECT_EQ(Latest(*state).readings[0].wavelength, 1550500);
    EXPECT_TRUE(std::signbit(Latest(*state).readings[0].physicValue));
    ASSERT_EQ(Decode(*state, frame("18446744073709551616," + longFloat)), 0);
    EXPECT_EQ(Latest(*state).readings[0].wavelength, 2147483647);
    EXPECT_EQ(Latest(*state).readings[0].physicValue, std::strtod(longFloat.c_str(), nullptr));
    ASSERT_EQ(Decode(*state, full), 0);
    ASSERT_EQ(Decode(*state, "{\"Time\\u0000x\":5,\"Counter\":1,\"SN\":\"A\\u0000B\",\"Data\":[]}"), 0);
    EXPECT_EQ(Latest(*state).time, 5);
    EXPECT_STREQ(Latest(*state).sn, "A");
}

// The encoder writes frames byte for byte as cJSON printed them.
TEST(TextEncoder, WritesWhatCjsonPrinted) {
    TextFrameFields f;
    f.time = 1700000000;
    f.counter = 3000000000LL;
    f.sn = "S\"\\\b\f\n\r\t\x01\xc3\xa9";
    f.hasCode = true;
    f.code = -7;
    for (double v : {0.1, 1.0 / 3, -0.0, 1e300, 2.5, 123456.789, -1e-7, 5e15 + 0.5, std::nan("")}) {
        TextReading r;
        r.id = 2147483647;
        r.wavelength = -2147483647 - 1;
        r.physicValue = v;
        f.data.push_back(r);
    }
    cJSON* root = cJSON_CreateObject();
    cJSON_AddNumberToObject(root, "Time", static_cast<double>(f.time));
    cJSON_AddNumberToObject(root, "Counter", static_cast<double>(f.counter));
    cJSON_AddStringToObject(root, "SN", f.sn.c_str());
    cJSON_AddNumberToObject(root, "Code", f.code);
    cJSON* data = cJSON_AddArrayToObject(root, "Data");
    for (const TextReading& r : f.data) {
        cJSON* item = cJSON_CreateArray();
        for (double v : {double(r.matched), double(r.id), double(r.channel), double(r.wavelength), r.physicValue,
                         double(r.serial), double(r.auxA), double(r.auxB)})
            cJSON_AddItemToArray(item, cJSON_CreateNumber(v));
        cJSON_AddItemToArray(data, item);
    }
    char* printed = cJSON_PrintUnformatted(root);
    EXPECT_EQ(EncodeTextFrame(f), std::string(printed));
    cJSON_free(printed);
    cJSON_Delete(root);
}

}  // namespace
}  // namespace lumora
