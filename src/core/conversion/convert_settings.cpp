#include "conversion/convert_settings.h"

#include <cctype>
#include <climits>

#include "conversion/conversion_context.h"
#include "settings/settings_store.h"

namespace lumora {
namespace {

constexpr const char* kSection = "DataConvert";

// Leading integer of a text as the C library's atoi reads it (blanks, an
// optional sign, digits), saturated instead of overflowing; no digits gives 0.
long long LeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < (1LL << 40)) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

void LoadConvertSettings(const SettingsStore& store, ConvertSettings& v) {
    v.m_FileLineMax = store.GetString(kSection, "FileLineMax", "200000", 260);
    v.m_AlignErrorMax = store.GetString(kSection, "AlignErrorMax", "100", 260);
    v.m_OnlyMatched = store.GetInt(kSection, "OnlyMatched", 0);
    v.m_NeedPV = store.GetInt(kSection, "NeedPV", 1);
    v.m_NeedSN = store.GetInt(kSection, "NeedSN", 1);
    v.m_NeedDate = store.GetInt(kSection, "NeedDate", 1);
    v.m_NeedUnitTime = store.GetInt(kSection, "NeedUnitTime", 1);
    v.m_TitleAlign = store.GetInt(kSection, "TitleAlign", 1);
    v.m_NeedSingleSensor = store.GetInt(kSection, "NeedSingleSensor", 0);
    v.m_NeedMs = store.GetInt(kSection, "NeedMs", 0);
}

void SaveConvertSettings(SettingsStore& store, const ConvertSettings& v) {
    store.SetString(kSection, "FileLineMax", v.m_FileLineMax);
    store.SetString(kSection, "AlignErrorMax", v.m_AlignErrorMax);
    store.SetInt(kSection, "OnlyMatched", v.m_OnlyMatched);
    store.SetInt(kSection, "NeedPV", v.m_NeedPV);
    store.SetInt(kSection, "NeedSN", v.m_NeedSN);
    store.SetInt(kSection, "NeedDate", v.m_NeedDate);
    store.SetInt(kSection, "NeedUnitTime", v.m_NeedUnitTime);
    store.SetInt(kSection, "TitleAlign", v.m_TitleAlign);
    store.SetInt(kSection, "NeedSingleSensor", v.m_NeedSingleSensor);
    store.SetInt(kSection, "NeedMs", v.m_NeedMs);
}

int FileLineMaxValue(const std::string& text) {
    long long v = LeadingInteger(text);
    if (v < 1) return 200000;
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

int AlignErrorMaxValue(const std::string& text) {
    long long v = LeadingInteger(text);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

std::string ConvertSettingsQuestion(const ConvertSettings& v, Language lang) {
    return StringPrintf(LoadString(219, lang).c_str(), v.m_FileLineMax.c_str(), v.m_NeedPV, v.m_NeedSN, v.m_NeedDate,
                        v.m_NeedUnitTime, v.m_TitleAlign, v.m_AlignErrorMax.c_str());
}

void ConfirmConvertSettings(ConversionContext& ctx) {
    int expected = 1;
    if (!ctx.m_askConvertSettings.compare_exchange_strong(expected, 0)) return;
    ConvertSettings values;
    LoadConvertSettings(ctx.store, values);
    // The question follows the language in the settings file now, not the
    // one the program started in.
    Language lang = LanguageFromSetting(ctx.store.GetInt("View", "Language", 0));
    std::string text = ConvertSettingsQuestion(values, lang);
    if (ctx.ui.askChange && ctx.ui.askChange(text) && ctx.ui.editSettings) {
        ConvertSettings edited = values;
        if (ctx.ui.editSettings(edited)) values = edited;
    }
    SaveConvertSettings(ctx.store, values);
    if (ctx.needMsOverride >= 0) values.m_NeedMs = ctx.needMsOverride;
    ctx.SetSettings(values);
}

}  // namespace lumora
