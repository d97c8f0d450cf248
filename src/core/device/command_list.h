#pragma once
// The user's list of named commands and every operation of the command editor,
// without the window. The list is one line of text: entries "name@command"
// joined by "&"; an entry of 40 hyphens separates groups. The rows show the
// entries in reverse order: the last entry is the top row (row 0).
#include <functional>
#include <string>
#include <vector>

namespace lumora {

class SettingsStore;

inline constexpr char kCommandSeparator[] = "----------------------------------------";
inline constexpr char kDefaultCommandArray[] = "EnableWavelength@*chw!;";
inline constexpr char kStandardCommandArray[] =
    "SwitchChannel-02@*FTS:1;&SwitchChannel-01@*FTS:0;&SaveConfig@*SAV!;&ReadConfig@RGB?;&Config@*CFG!;"
    "&EnableOS@*CHS!;&EnableWavelength@*CHW!;";
// The name that stands for a separator in the name box.
inline constexpr char kSeparatorName[] = "@@";
inline constexpr int kMaxCommandRows = 100;
// Characters of [Command] Array read from the settings file.
inline constexpr int kMaxCommandArrayChars = 2599;

// The entries of an array in its own order, up to the first empty entry and at
// most kMaxCommandRows of them.
std::vector<std::string> ListedCommandEntries(const std::string& array);

// Whether a name or a command text holds "@" or "&", the separators of the
// stored list: such an entry would come back split into other commands.
bool SplitsCommandList(const std::string& name, const std::string& text);

class CommandEditor {
public:
    // post hands a command to the main window, which sends it later (the
    // editor's way of sending). Empty when there is no main window.
    explicit CommandEditor(SettingsStore& settings, std::function<void(std::string)> post = {})
        : settings_(settings), post_(std::move(post)) {}

    // The editor's start: reads [Command] Array (an empty value gives the
    // default list) and fills the rows.
    void Load();

    // The name and text boxes; the window stores what the user types here and
    // shows what the operations put here.
    std::string nameBox;
    std::string textBox;

    // The rows as shown, row 0 at the top.
    const std::vector<std::string>& Rows() const { return rows_; }
    const std::string& Array() const { return commandArray_; }

    // A row was selected (negative: nothing selected): its parts go into the
    // boxes; an empty part leaves its box as it was.
    void SelectRow(int row);
    // "Append": the boxes become a new last entry (a separator when the name
    // is "@@"). A name or text that would split the list is refused (the
    // window says why). Returns whether the array changed.
    bool Append();
    // "Delete": removes a row and empties both boxes; the array is rebuilt
    // from the rows that remain. Returns whether a row was deleted.
    bool Delete(int selectedRow);
    // "Standard": the standard list, not saved.
    void Standard();
    // "Save": writes the array to [Command] Array.
    void Save();
    // "Send": posts the text box to the main window unless it is empty.
    bool Send();

private:
    void FillRows();

    SettingsStore& settings_;
    std::function<void(std::string)> post_;
    std::string commandArray_;
    std::vector<std::string> rows_;
};

}  // namespace lumora
