#pragma once
// Puts the spectrum, trace and realtime views into view tabs 1 to 3 of the
// main window and connects them to the engine: the receive worker's spectrum
// frames, timer 2, the Open and Close of the data port, RST, LEN and FRQ.
#include <QObject>
#include <QPointer>

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

private:
    MainWindow& window_;
    SpectrumView spectrum_;
    TraceView trace_;
    QPointer<ChartPanel> spectrumPanel_;
    QPointer<ChartPanel> tracePanel_;
    QPointer<RealtimeView> realtime_;
};

}  // namespace lumora
