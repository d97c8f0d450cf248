// The sensor table, the values it gives and the alarms they raise.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/recording/test_window_port.h"
#include "sensors/alarms.h"
#include "sensors/sensor_processor.h"
#include "sensors/sensor_table.h"
#include "sensors/sensor_values.h"
#include "sensors/sensors_json.h"

namespace lumora {
namespace {

std::shared_ptr<CompiledSensors> Compile(const std::string& csv) {
    SensorTable t;
    std::vector<std::string> errors;
    EXPECT_TRUE(t.Parse(csv, "t.csv", errors) && t.Validate("t.csv", errors)) << (errors.empty() ? "" : errors[0]);
    return std::make_shared<CompiledSensors>(std::move(t));
}

std::unique_ptr<FrameSlot> Frame(const char* sn, std::vector<int32_t> wavelengths, int32_t time = 1700000000) {
    auto f = std::make_unique<FrameSlot>();
    std::snprintf(f->sn, sizeof f->sn, "%s", sn);
    f->time = time;
    f->count = static_cast<int32_t>(wavelengths.size());
    for (size_t k = 0; k < wavelengths.size(); ++k) {
        f->readings[k].id = static_cast<int32_t>(k) + 1;
        f->readings[k].wavelength = wavelengths[k];
    }
    return f;
}

std::vector<double> Values(const CompiledSensors& s, const FrameSlot& f) {
    ValueCalculator calc;
    std::vector<double> v(static_cast<size_t>(f.count));
    calc.Compute(s.PlanFor(f.sn), f, v.data());
    return v;
}

using test::ReadText;

TEST(SensorValues, FormulaPresetsCompensationAndEmptyValues) {
    // A strain grating of 1550 nm with gauge factor 0.78: 0.827 µε per pm.
    const LinearCoefficients strain = StrainPreset(1550000);
    EXPECT_NEAR(strain.c1, 0.827, 0.0005);
    EXPECT_EQ(strain.c0, 0);
    // 10 pm/°C reading 20 °C at lambda0: 0.1 °C per pm from 20.
    const LinearCoefficients temp = TemperaturePreset(10, 20);
    EXPECT_EQ(temp.c0, 20);
    EXPECT_DOUBLE_EQ(temp.c1, 0.1);

    // Columns in any order; sensor 1 is compensated by sensor 2 at half
    // weight; sensor 3 has a cubic; 4 has no row; 5 is compensated by a
    // sensor its instrument lacks; SN9 has a row of its own for sensor 3.
    auto s = Compile(
        "id,lambda0,c1,comp_id,comp_factor,c0,c2,c3,sn,unit\n"
        "1,1550000," + SensorNumberText(strain.c1) + ",2,0.5,,,,,µε\n"
        "2,1540000,0.1,,,20,,,,°C\n"
        "3,1530000,1,,,0,0.5,0.01,,\n"
        "5,1520000,1,6,,,,,,\n"
        "6,1510000,1,,,,,,SN9,\n"
        "3,1530000,2,,,,,,SN9,\n");
    // Sensor 1: 100 pm of stretch, and the compensating grating moved 40 pm:
    // d = 100 - 0.5 * 40 = 80 pm.
    auto f = Frame("SN1", {1550100, 1540040, 1530010, 1560000, 1520000});
    std::vector<double> v = Values(*s, *f);
    EXPECT_NEAR(v[0], 80 * 0.8271, 0.01);
    EXPECT_DOUBLE_EQ(v[1], 24.0);                          // 20 + 0.1 * 40
    EXPECT_DOUBLE_EQ(v[2], 10 + 0.5 * 100 + 0.01 * 1000);  // d = 10
    EXPECT_TRUE(std::isnan(v[3]));                         // no row
    EXPECT_TRUE(std::isnan(v[4]));                         // sensor 6 has no row for SN1

    // The instrument's own row wins over the row for any; sensor 6 is found
    // by its id even away from position 6; a missing compensating reading
    // leaves the value empty.
    auto g = Frame("SN9", {1550100, 1540000, 1530010, 1560000, 1520007, 1510005});
    g->readings[5].id = 6;
    v = Values(*s, *g);
    EXPECT_DOUBLE_EQ(v[2], 20.0);
    EXPECT_DOUBLE_EQ(v[4], 2.0);  // 7 - 1 * 5
    std::swap(g->readings[4], g->readings[5]);
    v = Values(*s, *g);
    EXPECT_DOUBLE_EQ(v[5], 2.0);
    auto h = Frame("SN1", {1550100});  // sensor 2 missing from the frame
    EXPECT_TRUE(std::isnan(Values(*s, *h)[0]));
}

TEST(SensorTable, ErrorsNameFileLineAndColumn) {
    SensorTable t;
    std::vector<std::string> errors;
    ASSERT_TRUE(t.Parse("sn,id,lambda0,label,comp_id,hysteresis\n"
                        ",1,1550000,ok,,\n"
                        "\n"
                        ",,1550000,,,\n"           // line 4: no id
                        ",2,15500x0,,,\n"          // line 5: not a number
                        ",321,1550000,,,\n"        // line 6: id out of range
                        ",1,1550000,,,\n"          // line 7: duplicate of line 2
                        "A,3,1550000,\"a,b\",,\n"  // line 8: comma in the label
                        ",4,1550000,,9,\n"         // line 9: comp_id without a row
                        ",5,,,,\n"                 // line 10: no lambda0
                        ",6,1550000,,,-1\n",       // line 11: negative hysteresis
                        "s.csv", errors));
    EXPECT_FALSE(t.Validate("s.csv", errors));
    const std::vector<std::string> expected = {
        "s.csv:4: column id: missing",
        "s.csv:5: column lambda0: '15500x0' is not a number",
        "s.csv:6: column id: 321 is outside 1..320",
        "s.csv:8: column label: 'a,b' must not contain a comma, a quote or a line break",
        "s.csv:10: column lambda0: missing",
        "s.csv:11: column hysteresis: must not be negative",
        "s.csv:7: column id: sensor 1 of any instrument is already on line 2",
        "s.csv:9: column comp_id: sensor 9 has no row",
    };
    EXPECT_EQ(errors, expected);
    EXPECT_TRUE(t.Rows().empty());

    errors.clear();
    EXPECT_FALSE(t.Parse("id,label\n1,\"open\n", "s.csv", errors));
    EXPECT_EQ(errors, (std::vector<std::string>{"s.csv:2: a quote is not closed on its line",
                                                "s.csv:1: no column lambda0 in the header"}));
    errors.clear();
    EXPECT_FALSE(t.Parse("id,lambda0\n1,2,3\n", "s.csv", errors));
    EXPECT_EQ(errors, (std::vector<std::string>{"s.csv:2: 3 fields, but the header names 2"}));
}

TEST(SensorTable, RewriteKeepsUnknownColumnsAndSavesAtomically) {
    test::TempDir dir;
    const std::string path = dir.Path() + "/sensors.csv";
    {
        std::ofstream out(path);
        out << "\xEF\xBB\xBFnote,ID,lambda0,Label\r\n\"pier 3, east\",1,1550000,A\r\nx,2,1551000,B\r\n";
    }
    SensorTable t;
    std::vector<std::string> errors;
    ASSERT_TRUE(LoadSensorTable(path, t, errors));
    ASSERT_EQ(t.Rows().size(), 2u);
    EXPECT_EQ(t.Rows()[0].label, "A");

    // Zero from a frame of the instrument: both rows apply (sn empty).
    auto f = Frame("SN1", {1550123, 1551456});
    const ZeroResult z = ZeroFromFrame(t, *f);
    EXPECT_EQ(z.changed, 2);
    EXPECT_TRUE(z.missing.empty());
    t.SetCell(1, "unit", "µε");
    std::string error;
    ASSERT_TRUE(SaveSensorTable(path, t, error)) << error;
    EXPECT_EQ(ReadText(path),
              "note,ID,lambda0,Label,unit\n\"pier 3, east\",1,1550123,A,\nx,2,1551456,B,µε\n");

    // A read-only file is left alone and says so.
    ::chmod(path.c_str(), 0444);
    if (::access(path.c_str(), W_OK) != 0) {  // not when the tests run as root
        EXPECT_FALSE(SaveSensorTable(path, SensorTable::WithKnownColumns(), error));
        EXPECT_NE(error.find("read-only"), std::string::npos);
    }
}

TEST(SensorAlarms, HysteresisTransitionsAndTheLog) {
    test::TempDir tmp;
    const std::string dir = tmp.Path();
    auto s = Compile(
        "id,lambda0,c1,label,low,high,hysteresis\n"
        "1,1550000,1,Pier,-10,10,2\n"
        "2,1550000,1,NoLimits,,,\n");
    SensorProcessor p;
    p.SetTable(s);
    p.SetLogPath(dir + "/alarms.csv");
    std::vector<AlarmTransition> seen;
    p.SetListener([&](const std::vector<AlarmTransition>& b) { seen.insert(seen.end(), b.begin(), b.end()); });

    // Values of sensor 1 in pm over lambda0, one frame each; NaN frames lack
    // the reading (empty value: no change).
    const int values[] = {5, 10, 11, 9, 8, 7, 20, -11, -9, -7, -20, 15};
    const int32_t expectedState[] = {0, 0, 1, 1, 1, 0, 1, -1, -1, 0, -1, 1};
    for (size_t i = 0; i < std::size(values); ++i) {
        auto f = Frame("SIM0001", {1550000 + values[i], 1550999}, 1700000000 + static_cast<int32_t>(i));
        f->microseconds = 250000;
        p.Process(*f);
        ASSERT_TRUE(f->hasValues);
        EXPECT_EQ(f->alarms[0], expectedState[i]) << "frame " << i;
        EXPECT_EQ(f->alarms[1], 0);
        if (i == 5) {
            // An empty value changes nothing: a frame without sensor 1.
            auto e = Frame("SIM0001", {});
            p.Process(*e);
        }
        if (i % 3 == 2) p.EndBatch();
    }
    p.EndBatch();
    std::vector<std::string> states;
    for (const AlarmTransition& t : seen) states.push_back(std::to_string(t.id) + AlarmStateName(t.state));
    EXPECT_EQ(states, (std::vector<std::string>{"1HIGH", "1NORMAL", "1HIGH", "1LOW", "1NORMAL", "1LOW", "1HIGH"}));
    EXPECT_EQ(p.ActiveCount(), 1);
    ASSERT_EQ(p.ActiveAlarms().size(), 1u);
    EXPECT_EQ(p.ActiveAlarms()[0].state, AlarmState::High);

    const std::string log = ReadText(dir + "/alarms.csv");
    EXPECT_EQ(log.substr(0, log.find('\n')), "Time,SN,ID,Label,Value,State");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
    EXPECT_NE(log.find(AlarmTimeText(1700000002, 250000) + ",SIM0001,1,Pier,11,HIGH\n"), std::string::npos);
    EXPECT_EQ(AlarmTimeText(1700000002, 250000).size(), 23u);
    // A serial number from the network stays one field of one record.
    AlarmTransition odd;
    odd.sn = "A,\"B\"\nC";
    odd.id = 3;
    odd.value = 1.5;
    odd.state = AlarmState::Low;
    const std::string oddLine = AlarmLogLine(odd);
    EXPECT_EQ(oddLine.substr(oddLine.find(',')), ",\"A,\"\"B\"\"\nC\",3,,1.5,LOW");

    // A table without sensor 1 forgets its alarm; no table: no values.
    p.SetTable(Compile("id,lambda0\n2,1550000\n"));
    auto f = Frame("SIM0001", {1550000});
    p.Process(*f);
    EXPECT_EQ(p.ActiveCount(), 0);
    p.SetTable(nullptr);
    p.Process(*f);
    EXPECT_FALSE(f->hasValues);
}

TEST(SensorsJson, RowsOfTheInstrumentAndTransitions) {
    auto s = Compile("sn,id,lambda0,label,unit,low,high\n,1,1550000,A,µε,,5\nSN9,1,1550000,B,kPa,-1,1\n");
    EXPECT_EQ(SensorsJson(s.get(), "SN1", "SN1"),
              R"({"device":"SN1","sensors":[{"id":1,"label":"A","unit":"µε","low":null,"high":5,"hysteresis":0}]})");
    EXPECT_NE(SensorsJson(s.get(), "SN9", "SN9").find(R"("label":"B","unit":"kPa","low":-1,"high":1)"), std::string::npos);
    AlarmTransition t;
    t.seconds = 1700000000;
    t.microseconds = 125000;
    t.sn = "SN1";
    t.id = 1;
    t.label = "A";
    t.unit = "µε";
    t.value = 6.5;
    t.state = AlarmState::High;
    EXPECT_EQ(AlarmJson(t, "SN1"),
              R"({"device":"SN1","t":1700000000.125,"id":1,"label":"A","unit":"µε","value":6.5,"state":"HIGH",)"
              R"("previous":"NORMAL"})");
    // A serial number that is not UTF-8 still gives JSON.
    EXPECT_EQ(AlarmJson(t, "S\xFFN").substr(0, 18), "{\"device\":\"S\xEF\xBF\xBDN\",");
}

}  // namespace
}  // namespace lumora
