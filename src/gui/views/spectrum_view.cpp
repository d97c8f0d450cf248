#include "views/spectrum_view.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <exception>

#include "views/chart_look.h"

namespace lumora {

SpectrumView::SpectrumView(QObject* parent) : QObject(parent) {
    xValues_.resize(kSpectrumMaxPoints);
    for (int k = 0; k < kSpectrumMaxPoints; ++k) xValues_[k] = k;
    yScratch_.resize(kSpectrumMaxPoints);
    connect(&refresh_, &QTimer::timeout, this, &SpectrumView::Poll);
}

SpectrumView::~SpectrumView() = default;

void SpectrumView::Init(QCustomPlot* chart, std::function<bool()> displayTicked, QLineEdit* counterBox) {
    chart_ = chart;
    counterBox_ = counterBox;
    displayTicked_ = std::move(displayTicked);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const double hz = screen->refreshRate();
        if (hz >= 10.0 && hz <= 1000.0) refreshMs_ = std::max(1, static_cast<int>(std::floor(1000.0 / hz)));
    }
    refresh_.start(refreshMs_);
    if (chart_) {
        replotter_ = new ChartReplotter(chart_);
        ApplyChartLook(chart_, true);
        controls_ = new ChartControls(chart_, UiLanguage());
        const bool chinese = UiLanguage() == Language::Chinese;
        controls_->SetAxisTitles(QString::fromUtf8(chinese ? "采样点" : "Sample"),
                                 QString::fromUtf8(chinese ? "强度 (0–4095)" : "Intensity (0–4095)"));
        controls_->ApplyRanges(QCPRange(0, 1), QCPRange(0, 4095));
    }
    ResetSpectrum();
}

int SpectrumView::OfferFrame(int channel, const uint16_t* values, int count) {
    if (!displayTicked_ || !displayTicked_()) return -1;
    channels_.Store(channel, values, count);
    return 0;
}

void SpectrumView::ResetSpectrum() {
    channels_.Reset();
    RedrawNow();
}

void SpectrumView::Poll() {
    if (channels_.Pending()) RedrawNow();
}

void SpectrumView::DropAllSeries() {
    if (chart_) chart_->clearGraphs();
    series_.fill(nullptr);
    seriesCreated_ = 0;
}

void SpectrumView::RedrawNow() {
    const bool changed = channels_.Take(picture_);
    if (counterBox_) counterBox_->setText(QString::number(picture_.frameCount));
    if (!chart_ || !changed) return;
    try {
        if (picture_.cleared) DropAllSeries();
        for (int c = 0; c < kSpectrumChannels; ++c) {
            const auto& samples = picture_.samples[c];
            const int n = std::min<int>(picture_.pointCount[c], static_cast<int>(samples.size()));
            if (n <= 0) continue;
            if (!series_[c]) {
                series_[c] = chart_->addGraph();
                StyleSeries(series_[c], seriesCreated_++);
                series_[c]->setName(QString::fromStdString(SpectrumSeriesName(c)));
            } else if (!picture_.changed[c]) {
                continue;
            }
            for (int k = 0; k < n; ++k) yScratch_[k] = samples[k];
            SetSeriesPoints(series_[c], xValues_.data(), yScratch_.data(), n);
        }
        // the described ranges, until the user zooms, pans or fits
        controls_->ApplyRanges(picture_.maxPoints > 1 ? QCPRange(0, picture_.maxPoints - 1) : chart_->xAxis->range(),
                               QCPRange(0, 4095));
        replotter_->Replot();
        ++redraws_;
    } catch (const std::exception&) {
        // the chart failed: start over with fresh series at the next frame
        DropAllSeries();
        replotter_->Replot();
    }
}

}  // namespace lumora
