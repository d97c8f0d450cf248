#pragma once
// The high-speed acquisition and conversion launchers: two records of
// parameters kept by the main window, the logic of their two small forms, and
// the start of the scripts "daq.sh" and "convert.sh" with those parameters.
#include <array>
#include <cstdint>
#include <string>

#include "platform/process.h"

namespace lumora {

class SettingsStore;

inline constexpr char kDefaultHighSpeedFileName[] = "./Data2/test";
inline constexpr char kDaqScript[] = "daq.sh";
inline constexpr char kConvertScript[] = "convert.sh";
// Characters of the shared file name.
inline constexpr int kHighSpeedFileNameChars = 259;

struct HighSpeedDaqSettings {
    int32_t port = 8190;
    int32_t count = 500000;
    int32_t second = 120;
    int32_t interval = 10;
    std::string fileName = kDefaultHighSpeedFileName;
};

struct HighSpeedConvertSettings {
    int32_t wavelengthOffset = 1510000;
    int32_t channelOffset = 0;
    std::string fileName = kDefaultHighSpeedFileName;  // the same [HDAQ] FileName
};

// Reads [HDAQ] and [HDAQ_CONVERT]; both records get [HDAQ] FileName.
void LoadHighSpeedSettings(const SettingsStore& settings, HighSpeedDaqSettings& daq,
                           HighSpeedConvertSettings& convert);

// "port count second interval fileName" and "wavelengthOffset channelOffset fileName".
std::string DaqArgumentLine(const HighSpeedDaqSettings& s);
std::string ConvertArgumentLine(const HighSpeedConvertSettings& s);

// Starts script from the current directory with the argument line split at
// blanks (so a file name with blanks arrives as several arguments). The
// window ignores the result; the command line reports a missing script. On a
// desktop the script runs in a terminal window of its own.
StartResult StartLauncherScript(const std::string& script, const std::string& argumentLine);

// The acquisition form: boxes 1037..1041 (port, count, second, interval, file
// name). Its own copies are what OK passes; each change that differs from
// the main window's record is written to the settings file at once.
class HighSpeedDaqForm {
public:
    enum Box { kPort = 0, kCount, kSecond, kInterval, kFileName };
    static constexpr int kFirstBoxId = 1037;

    HighSpeedDaqForm(SettingsStore& settings, HighSpeedDaqSettings& daq, HighSpeedConvertSettings& convert)
        : settings_(settings), daq_(daq), convert_(convert) {}

    // The texts the boxes start with, in box order. Filling a box counts as a
    // change of it: the window reports each one through OnBoxChanged.
    std::array<std::string, 5> InitialTexts() const;
    // Fills the own copies as the boxes would (for use without a window).
    void Init();
    // A box's text changed (each keystroke, a paste, the filling).
    void OnBoxChanged(Box box, const std::string& text);

    std::string ArgumentLine() const;
    // OK: starts "daq.sh" with the argument line. The window closes the form.
    StartResult Ok() const { return StartLauncherScript(kDaqScript, ArgumentLine()); }

    // The form's own copies.
    int32_t port = 0;
    int32_t count = 0;
    int32_t second = 0;
    int32_t interval = 0;
    std::string fileName;

private:
    SettingsStore& settings_;
    HighSpeedDaqSettings& daq_;
    HighSpeedConvertSettings& convert_;
};

// The conversion form: boxes 1061 (wavelength offset), 1062 (channel
// offset), 1063 (file name).
class HighSpeedConvertForm {
public:
    enum Box { kWavelengthOffset = 0, kChannelOffset, kFileName };
    static constexpr int kFirstBoxId = 1061;

    HighSpeedConvertForm(SettingsStore& settings, HighSpeedDaqSettings& daq, HighSpeedConvertSettings& convert)
        : settings_(settings), daq_(daq), convert_(convert) {}

    std::array<std::string, 3> InitialTexts() const;
    void Init();
    void OnBoxChanged(Box box, const std::string& text);

    std::string ArgumentLine() const;
    StartResult Ok() const { return StartLauncherScript(kConvertScript, ArgumentLine()); }

    int32_t wavelengthOffset = 0;
    int32_t channelOffset = 0;
    std::string fileName;

private:
    SettingsStore& settings_;
    HighSpeedDaqSettings& daq_;
    HighSpeedConvertSettings& convert_;
};

}  // namespace lumora
