#pragma once
// One-line tooltips of the main window's controls, menu commands and view
// tabs, in the interface language.
#include <QString>
#include <QWidget>

#include "window/string_table.h"

namespace lumora {

// The tooltip of a control or menu command by its identifier; empty when it
// has none.
QString ControlTip(int id, Language lang);
// The tooltip of view tab `tab` (0 "List" .. 4 "Active SA").
QString ViewTabTip(int tab, Language lang);
// Gives the controls of a tool window (found by the window's and their object
// names) their one-line tooltips.
void ApplyToolTips(QWidget* window, Language lang);

}  // namespace lumora
