#include "views/chart_views.h"

#include <QLineEdit>

#include "window/control_ids.h"
#include "main_window.h"
#include "views/chart_look.h"
#include "window_memory.h"

namespace lumora {

namespace {
constexpr int kSpectrumTab = 1;
constexpr int kTraceTab = 2;
constexpr int kRealtimeTab = 3;
}  // namespace

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
}

}  // namespace lumora
