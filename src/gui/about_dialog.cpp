#include "about_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "window/captions.h"
#include "app_icon.h"

namespace lumora {

AboutDialog::AboutDialog(Language lang, QWidget* parent) : QDialog(parent) {
    setObjectName("aboutBox");
    setWindowTitle(QString::fromStdString(AboutTitle(lang)));
    auto* grid = new QGridLayout(this);
    auto* icon = new QLabel;
    icon->setPixmap(ProgramIcon().pixmap(48, 48));
    auto* version = new QLabel(QString::fromStdString(AboutVersionLine()));
    version->setObjectName("aboutVersion");
    auto* copyright = new QLabel(QString::fromStdString(AboutCopyrightLine()));
    copyright->setObjectName("aboutCopyright");
    auto* ok = new QPushButton(QString::fromStdString(AboutOkCaption(lang)));
    ok->setObjectName("aboutOk");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(version, 0, 1);
    grid->addWidget(copyright, 1, 1);
    grid->addWidget(ok, 0, 2);
    grid->setHorizontalSpacing(16);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace lumora
