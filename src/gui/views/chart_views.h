#pragma once
// Puts the spectrum, trace and realtime views into view tabs 1 to 3 of the
// main window and connects them to the engine: the receive worker's spectrum
// frames, timer 2, the Open and Close of the data port, RST, LEN and FRQ.
#include <QObject>
#include <QPointer>

class QCheckBox;

#include "acquisition/acquisition_state.h"
#include "views/realtime_view.h"
#include "views/spectrum_view.h"
#include "views/trace_view.h"

namespace lumora {

class MainWindow;
class ChartPanel;

class ChartViews : public QObject {
    Q_OBJECT
public:
    // Call before the window initialises (AutoOpen may open the port then).
    explicit ChartViews(MainWindow& window);
    // Detaches from the engine: after it no thread calls into the views.
    ~ChartViews() override;

    SpectrumView& Spectrum() { return spectrum_; }
    TraceView& Trace() { return trace_; }
    RealtimeView* Realtime() const { return realtime_; }
    // The "Units" boxes of the Trace and Realtime groups, shown while a
    // sensor table is loaded.
    QCheckBox* TraceUnits() const { return traceUnits_; }
    QCheckBox* RealtimeUnits() const { return realtimeUnits_; }

private:
    QCheckBox* NewUnitsBox(const char* objectName, const char* key, const char* group);
    // Hands the table (or none) to each view as its box says.
    void ApplyUnits();

    MainWindow& window_;
    SpectrumView spectrum_;
    TraceView trace_;
    QPointer<ChartPanel> spectrumPanel_;
    QPointer<ChartPanel> tracePanel_;
    QPointer<RealtimeView> realtime_;
    QPointer<QCheckBox> traceUnits_;
    QPointer<QCheckBox> realtimeUnits_;
};

}  // namespace lumora
