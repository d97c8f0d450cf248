#include "views/chart_views.h"

#include <QCheckBox>
#include <QLineEdit>

#include "window/control_ids.h"
#include "control_tips.h"
#include "main_window.h"
#include "views/chart_look.h"
#include "window_memory.h"

namespace lumora {

namespace {
constexpr int kSpectrumTab = 1;
constexpr int kTraceTab = 2;
constexpr int kRealtimeTab = 3;
// The boxes' states are kept in [Sensors].
constexpr char kSensorsSection[] = "Sensors";
}  // namespace

QCheckBox* ChartViews::NewUnitsBox(const char* objectName, const char* key, const char* group) {
    auto* box = new QCheckBox(QString::fromStdString(LoadString(268)));
    box->setObjectName(objectName);
    box->setLayoutDirection(Qt::RightToLeft);  // text left of the box, as the groups' other boxes
    box->setChecked(window_.Dlg().Settings().GetInt(kSensorsSection, key, 0) != 0);
    box->setVisible(false);
    connect(box, &QCheckBox::clicked, this, [this, key](bool checked) {
        window_.Dlg().Settings().SetInt(kSensorsSection, key, checked ? 1 : 0);
        ApplyUnits();
    });
    window_.AddToGroup(QString::fromLatin1(group), box);
    return box;
}

void ChartViews::ApplyUnits() {
    const std::shared_ptr<const CompiledSensors> table = window_.Dlg().SensorTable();
    // Without a table the groups look and behave as they always did.
    bool shown = false;
    for (QCheckBox* box : {traceUnits_.data(), realtimeUnits_.data()}) {
        if (box && box->isVisibleTo(&window_) != (table != nullptr)) {
            box->setVisible(table != nullptr);
            shown = true;
        }
    }
    if (shown) window_.LayoutChanged();
    trace_.SetUnits(table && traceUnits_ && traceUnits_->isChecked() ? table : nullptr);
    if (realtime_) realtime_->SetUnits(table && realtimeUnits_ && realtimeUnits_->isChecked() ? table : nullptr);
}

ChartViews::ChartViews(MainWindow& window) : window_(window) {
    CLumoraDlg& dlg = window.Dlg();
    FrameRing& ring = dlg.Acquisition().Ring();

    spectrumPanel_ = new ChartPanel;
    spectrumPanel_->setObjectName("spectrumChart");
    window.SetTabWidget(kSpectrumTab, spectrumPanel_);
    spectrum_.Init(
        spectrumPanel_->chart(), [&dlg] { return dlg.ShowSpectrum(); },
        qobject_cast<QLineEdit*>(window.Control(IDC_SPECTRUM_CNT)));

    tracePanel_ = new ChartPanel;
    tracePanel_->setObjectName("traceChart");
    window.SetTabWidget(kTraceTab, tracePanel_);
    trace_.Init(
        tracePanel_->chart(), &ring, [&dlg] { return dlg.SensorRows().ChosenRows(); },
        [&dlg] { return !dlg.StopReceive() && dlg.ShowTrace(); });
    // binary frames carry wavelength changes in picometres; text frames the
    // instrument's own physical values
    trace_.valuesArePicometres = [&dlg] { return !dlg.StringFormat(); };

    realtime_ = new RealtimeView;
    realtime_->setObjectName("realtimeSurface");
    window.SetTabWidget(kRealtimeTab, realtime_);
    realtime_->Init(&ring, {[&dlg] { return dlg.ShowRealtime(); }, [&dlg] { return dlg.LiveRealtimeId(); },
                            [&dlg] { return dlg.LiveFull(); }});
    realtime_->OnLengthChanged(dlg.RealtimeLength());

    CLumoraDlg::ViewHooks& hooks = dlg.viewHooks;
    hooks.openViews = [this] {
        trace_.EmptyStartupSeries();
        if (realtime_) {
            realtime_->OpenCanvas();
            realtime_->StartSampling();
        }
    };
    hooks.closeViews = [this] {
        if (realtime_) realtime_->CloseCanvas();  // stops the 1 ms tick first
    };
    hooks.updateTrace = [this] { trace_.UpdateTrace(); };
    hooks.resetSpectrum = [this] { spectrum_.ResetSpectrum(); };
    hooks.realtimeLength = [this](int n) {
        if (realtime_) realtime_->OnLengthChanged(n);
    };
    hooks.forgetTraceCounter = [this] { trace_.ForgetLastCounter(); };
    hooks.drawRate = [this] { return realtime_ ? realtime_->DrawRate() : 0; };
    hooks.clearDrawRate = [this] {
        if (realtime_) realtime_->ClearDrawRate();
    };

    traceUnits_ = NewUnitsBox("traceUnits", "TraceUnits", "grpTraceView");
    realtimeUnits_ = NewUnitsBox("realtimeUnits", "RealtimeUnits", "grpRealtimeView");
    ApplyToolTips(&window_, UiLanguage());
    dlg.sensorTableListeners[this] = [this] { ApplyUnits(); };
    ApplyUnits();

    dlg.Acquisition().m_spectrumSink.store(&spectrum_);
    window.Memory().RememberChart(QStringLiteral("SpectrumRange"), spectrum_.Controls());
    window.Memory().RememberChart(QStringLiteral("TraceRange"), trace_.Controls());
}

ChartViews::~ChartViews() {
    CLumoraDlg& dlg = window_.Dlg();
    dlg.Acquisition().m_spectrumSink.store(nullptr);
    // a worker that took the pointer before it was cleared is waited for
    dlg.Session().Stop();
    if (realtime_) realtime_->CloseCanvas();
    dlg.viewHooks = CLumoraDlg::ViewHooks{};
    dlg.sensorTableListeners.erase(this);
}

}  // namespace lumora
