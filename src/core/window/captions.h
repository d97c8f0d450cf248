#pragma once
// Captions of the main window in both languages: the texts on buttons and
// check boxes, the labels beside edits and fields, the group titles, the view
// tabs and the menu. Texts are exact, trailing blanks included.
#include <string>
#include <vector>

#include "window/string_table.h"

namespace lumora {

// Text on a button or check box; empty when the control has none.
std::string ControlCaption(int controlId, Language lang);
// Label beside an edit, combo or field; empty when the control has none.
std::string ControlLabel(int controlId, Language lang);
// Text a display field shows before the first status refresh.
std::string ControlInitialText(int controlId);

enum class Group { DataInterface, DataInformation, DataSave, SourceData, ListView, Spectrum, TraceView, RealtimeView };
std::string GroupTitle(Group group, Language lang);

// Label of view tab 0..4.
std::string ViewTabCaption(int tab, Language lang);

// The window's menu, in order. level 0 is a menu of the bar, 1 an entry in
// it, 2 an entry of a submenu. id is the command, 0 for a popup, -1 for a
// separator.
struct MenuEntry {
    int level;
    int id;
    const char* english;
    const char* chinese;
    bool enabled;
    int onlyIn;  // -1 both interfaces, else the Language value it appears in
};
const std::vector<MenuEntry>& MainMenu();
// Text of a menu entry by command id in a language; empty when unknown.
std::string MenuText(int commandId, Language lang);

// Title of the main window, "lumora Ver: 1.0.2.6", and the about box lines.
std::string WindowTitle();
std::string AboutVersionLine();
std::string AboutCopyrightLine();
std::string AboutTitle(Language lang);
std::string AboutOkCaption(Language lang);

}  // namespace lumora
