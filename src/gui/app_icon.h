#pragma once
#include <QIcon>

namespace lumora {

// The program icon: window, about box and tray.
QIcon ProgramIcon();

}  // namespace lumora
