#include "device/command_list.h"

#include "device/text_utils.h"
#include "settings/settings_store.h"

namespace lumora {
std::vector<std::string> ListedCommandEntries(const std::string& array) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (entries.size() < static_cast<size_t>(kMaxCommandRows)) {
        size_t end = array.find('&', start);
        std::string entry = array.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (entry.empty()) break;
        entries.push_back(std::move(entry));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return entries;
}

void CommandEditor::Load() {
    // Read a little more than the limit in bytes so that the cut below is
    // made in characters, whatever the text holds.
    std::string array = settings_.GetString("Command", "Array", kDefaultCommandArray,
                                            kMaxCommandArrayChars * 4 + 1);
    array = CutCharacters(array, kMaxCommandArrayChars);
    commandArray_ = array.empty() ? std::string(kDefaultCommandArray) : array;
    FillRows();
}

void CommandEditor::FillRows() {
    rows_.clear();
    for (std::string& entry : ListedCommandEntries(commandArray_)) rows_.insert(rows_.begin(), std::move(entry));
}

void CommandEditor::SelectRow(int row) {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
    const std::string& entry = rows_[static_cast<size_t>(row)];
    if (entry == kCommandSeparator) {
        textBox.clear();
        nameBox = kSeparatorName;
        return;
    }
    size_t at = entry.find('@');
    std::string name = entry.substr(0, at);
    std::string text;
    if (at != std::string::npos) {
        size_t second = entry.find('@', at + 1);
        text = entry.substr(at + 1, second == std::string::npos ? std::string::npos : second - at - 1);
    }
    if (!name.empty()) nameBox = name;
    if (!text.empty()) textBox = text;
}

bool SplitsCommandList(const std::string& name, const std::string& text) {
    return name.find_first_of("@&") != std::string::npos || text.find_first_of("@&") != std::string::npos;
}

bool CommandEditor::Append() {
    const bool separator = nameBox == kSeparatorName;
    if (!separator && textBox.empty()) return false;
    if (!separator && SplitsCommandList(nameBox, textBox)) return false;
    const std::string entry = separator ? std::string(kCommandSeparator) : nameBox + "@" + textBox;
    bool changed = true;
    if (commandArray_.empty()) {
        if (separator)
            changed = false;
        else
            commandArray_ = entry;
    } else {
        commandArray_ += "&" + entry;
    }
    FillRows();
    return changed;
}

bool CommandEditor::Delete(int selectedRow) {
    if (selectedRow < 0 || static_cast<size_t>(selectedRow) >= rows_.size()) return false;
    rows_.erase(rows_.begin() + selectedRow);
    nameBox.clear();
    textBox.clear();
    // From the bottom row up gives the array's own order. Rows are taken
    // whole: a long entry is never cut while the array is rebuilt.
    std::string array;
    for (auto it = rows_.rbegin(); it != rows_.rend(); ++it) {
        if (!array.empty()) array += "&";
        array += *it;
    }
    commandArray_ = std::move(array);
    return true;
}

void CommandEditor::Standard() {
    commandArray_ = kStandardCommandArray;
    FillRows();
}

void CommandEditor::Save() { settings_.SetString("Command", "Array", commandArray_); }

bool CommandEditor::Send() {
    if (!post_ || textBox.empty()) return false;
    post_(textBox);
    return true;
}

}  // namespace lumora
