// lumora-cli publish with a sensor table against a real broker: each reading
// carries its value (or null), the table's rows are retained on
// TOPIC/DEVICE/sensors and alarm transitions go to TOPIC/DEVICE/alarms.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "core/recording/test_window_port.h"
#include "support/broker.h"
#include "support/child_process.h"
#include "platform/udp_socket.h"

namespace lumora {
namespace {

using test::Broker;
using test::Child;
using test::Message;
using test::ReadAll;
using test::ReadLine;
using test::Spawn;
using test::Subscriber;
using test::TempDir;
using test::WaitExit;
using test::WaitUntil;

// Two readings: sensor 1 at lambda0 + offset, sensor 2 (no row) anywhere.
std::vector<uint8_t> FrameOf(int k, int offset) {
    TrailerFields t;
    t.sn = "PUB-2";
    t.time = 1796000000 + k;
    t.counter = k;
    return EncodeWavelengthFrame({2}, {static_cast<uint16_t>(13000 + offset), 19000}, &t);
}

std::vector<Message> On(const std::vector<Message>& all, const std::string& topic) {
    std::vector<Message> out;
    for (const Message& m : all)
        if (m.topic == topic) out.push_back(m);
    return out;
}

TEST(MqttSensors, ValuesRetainedTableAndAlarms) {
    TempDir dir;
    Broker broker(dir.Path());
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), "plant/#");
    ASSERT_TRUE(sub.WaitSubscribed());

    std::ofstream(dir.Path() + "/Lumora.ini") << "[MQTT]\nClientId=sensor-test\nBatchMs=50\n";
    std::ofstream(dir.Path() + "/t.csv") << "id,label,unit,lambda0,c0,c1,high\n1,Pier,kPa,1523000,1,0.5,10\n";
    Child pub = Spawn(dir.Path(),
                      {LUMORA_CLI_PATH, "publish", "--port", "0", "--seconds", "120", "--sensors", "t.csv",
                       "--alarm-log", dir.Path() + "/alarms.csv", "--mqtt",
                       "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/plant"},
                      dir.Path() + "/publish.err");
    const std::string listening = ReadLine(pub.out, 30);
    ASSERT_EQ(listening.rfind("listening on UDP port ", 0), 0u) << ReadAll(dir.Path() + "/publish.err");
    UdpSocket sender;
    sender.Create();
    const uint16_t port = static_cast<uint16_t>(std::stoi(listening.substr(22)));
    // Sensor 1 values: 1 + 0.5 * offset: 3, then 21 (HIGH).
    for (int k = 1; k <= 2; ++k) {
        const std::vector<uint8_t> f = FrameOf(k, k == 1 ? 4 : 40);
        sender.SendTo(f.data(), f.size(), "127.0.0.1", port);
    }
    sender.SendTo("\xFF\xFF", 2, "127.0.0.1", port);
    EXPECT_EQ(ReadLine(pub.out, 30).find("alarm "), 0u);
    ASSERT_TRUE(WaitUntil([&] { return !On(sub.Messages(), "plant/PUB-2/alarms").empty(); }, 30));
    ::kill(pub.pid, SIGTERM);
    EXPECT_EQ(WaitExit(pub.pid, 30), 0);
    ::close(pub.out);

    const std::vector<Message> all = sub.Messages();
    std::vector<std::string> readings;
    for (const Message& m : On(all, "plant/PUB-2/frames")) {
        cJSON* root = cJSON_Parse(m.payload.c_str());
        const cJSON* f = nullptr;
        cJSON_ArrayForEach(f, cJSON_GetObjectItem(root, "frames")) {
            const cJSON* s = nullptr;
            cJSON_ArrayForEach(s, cJSON_GetObjectItem(f, "sensors")) {
                char* text = cJSON_PrintUnformatted(s);
                readings.push_back(text);
                cJSON_free(text);
            }
        }
        cJSON_Delete(root);
    }
    EXPECT_EQ(readings, (std::vector<std::string>{"[1,1,1,1523004,0,3]", "[2,2,1,1529000,0,null]",
                                                  "[1,1,1,1523040,0,21]", "[2,2,1,1529000,0,null]"}));
    const std::vector<Message> table = On(all, "plant/PUB-2/sensors");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].payload,
              R"({"device":"PUB-2","sensors":[{"id":1,"label":"Pier","unit":"kPa","low":null,"high":10,"hysteresis":0}]})");
    const std::vector<Message> alarms = On(all, "plant/PUB-2/alarms");
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_NE(alarms[0].payload.find(R"("id":1,"label":"Pier","unit":"kPa","value":21,"state":"HIGH")"),
              std::string::npos)
        << alarms[0].payload;
    EXPECT_NE(ReadAll(dir.Path() + "/alarms.csv").find(",PUB-2,1,Pier,21,HIGH\n"), std::string::npos);

    // The table stays at the broker for those who come later.
    Subscriber late(broker.Port(), "plant/+/sensors");
    ASSERT_TRUE(late.WaitSubscribed());
    ASSERT_TRUE(WaitUntil([&] { return !late.Messages().empty(); }, 30));
    EXPECT_TRUE(late.Messages()[0].retained);
    EXPECT_EQ(late.Messages()[0].payload, table[0].payload);
}

}  // namespace
}  // namespace lumora
