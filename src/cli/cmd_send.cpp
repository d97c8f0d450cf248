// lumora-cli send [--ip IP] [--port N] TEXT
// Sends one command datagram the way the window's command channel does. The
// address and port default to [Net] IP and [Net] CmdPort of ./Lumora.ini.
#include <cstdio>
#include <string>

#include "window/console_window_port.h"
#include "cli_commands.h"
#include "cli_util.h"
#include "device/command_channel.h"
#include "settings/settings_store.h"

namespace lumora::cli {
namespace {

// The console has no view to switch; texts meant for the window are kept so
// the failure can be told.
class ConsoleWindow : public ConsoleWindowPort {
public:
    void SetText(int controlId, const std::string& utf8) override {
        if (controlId == kIdcSourceData) shown = utf8;
    }

    std::string shown;
};

int Usage() {
    std::fprintf(stderr, "usage: lumora-cli send [--ip IP] [--port N] TEXT\n");
    return 2;
}

}  // namespace

int RunSend(const Args& args) {
    std::string ip, port, text;
    bool haveIp = false, havePort = false, haveText = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--ip" || a == "--port") && i + 1 < args.size()) {
            long long n = 0;
            if (a == "--port" && !ReadWholeNumber("send", a, args[i + 1], 1, 65535, &n)) return 2;
            (a == "--ip" ? ip : port) = args[++i];
            (a == "--ip" ? haveIp : havePort) = true;
        } else if (a == "--help" || a == "-h") {
            std::printf("usage: lumora-cli send [--ip IP] [--port N] TEXT\n"
                        "Sends TEXT as one UDP datagram to the instrument's command port.\n"
                        "IP and N default to [Net] IP and [Net] CmdPort of ./Lumora.ini.\n");
            return 0;
        } else if (a == "--") {
            if (i + 1 < args.size() && !haveText) {
                text = args[++i];
                haveText = true;
            }
            if (i + 1 != args.size()) return Usage();
        } else if (!haveText && (a.empty() || a[0] != '-' || a.size() == 1 || a[1] != '-')) {
            // Command texts start with "*" or a letter; a lone "-..." text is taken as is.
            text = a;
            haveText = true;
        } else {
            return Usage();
        }
    }
    if (!haveText) return Usage();

    SettingsStore settings;
    if (!haveIp) ip = settings.GetString("Net", "IP", "");
    if (!havePort) port = std::to_string(settings.GetInt("Net", "CmdPort", 7009));

    CommandBoxes boxes;
    boxes.SetIpText(ip);
    boxes.SetCmdPortText(port);
    ConsoleWindow window;
    CommandChannel channel(window, boxes);
    SendResult result = channel.SendCommand(text);
    if (result == SendResult::Sent) return 0;

    std::string why = SendResultText(result);
    if (result == SendResult::NoAddress) why += " (give --ip or set [Net] IP)";
    if (result == SendResult::NoPort) why += " (\"" + port + "\")";
    if (result == SendResult::SendError) why += " to " + ip + ":" + port + " (" + window.shown + ")";
    std::fprintf(stderr, "lumora-cli send: nothing sent: %s\n", why.c_str());
    return 1;
}

}  // namespace lumora::cli
