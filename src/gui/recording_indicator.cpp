#include "recording_indicator.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include "app/lumora_dlg.h"

namespace lumora {

namespace {

const char* const kRed = "#e00000";
const char* const kAmber = "#f0a000";

qint64 FreeBytesOf(const QString& folder) {
    // A folder the recorder has not made yet: its file system is its parent's.
    QFileInfo at(QDir(folder).absolutePath());
    while (!at.exists() && !at.isRoot() && at.absoluteFilePath() != at.absolutePath()) at = QFileInfo(at.absolutePath());
    QStorageInfo storage(at.absoluteFilePath());
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

}  // namespace

RecordingIndicator::RecordingIndicator(CLumoraDlg& dlg, Language lang, QWidget* parent)
    : QLabel(parent), dlg_(dlg), lang_(lang) {
    setObjectName("recordingIndicator");
    setText(QString::fromUtf8("● REC"));
    setContentsMargins(4, 0, 4, 0);
    freeBytes = FreeBytesOf;
    hide();
}

void RecordingIndicator::Refresh() {
    const bool recording = dlg_.LiveEnable() && dlg_.PortOpen();
    if (!recording) {
        hide();
        return;
    }
    QString folder = QString::fromStdString(dlg_.SaveDir());
    if (folder.isEmpty()) folder = QDir::currentPath();
    const qint64 free = freeBytes ? freeBytes(folder) : -1;
    lowSpace_ = free >= 0 && free < kLowSpaceBytes;
    const bool chinese = lang_ == Language::Chinese;
    QString tip = (chinese ? QString::fromUtf8("正在记录到 %1") : QStringLiteral("Recording to %1")).arg(folder);
    if (lowSpace_) {
        const QString left = QLocale::c().formattedDataSize(free, 1, QLocale::DataSizeIecFormat);
        tip += (chinese ? QString::fromUtf8("：所在磁盘仅剩 %1") : QStringLiteral(": only %1 left on its drive")).arg(left);
    }
    setToolTip(tip);
    setStyleSheet(QStringLiteral("QLabel { color: %1; font-weight: bold; }").arg(lowSpace_ ? kAmber : kRed));
    show();
}

}  // namespace lumora
