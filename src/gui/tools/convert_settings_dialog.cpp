#include "tools/convert_settings_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
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

const Caption kTitle{"Data Convert / Export Setting", "数据导出设置"};
const Caption kFileLineLabel{"MAX NUM of file lines", "最大文件行数"};
const Caption kAlignLabel{"Rows for ERR tolerance", "对其容错行数"};
const Caption kOkText{"OK", "确认"};
const Caption kCancelText{"Cancel", "取消"};

struct CheckRow {
    int id;
    Caption caption;
    int ConvertSettings::*member;
};
// In the order they stand in the dialog.
const CheckRow kChecks[] = {
    {ConvertSettingsDialog::kOnlyMatched, {"Inlucde Matched  ", "仅包含匹配传感器  "}, &ConvertSettings::m_OnlyMatched},
    {ConvertSettingsDialog::kNeedPV, {"Include PhysicValue", "导出物理量  "}, &ConvertSettings::m_NeedPV},
    {ConvertSettingsDialog::kNeedSN, {"Include SN", "导出序列号  "}, &ConvertSettings::m_NeedSN},
    {ConvertSettingsDialog::kNeedDate, {"Include Date", "导出日期  "}, &ConvertSettings::m_NeedDate},
    {ConvertSettingsDialog::kNeedUnitTime, {"Include Unix time ", "导出Unix时间戳  "}, &ConvertSettings::m_NeedUnitTime},
    {ConvertSettingsDialog::kNeedMs, {"Milliseconds", "毫秒"}, &ConvertSettings::m_NeedMs},
    {ConvertSettingsDialog::kTitleAlign, {"Title align ", "标题栏对其  "}, &ConvertSettings::m_TitleAlign},
    {ConvertSettingsDialog::kNeedValue, {"Engineering value", "导出工程值"}, &ConvertSettings::m_NeedValue},
};
const CheckRow kSingleSensor{ConvertSettingsDialog::kNeedSingleSensor,
                             {"Individual sensor data", "传感器数据分别导出  "},
                             &ConvertSettings::m_NeedSingleSensor};

QLineEdit* NumberEdit(int id, const std::string& text, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(ControlName(id));
    // Digits only while typing; what the file holds is shown as it is.
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    e->setAlignment(Qt::AlignRight);
    e->setMaxLength(259);
    e->setText(Q(text));
    return e;
}

QCheckBox* CheckBox(const CheckRow& row, Language lang, const ConvertSettings& v, QWidget* parent) {
    auto* c = new QCheckBox(row.caption.In(lang), parent);
    c->setObjectName(ControlName(row.id));
    c->setChecked(v.*row.member != 0);
    return c;
}

}  // namespace

ConvertSettingsDialog::ConvertSettingsDialog(const ConvertSettings& values, Language lang, QWidget* parent)
    : QDialog(parent), values_(values) {
    setObjectName(QStringLiteral("convertSettingsDialog"));
    setWindowTitle(kTitle.In(lang));
    setModal(true);

    auto* frame = new QGroupBox(this);
    auto* grid = new QGridLayout(frame);
    int r = 0;
    grid->addWidget(new QLabel(kFileLineLabel.In(lang), frame), r, 0);
    grid->addWidget(NumberEdit(kFileLineMax, values.m_FileLineMax, frame), r++, 1);
    for (const CheckRow& row : kChecks) grid->addWidget(CheckBox(row, lang, values, frame), r++, 0, 1, 2);
    grid->addWidget(new QLabel(kAlignLabel.In(lang), frame), r, 0);
    grid->addWidget(NumberEdit(kAlignErrorMax, values.m_AlignErrorMax, frame), r++, 1);
    QCheckBox* single = CheckBox(kSingleSensor, lang, values, frame);
    single->setEnabled(false);  // kept and saved, but no conversion reads it
    grid->addWidget(single, r++, 0, 1, 2);

    auto* ok = new QPushButton(kOkText.In(lang), this);
    ok->setObjectName(ControlName(kOk));
    ok->setAutoDefault(true);  // focused, it takes Enter
    auto* cancel = new QPushButton(kCancelText.In(lang), this);
    cancel->setObjectName(ControlName(kCancel));
    cancel->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &ConvertSettingsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &ConvertSettingsDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* top = new QVBoxLayout(this);
    top->addWidget(frame);
    top->addLayout(buttons);
    setFixedSize(sizeHint());
    ApplyToolTips(this, lang);
}

QLineEdit* ConvertSettingsDialog::Edit(int id) const { return findChild<QLineEdit*>(ControlName(id)); }
QCheckBox* ConvertSettingsDialog::Check(int id) const { return findChild<QCheckBox*>(ControlName(id)); }

void ConvertSettingsDialog::accept() {
    values_.m_FileLineMax = S(Edit(kFileLineMax)->text());
    values_.m_AlignErrorMax = S(Edit(kAlignErrorMax)->text());
    for (const CheckRow& row : kChecks) values_.*row.member = Check(row.id)->isChecked() ? 1 : 0;
    values_.*kSingleSensor.member = Check(kSingleSensor.id)->isChecked() ? 1 : 0;
    QDialog::accept();
}

bool EditConvertSettings(QWidget* parent, ConvertSettings& values) {
    ConvertSettingsDialog dialog(values, UiLanguage(), parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    values = dialog.Values();
    return true;
}

}  // namespace lumora
