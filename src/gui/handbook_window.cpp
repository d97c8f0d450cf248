#include "handbook_window.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QScrollBar>
#include <QStyle>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/install_paths.h"

namespace lumora {

namespace {

// The screenshots are as wide as the screens they were taken on: shown at
// that size, every one of them would need sideways scrolling. Wider pictures
// are shrunk to the width of the text.
class GuideBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    int maxImageWidth = 0;

    QVariant loadResource(int type, const QUrl& name) override {
        QVariant resource = QTextBrowser::loadResource(type, name);
        if (type != QTextDocument::ImageResource || maxImageWidth <= 0) return resource;
        QImage image;
        if (resource.canConvert<QImage>()) image = resource.value<QImage>();
        else image.loadFromData(resource.toByteArray());
        if (image.isNull() || image.width() <= maxImageWidth) return resource;
        return image.scaledToWidth(maxImageWidth, Qt::SmoothTransformation);
    }
};

}  // namespace

QString GuideIn(const QStringList& folders, Language lang) {
    QStringList names{QStringLiteral("guide.md")};
    if (lang == Language::Chinese) names.prepend(QStringLiteral("guide.zh.md"));
    for (const QString& name : names)
        for (const QString& folder : folders) {
            const QFileInfo guide(QDir(folder).filePath(name));
            if (!folder.isEmpty() && guide.isFile()) return guide.absoluteFilePath();
        }
    return {};
}

QString GuidePath(Language lang) {
    QStringList folders{QString::fromStdString(InstalledDocsDirectory())};
#ifdef LUMORA_SOURCE_DOCS_DIR
    folders << QStringLiteral(LUMORA_SOURCE_DOCS_DIR);
#endif
    return GuideIn(folders, lang);
}

HandbookWindow::HandbookWindow(const QString& guidePath, Language lang, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      browser_(new GuideBrowser(this)) {
    setObjectName("handbook");
    setWindowTitle(QString::fromUtf8(lang == Language::Chinese ? "Lumora 指南" : "Lumora guide"));
    browser_->setObjectName("handbookText");
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(fontMetrics().averageCharWidth() * 110, fontMetrics().height() * 45);
    // the text's width inside the window: less the scroll bar, the frame and
    // the document's margins on both sides
    static_cast<GuideBrowser*>(browser_)->maxImageWidth =
        width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 2 * browser_->frameWidth() -
        2 * static_cast<int>(browser_->document()->documentMargin()) - 2;
    // a .md file is read as Markdown; its pictures are found beside it
    browser_->setSource(QUrl::fromLocalFile(guidePath), QTextDocument::MarkdownResource);
}

}  // namespace lumora
