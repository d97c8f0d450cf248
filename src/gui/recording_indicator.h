#pragma once
// "● REC" at the right end of the menu bar: shown while recording is enabled
// and the data port is open, red, or amber with the space left in its tooltip
// when the recording folder's file system has less than 1 GiB free. It looks
// again at every status refresh (once a second).
#include <QLabel>
#include <QString>
#include <functional>

#include "window/string_table.h"

namespace lumora {

class CLumoraDlg;

class RecordingIndicator : public QLabel {
    Q_OBJECT
public:
    static constexpr qint64 kLowSpaceBytes = qint64(1) << 30;

    RecordingIndicator(CLumoraDlg& dlg, Language lang, QWidget* parent = nullptr);

    // Shows, colours or hides the indicator as the program stands now.
    void Refresh();
    bool LowSpace() const { return lowSpace_; }

    // Bytes free for the user on the file system that holds `folder` (or its
    // nearest existing parent); -1 when unknown. Tests replace it.
    std::function<qint64(const QString& folder)> freeBytes;

private:
    CLumoraDlg& dlg_;
    Language lang_;
    bool lowSpace_ = false;
};

}  // namespace lumora
