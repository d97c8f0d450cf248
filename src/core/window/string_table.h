#pragma once
// The program's texts by identifier, in English and Simplified Chinese.
#include <string>

namespace lumora {

enum class Language { English = 0, Chinese = 1 };

// The language texts are loaded in (set at start-up from [View] Language).
void SetUiLanguage(Language lang);
Language UiLanguage();
// [View] Language: any nonzero value means Chinese.
inline Language LanguageFromSetting(int value) { return value ? Language::Chinese : Language::English; }

// Text of string id in the current (or the given) language; empty when unknown.
std::string LoadString(int id);
std::string LoadString(int id, Language lang);

// printf into a std::string (the texts carry %s and %d placeholders).
std::string StringPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lumora
