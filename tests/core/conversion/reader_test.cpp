// Reading recordings back: kinds, cutting, validity rules, output files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "conversion/recorded_file_reader.h"
#include "conversion_test_util.h"

namespace lumora {
namespace {

using namespace lumora::test;

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override { UseUtc(); }
    template <class F>
    void Configure(F f) {
        ConvertSettings s = ctx.Settings();
        f(s);
        ctx.SetSettings(s);
    }
    int Convert(const std::string& name) { return ConvertFile(ctx, dir / name); }
    std::vector<std::string> Rows(const std::string& name) { return Lines(ReadFile(dir / name)); }
    size_t FilesInDir() {
        size_t n = 0;
        for (auto& e : fs::directory_iterator(dir.Path())) (void)e, ++n;
        return n;
    }

    ScratchDir dir;
    ConversionContext ctx{dir / "Lumora.ini"};
};

TEST_F(ReaderTest, KindIsTakenFromTheFirstBytes) {
    SourceKind kind;
    WriteFile(dir / "ff.dat", Bytes{0xFF, 0xFF, 0xFF, 0xFF, '{', '}'});
    ASSERT_EQ(DetectSourceKind(dir / "ff.dat", kind), 0);
    EXPECT_EQ(kind, SourceKind::HeaderlessBinary);
    WriteFile(dir / "lmra.dat", LmraFile({}));
    ASSERT_EQ(DetectSourceKind(dir / "lmra.dat", kind), 0);
    EXPECT_EQ(kind, SourceKind::LmraBinary);
    WriteFile(dir / "short.dat", std::string("LM"));
    ASSERT_EQ(DetectSourceKind(dir / "short.dat", kind), 0);
    EXPECT_EQ(kind, SourceKind::JsonLines);
    WriteFile(dir / "empty.dat", std::string());
    ASSERT_EQ(DetectSourceKind(dir / "empty.dat", kind), 0);
    EXPECT_EQ(kind, SourceKind::JsonLines);

    // "LMRA" with another format byte: refused before anything is written or
    // the run's question is used up.
    WriteFile(dir / "bad.dat", Bytes{'L', 'M', 'R', 'A', 0x66, 0xFF, 0xFF});
    ctx.m_askConvertSettings = 1;
    size_t before = FilesInDir();
    EXPECT_EQ(Convert("bad.dat"), kConvertBadSource);
    EXPECT_EQ(FilesInDir(), before);
    EXPECT_EQ(ctx.m_askConvertSettings.load(), 1);

    EXPECT_EQ(Convert("missing.dat"), kConvertCannotOpen);
    EXPECT_EQ(Convert("empty.dat"), kConvertBadLine);
    EXPECT_EQ(Convert("short.dat"), kConvertBadLine);
    fs::create_directory(dir / "folder.dat");
    EXPECT_EQ(Convert("folder.dat"), kConvertCannotOpen);
}

TEST_F(ReaderTest, LmraRecordsAreCutAtTheirEndMarkers) {
    // Every record ends FD FD FD FD, which also leaves a two-byte piece FD FD
    // behind it; a spectrum record in between gives no row.
    std::vector<Bytes> records;
    for (int i = 0; i < 6; ++i) {
        records.push_back(LmraRecord({2}, {static_cast<uint16_t>(41000 + i), 42000}, 1700000000 + i, 100 + i));
        if (i == 1) records.push_back(LmraSpectrumRecord(3, {1, 2, 3, 4, 5, 6}));
    }
    WriteFile(dir / "rec.dat", LmraFile(records));
    Configure([](ConvertSettings& s) { s.m_FileLineMax = "3"; });
    ASSERT_EQ(Convert("rec.dat"), 0);

    // Binary sources number their files from 2; FileLineMax 3 splits 6 rows.
    EXPECT_FALSE(Exists(dir / "rec-1.csv"));
    auto first = Rows("rec-2.csv");
    auto second = Rows("rec-3.csv");
    ASSERT_EQ(first.size(), 4u);
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(first[0], "Time,UTime,Counter,1.1.1001:WL,1.1.1001:PV,2.1.1002:WL,2.1.1002:PV");
    EXPECT_EQ(first[1], "2023-11-14 22:13:20,1700000000,100,1551000,51000,1552000,52000");
    EXPECT_EQ(first[3].substr(0, 30), "2023-11-14 22:13:22,1700000002");
    EXPECT_EQ(second[0], first[0]);
    EXPECT_EQ(second[3], "2023-11-14 22:13:25,1700000005,105,1551005,51005,1552000,52000");
    EXPECT_FALSE(Exists(dir / "rec-4.csv"));
    EXPECT_FALSE(Exists(dir / "rec_err.log"));

    // Progress ends at its range; the estimate counts FF FF pairs (7 records).
    EXPECT_EQ(ctx.progress.m_convRecordsRange.load(), 7);
    EXPECT_EQ(ctx.progress.m_convRecordsPos.load(), 7);
    EXPECT_EQ(ctx.progress.m_convFileBusy.load(), 0);
    EXPECT_EQ(ctx.progress.m_convFileTail.load(), 1);
    EXPECT_TRUE(ctx.m_currentHeader.Empty());

    // The align-error count carries over to the next binary source unless a
    // receive worker has started in between.
    WriteFile(dir / "one.dat", LmraFile({records[0]}));
    ctx.m_alignErrorRun = 5;
    ASSERT_EQ(Convert("one.dat"), 0);
    EXPECT_EQ(ctx.m_alignErrorRun, 5);
    ctx.receiveStarted = true;
    ASSERT_EQ(Convert("one.dat"), 0);
    EXPECT_EQ(ctx.m_alignErrorRun, 0);
    EXPECT_FALSE(ctx.receiveStarted);
}

// FD FD inside a record: a counter of 0xFDFD, a second whose low bytes are
// FD FD, a value of 0xFD00 or more before one ending in 0xFD, and an
// instrument's own trailer with such a counter. Each record is whole, for the
// conversion and for replay alike; so is one behind damaged bytes.
TEST_F(ReaderTest, WholeRecordsSurviveFdPairsInside) {
    const int64_t fdfdSecond = 0x6553FDFDLL * 1000 + 250;  // 1700003325.250
    TrailerFields own;
    own.sn = "SA1";
    own.time = 1700000000;
    own.counter = 0xFDFD;
    struct Case {
        Bytes frame;
        uint32_t datagram;
        int64_t nowMs;
    };
    const std::vector<Case> cases = {
        {EncodeWavelengthFrame({2}, {100, 200}), 0xFDFD, 1700000000000},
        {EncodeWavelengthFrame({1}, {300}), 2, fdfdSecond},
        {EncodeWavelengthFrame({3}, {0xFD10, 0x22FD, 0xFDFD}), 3, 1700000001000},
        {EncodeWavelengthFrame({1}, {400}, &own), 4, 1700000002000},
        {EncodeSpectrumFrame(2, {1, 2, 3}), 5, 1700000003000},
        {EncodeWavelengthFrame({1}, {500}), 6, 1700000004000},
    };
    std::vector<uint8_t> file(kLmraFileHeader, kLmraFileHeader + kLmraHeaderSize);
    for (size_t i = 0; i < cases.size(); ++i) {
        if (i == cases.size() - 1) Append(file, Bytes{0xFF, 0xFF, 0x00, 0x00, 0x05, 0x09, 0xFD, 0xFD, 0x01});
        LmraStamp stamp;
        stamp.datagramCount = cases[i].datagram;
        stamp.nowMs = cases[i].nowMs;
        stamp.counterIntoOwnTrailer = stamp.timeIntoOwnTrailer = false;  // the instrument's trailer as sent
        Bytes frame = cases[i].frame;
        AppendLmraRecord(file, frame.data(), frame.size(), stamp);
    }
    WriteFile(dir / "fd.dat", file);

    Configure([](ConvertSettings& s) { s.m_TitleAlign = 0; });
    ASSERT_EQ(Convert("fd.dat"), 0);
    const auto rows = Rows("fd-2.csv");
    ASSERT_EQ(rows.size(), 6u);  // the header and five wavelength records; the spectrum gives no row
    EXPECT_EQ(rows[1].substr(0, 36), "2023-11-14 22:13:20,1700000000,65021");
    EXPECT_EQ(rows[2].substr(20, 16), "1700003325,2,1.1");
    EXPECT_NE(rows[3].find(",3,1.1.1001,1574784,74784,2.1.1002,1518957,18957,3.1.1003,1575021,75021"),
              std::string::npos)
        << rows[3];
    EXPECT_EQ(rows[4].substr(20, 17), "1700000000,65021,");
    EXPECT_NE(rows[5].find(",6,1.1.1001,1510500,"), std::string::npos) << rows[5];

    // Replay sends each frame as it came: the appended trailers taken off,
    // the instrument's own kept.
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(dir / "fd.dat", error)) << error;
    ASSERT_TRUE(reader.Check(error)) << error;
    RecordedDatagram d;
    for (const Case& c : cases) {
        ASSERT_TRUE(reader.Next(d));
        EXPECT_EQ(Bytes(d.data, d.data + d.length), c.frame);
        EXPECT_TRUE(d.haveTime);
    }
    EXPECT_FALSE(reader.Next(d));
    EXPECT_TRUE(reader.Error().empty());
}

TEST_F(ReaderTest, LmraChannelsFollowTheTrailerOffset) {
    FrameSlot slot;
    // Offset 3 and 30 channels of one sensor each: channels 4..32, and the
    // thirtieth count byte lands on channel 32 as well.
    std::vector<uint8_t> counts(30, 1);
    std::vector<uint16_t> values(30);
    for (int i = 0; i < 30; ++i) values[i] = static_cast<uint16_t>(20000 + i);
    Bytes r = LmraRecord(counts, values, 1700000000, 9, 3);
    ASSERT_TRUE(DecodeLmraPiece(r.data(), r.size() - 2, slot));
    ASSERT_EQ(slot.count, 30);
    EXPECT_EQ(slot.counter, 9);
    for (int i = 0; i < 29; ++i) EXPECT_EQ(slot.readings[i].channel, 4 + i);
    EXPECT_EQ(slot.readings[29].channel, 32);
    EXPECT_EQ(slot.readings[29].id, 30);
    EXPECT_EQ(slot.readings[29].serial, 32030);
    EXPECT_EQ(slot.readings[0].wavelength, 1530000);
    EXPECT_DOUBLE_EQ(slot.readings[0].physicValue, 30000.0);

    // Bytes before the FF FF pair (text written into a binary recording) are
    // passed over; without a pair, or as a spectrum record, no record.
    Bytes withText = {'a', 'b', '\n'};
    Append(withText, Bytes(r.begin(), r.end() - 2));
    EXPECT_TRUE(DecodeLmraPiece(withText.data(), withText.size(), slot));
    EXPECT_EQ(slot.count, 30);
    Bytes fdfd = {0xFD, 0xFD};
    EXPECT_FALSE(DecodeLmraPiece(fdfd.data(), fdfd.size(), slot));
    Bytes spectrum = LmraSpectrumRecord(0, std::vector<uint16_t>(40, 7));
    EXPECT_FALSE(DecodeLmraPiece(spectrum.data(), spectrum.size() - 2, slot));
    // One value fewer than the counts announce.
    Bytes shortRecord = LmraRecord({3}, {1, 2}, 1700000000, 1);
    EXPECT_FALSE(DecodeLmraPiece(shortRecord.data(), shortRecord.size() - 2, slot));
}

TEST_F(ReaderTest, LmraOversizedChannelsAndPiecesStayInBounds) {
    FrameSlot slot;
    // 70 sensors on channel 1: the first 60 are taken, the other ten values are
    // passed over, and channel 2 keeps its own value.
    std::vector<uint16_t> values(71);
    for (int i = 0; i < 70; ++i) values[i] = static_cast<uint16_t>(1000 + i);
    values[70] = 5555;
    Bytes r = LmraRecord({70, 1}, values, 1700000000, 1);
    ASSERT_TRUE(DecodeLmraPiece(r.data(), r.size() - 2, slot));
    ASSERT_EQ(slot.count, 61);
    EXPECT_EQ(slot.readings[59].channel, 1);
    EXPECT_EQ(slot.readings[60].channel, 2);
    EXPECT_EQ(slot.readings[60].wavelength, 1510000 + 5555);
    EXPECT_EQ(slot.readings[60].id, 71);

    // 32 channels of 60 sensors: readings stop at 320.
    std::vector<uint8_t> many(32, 60);
    Bytes big = LmraRecord(many, std::vector<uint16_t>(32 * 60, 100), 1700000000, 2);
    ASSERT_TRUE(DecodeLmraPiece(big.data(), big.size() - 2, slot));
    EXPECT_EQ(slot.count, kMaxReadings);

    // A piece that reaches 20480 bytes without an end marker is dropped, and
    // reading picks up again after the next end marker.
    Bytes junk(25000, 0x11);
    junk[0] = 0xFF;
    junk[1] = 0xFF;
    Append(junk, Bytes{0xFD, 0xFD});
    Bytes file = LmraFile({LmraRecord({1}, {1}, 1700000000, 1), junk, LmraRecord({1}, {2}, 1700000000, 2)});
    WriteFile(dir / "junk.dat", file);
    ASSERT_EQ(Convert("junk.dat"), 0);
    auto rows = Rows("junk-2.csv");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NE(rows[1].find(",1,1510001,"), std::string::npos);
    EXPECT_NE(rows[2].find(",2,1510002,"), std::string::npos);
}

TEST_F(ReaderTest, PieceCutterHandsOverPiecesAcrossChunks) {
    // The same stream fed whole and one byte at a time gives the same pieces.
    Bytes stream = {1, 0xFD, 0xFD, 2, 3, 0xFD, 0xFD, 0xFD, 4, 0xFD, 0xFD, 0xFD, 0xFD, 9};
    auto cut = [&](size_t step) {
        std::vector<Bytes> pieces;
        PieceCutter cutter(0xFD, 2);
        for (size_t i = 0; i < stream.size(); i += step)
            cutter.Feed(stream.data() + i, std::min(step, stream.size() - i), [&](const uint8_t* p, size_t n) {
                pieces.emplace_back(p, p + n);
                return true;
            });
        return pieces;
    };
    std::vector<Bytes> expected = {{1, 0xFD, 0xFD}, {2, 3, 0xFD, 0xFD}, {0xFD, 4, 0xFD, 0xFD}, {0xFD, 0xFD}};
    EXPECT_EQ(cut(stream.size()), expected);
    EXPECT_EQ(cut(1), expected);
    EXPECT_EQ(cut(3), expected);

    RunCounter pairs(0xFF, 2);
    Bytes ff = {0xFF, 0xFF, 0xFF, 1, 0xFF, 0xFF, 0xFF, 0xFF};
    pairs.Feed(ff.data(), 2);
    pairs.Feed(ff.data() + 2, ff.size() - 2);
    EXPECT_EQ(pairs.Count(), 3);
}

TEST_F(ReaderTest, HeaderlessRecordsAndTheirValidityRules) {
    FrameSlot slot;
    Bytes r = HeaderlessRecord({3, 2}, {10.9f, 20.0f, 30.0f, -40.5f, 50.0f}, 1700000000, 77);
    ASSERT_TRUE(DecodeHeaderlessPiece(r.data(), r.size(), slot));
    ASSERT_EQ(slot.count, 5);
    EXPECT_EQ(slot.time, 1700000000);
    EXPECT_EQ(slot.counter, 77);
    int serials[] = {1001, 1002, 1003, 2004, 2005};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(slot.readings[i].id, i + 1);
        EXPECT_EQ(slot.readings[i].serial, serials[i]);
    }
    EXPECT_EQ(slot.readings[0].wavelength, 1500010);  // truncated toward zero
    EXPECT_DOUBLE_EQ(slot.readings[0].physicValue, 10.0);
    EXPECT_EQ(slot.readings[3].wavelength, 1499960);

    Bytes k33 = r;
    k33[34] = 33;
    EXPECT_FALSE(DecodeHeaderlessPiece(k33.data(), k33.size(), slot));
    Bytes byte4 = r;
    byte4[4] = 1;
    EXPECT_FALSE(DecodeHeaderlessPiece(byte4.data(), byte4.size(), slot));
    Bytes twoMarkers = r;
    twoMarkers[2] = twoMarkers[3] = 0;
    EXPECT_FALSE(DecodeHeaderlessPiece(twoMarkers.data(), twoMarkers.size(), slot));
    // Fewer floats than announced.
    Bytes truncated = HeaderlessRecord({3, 2}, {1, 2, 3}, 1700000000, 1);
    EXPECT_FALSE(DecodeHeaderlessPiece(truncated.data(), truncated.size(), slot));

    // In a file: invalid pieces are skipped, bytes after the last end marker
    // are never read.
    Bytes file = r;
    Append(file, k33);
    Append(file, HeaderlessRecord({1}, {25000.0f}, 1700000001, 78));
    Append(file, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 2});
    WriteFile(dir / "h.dat", file);
    Configure([](ConvertSettings& s) { s.m_TitleAlign = 0; });
    ASSERT_EQ(Convert("h.dat"), 0);
    auto rows = Rows("h-2.csv");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "Time,UTime,Counter,ID.CH.SN,Wavelength,PhysicValue");
    EXPECT_EQ(rows[2], "2023-11-14 22:13:21,1700000001,78,1.1.1001,1525000,25000");
}

TEST_F(ReaderTest, JsonLinesInBothForms) {
    std::string text =
        "{\"SysTime\":[1700000000,250000],\"SysData\":{\"Time\":5,\"Counter\":1,\"SN\":\"A\","
        "\"Data\":[[1,1,1,1551234,51234.5,1001,0,0],[0,2,1,1552000,52000,1002,0,0]]}}\n"
        "{\"SysTime\":[1700000001,0],\"SysData\":{\"Counter\":1,\"SN\":\"A\",\"Data\":[]}}\n"  // duplicate
        "  {\"time\":1700000002,\"counter\":2,\"sn\":\"A\",\"data\":[[1,3,2,1553000,0.5,2003],[1,4,2],7]}\n";
    WriteFile(dir / "j.dat", text);
    Configure([](ConvertSettings& s) { s.m_TitleAlign = 0; });
    ASSERT_EQ(Convert("j.dat"), 0);
    auto rows = Rows("j-1.csv");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], "2023-11-14 22:13:20,1700000000,1,1.1.1001,1551234,51234.5,2.1.1002,1552000,52000");
    // Lower-case keys; a sensor of fewer than six numbers and a non-array
    // element are left out.
    EXPECT_EQ(rows[2], "2023-11-14 22:13:22,1700000002,2,3.2.2003,1553000,0.5");

    Configure([](ConvertSettings& s) { s.m_OnlyMatched = 1; });
    ASSERT_EQ(Convert("j.dat"), 0);
    rows = Rows("j-1.csv");
    EXPECT_EQ(rows[1], "2023-11-14 22:13:20,1700000000,1,1.1.1001,1551234,51234.5");
}

TEST_F(ReaderTest, JsonLineFailureEndsTheSourceAfterEarlierRows) {
    std::string good1 = "{\"Time\":1700000000,\"Counter\":1,\"SN\":\"A\",\"Data\":[[1,1,1,1551000,51000,1001]]}\n";
    std::string good2 = "{\"Time\":1700000001,\"Counter\":2,\"SN\":\"A\",\"Data\":[[1,1,1,1551001,51001,1001]]}\n";
    WriteFile(dir / "e.dat", good1 + good2 + "\n" + good1);
    EXPECT_EQ(Convert("e.dat"), kConvertBadLine);
    // The rows stay, under the temporary name of an unfinished file.
    EXPECT_FALSE(Exists(dir / "e-1.csv"));
    EXPECT_EQ(Rows("e-1.csv.part").size(), 3u);
    EXPECT_EQ(ctx.progress.m_convFileBusy.load(), 0);

    // The wrapper the recorder writes for an empty datagram is not JSON.
    WriteFile(dir / "w.dat", good1 + "{\"SysTime\":[1700000001,0],\"SysData\":}\n");
    EXPECT_EQ(Convert("w.dat"), kConvertBadLine);
    EXPECT_EQ(Rows("w-1.csv.part").size(), 2u);

    // Binary frames after text lines fail at the first of them.
    Bytes mixed(good1.begin(), good1.end());
    Append(mixed, LmraRecord({1}, {1}, 1700000000, 1));
    WriteFile(dir / "m.dat", mixed);
    EXPECT_EQ(Convert("m.dat"), kConvertBadLine);
    EXPECT_EQ(Rows("m-1.csv.part").size(), 2u);

    // Missing or zero required values.
    for (const char* line : {"{\"Time\":0,\"Counter\":1,\"SN\":\"A\",\"Data\":[]}",
                             "{\"Time\":1,\"Counter\":0,\"SN\":\"A\",\"Data\":[]}",
                             "{\"Time\":1,\"Counter\":1,\"SN\":5,\"Data\":[]}", "{\"Time\":1,\"Counter\":1,\"SN\":\"A\"}",
                             "{\"SysTime\":[1,0]}", "{\"SysTime\":[0,0],\"SysData\":{}}", "[1,2,3]"}) {
        JsonLineState state;
        FrameSlot slot;
        EXPECT_EQ(DecodeJsonLine(line, std::strlen(line), false, state, slot), JsonLineResult::Fail) << line;
    }
}

// Lines on which the fast parser and cJSON could part: each gives the result,
// the duplicate-counter state and the record that cJSON alone gives.
TEST_F(ReaderTest, JsonLinesWhereTheParsersCouldDifferKeepTheirResults) {
    const std::string bare = R"({"Time":1700000000,"Counter":7,"SN":"A",)";
    auto line = [&](const std::string& sensor) { return bare + R"("Data":[[1,2,3,)" + sensor + "]]}"; };
    const std::vector<std::string> lines = {
        line("1550000,-0,4"), line("1.5505e6,2E+2,4"), line("18446744073709551616,1e400,4"),
        line("1550000,0.74505405126006295712479692912360910541,4"), line("01,1.,4"), line("1,2,\"x\""),
        R"({"SysTime":[true,0],"SysData":{"Counter":true,"SN":"A","Data":{"s":[1,2,3,4,5,6]}}})",
        R"({"SysTime":{"a":1700000000},"SysData":{"counter":1,"COUNTER":2,"sn":"A","Data":7}})",
        R"({"SysTime":[1700000000],"SysData":[1],"Counter":1,"SN":"A","Data":[]})",
        R"({"Data":[[1,1,1,1,1,1]],"SysTime":[5],"SysData":{"Counter":1,"SN":"A","Data":[[1,2,2,2,2,2]]}})",
        R"({"Time":0,"time":5,"Counter":1,"SN":"A","Data":[]})", "{\"Time\\u0000x\":5,\"Counter\":1,\"SN\":1,\"Data\":[]}",
        bare + "\"SN\":\"\xff\",\"Data\":[]} \xfe", bare + "\"Data\":[]}{", bare + "\"Data\":[],\"x\":nul}",
        R"({"SysTime":[1700000000,0],"SysData":})",
    };
    for (const bool onlyMatched : {false, true}) {
        for (const std::string& text : lines) {
            JsonLineState fastState, referenceState;
            FrameSlot fast, reference;
            const JsonLineResult r = DecodeJsonLine(text.data(), text.size(), onlyMatched, fastState, fast);
            EXPECT_EQ(r, DecodeJsonLineLenient(text.data(), text.size(), onlyMatched, referenceState, reference))
                << text;
            EXPECT_EQ(fastState.havePrevious, referenceState.havePrevious) << text;
            EXPECT_EQ(fastState.previousCounter, referenceState.previousCounter) << text;
            if (r != JsonLineResult::Record) continue;
            EXPECT_EQ(std::make_tuple(fast.time, fast.counter, fast.count),
                      std::make_tuple(reference.time, reference.counter, reference.count))
                << text;
            for (int i = 0; i < fast.count; ++i) {
                EXPECT_EQ(std::memcmp(&fast.readings[i], &reference.readings[i], sizeof(SensorReading)), 0) << text;
            }
        }
    }
}

TEST_F(ReaderTest, OutputNamesNeverHitTheSource) {
    WriteFile(dir / "RUN.DAT", LmraFile({LmraRecord({1}, {1}, 1700000000, 1)}));
    ASSERT_EQ(Convert("RUN.DAT"), 0);
    EXPECT_TRUE(Exists(dir / "RUN-2.csv"));
    EXPECT_EQ(ReadFile(dir / "RUN.DAT").substr(0, 4), "LMRA");

    fs::create_directory(dir / "x.dat");
    WriteFile(dir / "x.dat/run.dat", LmraFile({LmraRecord({1}, {1}, 1700000000, 1)}));
    ASSERT_EQ(Convert("x.dat/run.dat"), 0);
    EXPECT_TRUE(Exists(dir / "x.dat/run-2.csv"));

    // An output that cannot be created fails the source.
    fs::create_directory(dir / "blocked-2.csv");
    WriteFile(dir / "blocked.dat", LmraFile({LmraRecord({1}, {1}, 1700000000, 1)}));
    EXPECT_EQ(Convert("blocked.dat"), kConvertOutputFailed);
}

}  // namespace
}  // namespace lumora
