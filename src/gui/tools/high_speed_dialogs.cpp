#include "tools/high_speed_dialogs.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "tools/tool_text.h"
#include "control_tips.h"

namespace lumora {

using tools::Caption;
using tools::ControlName;
using tools::Q;
using tools::S;

namespace {

const Caption kDaqTitle{"High speed DAQ", "高速数据采集"};
const Caption kConvertTitle{"HighSpeed Convert", "高速数据转换"};
const Caption kDaqLabels[] = {{"UDP Port", "UDP端口"},
                              {"Number of sampling", "采集次数"},
                              {"DAQ time (s)", "采集时间 (秒)"},
                              {"Cache refresh (s)", "缓存刷新间隔 (秒)"},
                              {"Saved file name", "保存文件名"}};
const Caption kConvertLabels[] = {
    {"Wavelength Offset", "波长偏移量"}, {"Channel Offset", "通道偏移量"}, {"Data File Name", "数据文件名"}};
const Caption kOkText{"OK", "确定"};
const Caption kCancelText{"Cancel", "取消"};

constexpr Qt::WindowFlags kModelessFlags =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

QLineEdit* NewBox(int id, bool digitsOnly, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(ControlName(id));
    if (digitsOnly) e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    e->setMaxLength(259);
    e->setMinimumWidth(e->fontMetrics().averageCharWidth() * 24);
    return e;
}

// OK (the default button) and Cancel in a row under the boxes.
void AddButtons(QDialog* d, QVBoxLayout* top, Language lang) {
    auto* ok = new QPushButton(kOkText.In(lang), d);
    ok->setObjectName(ControlName(1));
    ok->setDefault(true);
    auto* cancel = new QPushButton(kCancelText.In(lang), d);
    cancel->setObjectName(ControlName(2));
    cancel->setAutoDefault(false);
    QObject::connect(ok, &QPushButton::clicked, d, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, d, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    top->addLayout(row);
    ApplyToolTips(d, lang);
}

void Prepare(QDialog* d, const char* name, const Caption& title, Language lang) {
    d->setObjectName(QString::fromLatin1(name));
    d->setWindowTitle(title.In(lang));
    d->setModal(false);
    d->setAttribute(Qt::WA_DeleteOnClose);
}

}  // namespace

ScriptStarter DefaultScriptStarter() {
    return [](const std::string& script, const std::string& line) { StartLauncherScript(script, line); };
}

HighSpeedDaqDialog::HighSpeedDaqDialog(SettingsStore& settings, HighSpeedDaqSettings& daq,
                                       HighSpeedConvertSettings& convert, ScriptStarter start, Language lang,
                                       QWidget* parent)
    : QDialog(parent, kModelessFlags), form_(settings, daq, convert), start_(std::move(start)) {
    Prepare(this, "highSpeedDaqDialog", kDaqTitle, lang);
    auto* top = new QVBoxLayout(this);
    auto* boxes = new QFormLayout;
    const std::array<std::string, 5> initial = form_.InitialTexts();
    for (int i = 0; i < 5; ++i) {
        QLineEdit* e = NewBox(kPort + i, i != HighSpeedDaqForm::kFileName, this);
        boxes->addRow(kDaqLabels[i].In(lang), e);
        const auto which = static_cast<HighSpeedDaqForm::Box>(i);
        connect(e, &QLineEdit::textChanged, this, [this, which](const QString& t) { form_.OnBoxChanged(which, S(t)); });
        // Filling the box is a change of it, as typing is.
        e->setText(Q(initial[static_cast<size_t>(i)]));
    }
    top->addLayout(boxes);
    AddButtons(this, top, lang);
}

QLineEdit* HighSpeedDaqDialog::Box(int id) const { return findChild<QLineEdit*>(ControlName(id)); }

void HighSpeedDaqDialog::accept() {
    if (start_) start_(kDaqScript, form_.ArgumentLine());
    QDialog::accept();
}

HighSpeedConvertDialog::HighSpeedConvertDialog(SettingsStore& settings, HighSpeedDaqSettings& daq,
                                               HighSpeedConvertSettings& convert, ScriptStarter start, Language lang,
                                               QWidget* parent)
    : QDialog(parent, kModelessFlags), form_(settings, daq, convert), start_(std::move(start)) {
    Prepare(this, "highSpeedConvertDialog", kConvertTitle, lang);
    auto* top = new QVBoxLayout(this);
    auto* boxes = new QFormLayout;
    const std::array<std::string, 3> initial = form_.InitialTexts();
    for (int i = 0; i < 3; ++i) {
        QLineEdit* e = NewBox(kWavelengthOffset + i, i != HighSpeedConvertForm::kFileName, this);
        boxes->addRow(kConvertLabels[i].In(lang), e);
        const auto which = static_cast<HighSpeedConvertForm::Box>(i);
        connect(e, &QLineEdit::textChanged, this, [this, which](const QString& t) { form_.OnBoxChanged(which, S(t)); });
        e->setText(Q(initial[static_cast<size_t>(i)]));
    }
    top->addLayout(boxes);
    AddButtons(this, top, lang);
}

QLineEdit* HighSpeedConvertDialog::Box(int id) const { return findChild<QLineEdit*>(ControlName(id)); }

void HighSpeedConvertDialog::accept() {
    if (start_) start_(kConvertScript, form_.ArgumentLine());
    QDialog::accept();
}

}  // namespace lumora
