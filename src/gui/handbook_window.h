#pragma once
// Help > Handbook: the guide (docs/guide.md, or guide.zh.md in the Chinese
// interface) shown as Markdown in a window of its own, with its pictures.
#include <QDialog>
#include <QString>
#include <QStringList>

#include "window/string_table.h"

class QTextBrowser;

namespace lumora {

// The guide of the language in the first of folders that holds it; the
// English guide when no folder has the Chinese one. Empty when there is none.
QString GuideIn(const QStringList& folders, Language lang);
// The guide of the language: the installed copy (PREFIX/share/doc/lumora
// beside the running program's bin/), else the source tree's docs/ of a
// build.
QString GuidePath(Language lang);

class HandbookWindow : public QDialog {
    Q_OBJECT
public:
    HandbookWindow(const QString& guidePath, Language lang, QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

}  // namespace lumora
