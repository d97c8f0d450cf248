// CSV rows and headers in both layouts, the align-error log, number formats.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "conversion/csv_writer.h"
#include "conversion/number_format.h"
#include "conversion_test_util.h"

namespace lumora {
namespace {

using namespace lumora::test;

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseUtc();
        source = dir / "s.dat";
    }
    ConvertSettings Settings(int titleAlign, int needDate = 0) {
        ConvertSettings s;
        s.m_TitleAlign = titleAlign;
        s.m_NeedDate = needDate;
        return s;
    }
    static FrameSlot Record(int32_t time, int32_t counter, std::vector<SensorReading> readings) {
        FrameSlot f;
        f.time = time;
        f.counter = counter;
        f.count = static_cast<int>(readings.size());
        for (size_t i = 0; i < readings.size(); ++i) f.readings[i] = readings[i];
        return f;
    }
    static SensorReading Reading(int id, int channel, int serial, int wavelength, double pv) {
        SensorReading r;
        r.id = id;
        r.channel = channel;
        r.serial = serial;
        r.wavelength = wavelength;
        r.physicValue = pv;
        return r;
    }

    ScratchDir dir;
    ConversionContext ctx{dir / "Lumora.ini"};
    std::string source;
    OutputFile csv, log;
    int fileNumber = 2;
};

TEST_F(WriterTest, WorkedExampleInBothLayouts) {
    FrameSlot r = Record(1700000000, 15,
                         {Reading(1, 1, 1001, 1551234, 51234), Reading(2, 1, 1002, 1552345, 52345)});
    {
        CsvWriter w(ctx, Settings(0));
        EXPECT_EQ(w.WriteGroupedRow(r, csv, log, source, fileNumber, false), 0);
        csv.Commit();
        EXPECT_EQ(ReadFile(dir / "s-2.csv"),
                  "Time,UTime,Counter,ID.CH.SN,Wavelength,PhysicValue\n"
                  "22:13:20,1700000000,15,1.1.1001,1551234,51234,2.1.1002,1552345,52345\n");
    }
    ctx.m_currentHeader.Clear();
    {
        CsvWriter w(ctx, Settings(1));
        EXPECT_EQ(w.WriteAlignedRow(r, csv, log, source, fileNumber, false), 0);
        csv.Commit();
        EXPECT_EQ(ReadFile(dir / "s-2.csv"),
                  "Time,UTime,Counter,1.1.1001:WL,1.1.1001:PV,2.1.1002:WL,2.1.1002:PV\n"
                  "22:13:20,1700000000,15,1551234,51234,1552345,52345\n");
    }
}

TEST_F(WriterTest, HeadersFollowTheColumnOptions) {
    FrameSlot r = Record(1700000000, 7, {Reading(3, 2, 2003, 1530000, 0.25)});
    struct Case {
        int titleAlign, needPV, needSN, needDate, unitTime;
        const char* expected;
    } cases[] = {
        // List mode ignores NeedSN in both layouts.
        {0, 0, 1, 0, 1, "Time,UTime,Counter,CH,Wavelength\n22:13:20,1700000000,7,2,1530000\n"},
        {0, 0, 0, 0, 0, "Time,Counter,CH,Wavelength\n22:13:20,7,2,1530000\n"},
        {1, 0, 1, 0, 1, "Time,UTime,Counter,2\n22:13:20,1700000000,7,1530000\n"},
        {1, 0, 0, 0, 0, "Time,Counter,2\n22:13:20,7,1530000\n"},
        {0, 1, 0, 1, 0, "Time,Counter,ID.CH,Wavelength,PhysicValue\n2023-11-14 22:13:20,7,3.2,1530000,0.25\n"},
        {1, 1, 0, 1, 1, "Time,UTime,Counter,3.2:WL,3.2:PV\n2023-11-14 22:13:20,1700000000,7,1530000,0.25\n"},
    };
    for (const Case& c : cases) {
        ConvertSettings s = Settings(c.titleAlign, c.needDate);
        s.m_NeedPV = c.needPV;
        s.m_NeedSN = c.needSN;
        s.m_NeedUnitTime = c.unitTime;
        ctx.m_currentHeader.Clear();
        CsvWriter w(ctx, s);
        if (c.titleAlign)
            w.WriteAlignedRow(r, csv, log, source, fileNumber, c.needPV == 0);
        else
            w.WriteGroupedRow(r, csv, log, source, fileNumber, c.needPV == 0);
        csv.Commit();
        EXPECT_EQ(ReadFile(dir / "s-2.csv"), c.expected);
    }
    // A time before 1970 is written as its number.
    EXPECT_EQ(CsvWriter::TimeText(-5, true), "-5");
    EXPECT_EQ(CsvWriter::TimeText(0, true), "1970-01-01 00:00:00");
}

TEST_F(WriterTest, AlignErrorsGoToTheLogUntilTheRunIsTooLong) {
    auto a = [&](int counter) { return Record(1700000000, counter, {Reading(1, 1, 1001, 1530000, 1)}); };
    auto b = [&](int counter) {
        return Record(1700000000, counter, {Reading(1, 1, 1001, 1530000, 1), Reading(2, 1, 1002, 1540000, 2)});
    };
    ConvertSettings s = Settings(1);
    s.m_AlignErrorMax = "2";
    CsvWriter w(ctx, s);
    std::vector<int> results;
    for (const FrameSlot& r : {a(1), a(2), b(3), b(4), b(5), a(6)})
        results.push_back(w.WriteAlignedRow(r, csv, log, source, fileNumber, false));
    csv.Commit();
    log.Commit();
    EXPECT_EQ(results, (std::vector<int>{0, 0, -1, -1, 0, -1}));
    EXPECT_EQ(fileNumber, 3);
    auto file2 = Lines(ReadFile(dir / "s-2.csv"));
    auto file3 = Lines(ReadFile(dir / "s-3.csv"));
    ASSERT_EQ(file2.size(), 3u);
    EXPECT_EQ(file2[2], "22:13:20,1700000000,2,1530000,1");
    ASSERT_EQ(file3.size(), 2u);
    EXPECT_EQ(file3[0], "Time,UTime,Counter,1.1.1001:WL,1.1.1001:PV,2.1.1002:WL,2.1.1002:PV");
    EXPECT_EQ(file3[1], "22:13:20,1700000000,5,1530000,1,1540000,2");
    // The log holds header and row of records 3, 4, 5 and 6.
    auto logLines = Lines(ReadFile(dir / "s_err.log"));
    ASSERT_EQ(logLines.size(), 8u);
    EXPECT_EQ(logLines[0], file3[0]);
    EXPECT_EQ(logLines[5], file3[1]);
    EXPECT_EQ(logLines[6], "Time,UTime,Counter,1.1.1001:WL,1.1.1001:PV");
    EXPECT_EQ(ctx.m_alignErrorRun, 1);

    // With AlignErrorMax 0 (or text that is no number) every change of the
    // sensor set begins a new file at once and is logged too.
    ctx.m_currentHeader.Clear();
    ctx.m_alignErrorRun = 0;
    fileNumber = 2;
    s.m_AlignErrorMax = "none";
    CsvWriter w0(ctx, s);
    results.clear();
    for (const FrameSlot& r : {a(1), b(2), a(3)})
        results.push_back(w0.WriteAlignedRow(r, csv, log, source, fileNumber, false));
    csv.Commit();
    log.Commit();
    EXPECT_EQ(results, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(fileNumber, 4);
    EXPECT_EQ(Lines(ReadFile(dir / "s-3.csv")).size(), 2u);
    EXPECT_EQ(Lines(ReadFile(dir / "s-4.csv"))[1], "22:13:20,1700000000,3,1530000,1");
    EXPECT_EQ(Lines(ReadFile(dir / "s_err.log")).size(), 4u);
}

TEST_F(WriterTest, InnerSensorsAreLeftOutWhileTheBoxIsClear) {
    FrameSlot r = Record(1700000000, 1,
                         {Reading(1, 1, 1001, 1522999, -1), Reading(2, 1, 1002, 1523000, 0), Reading(3, 2, 2003, 1510000, 5)});
    ctx.innerSensor = false;
    CsvWriter w(ctx, Settings(1));
    w.WriteAlignedRow(r, csv, log, source, fileNumber, false);
    // Only inner sensors: the header is the time columns alone, which differs
    // from the header with sensors (an align error).
    FrameSlot inner = Record(1700000000, 2, {Reading(1, 1, 1001, 1511000, 1)});
    EXPECT_EQ(w.WriteAlignedRow(inner, csv, log, source, fileNumber, false), -1);
    ctx.innerSensor = true;
    EXPECT_EQ(w.WriteAlignedRow(r, csv, log, source, fileNumber, false), -1);
    csv.Commit();
    log.Commit();
    EXPECT_EQ(ReadFile(dir / "s-2.csv"), "Time,UTime,Counter,2.1.1002:WL,2.1.1002:PV\n22:13:20,1700000000,1,1523000,0\n");
    auto logLines = Lines(ReadFile(dir / "s_err.log"));
    ASSERT_EQ(logLines.size(), 4u);
    EXPECT_EQ(logLines[0], "Time,UTime,Counter");
    EXPECT_EQ(logLines[1], "22:13:20,1700000000,2");
}

TEST_F(WriterTest, LongRowsAreWrittenWhole) {
    std::vector<SensorReading> readings;
    for (int i = 0; i < kMaxReadings; ++i)
        readings.push_back(Reading(100000 + i, -2000000000, -2000000000, -2000000000, -1.2345678e-300));
    FrameSlot r = Record(1700000000, -1, readings);
    {
        CsvWriter w(ctx, Settings(1));
        w.WriteAlignedRow(r, csv, log, source, fileNumber, false);
        csv.Commit();
        auto lines = Lines(ReadFile(dir / "s-2.csv"));
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_GT(lines[0].size(), 10240u);
        EXPECT_EQ(lines[1].substr(lines[1].size() - 26), ",-2000000000,-1.23457e-300");
    }
    ctx.m_currentHeader.Clear();
    CsvWriter w(ctx, Settings(0));
    w.WriteGroupedRow(r, csv, log, source, fileNumber, false);
    csv.Commit();
    auto lines = Lines(ReadFile(dir / "s-2.csv"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_GT(lines[1].size(), 10240u);
    EXPECT_EQ(lines[1].substr(lines[1].size() - 57), ",100319.-2000000000.-2000000000,-2000000000,-1.23457e-300");
}

TEST_F(WriterTest, EngineeringValuesInBothLayoutsAndNoChangeWithoutThem) {
    // Sensor 1 has a row of its own for instrument A (0.5 per pm) and one
    // for any; sensor 2 has none, so its value is empty.
    SensorTable table;
    std::vector<std::string> errors;
    ASSERT_TRUE(table.Parse("sn,id,lambda0,c1\nA,1,1550000,0.5\n,1,1550000,2\n", "t.csv", errors) &&
                table.Validate("t.csv", errors));
    FrameSlot r = Record(1700000000, 15, {Reading(1, 1, 1001, 1550100, 100), Reading(2, 1, 1002, 1552345, 2345)});
    std::snprintf(r.sn, sizeof r.sn, "A");
    auto convert = [&](int titleAlign, int needValue, bool withTable) {
        ctx.m_currentHeader.Clear();
        ctx.SetSensors(withTable ? std::make_shared<const CompiledSensors>(table) : nullptr);
        ConvertSettings s = Settings(titleAlign);
        s.m_NeedValue = needValue;
        CsvWriter w(ctx, s);
        if (titleAlign)
            w.WriteAlignedRow(r, csv, log, source, fileNumber, false);
        else
            w.WriteGroupedRow(r, csv, log, source, fileNumber, false);
        csv.Commit();
        return ReadFile(dir / "s-2.csv");
    };
    EXPECT_EQ(convert(0, 1, true),
              "Time,UTime,Counter,ID.CH.SN,Wavelength,PhysicValue,Value\n"
              "22:13:20,1700000000,15,1.1.1001,1550100,100,50,2.1.1002,1552345,2345,\n");
    EXPECT_EQ(convert(1, 1, true),
              "Time,UTime,Counter,1.1.1001:WL,1.1.1001:PV,1.1.1001:VAL,2.1.1002:WL,2.1.1002:PV,2.1.1002:VAL\n"
              "22:13:20,1700000000,15,1550100,100,50,1552345,2345,\n");
    // Another instrument takes the row for any.
    std::snprintf(r.sn, sizeof r.sn, "B");
    EXPECT_NE(convert(0, 1, true).find(",1550100,100,200,"), std::string::npos);
    // NeedValue 0 writes the same bytes with a table as without one.
    for (int titleAlign : {0, 1}) EXPECT_EQ(convert(titleAlign, 0, true), convert(titleAlign, 0, false));
    // List mode has no physical values and no values either.
    ctx.m_currentHeader.Clear();
    ConvertSettings list = Settings(0);
    list.m_NeedValue = 1;
    CsvWriter w(ctx, list);
    w.WriteGroupedRow(r, csv, log, source, fileNumber, true);
    csv.Commit();
    EXPECT_EQ(ReadFile(dir / "s-2.csv"), "Time,UTime,Counter,CH,Wavelength\n22:13:20,1700000000,15,1,1550100,1,1552345\n");
}

TEST(NumberFormat, SameBytesAsPrintf) {
    auto expectSame = [](double v) {
        char mine[kNumberRoom + 1];
        char* end = AppendG(mine, v);
        char theirs[64];
        std::snprintf(theirs, sizeof theirs, "%g", v);
        ASSERT_EQ(std::string(mine, end), theirs) << v;
    };
    for (double v : {0.0, -0.0, 0.5, 51234.0, 1234567.0, 999999.0, 999999.5, 1000000.0, -999999.0, 0.0001, 0.00009999,
                     1e-5, 123456.7, 1e100, -1e-300, 5e-324, 1.0 / 0.0, -1.0 / 0.0, std::nan(""), 2147483648.0,
                     -2147483649.0, 0.1 + 0.2, 1.5e6, 123456789012.0,
                     // the fixed form's edges: ties, carries into the next decade, decade bounds
                     100.0625, -100.0625, 0.1234565, 9.999995, 9.9999949, 99999.95, 999999.4999, 0.00099999949,
                     0.000999999, 0.00010000001, 0.000099999951, 0.1, 0.01, 0.001, 1e-4, -0.5, 0.827129859})
        expectSame(v);
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<int> exponent(-12, 12);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    for (int i = 0; i < 200000; ++i) expectSame(mantissa(rng) * std::pow(10.0, exponent(rng)));
    for (int i = 0; i < 20000; ++i) expectSame(static_cast<double>(static_cast<int32_t>(rng())));
    char buf[kNumberRoom];
    EXPECT_EQ(std::string(buf, AppendInt(buf, INT32_MIN)), "-2147483648");
    for (uint32_t v : {0u, 9u, 10u, 99u, 100u, 9999u, 10000u, 99999999u, 100000000u, 4294967295u}) {
        char mine[kNumberRoom];
        EXPECT_EQ(std::string(mine, AppendUint(mine, v)), std::to_string(v));
    }

}

}  // namespace
}  // namespace lumora
