#include <gtest/gtest.h>

#include "window/string_table.h"

namespace lumora {

TEST(StringTable, BothLanguagesAndFormatting) {
    EXPECT_EQ(LoadString(212, Language::English), "Open");
    EXPECT_EQ(LoadString(212, Language::Chinese), "打开");
    EXPECT_EQ(LoadString(9999, Language::English), "");
    EXPECT_EQ(LanguageFromSetting(7), Language::Chinese);
    EXPECT_EQ(LanguageFromSetting(0), Language::English);
    std::string text = StringPrintf(LoadString(215, Language::English).c_str(), "7000");
    EXPECT_EQ(text.rfind("Port:7000, Network startup failed\n", 0), 0u);
}

}  // namespace lumora
