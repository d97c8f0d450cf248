#pragma once
// Sends one text command to the instrument's command port as one UDP datagram.
// Nothing is ever read back. Two commands, the mode switches, also change the
// view of the main window before they go out.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace lumora {

class WindowPort;

// Controls the channel reads or changes.
inline constexpr int kIdcCommandIp = 1007;       // "IP" of the Data Information group
inline constexpr int kIdcCommandPort = 1008;     // "CMD Port"
inline constexpr int kIdcSourceData = 1030;      // "Source data / Command return"
inline constexpr int kIdcSpectrumDisplay = 1043; // "DISP" of the Spectrum group
inline constexpr int kTabList = 0;
inline constexpr int kTabSpectrum = 1;

inline constexpr char kCommandSentError[] = "Command sent error!";
// What the "WL" and "OS" buttons send.
inline constexpr char kWavelengthModeCommand[] = "*chw!;";
inline constexpr char kSpectrumModeCommand[] = "*chs!;";

// The texts of the "IP" and "CMD Port" boxes as they are at this moment. The
// main window's change handlers (and the receive worker, which rewrites the
// address) store them; a command reads them when it is sent. Any thread.
class CommandBoxes {
public:
    void SetIpText(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        ip_ = std::move(text);
    }
    void SetCmdPortText(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        port_ = std::move(text);
    }
    std::string IpText() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return ip_;
    }
    std::string CmdPortText() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return port_;
    }

private:
    mutable std::mutex mutex_;
    std::string ip_;
    std::string port_;
};

// The "RST" button sends nothing: it asks the sensor list to take the frame it
// shows next as the reference. The list refresh takes the request.
class ResetReferenceFlag {
public:
    void Request() { flag_.store(1, std::memory_order_release); }
    bool IsRequested() const { return flag_.load(std::memory_order_acquire) != 0; }
    // True once per request; clears it.
    bool Take() { return flag_.exchange(0, std::memory_order_acq_rel) != 0; }

private:
    std::atomic<int> flag_{0};
};

// The view switch a command causes. Only the four exact spellings switch;
// other mixings of case or added blanks do not.
enum class CommandMode { None, Wavelength, Spectrum };
CommandMode ModeOfCommand(const std::string& text);

// The destination port from the "CMD Port" text: nothing for an empty text or
// a number not above 0; otherwise the low 16 bits of the number (70000 gives
// 4464).
std::optional<uint16_t> CommandPortFromText(const std::string& text);

// Why a command did or did not go out. The window ignores it; the command
// line reports it.
enum class SendResult {
    Sent,
    NoSocket,   // the system refused a socket: nothing sent, nothing shown
    NoPort,     // "CMD Port" empty or not above 0: nothing sent, nothing shown
    NoAddress,  // "IP" empty: nothing sent, nothing shown
    SendError,  // the send failed: "Command sent error!" is shown
};
const char* SendResultText(SendResult result);

class CommandChannel {
public:
    CommandChannel(WindowPort& window, const CommandBoxes& boxes) : window_(window), boxes_(boxes) {}

    // Told the new state of the Spectrum "DISP" box each time a mode command
    // sets it (the spectrum view reads that state while it draws). Set on the
    // UI thread before the first command.
    std::function<void(bool checked)> onSpectrumDisplay;

    // UI thread. Sends text, byte for byte (UTF-8, up to a first zero byte),
    // as one datagram to the address and port the boxes hold right now.
    SendResult SendCommand(std::string text);

    // The command editor's way in: runs SendCommand on the UI thread later,
    // after the caller has returned. Any thread.
    void PostCommand(std::string text);

    // The "WL" and "OS" buttons.
    void OnWavelengthButton() { SendCommand(kWavelengthModeCommand); }
    void OnSpectrumButton() { SendCommand(kSpectrumModeCommand); }

private:
    WindowPort& window_;
    const CommandBoxes& boxes_;
};

}  // namespace lumora
