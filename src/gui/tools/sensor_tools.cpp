#include "tools/sensor_tools.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "app/lumora_dlg.h"
#include "control_tips.h"
#include "main_window.h"
#include "sensors/alarms.h"
#include "sensors/sensor_file.h"
#include "tools/tool_text.h"
#include "window/control_ids.h"

namespace lumora {

using tools::Caption;
using tools::Q;
using tools::S;

namespace {

const Caption kTitle{"Sensors", "传感器"};
const Caption kFile{"Table file", "传感器表文件"};
const Caption kOpen{"Open...", "打开..."};
const Caption kAdd{"Add", "添加"};
const Caption kRemove{"Remove", "删除"};
const Caption kImport{"Import CSV...", "导入 CSV..."};
const Caption kExport{"Export CSV...", "导出 CSV..."};
const Caption kZero{"Zero", "归零"};
const Caption kSave{"Save", "保存"};
const Caption kClose{"Close", "关闭"};
const Caption kPreset{"Preset", "预设"};
const Caption kStrain{"Strain", "应变"};
const Caption kTemperature{"Temperature", "温度"};
const Caption kLinear{"Linear", "线性"};
const Caption kGaugeFactor{"Gauge factor k", "应变系数 k"};
const Caption kSensitivity{"Sensitivity S (pm/°C)", "灵敏度 S (pm/°C)"};
const Caption kT0{"T0 (°C)", "T0 (°C)"};
const Caption kApplyPreset{"Apply to selected rows", "应用于所选行"};
const Caption kFilter{"Sensor tables (*.csv);;All files (*)", "传感器表 (*.csv);;所有文件 (*)"};
const Caption kErrors{"The sensor table has errors:\n%1", "传感器表有错误：\n%1"};
const Caption kSaved{"%1 sensors saved to %2 and in use.", "已保存 %1 个传感器到 %2，并已启用。"};
const Caption kCannotSave{"Cannot save: %1", "无法保存：%1"};
const Caption kNoFrame{"No frame has been received yet.", "尚未收到数据帧。"};
const Caption kZeroQuestion{"Write the current wavelength of %1 sensors (instrument %2) into lambda0 and save?",
                            "将 %1 个传感器（设备 %2）的当前波长写入 lambda0 并保存？"};
const Caption kZeroNone{"No sensor of the table is in the latest frame (instrument %1).",
                        "最新数据帧（设备 %1）中没有表中的传感器。"};
const Caption kSelectRows{"Select the rows first.", "请先选择行。"};
const Caption kBadParameter{"The preset's parameters are not numbers.", "预设参数不是数字。"};
const Caption kNoLambda0{"Line %1 has no lambda0.", "第 %1 行没有 lambda0。"};
const Caption kAlarms{"Alarms: %1", "报警: %1"};
const Caption kNoAlarms{"No active alarms", "没有报警"};

bool Number(const QString& text, double& out) {
    bool ok = false;
    out = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(out);
}

}  // namespace

// ---------------------------------------------------------------- the editor

SensorsDialog::SensorsDialog(CLumoraDlg& dlg, Language lang, QWidget* parent)
    : QDialog(parent), dlg_(dlg), lang_(lang) {
    setObjectName("sensorsDialog");
    setWindowTitle(kTitle.In(lang));
    auto* v = new QVBoxLayout(this);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(kFile.In(lang)));
    path_ = new QLineEdit(Q(dlg.SensorFile()));
    path_->setObjectName("sensorFile");
    fileRow->addWidget(path_, 1);
    auto* open = new QPushButton(kOpen.In(lang));
    open->setObjectName("sensorOpen");
    fileRow->addWidget(open);
    v->addLayout(fileRow);

    grid_ = new QTableWidget(0, 0);
    grid_->setObjectName("sensorGrid");
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    v->addWidget(grid_, 1);

    auto* rowButtons = new QHBoxLayout;
    auto button = [&](const Caption& caption, const char* name, QBoxLayout* row) {
        auto* b = new QPushButton(caption.In(lang));
        b->setObjectName(name);
        b->setAutoDefault(false);
        row->addWidget(b);
        return b;
    };
    QPushButton* add = button(kAdd, "sensorAdd", rowButtons);
    QPushButton* remove = button(kRemove, "sensorRemove", rowButtons);
    QPushButton* import = button(kImport, "sensorImport", rowButtons);
    QPushButton* exportButton = button(kExport, "sensorExport", rowButtons);
    QPushButton* zero = button(kZero, "sensorZero", rowButtons);
    rowButtons->addStretch(1);
    v->addLayout(rowButtons);

    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(new QLabel(kPreset.In(lang)));
    preset_ = new QComboBox;
    preset_->setObjectName("presetKind");
    preset_->addItems({kStrain.In(lang), kTemperature.In(lang), kLinear.In(lang)});
    presetRow->addWidget(preset_);
    paramALabel_ = new QLabel;
    paramA_ = new QLineEdit;
    paramA_->setObjectName("presetA");
    paramBLabel_ = new QLabel;
    paramB_ = new QLineEdit;
    paramB_->setObjectName("presetB");
    for (QWidget* w : {static_cast<QWidget*>(paramALabel_), static_cast<QWidget*>(paramA_),
                       static_cast<QWidget*>(paramBLabel_), static_cast<QWidget*>(paramB_)})
        presetRow->addWidget(w);
    QPushButton* apply = button(kApplyPreset, "presetApply", presetRow);
    presetRow->addStretch(1);
    v->addLayout(presetRow);

    status_ = new QLabel;
    status_->setObjectName("sensorStatus");
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->addWidget(status_);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    QPushButton* save = button(kSave, "sensorSave", bottom);
    QPushButton* close = button(kClose, "sensorClose", bottom);
    v->addLayout(bottom);

    connect(open, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, kOpen.In(lang_), path_->text(), kFilter.In(lang_));
        if (file.isEmpty()) return;
        SetPath(file);
        Import(file);
    });
    connect(add, &QPushButton::clicked, this, &SensorsDialog::AddRow);
    connect(remove, &QPushButton::clicked, this, &SensorsDialog::RemoveSelectedRows);
    connect(import, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, kImport.In(lang_), QString(), kFilter.In(lang_));
        if (!file.isEmpty()) Import(file);
    });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getSaveFileName(this, kExport.In(lang_), QString(), kFilter.In(lang_));
        if (!file.isEmpty()) Export(file);
    });
    connect(zero, &QPushButton::clicked, this, &SensorsDialog::Zero);
    connect(preset_, &QComboBox::currentIndexChanged, this, &SensorsDialog::PresetChanged);
    connect(apply, &QPushButton::clicked, this, &SensorsDialog::ApplyPreset);
    connect(save, &QPushButton::clicked, this, &SensorsDialog::Save);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    PresetChanged();

    // The table in use, else the file as it is, else an empty table.
    if (auto table = dlg.SensorTable()) {
        ShowTable(table->Table());
    } else if (QFileInfo::exists(path_->text())) {
        Import(path_->text());
    } else {
        ShowTable(SensorTable::WithKnownColumns());
    }
    resize(900, 480);
    ApplyToolTips(this, lang);
}

QString SensorsDialog::Path() const { return path_->text(); }
void SensorsDialog::SetPath(const QString& path) { path_->setText(path); }

void SensorsDialog::ShowTable(const SensorTable& table) {
    grid_->clear();
    grid_->setColumnCount(static_cast<int>(table.Header().size()));
    QStringList header;
    for (const std::string& h : table.Header()) header << Q(h);
    grid_->setHorizontalHeaderLabels(header);
    grid_->setRowCount(static_cast<int>(table.RowCount()));
    for (size_t r = 0; r < table.RowCount(); ++r)
        for (size_t c = 0; c < table.Header().size(); ++c)
            grid_->setItem(static_cast<int>(r), static_cast<int>(c), new QTableWidgetItem(Q(table.Cell(r, c))));
}

SensorTable SensorsDialog::GridTable() const {
    SensorTable t;
    for (int c = 0; c < grid_->columnCount(); ++c) t.AddColumn(S(grid_->horizontalHeaderItem(c)->text()));
    for (int r = 0; r < grid_->rowCount(); ++r) {
        const size_t row = t.AddRow();
        for (int c = 0; c < grid_->columnCount(); ++c) {
            const QTableWidgetItem* item = grid_->item(r, c);
            t.SetCell(row, static_cast<size_t>(c), item ? S(item->text()) : std::string());
        }
    }
    return t;
}

int SensorsDialog::Column(const char* name) {
    for (int c = 0; c < grid_->columnCount(); ++c)
        if (grid_->horizontalHeaderItem(c)->text().compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return c;
    const int c = grid_->columnCount();
    grid_->insertColumn(c);
    grid_->setHorizontalHeaderItem(c, new QTableWidgetItem(QLatin1String(name)));
    return c;
}

bool SensorsDialog::Confirm(const QString& text) {
    if (confirmOverride) return confirmOverride(text);
    return QMessageBox::question(this, kTitle.In(lang_), text) == QMessageBox::Yes;
}

void SensorsDialog::Message(const QString& text) {
    status_->setText(text);
    if (messageOverride) {
        messageOverride(text);
        return;
    }
    QMessageBox::information(this, kTitle.In(lang_), text);
}

bool SensorsDialog::ValidGrid(SensorTable& table) {
    table = GridTable();
    std::vector<std::string> errors;
    if (table.Validate(S(Path()), errors)) return true;
    QString list;
    for (const std::string& e : errors) list += Q(e) + "\n";
    // The first error's line is its row: the header is line 1.
    const size_t sep = errors.empty() ? std::string::npos : errors[0].find(": ");
    const size_t colon = sep == std::string::npos || sep == 0 ? std::string::npos : errors[0].rfind(':', sep - 1);
    if (colon != std::string::npos) {
        const int line = std::atoi(errors[0].c_str() + colon + 1);
        if (line >= 2 && line - 2 < grid_->rowCount()) grid_->selectRow(line - 2);
    }
    Message(kErrors.In(lang_).arg(list.trimmed()));
    return false;
}

bool SensorsDialog::Save() {
    SensorTable table;
    if (!ValidGrid(table)) return false;
    const std::string path = S(Path());
    std::string error;
    if (!SaveSensorTable(path, table, error)) {
        Message(kCannotSave.In(lang_).arg(Q(error)));
        return false;
    }
    const size_t rows = table.Rows().size();
    dlg_.SetSensorFile(path);
    dlg_.SetSensorTable(std::make_shared<const CompiledSensors>(std::move(table), path));
    status_->setText(kSaved.In(lang_).arg(rows).arg(Path()));
    return true;
}

void SensorsDialog::AddRow() {
    const int r = grid_->rowCount();
    grid_->insertRow(r);
    for (int c = 0; c < grid_->columnCount(); ++c) grid_->setItem(r, c, new QTableWidgetItem);
    grid_->setCurrentCell(r, 0);
}

void SensorsDialog::RemoveSelectedRows() {
    std::set<int, std::greater<int>> rows;
    for (const QModelIndex& i : grid_->selectionModel()->selectedRows()) rows.insert(i.row());
    for (int r : rows) grid_->removeRow(r);
}

bool SensorsDialog::Import(const QString& file) {
    std::ifstream in(S(file), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    SensorTable table;
    std::vector<std::string> errors;
    if (!in || !table.Parse(text.str(), S(file), errors)) {
        QString list;
        for (const std::string& e : errors) list += Q(e) + "\n";
        Message(kErrors.In(lang_).arg(list.isEmpty() ? file : list.trimmed()));
        return false;
    }
    ShowTable(table);
    return true;
}

bool SensorsDialog::Export(const QString& file) {
    std::string error;
    if (SaveSensorTable(S(file), GridTable(), error)) return true;
    Message(kCannotSave.In(lang_).arg(Q(error)));
    return false;
}

void SensorsDialog::PresetChanged() {
    const int kind = preset_->currentIndex();
    paramALabel_->setText(kind == 0 ? kGaugeFactor.In(lang_) : kind == 1 ? kSensitivity.In(lang_) : QStringLiteral("c0"));
    paramBLabel_->setText(kind == 1 ? kT0.In(lang_) : QStringLiteral("c1"));
    paramBLabel_->setVisible(kind != 0);
    paramB_->setVisible(kind != 0);
    paramA_->setText(kind == 0 ? SensorNumberText(kDefaultGaugeFactor).c_str() : "");
    paramB_->clear();
}

bool SensorsDialog::ApplyPreset() {
    std::set<int> rows;
    for (const QModelIndex& i : grid_->selectionModel()->selectedRows()) rows.insert(i.row());
    if (rows.empty()) {
        Message(kSelectRows.In(lang_));
        return false;
    }
    const int kind = preset_->currentIndex();
    double a = 0, b = 0;
    if (!Number(paramA_->text(), a) || (kind != 0 && !Number(paramB_->text(), b))) {
        Message(kBadParameter.In(lang_));
        return false;
    }
    const int c0 = Column("c0"), c1 = Column("c1"), unit = Column("unit"), lambda0 = Column("lambda0");
    for (int r : rows) {
        LinearCoefficients k{a, b};
        if (kind == 0) {
            double l0 = 0;
            const QTableWidgetItem* item = grid_->item(r, lambda0);
            if (!item || !Number(item->text(), l0)) {
                Message(kNoLambda0.In(lang_).arg(r + 2));
                return false;
            }
            k = StrainPreset(l0, a);
        } else if (kind == 1) {
            k = TemperaturePreset(a, b);
        }
        grid_->setItem(r, c0, new QTableWidgetItem(Q(SensorNumberText(k.c0))));
        grid_->setItem(r, c1, new QTableWidgetItem(Q(SensorNumberText(k.c1))));
        const QTableWidgetItem* u = grid_->item(r, unit);
        if (kind != 2 && (!u || u->text().trimmed().isEmpty()))
            grid_->setItem(r, unit, new QTableWidgetItem(QString::fromUtf8(kind == 0 ? "µε" : "°C")));
    }
    return true;
}

bool SensorsDialog::Zero() {
    SensorTable table;
    if (!ValidGrid(table)) return false;
    auto frame = std::make_unique<FrameSlot>();
    if (!dlg_.Acquisition().Ring().CopyLatest(*frame) || frame->count <= 0) {
        Message(kNoFrame.In(lang_));
        return false;
    }
    SensorTable zeroed = table;
    const ZeroResult z = ZeroFromFrame(zeroed, *frame);
    if (z.changed == 0) {
        Message(kZeroNone.In(lang_).arg(QString::fromUtf8(frame->sn)));
        return false;
    }
    if (!Confirm(kZeroQuestion.In(lang_).arg(z.changed).arg(QString::fromUtf8(frame->sn)))) return false;
    ShowTable(zeroed);
    return Save();
}

// ---------------------------------------------------------------- the tools

SensorTools::SensorTools(MainWindow& window) : window_(window), lang_(UiLanguage()) {
    indicator_ = new QLabel(&window);
    indicator_->setObjectName("alarmIndicator");
    indicator_->setContentsMargins(4, 0, 6, 0);
    window.SetMenuIndicator(MainWindow::MenuIndicator::Alarms, indicator_);
    window.SetCommandHandler(ID_SETTING_SENSORS, [this] { OnSensors(); });
    CLumoraDlg& dlg = window.Dlg();
    dlg.onAlarmsChanged = [this] { RefreshIndicator(); };
    dlg.sensorTableListeners[this] = [this] { RefreshIndicator(); };
    RefreshIndicator();
}

SensorTools::~SensorTools() {
    CLumoraDlg& dlg = window_.Dlg();
    dlg.onAlarmsChanged = nullptr;
    dlg.sensorTableListeners.erase(this);
    window_.SetCommandHandler(ID_SETTING_SENSORS, nullptr);
    delete dialog_.data();
}

void SensorTools::OnSensors() {
    if (!dialog_) {
        dialog_ = new SensorsDialog(window_.Dlg(), lang_, &window_);
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void SensorTools::RefreshIndicator() {
    CLumoraDlg& dlg = window_.Dlg();
    // Without a table nothing on the menu bar changes.
    indicator_->setVisible(dlg.SensorTable() != nullptr);
    const std::vector<AlarmTransition> active = dlg.Sensors().ActiveAlarms();
    indicator_->setText(kAlarms.In(lang_).arg(active.size()));
    indicator_->setStyleSheet(active.empty() ? QStringLiteral("color: gray;")
                                             : QStringLiteral("color: white; background: #d02020; font-weight: bold;"));
    QStringList lines;
    for (const AlarmTransition& a : active) {
        char value[32];
        std::snprintf(value, sizeof value, "%g", a.value);
        lines << QStringLiteral("%1 %2 %3: %4 %5 %6 (%7)")
                     .arg(Q(a.sn))
                     .arg(a.id)
                     .arg(Q(a.label))
                     .arg(QString::fromLatin1(value))
                     .arg(Q(a.unit))
                     .arg(QString::fromLatin1(AlarmStateName(a.state)))
                     .arg(Q(AlarmTimeText(a.seconds, a.microseconds)));
    }
    indicator_->setToolTip(lines.isEmpty() ? kNoAlarms.In(lang_) : lines.join('\n'));
    window_.MenuCornerChanged();
}

}  // namespace lumora
