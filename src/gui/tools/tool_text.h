#pragma once
// Small helpers shared by the tool windows.
#include <QString>
#include <string>

#include "window/string_table.h"

namespace lumora::tools {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// A caption in the interface language.
struct Caption {
    const char* english;
    const char* chinese;
    QString In(Language lang) const { return QString::fromUtf8(lang == Language::Chinese ? chinese : english); }
};

// Object names of controls: "ctl" and the control's identifier.
inline QString ControlName(int id) { return QStringLiteral("ctl%1").arg(id); }

}  // namespace lumora::tools
