#pragma once
// The Spectrum tab: the latest raw spectrum of each channel as one line per
// channel, "CH01" to "CH32".
//
// ShowSpectrumFrame runs on the receive worker. It stores the frame (see
// SpectrumChannels) and marks a redraw as pending; a timer of the UI thread
// that runs at the screen's refresh rate redraws from a copy of what changed
// when one is pending. So there is at most one redraw per screen refresh, a
// fast stream of spectra never makes the window fall behind, and the worker
// never posts anything to the UI thread.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <qcustomplot.h>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "acquisition/acquisition_state.h"
#include "views/chart_controls.h"
#include "views/chart_look.h"
#include "views/spectrum_channels.h"

class QLineEdit;

namespace lumora {

class SpectrumView : public QObject, public SpectrumSink {
    Q_OBJECT
public:
    explicit SpectrumView(QObject* parent = nullptr);
    ~SpectrumView() override;

    // Once at window initialisation. displayTicked reports the Spectrum DISP
    // box and is called on the receive worker, so it must read a value that
    // is safe to read from there (an atomic the box's handler keeps).
    void Init(QCustomPlot* chart, std::function<bool()> displayTicked, QLineEdit* counterBox);

    // Receive worker (any thread): one spectrum frame. Returns -1 when the
    // Spectrum DISP box is unticked (the frame is dropped), 0 otherwise.
    int OfferFrame(int channel, const uint16_t* values, int count);
    // The decoder's hand-off of spectrum frames (result not wanted).
    void ShowSpectrumFrame(int channel, const uint16_t* values, int count) override {
        OfferFrame(channel, values, count);
    }

    // RST button (UI thread): empties the chart and the count at once.
    void ResetSpectrum();

    // UI thread: draws what arrived since the last redraw now (also used by
    // tests and benchmarks that need the chart up to date).
    void RedrawNow();

    long FrameCount() const { return channels_.FrameCount(); }
    int MaxPoints() const { return channels_.MaxPoints(); }
    int RedrawCount() const { return redraws_; }
    QCustomPlot* chart() const { return chart_; }
    ChartControls* Controls() const { return controls_; }

private:
    void Poll();
    void DropAllSeries();

    SpectrumChannels channels_;
    SpectrumPicture picture_;
    QPointer<QCustomPlot> chart_;
    ChartReplotter* replotter_ = nullptr;  // owned by the chart
    ChartControls* controls_ = nullptr;    // owned by the chart
    QPointer<QLineEdit> counterBox_;
    std::function<bool()> displayTicked_;
    std::array<QCPGraph*, kSpectrumChannels> series_{};  // owned by the chart
    int seriesCreated_ = 0;
    std::vector<double> xValues_;  // 0, 1, ..., 6143
    std::vector<double> yScratch_;
    QTimer refresh_;
    int refreshMs_ = 16;
    int redraws_ = 0;
};

}  // namespace lumora
