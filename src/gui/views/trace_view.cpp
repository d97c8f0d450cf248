#include "views/trace_view.h"

#include <exception>

#include "views/chart_look.h"

namespace lumora {

namespace {
const char* const kStartupSeriesName = "第一条";
}

TraceView::TraceView(QObject* parent) : QObject(parent) {}

void TraceView::Init(QCustomPlot* chart, const FrameRing* ring, std::function<std::vector<int>()> chosenRows,
                     std::function<bool()> active) {
    chart_ = chart;
    ring_ = ring;
    chosenRows_ = std::move(chosenRows);
    active_ = std::move(active);
    if (!chart_) return;
    replotter_ = new ChartReplotter(chart_);
    ApplyChartLook(chart_, true);
    QCPGraph* first = chart_->addGraph();
    StyleSeries(first, 0);
    first->setName(QString::fromUtf8(kStartupSeriesName));
    replotter_->Replot();
}

void TraceView::EmptyStartupSeries() {
    if (!chart_) return;
    for (int i = 0; i < chart_->graphCount(); ++i) {
        QCPGraph* g = chart_->graph(i);
        if (g->name() == QString::fromUtf8(kStartupSeriesName)) g->data()->clear();
    }
    replotter_->Replot();
}

void TraceView::UpdateTrace() {
    if (!ring_ || (active_ && !active_())) return;
    if (!history_.Poll(*ring_)) return;
    Rebuild(chosenRows_ ? chosenRows_() : std::vector<int>{});
}

void TraceView::SetUnits(std::shared_ptr<const CompiledSensors> sensors) {
    if (sensors == units_) return;
    units_ = std::move(sensors);
    if (rebuilds_ > 0) Rebuild(chosenRows_ ? chosenRows_() : std::vector<int>{});
}

void TraceView::Rebuild(const std::vector<int>& rows) {
    if (!chart_) return;
    const TraceAxes axes = BuildTraceSeries(history_, rows, series_, units_.get());
    try {
        // one graph per chosen row; graphs of the previous refresh are reused
        const int wanted = static_cast<int>(series_.size());
        while (chart_->graphCount() > wanted) chart_->removeGraph(chart_->graphCount() - 1);
        if (rebuilds_ == 0) chart_->clearGraphs();  // the start-up series goes
        for (int s = 0; s < wanted; ++s) {
            QCPGraph* g;
            if (s < chart_->graphCount()) {
                g = chart_->graph(s);
            } else {
                g = chart_->addGraph();
                StyleSeries(g, s);
            }
            const TraceSeries& line = series_[s];
            g->setName(QString::fromStdString(line.name));
            SetSeriesPoints(g, line.x.data(), line.y.data(), static_cast<int>(line.x.size()));
        }
        chart_->yAxis->setRange(axes.leftMin, axes.leftMax);
        const QString unit = QString::fromStdString(axes.leftUnit);
        if (chart_->yAxis->label() != unit) chart_->yAxis->setLabel(unit);
        chart_->xAxis->setRange(axes.bottomMin, axes.bottomMax > axes.bottomMin ? axes.bottomMax : 1);
        replotter_->Replot();
        ++rebuilds_;
    } catch (const std::exception&) {
        // the chart failed: it shows nothing until the next frame rebuilds it
        chart_->clearGraphs();
        replotter_->Replot();
    }
}

}  // namespace lumora
