#include "tools/conversion_window.h"

#include <QDesktopServices>
#include <algorithm>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "tools/tool_text.h"
#include "control_tips.h"

namespace lumora {

using tools::Caption;
using tools::Q;

namespace {

const Caption kTitle{"Data Convert", "数据转换"};
const Caption kFolder{"Folder: %1", "目录：%1"};
const Caption kFiles{"Files: %1/%2", "文件：%1/%2"};
const Caption kConverting{"Converting...", "正在转换..."};
const Caption kStopping{"Stopping...", "正在停止..."};
const Caption kCancelled{"Cancelled", "已取消"};
const Caption kFinished{"Finished: %1 converted, %2 failed", "完成：已转换 %1 个，失败 %2 个"};
const Caption kNoFileManager{"No file manager was found to show %1", "未找到可显示 %1 的文件管理器"};
const Caption kCancel{"Cancel", "取消"};
const Caption kOpenFolder{"Open folder", "打开文件夹"};
const Caption kClose{"Close", "关闭"};

}  // namespace

bool ShowFolderInFileManager(const std::string& directory) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(Q(directory)).absolutePath()));
}

ConversionWindow::ConversionWindow(Language lang, QWidget* parent)
    : QDialog(parent), showFolder(ShowFolderInFileManager), lang_(lang) {
    setObjectName("conversionWindow");
    setWindowTitle(kTitle.In(lang));
    auto* layout = new QVBoxLayout(this);
    folder_ = new QLabel(this);
    folder_->setObjectName("conversionFolder");
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(folder_);
    files_ = new QLabel(this);
    files_->setObjectName("conversionFiles");
    layout->addWidget(files_);
    records_ = new QProgressBar(this);
    records_->setObjectName("conversionRecords");
    layout->addWidget(records_);
    status_ = new QLabel(this);
    status_->setObjectName("conversionStatus");
    status_->setWordWrap(true);
    layout->addWidget(status_);
    notice_ = new QLabel(this);
    notice_->setObjectName("conversionNotice");
    notice_->setWordWrap(true);
    notice_->hide();
    layout->addWidget(notice_);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    cancel_ = new QPushButton(kCancel.In(lang), this);
    cancel_->setObjectName("conversionCancel");
    connect(cancel_, &QPushButton::clicked, this, [this] {
        cancel_->setEnabled(false);
        status_->setText(kStopping.In(lang_));
        if (onCancel) onCancel();
    });
    open_ = new QPushButton(kOpenFolder.In(lang), this);
    open_->setObjectName("conversionOpenFolder");
    connect(open_, &QPushButton::clicked, this, [this] { OpenFolder(); });
    auto* close = new QPushButton(kClose.In(lang), this);
    close->setObjectName("conversionClose");
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
    row->addWidget(cancel_);
    row->addWidget(open_);
    row->addWidget(close);
    layout->addLayout(row);
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    ApplyToolTips(this, lang);
}

void ConversionWindow::Begin(const std::string& directory) {
    directory_ = directory;
    folder_->setText(kFolder.In(lang_).arg(Q(directory)));
    ShowProgress(0, 0, 0, 0);
    status_->setText(kConverting.In(lang_));
    notice_->clear();
    notice_->hide();
    cancel_->setEnabled(true);
    open_->setEnabled(false);
}

void ConversionWindow::ShowProgress(int filesDone, int filesTotal, int recordsPos, int recordsRange) {
    files_->setText(kFiles.In(lang_).arg(filesDone).arg(filesTotal));
    records_->setRange(0, recordsRange > 0 ? recordsRange : 1);
    records_->setValue(recordsRange > 0 ? std::min(recordsPos, recordsRange) : 0);
}

void ConversionWindow::Finish(const ConversionSummary& s) {
    const int done = static_cast<int>(s.succeeded.size() + s.failed.size() + s.skipped.size());
    files_->setText(kFiles.In(lang_).arg(done).arg(static_cast<int>(s.total)));
    if (s.cancelled) {
        status_->setText(kCancelled.In(lang_));
    } else {
        QString text = kFinished.In(lang_).arg(s.succeeded.size()).arg(s.failed.size());
        if (!s.fault.empty()) text = Q(s.fault) + "\n" + text;
        status_->setText(text);
        records_->setValue(records_->maximum());
    }
    cancel_->setEnabled(false);
    open_->setEnabled(true);
}

bool ConversionWindow::OpenFolder() {
    if (showFolder && showFolder(directory_)) return true;
    notice_->setText(kNoFileManager.In(lang_).arg(Q(directory_)));
    notice_->show();
    adjustSize();
    show();
    raise();
    return false;
}

QString ConversionWindow::Status() const { return status_->text(); }
QString ConversionWindow::Notice() const { return notice_->text(); }

}  // namespace lumora
