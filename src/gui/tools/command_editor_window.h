#pragma once
// "Commad": the modeless command editor. A name box and a text box (both
// multi-line, Enter makes a line break), the list of the user's commands
// with the newest entry on top, and Send, Append, Delete, Standard, Save and
// Cancel. Closing it only hides it: the list, the boxes and unsaved changes
// stay for the next time it is shown.
#include <QDialog>
#include <functional>
#include <string>

#include "window/string_table.h"
#include "device/command_list.h"

class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace lumora {

class SettingsStore;

class CommandEditorWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kNameBox = 1068, kTextBox = 1069, kList = 1071, kSend = 1074, kAppend = 1075,
                         kDelete = 1076, kStandard = 1072, kSave = 1073, kCancel = 2;

    // post hands a command to the main window, which sends it later. Reads
    // [Command] Array and fills the list.
    CommandEditorWindow(SettingsStore& settings, std::function<void(std::string)> post, Language lang,
                        QWidget* parent = nullptr);

    CommandEditor& Editor() { return editor_; }
    QPlainTextEdit* NameBox() const { return name_; }
    QPlainTextEdit* TextBox() const { return text_; }
    QTableWidget* List() const { return list_; }
    QPushButton* Button(int id) const;

    // Shows a message about the editor's work (a refused entry); by default
    // a warning box over the editor.
    std::function<void(const QString& text)> showMessage;

public slots:
    void reject() override;  // Cancel, Escape, close box: hide

private:
    void ShowRows();
    void ShowBoxes();
    int SelectedRow() const;

    CommandEditor editor_;
    QPlainTextEdit* name_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QTableWidget* list_ = nullptr;
    int updating_ = 0;  // >0 while the window itself changes the widgets
};

}  // namespace lumora
