// lumora-cli with a sensor table: record prints each alarm transition and
// writes it to alarms.csv in its folder, convert --value adds the values to
// the CSV; tables that cannot be used are refused with exit code 2.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "core/recording/test_window_port.h"
#include "platform/udp_socket.h"
#include "support/child_process.h"
#include "support/run_program.h"
#include "sensors/alarms.h"

namespace lumora {
namespace {

using test::Child;
using test::ReadAll;
using test::ReadLine;
using test::Spawn;
using test::TempDir;
using test::RunProgram;
using test::WaitExit;

// One channel of two readings and a trailer with serial number, time and counter.
std::vector<uint8_t> Frame(int32_t first, int32_t second, int32_t time, int32_t counter) {
    TrailerFields t;
    t.sn = "SIMX";
    t.time = time;
    t.counter = counter;
    return EncodeWavelengthFrame({2}, {uint16_t(first - 1510000), uint16_t(second - 1510000)}, &t);
}

void Send(int port, const std::vector<uint8_t>& datagram) {
    UdpSocket socket;
    ASSERT_TRUE(socket.Create());
    ASSERT_TRUE(socket.SendTo(datagram.data(), datagram.size(), "127.0.0.1", static_cast<uint16_t>(port)));
}

TEST(SensorsCli, RecordLogsAlarmsAndConvertAddsValues) {
    TempDir dir;
    std::ofstream(dir.Path() + "/t.csv") << "id,label,lambda0,c1,low,high,hysteresis\n1,Pier,1523000,1,-20,20,5\n";
    // The frames' own times are kept (no Local Time), so the log shows them.
    Child rec = Spawn(dir.Path(),
                      {LUMORA_CLI_PATH, "record", "--port", "0", "--dir", dir.Path(), "--sensors", "t.csv",
                       "--local-time", "0", "--counter", "0", "--seconds", "120"},
                      dir.Path() + "/record.err");
    const std::string listening = ReadLine(rec.out, 30);
    ASSERT_EQ(listening.rfind("listening on UDP port ", 0), 0u) << ReadAll(dir.Path() + "/record.err");
    const int port = std::stoi(listening.substr(22));

    // Sensor 1 over lambda0: 0, 25 (HIGH), 18 (still HIGH: not below 15),
    // 14 (NORMAL), -25 (LOW).
    const int offsets[] = {0, 25, 18, 14, -25};
    for (int i = 0; i < 5; ++i) Send(port, Frame(1523000 + offsets[i], 1530000, 1700000000 + i, i + 1));
    std::vector<std::string> printed;
    for (int i = 0; i < 3; ++i) printed.push_back(ReadLine(rec.out, 30));
    ::kill(rec.pid, SIGTERM);
    EXPECT_EQ(WaitExit(rec.pid, 30), 0);
    ::close(rec.out);

    const std::vector<std::string> lines = {AlarmTimeText(1700000001, 0) + ",SIMX,1,Pier,25,HIGH",
                                            AlarmTimeText(1700000003, 0) + ",SIMX,1,Pier,14,NORMAL",
                                            AlarmTimeText(1700000004, 0) + ",SIMX,1,Pier,-25,LOW"};
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(printed[i], "alarm " + lines[i]);
    EXPECT_EQ(ReadAll(dir.Path() + "/alarms.csv"),
              "Time,SN,ID,Label,Value,State\n" + lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");

    // The recording converted with values, the table's row for the
    // recorded instrument (its serial number from the records) applying.
    std::ofstream(dir.Path() + "/v.csv") << "sn,id,lambda0,c1\nSIMX,1,1523000,2\n,1,1523000,1\n";
    const test::ProgramResult converted =
        RunProgram({LUMORA_CLI_PATH, "convert", dir.Path(), "--value", "--sensors", "v.csv"}, dir.Path());
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    const std::string dat = test::DatFiles(dir.Path()).at(0);
    const std::string csv = ReadAll(dat.substr(0, dat.size() - 4) + "-2.csv");
    EXPECT_NE(csv.find("1.1.1001:WL,1.1.1001:PV,1.1.1001:VAL,2.1.1002:WL,2.1.1002:PV,2.1.1002:VAL\n"),
              std::string::npos) << csv;
    EXPECT_NE(csv.find(",1523025,23025,50,1530000,30000,\n"), std::string::npos) << csv;
    EXPECT_EQ(RunProgram({LUMORA_CLI_PATH, "convert", dir.Path(), "--value", "--sensors", "none.csv"}, dir.Path()).exitCode,
              2);

    // A table named on the command line must be usable; one found by default
    // that is not is reported and recording goes on without it.
    std::ofstream(dir.Path() + "/bad.csv") << "id,lambda0\n400,1\n";
    test::ProgramResult r = RunProgram({LUMORA_CLI_PATH, "sensors", "check", "bad.csv"}, dir.Path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("bad.csv:2: column id: 400 is outside 1..320"), std::string::npos) << r.err;
    EXPECT_EQ(RunProgram({LUMORA_CLI_PATH, "record", "--port", "0", "--dir", dir.Path(), "--sensors", "bad.csv",
                          "--seconds", "1"},
                         dir.Path())
                  .exitCode,
              2);
    EXPECT_EQ(RunProgram({LUMORA_CLI_PATH, "publish", "--port", "0", "--mqtt", "mqtt://127.0.0.1:1/x", "--sensors",
                          "none.csv"},
                         dir.Path())
                  .exitCode,
              2);
    std::ofstream(dir.Path() + "/sensors.csv") << "id,lambda0\n400,1\n";
    r = RunProgram({LUMORA_CLI_PATH, "record", "--port", "0", "--dir", dir.Path(), "--seconds", "0.2"}, dir.Path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("going on without a sensor table"), std::string::npos) << r.err;
    r = RunProgram({LUMORA_CLI_PATH, "sensors", "check", "t.csv"}, dir.Path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "t.csv: 1 sensor\nany 1 \"Pier\": value = 1*d, d = (wl - 1523000) pm; alarm below -20 or above 20, "
                     "hysteresis 5\n");
}

}  // namespace
}  // namespace lumora
