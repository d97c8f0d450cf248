#include "device/command_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/device/temp_dir.h"
#include "settings/settings_store.h"

namespace lumora {
namespace {

using Rows = std::vector<std::string>;

struct EditorFixture : ::testing::Test {
    // An editor over a settings file holding [Command] Array = array.
    CommandEditor& EditorWith(const std::string& array) {
        settings.SetString("Command", "Array", array);
        editor.Load();
        return editor;
    }
    test::TempDir dir;
    SettingsStore settings{dir.File("Lumora.ini")};
    std::vector<std::string> posted;
    CommandEditor editor{settings, [this](std::string text) { posted.push_back(std::move(text)); }};
};

TEST_F(EditorFixture, MissingOrEmptyArrayGivesTheOneDefaultRow) {
    editor.Load();
    EXPECT_EQ(editor.Rows(), Rows{"EnableWavelength@*chw!;"});
    EditorWith("");
    EXPECT_EQ(editor.Rows(), Rows{"EnableWavelength@*chw!;"});
    EXPECT_EQ(editor.Array(), "EnableWavelength@*chw!;");
}

TEST_F(EditorFixture, StandardListShowsReversedAndSavesInItsOwnOrder) {
    editor.Load();
    editor.Standard();
    ASSERT_EQ(editor.Rows().size(), 7u);
    EXPECT_EQ(editor.Rows().front(), "EnableWavelength@*CHW!;");
    EXPECT_EQ(editor.Rows().back(), "SwitchChannel-02@*FTS:1;");
    EXPECT_EQ(std::string(kStandardCommandArray).size(), 138u);
    editor.Save();
    EXPECT_EQ(settings.GetString("Command", "Array", "", 2600), kStandardCommandArray);

    // Deleting the top row and saving keeps the first six entries.
    EXPECT_TRUE(editor.Delete(0));
    editor.Save();
    std::string saved = settings.GetString("Command", "Array", "", 2600);
    EXPECT_EQ(saved,
              "SwitchChannel-02@*FTS:1;&SwitchChannel-01@*FTS:0;&SaveConfig@*SAV!;&ReadConfig@RGB?;&Config@*CFG!;"
              "&EnableOS@*CHS!;");

    // A fresh editor shows what was saved.
    CommandEditor again(settings);
    again.Load();
    EXPECT_EQ(again.Rows().front(), "EnableOS@*CHS!;");
}

TEST_F(EditorFixture, ListingStopsAtAnEmptyEntryOrAfter100AndDeleteDropsTheRest) {
    EditorWith("a@1&b@2&&c@3&d@4");
    EXPECT_EQ(editor.Rows(), (Rows{"b@2", "a@1"}));
    EXPECT_EQ(editor.Array(), "a@1&b@2&&c@3&d@4");  // unchanged until an operation rebuilds it
    editor.Delete(0);
    EXPECT_EQ(editor.Array(), "a@1");

    std::string array;
    for (int i = 1; i <= 101; ++i) array += (i > 1 ? "&" : "") + ("n" + std::to_string(i) + "@c" + std::to_string(i));
    EditorWith(array);
    ASSERT_EQ(editor.Rows().size(), 100u);
    EXPECT_EQ(editor.Rows().front(), "n100@c100");
    editor.Delete(99);  // the bottom row, entry 1
    ASSERT_EQ(ListedCommandEntries(editor.Array()).size(), 99u);
    EXPECT_EQ(editor.Array().substr(0, 6), "n2@c2&");
    EXPECT_EQ(editor.Array().find("n101"), std::string::npos);

    // Delete with nothing selected changes nothing.
    editor.nameBox = "keep";
    EXPECT_FALSE(editor.Delete(-1));
    EXPECT_FALSE(editor.Delete(99));
    EXPECT_EQ(editor.nameBox, "keep");
}

TEST_F(EditorFixture, SelectingARowFillsOnlyTheBoxesWhosePartIsNotEmpty) {
    const std::string sep = kCommandSeparator;
    EditorWith("Name@*CFG!;&@*SAV!;&NoAt&" + sep + "&x@y@z");
    // Rows: x@y@z, separator, NoAt, @*SAV!;, Name@*CFG!;
    editor.SelectRow(4);
    EXPECT_EQ(editor.nameBox, "Name");
    EXPECT_EQ(editor.textBox, "*CFG!;");
    editor.SelectRow(3);  // empty name: the name box stays
    EXPECT_EQ(editor.nameBox, "Name");
    EXPECT_EQ(editor.textBox, "*SAV!;");
    editor.SelectRow(2);  // no "@": the whole entry is the name, the text stays
    EXPECT_EQ(editor.nameBox, "NoAt");
    EXPECT_EQ(editor.textBox, "*SAV!;");
    editor.SelectRow(0);  // the text ends at a second "@"
    EXPECT_EQ(editor.nameBox, "x");
    EXPECT_EQ(editor.textBox, "y");
    editor.SelectRow(1);
    EXPECT_EQ(editor.nameBox, "@@");
    EXPECT_EQ(editor.textBox, "");
    editor.SelectRow(-1);
    EXPECT_EQ(editor.nameBox, "@@");

    // With "@@" in the name box, Append adds a separator.
    EXPECT_TRUE(editor.Append());
    EXPECT_EQ(editor.Rows().front(), sep);
}

TEST_F(EditorFixture, AppendAddsNameAtTextAndNeverASeparatorToAnEmptyArray) {
    EditorWith("Only@*CFG!;");
    editor.Delete(0);
    EXPECT_EQ(editor.Array(), "");

    editor.nameBox = "@@";
    EXPECT_FALSE(editor.Append());
    EXPECT_EQ(editor.Array(), "");

    editor.nameBox = "NoText";
    editor.textBox = "";
    EXPECT_FALSE(editor.Append());

    editor.nameBox = "";
    editor.textBox = "*SAV!;";
    EXPECT_TRUE(editor.Append());
    EXPECT_EQ(editor.Array(), "@*SAV!;");

    editor.nameBox = "Multi";
    editor.textBox = "*FTS:1;\r\n";
    EXPECT_TRUE(editor.Append());
    EXPECT_EQ(editor.Array(), "@*SAV!;&Multi@*FTS:1;\r\n");
    // "@" or "&" would split the entry when the list is read back.
    editor.textBox = "*A&B;";
    EXPECT_FALSE(editor.Append());
    EXPECT_EQ(editor.Array(), "@*SAV!;&Multi@*FTS:1;\r\n");
    editor.textBox = "*FTS:1;\r\n";
    EXPECT_EQ(editor.Rows(), (Rows{"Multi@*FTS:1;\r\n", "@*SAV!;"}));
    // Nothing reaches the settings file before Save.
    EXPECT_EQ(settings.GetString("Command", "Array", "?"), "Only@*CFG!;");

    // Send posts the text box character for character, line break included.
    editor.SelectRow(0);
    EXPECT_TRUE(editor.Send());
    editor.textBox.clear();
    EXPECT_FALSE(editor.Send());
    EXPECT_EQ(posted, (std::vector<std::string>{"*FTS:1;\r\n"}));
}

TEST_F(EditorFixture, StoredArrayIsCutAt2599CharactersAndLongEntriesSurviveDelete) {
    // 3000 characters of three bytes each: the cut counts characters.
    std::string longName;
    for (int i = 0; i < 3000; ++i) longName += "指";
    EditorWith(longName + "@x");
    ASSERT_EQ(editor.Rows().size(), 1u);
    EXPECT_EQ(editor.Array().size(), 2599u * 3);

    // An entry longer than 1023 characters is kept whole when the array is
    // rebuilt after a Delete.
    std::string big(1500, 'n');
    EditorWith(big + "@*CFG!;&a@1&b@2");
    editor.Delete(0);
    EXPECT_EQ(editor.Array(), big + "@*CFG!;&a@1");
}

}  // namespace
}  // namespace lumora
