#include "window_memory.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QGuiApplication>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>

#include "main_window.h"
#include "sensor_list_widget.h"
#include "settings/settings_store.h"
#include "views/chart_controls.h"
#include "views/sensor_list.h"
#include "window/control_ids.h"

namespace lumora {

namespace {
constexpr char kSection[] = "Window";
// Dragging a chart changes its ranges many times a second: they are written
// once the user pauses.
constexpr int kChartWriteDelayMs = 500;
}  // namespace

WindowMemory::WindowMemory(MainWindow& window, SettingsStore& settings)
    : QObject(&window), window_(window), settings_(settings) {}

QString WindowMemory::Read(const char* key) const {
    return QString::fromStdString(settings_.GetString(kSection, key, ""));
}

void WindowMemory::Write(const char* key, const QString& value) {
    if (Read(key) != value) settings_.SetString(kSection, key, value.toStdString());
}

void WindowMemory::RestoreGeometry() {
    const QStringList parts = Read("Geometry").split(QLatin1Char(','));
    if (parts.size() == 4) {
        int v[4];
        bool ok = true;
        for (int i = 0; i < 4 && ok; ++i) v[i] = parts[i].trimmed().toInt(&ok);
        const QRect rect(v[0], v[1], v[2], v[3]);
        // Only where a screen of this desktop shows most of it: the screens
        // may have changed since.
        bool fits = false;
        for (QScreen* s : QGuiApplication::screens()) {
            const QRect area = s->availableGeometry();
            fits = fits || (area.intersects(rect) && rect.width() <= area.width() && rect.height() <= area.height() &&
                            area.contains(rect.topLeft() + QPoint(rect.width() / 2, 0)));
        }
        if (ok && fits && rect.width() >= window_.minimumWidth() && rect.height() >= window_.minimumHeight())
            window_.setGeometry(rect);
    }
    if (Read("Maximized") == QStringLiteral("1")) window_.setWindowState(window_.windowState() | Qt::WindowMaximized);
}

void WindowMemory::SaveGeometry() {
    FlushChartWrites();
    const QRect r = window_.normalGeometry().isValid() ? window_.normalGeometry() : window_.geometry();
    Write("Geometry", QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()));
    Write("Maximized", window_.isMaximized() ? QStringLiteral("1") : QStringLiteral("0"));
}

void WindowMemory::RestoreViews() {
    bool ok = false;
    const int id = Read("RealtimeId").toInt(&ok);
    if (ok && id >= 0) window_.Dlg().SetEditText(IDC_REALTIME_ID, std::to_string(id));
    if (Read("SpectrumDisp") == QStringLiteral("1")) {
        window_.SetCheck(IDC_SPECTRUM_DISP, true);
        window_.Dlg().OnCheckClicked(IDC_SPECTRUM_DISP, true);
    }
    const int tab = Read("Tab").toInt(&ok);
    if (ok) window_.SetActiveTab(tab);
    for (const QString& part : Read("Sensors").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int sensor = part.trimmed().toInt(&ok);
        if (ok) pendingTicks_.insert(sensor);
    }
    ticksPending_ = !pendingTicks_.isEmpty();

    // From now on every change is written.
    writing_ = true;
    connect(window_.ViewTabs(), &QTabWidget::currentChanged, this,
            [this](int index) { Write("Tab", QString::number(index)); });
    if (auto* box = qobject_cast<QCheckBox*>(window_.Control(IDC_SPECTRUM_DISP)))
        connect(box, &QCheckBox::toggled, this,
                [this](bool on) { Write("SpectrumDisp", on ? QStringLiteral("1") : QStringLiteral("0")); });
    if (auto* spin = qobject_cast<QSpinBox*>(window_.Control(IDC_REALTIME_ID)))
        connect(spin, &QSpinBox::valueChanged, this, [this](int value) { Write("RealtimeId", QString::number(value)); });
    if (SensorListWidget* list = window_.SensorListView())
        connect(list->model(), &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                    if (roles.contains(Qt::CheckStateRole)) WriteTickedSensors();
                });
}

void WindowMemory::OnRowsRebuilt() {
    SensorList& rows = window_.Dlg().SensorRows();
    if (ticksPending_) {
        ticksPending_ = false;
        for (int r = 0; r < rows.RowCount(); ++r)
            if (pendingTicks_.contains(rows.Reading(r).id)) rows.SetChecked(r, true);
        pendingTicks_.clear();
        return;
    }
    // A new layout clears the ticks.
    if (writing_) WriteTickedSensors();
}

void WindowMemory::WriteTickedSensors() {
    SensorList& rows = window_.Dlg().SensorRows();
    QStringList ids;
    for (int r = 0; r < rows.RowCount(); ++r)
        if (rows.IsChecked(r)) ids << QString::number(rows.Reading(r).id);
    Write("Sensors", ids.join(QLatin1Char(',')));
}

void WindowMemory::RememberChart(const QString& key, ChartControls* chart) {
    if (!chart) return;
    const QByteArray name = key.toLatin1();
    chart->SetRangesText(Read(name.constData()));
    PendingWrite& pending = chartWrites_[key];
    pending.timer = new QTimer(this);
    pending.timer->setSingleShot(true);
    pending.timer->setInterval(kChartWriteDelayMs);
    QPointer<ChartControls> alive(chart);
    pending.write = [this, name, alive] {
        if (alive) Write(name.constData(), alive->RangesText());
    };
    connect(pending.timer, &QTimer::timeout, this, pending.write);
    connect(chart, &ChartControls::rangesChanged, pending.timer, qOverload<>(&QTimer::start));
}

void WindowMemory::FlushChartWrites() {
    for (auto& [key, pending] : chartWrites_) {
        if (!pending.timer->isActive()) continue;
        pending.timer->stop();
        pending.write();
    }
}

}  // namespace lumora
