#pragma once
// The [DataConvert] values that steer a conversion run, their loading and
// saving, and the question that shows them once at the start of every run.
#include <functional>
#include <string>

#include "window/string_table.h"

namespace lumora {

class SettingsStore;

struct ConvertSettings {
    std::string m_FileLineMax = "200000";  // records per output file (text as stored)
    std::string m_AlignErrorMax = "100";   // align errors tolerated in a row (text as stored)
    int m_OnlyMatched = 0;
    int m_NeedPV = 1;
    int m_NeedSN = 1;
    int m_NeedDate = 1;
    int m_NeedUnitTime = 1;
    int m_TitleAlign = 1;
    int m_NeedSingleSensor = 0;  // kept and saved only
    // 1: times with milliseconds ("HH:MM:SS.mmm") and UTime with six decimals.
    int m_NeedMs = 0;
};

// Reads the keys of [DataConvert] in their fixed order (defaults above): the
// nine of old, then NeedMs.
void LoadConvertSettings(const SettingsStore& store, ConvertSettings& values);
// Writes the keys in the same order; texts exactly as held, integers as "%d".
void SaveConvertSettings(SettingsStore& store, const ConvertSettings& values);

// Records per output file: the text's leading integer, 200000 when below 1.
int FileLineMaxValue(const std::string& text);
// Align errors tolerated in a row: the text's leading integer, 0 when none.
int AlignErrorMaxValue(const std::string& text);

// The settings question (string 219) filled with the values, in lang.
std::string ConvertSettingsQuestion(const ConvertSettings& values, Language lang);

// How a run puts the settings question to the user. The conversion thread
// calls these and waits for them; whoever provides them decides where the box
// and the dialog are shown (the desktop on its UI thread, the command line
// answers No at once).
struct ConvertSettingsUi {
    // Shows text with Yes and No (No the default); true for Yes.
    std::function<bool(const std::string& text)> askChange;
    // Runs the settings dialog over values; true when it closed with OK (and
    // values then hold what the user entered).
    std::function<bool(ConvertSettings& values)> editSettings;
};

}  // namespace lumora
