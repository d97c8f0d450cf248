#include "device/high_speed.h"

#include "window/string_table.h"
#include "device/text_utils.h"
#include "settings/settings_store.h"

namespace lumora {
namespace {

// A number box changed: the own copy takes the number; the record and the
// settings file change only when the number differs from the record, and
// then the file gets the text exactly as typed ("0080", or an empty text).
void NumberChanged(SettingsStore& settings, const char* section, const char* key, const std::string& text,
                   int32_t& own, int32_t& record) {
    own = ParseLeadingInt(text);
    if (own != record) {
        settings.SetString(section, key, text);
        record = own;
    }
}

// The file name is shared by both launchers: a change made in either form is
// written once and seen by both records.
void FileNameChanged(SettingsStore& settings, const std::string& text, std::string& own, const std::string& compareWith,
                     HighSpeedDaqSettings& daq, HighSpeedConvertSettings& convert) {
    own = CutCharacters(text, kHighSpeedFileNameChars);
    if (own != compareWith) {
        settings.SetString("HDAQ", "FileName", own);
        daq.fileName = own;
        convert.fileName = own;
    }
}

}  // namespace

void LoadHighSpeedSettings(const SettingsStore& settings, HighSpeedDaqSettings& daq,
                           HighSpeedConvertSettings& convert) {
    daq.port = settings.GetInt("HDAQ", "Port", 8190);
    daq.count = settings.GetInt("HDAQ", "Count", 500000);
    daq.second = settings.GetInt("HDAQ", "Second", 120);
    daq.interval = settings.GetInt("HDAQ", "Interval", 10);
    daq.fileName = settings.GetString("HDAQ", "FileName", kDefaultHighSpeedFileName, kHighSpeedFileNameChars + 1);
    convert.wavelengthOffset = settings.GetInt("HDAQ_CONVERT", "WavelengthOffset", 1510000);
    convert.channelOffset = settings.GetInt("HDAQ_CONVERT", "ChannelOffset", 0);
    convert.fileName = daq.fileName;
}

std::string DaqArgumentLine(const HighSpeedDaqSettings& s) {
    return StringPrintf("%d %d %d %d %s", s.port, s.count, s.second, s.interval, s.fileName.c_str());
}

std::string ConvertArgumentLine(const HighSpeedConvertSettings& s) {
    return StringPrintf("%d %d %s", s.wavelengthOffset, s.channelOffset, s.fileName.c_str());
}

StartResult StartLauncherScript(const std::string& script, const std::string& argumentLine) {
    return StartShellScriptInTerminal(script, SplitAtBlanks(argumentLine));
}

// --- acquisition form ---

std::array<std::string, 5> HighSpeedDaqForm::InitialTexts() const {
    return {std::to_string(daq_.port), std::to_string(daq_.count), std::to_string(daq_.second),
            std::to_string(daq_.interval), daq_.fileName};
}

void HighSpeedDaqForm::Init() {
    std::array<std::string, 5> texts = InitialTexts();
    for (int box = kPort; box <= kFileName; ++box) OnBoxChanged(static_cast<Box>(box), texts[static_cast<size_t>(box)]);
}

void HighSpeedDaqForm::OnBoxChanged(Box box, const std::string& text) {
    switch (box) {
        case kPort: NumberChanged(settings_, "HDAQ", "Port", text, port, daq_.port); break;
        case kCount: NumberChanged(settings_, "HDAQ", "Count", text, count, daq_.count); break;
        case kSecond: NumberChanged(settings_, "HDAQ", "Second", text, second, daq_.second); break;
        case kInterval: NumberChanged(settings_, "HDAQ", "Interval", text, interval, daq_.interval); break;
        case kFileName: FileNameChanged(settings_, text, fileName, daq_.fileName, daq_, convert_); break;
    }
}

std::string HighSpeedDaqForm::ArgumentLine() const {
    return DaqArgumentLine(HighSpeedDaqSettings{port, count, second, interval, fileName});
}

// --- conversion form ---

std::array<std::string, 3> HighSpeedConvertForm::InitialTexts() const {
    return {std::to_string(convert_.wavelengthOffset), std::to_string(convert_.channelOffset), convert_.fileName};
}

void HighSpeedConvertForm::Init() {
    std::array<std::string, 3> texts = InitialTexts();
    for (int box = kWavelengthOffset; box <= kFileName; ++box)
        OnBoxChanged(static_cast<Box>(box), texts[static_cast<size_t>(box)]);
}

void HighSpeedConvertForm::OnBoxChanged(Box box, const std::string& text) {
    switch (box) {
        case kWavelengthOffset:
            NumberChanged(settings_, "HDAQ_CONVERT", "WavelengthOffset", text, wavelengthOffset,
                          convert_.wavelengthOffset);
            break;
        case kChannelOffset:
            NumberChanged(settings_, "HDAQ_CONVERT", "ChannelOffset", text, channelOffset, convert_.channelOffset);
            break;
        case kFileName: FileNameChanged(settings_, text, fileName, convert_.fileName, daq_, convert_); break;
    }
}

std::string HighSpeedConvertForm::ArgumentLine() const {
    return ConvertArgumentLine(HighSpeedConvertSettings{wavelengthOffset, channelOffset, fileName});
}

}  // namespace lumora
