#pragma once
// The about box: the program icon, "lumora Ver:1.0.2.6", the copyright line
// and OK.
#include <QDialog>

#include "window/string_table.h"

namespace lumora {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(Language lang, QWidget* parent = nullptr);
};

}  // namespace lumora
