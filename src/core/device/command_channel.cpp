#include "device/command_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "window/window_port.h"
#include "device/text_utils.h"
#include "platform/udp_socket.h"

namespace lumora {

CommandMode ModeOfCommand(const std::string& text) {
    if (text == "*chs!;" || text == "*CHS!;") return CommandMode::Spectrum;
    if (text == "*chw!;" || text == "*CHW!;") return CommandMode::Wavelength;
    return CommandMode::None;
}

std::optional<uint16_t> CommandPortFromText(const std::string& text) {
    if (text.empty()) return std::nullopt;
    int32_t number = ParseLeadingInt(text);
    if (number <= 0) return std::nullopt;
    return static_cast<uint16_t>(static_cast<uint32_t>(number) & 0xFFFFu);
}

const char* SendResultText(SendResult result) {
    switch (result) {
        case SendResult::Sent: return "sent";
        case SendResult::NoSocket: return "no socket could be created";
        case SendResult::NoPort: return "the command port is empty or not above 0";
        case SendResult::NoAddress: return "the instrument address is empty";
        case SendResult::SendError: return "the send failed";
    }
    return "";
}

namespace {

// The address text is read as the classic dotted-address parser reads it
// ("127.1", hexadecimal parts and trailing blanks are accepted). A text it
// cannot read gives no address, and the send then fails.
std::optional<std::string> DottedAddress(const std::string& text) {
    in_addr addr{};
    if (::inet_aton(text.c_str(), &addr) == 0) return std::nullopt;
    char dotted[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &addr, dotted, sizeof dotted)) return std::nullopt;
    return std::string(dotted);
}

}  // namespace

SendResult CommandChannel::SendCommand(std::string text) {
    UdpSocket socket;
    if (!socket.Create()) return SendResult::NoSocket;

    std::optional<uint16_t> port = CommandPortFromText(boxes_.CmdPortText());
    if (!port) return SendResult::NoPort;
    const std::string ipText = boxes_.IpText();
    if (ipText.empty()) return SendResult::NoAddress;

    // The view follows the mode command before it is sent, also when the
    // send then fails.
    switch (ModeOfCommand(text)) {
        case CommandMode::Spectrum:
            window_.SetActiveTab(kTabSpectrum);
            window_.SetCheck(kIdcSpectrumDisplay, true);
            if (onSpectrumDisplay) onSpectrumDisplay(true);
            break;
        case CommandMode::Wavelength:
            window_.SetActiveTab(kTabList);
            window_.SetCheck(kIdcSpectrumDisplay, false);
            if (onSpectrumDisplay) onSpectrumDisplay(false);
            break;
        case CommandMode::None:
            break;
    }

    // The datagram ends where the text has its first zero byte.
    const size_t length = std::strlen(text.c_str());
    std::optional<std::string> address = DottedAddress(ipText);
    // An empty command would transfer nothing, which counts as a failed send.
    bool ok = address && length > 0 && socket.SendTo(text.data(), length, *address, *port);
    if (!ok) {
        window_.SetText(kIdcSourceData, kCommandSentError);
        return SendResult::SendError;
    }
    return SendResult::Sent;
}

void CommandChannel::PostCommand(std::string text) {
    window_.Post([this, text = std::move(text)]() { SendCommand(text); });
}

}  // namespace lumora
