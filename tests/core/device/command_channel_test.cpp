#include "device/command_channel.h"

#include <gtest/gtest.h>

#include <string>

#include "core/device/fake_window.h"
#include "platform/udp_socket.h"

namespace lumora {
namespace {

// An instrument's command port on loopback.
class FakeInstrument {
public:
    FakeInstrument() {
        EXPECT_TRUE(socket_.Create());
        EXPECT_TRUE(socket_.Bind(0, "127.0.0.1"));
        port = socket_.LocalPort();
    }
    // The next datagram's bytes, or nothing within timeoutMs.
    std::optional<std::string> Receive(int timeoutMs = 2000) {
        socket_.SetReceiveTimeout(timeoutMs);
        char buf[2048];
        long n = socket_.ReceiveFrom(buf, sizeof buf);
        if (n < 0) return std::nullopt;
        return std::string(buf, static_cast<size_t>(n));
    }
    uint16_t port = 0;

private:
    UdpSocket socket_;
};

struct ChannelFixture : ::testing::Test {
    ChannelFixture() {
        boxes.SetIpText("127.0.0.1");
        boxes.SetCmdPortText(std::to_string(instrument.port));
        channel.onSpectrumDisplay = [this](bool on) { displayStates.push_back(on); };
    }
    FakeInstrument instrument;
    CommandBoxes boxes;
    test::FakeWindow window;
    CommandChannel channel{window, boxes};
    std::vector<bool> displayStates;
};

TEST_F(ChannelFixture, DatagramCarriesExactlyTheBytesOfTheText) {
    channel.OnWavelengthButton();
    EXPECT_EQ(instrument.Receive(), std::optional<std::string>("*chw!;"));

    EXPECT_EQ(channel.SendCommand("*FTS:1;\r\n"), SendResult::Sent);
    EXPECT_EQ(instrument.Receive(), std::optional<std::string>("*FTS:1;\r\n"));

    EXPECT_EQ(channel.SendCommand("名称?;"), SendResult::Sent);
    EXPECT_EQ(instrument.Receive(), std::optional<std::string>("名称?;"));

    // The datagram ends at the first zero byte of the text.
    EXPECT_EQ(channel.SendCommand(std::string("AB\0CD", 5)), SendResult::Sent);
    EXPECT_EQ(instrument.Receive(), std::optional<std::string>("AB"));
    EXPECT_EQ(window.texts.count(kIdcSourceData), 0u);
}

TEST_F(ChannelFixture, PortTextIsReadLikeANumberAndOnlyItsLow16BitsCount) {
    for (std::string text : {" +" + std::to_string(instrument.port), std::to_string(instrument.port) + "abc",
                             std::to_string(instrument.port + 65536)}) {
        boxes.SetCmdPortText(text);
        EXPECT_EQ(channel.SendCommand("RGB?;"), SendResult::Sent) << text;
        EXPECT_EQ(instrument.Receive(), std::optional<std::string>("RGB?;")) << text;
    }
    EXPECT_EQ(CommandPortFromText("70000"), std::optional<uint16_t>(4464));
    EXPECT_EQ(CommandPortFromText("99999999999999"), std::optional<uint16_t>(0xFFFF));
}

TEST_F(ChannelFixture, NothingIsSentOrShownWithoutAddressOrUsablePort) {
    struct Case {
        const char* ip;
        std::string port;
        SendResult result;
    } cases[] = {
        {"", std::to_string(instrument.port), SendResult::NoAddress},
        {"127.0.0.1", "", SendResult::NoPort},
        {"127.0.0.1", "0", SendResult::NoPort},
        {"127.0.0.1", "-7009", SendResult::NoPort},
        {"127.0.0.1", "abc", SendResult::NoPort},
    };
    for (const Case& c : cases) {
        boxes.SetIpText(c.ip);
        boxes.SetCmdPortText(c.port);
        // A mode command, so that a view switch would show as well.
        EXPECT_EQ(channel.SendCommand("*CHS!;"), c.result) << c.ip << " / " << c.port;
    }
    EXPECT_TRUE(window.calls.empty());
    EXPECT_TRUE(displayStates.empty());
    EXPECT_EQ(instrument.Receive(200), std::nullopt);
}

TEST_F(ChannelFixture, OnlyTheFourExactModeSpellingsSwitchTheView) {
    channel.OnSpectrumButton();
    EXPECT_EQ(window.calls, (std::vector<std::string>{"tab 1", "check 1043 on"}));
    EXPECT_EQ(instrument.Receive(), std::optional<std::string>("*chs!;"));
    for (const char* text : {"*CHW!;", "*CHS!;", "*chw!;"}) {
        channel.SendCommand(text);
        EXPECT_EQ(instrument.Receive(), std::optional<std::string>(text));
    }
    EXPECT_EQ(displayStates, (std::vector<bool>{true, false, true, false}));
    window.calls.clear();

    // Sent unchanged, but no switch.
    for (const char* text : {"*Chs!;", "*chw!; ", "*CHS!", "*chs!;;"}) {
        EXPECT_EQ(channel.SendCommand(text), SendResult::Sent);
        EXPECT_EQ(instrument.Receive(), std::optional<std::string>(text));
    }
    EXPECT_TRUE(window.calls.empty());
    EXPECT_EQ(displayStates.size(), 4u);
    EXPECT_EQ(ModeOfCommand("*CHS!;"), CommandMode::Spectrum);
    EXPECT_EQ(ModeOfCommand("*chW!;"), CommandMode::None);
}

TEST_F(ChannelFixture, AFailedSendStillSwitchesTheViewAndShowsTheError) {
    // An address that cannot be read, and a port whose low 16 bits are 0.
    for (std::pair<const char*, const char*> dest : {std::pair{"no.such.host", "7009"}, std::pair{"127.0.0.1", "65536"}}) {
        window.calls.clear();
        window.texts.clear();
        boxes.SetIpText(dest.first);
        boxes.SetCmdPortText(dest.second);
        EXPECT_EQ(channel.SendCommand("*CHS!;"), SendResult::SendError) << dest.first;
        EXPECT_EQ(window.calls, (std::vector<std::string>{"tab 1", "check 1043 on", "text 1030"}));
        EXPECT_EQ(window.texts[kIdcSourceData], "Command sent error!");
    }
    // A command with no bytes transfers nothing: a failed send as well.
    boxes.SetIpText("127.0.0.1");
    boxes.SetCmdPortText(std::to_string(instrument.port));
    window.texts.clear();
    EXPECT_EQ(channel.SendCommand(""), SendResult::SendError);
    EXPECT_EQ(window.texts[kIdcSourceData], "Command sent error!");
    EXPECT_EQ(instrument.Receive(200), std::nullopt);
}

TEST_F(ChannelFixture, PostedCommandGoesOutLaterToTheBoxesOfThatMoment) {
    channel.PostCommand("*SAV!;");
    EXPECT_EQ(instrument.Receive(100), std::nullopt);
    // The address box changes before the posted task runs: the new text counts.
    FakeInstrument other;
    boxes.SetCmdPortText(std::to_string(other.port));
    window.RunPosted();
    EXPECT_EQ(other.Receive(), std::optional<std::string>("*SAV!;"));
    EXPECT_EQ(instrument.Receive(100), std::nullopt);
}

}  // namespace
}  // namespace lumora
