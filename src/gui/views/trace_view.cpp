#include "views/trace_view.h"

#include <QFontMetrics>
#include <algorithm>
#include <exception>

#include "views/chart_look.h"
#include "views/line_bundle.h"

namespace lumora {

namespace {
const char* const kStartupSeriesName = "第一条";
}

void TraceView::ShowValueTitle(bool nanometres, const std::string* units) {
    if (!controls_) return;
    const bool chinese = UiLanguage() == Language::Chinese;
    const char* y = nanometres ? (chinese ? "波长变化 (nm)" : "Wavelength change (nm)") : (chinese ? "物理量" : "PhysicValue");
    QString title = QString::fromUtf8(y);
    if (units) title = QString::fromUtf8(chinese ? "数值" : "Value") + (units->empty() ? QString() : " (" + QString::fromStdString(*units) + ")");
    if (title == valueTitle_) return;
    valueTitle_ = title;
    controls_->SetAxisTitles(QString::fromUtf8(chinese ? "帧（采样）" : "Frame (samples)"), title);
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
    new LineBundle(chart_);
    controls_ = new ChartControls(chart_, UiLanguage());
    ShowValueTitle(false);
    QCPGraph* first = chart_->addGraph();
    StyleSeries(first, 0);
    LineBundle::Adopt(first);
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

int TraceView::LegendRowsThatFit() const {
    const QCPLegend* legend = chart_->legend;
    const int rowHeight = std::max(QFontMetrics(legend->font()).height(), legend->iconSize().height()) + 4 +
                          legend->rowSpacing();
    int height = chart_->axisRect()->rect().height();
    if (height <= 0) height = chart_->height();
    return std::max(1, (height - legend->margins().top() - legend->margins().bottom() - 20) / std::max(1, rowHeight));
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
    TraceAxes axes = BuildTraceSeries(history_, rows, series_, units_.get());
    // engineering values are drawn as they are, with their units as title;
    // the wavelength changes of binary frames come in pm and are drawn in nm
    const bool nanometres = !units_ && valuesArePicometres && valuesArePicometres();
    if (nanometres) {
        for (TraceSeries& line : series_)
            for (double& y : line.y) y *= 0.001;
        axes.leftMin *= 0.001;
        axes.leftMax *= 0.001;
    }
    ShowValueTitle(nanometres, units_ ? &axes.leftUnit : nullptr);
    try {
        // one graph per chosen row; graphs of the previous refresh are reused
        const int wanted = static_cast<int>(series_.size());
        const int legendRows = LegendRowsThatFit();
        while (chart_->graphCount() > wanted) chart_->removeGraph(chart_->graphCount() - 1);
        if (rebuilds_ == 0) chart_->clearGraphs();  // the start-up series goes
        for (int s = 0; s < wanted; ++s) {
            QCPGraph* g;
            if (s < chart_->graphCount()) {
                g = chart_->graph(s);
            } else {
                g = chart_->addGraph();
                StyleSeries(g, s);
                LineBundle::Adopt(g);
            }
            const TraceSeries& line = series_[s];
            g->setName(QString::fromStdString(line.name));
            SetSeriesPoints(g, line.x.data(), line.y.data(), static_cast<int>(line.x.size()));
            // the legend lists the lines that fit beside the plot; the rest
            // would be drawn below the chart's edge, out of sight, at a cost
            if (s < legendRows)
                g->addToLegend();
            else
                g->removeFromLegend();
        }
        controls_->ApplyRanges(QCPRange(axes.bottomMin, axes.bottomMax > axes.bottomMin ? axes.bottomMax : 1),
                               QCPRange(axes.leftMin, axes.leftMax));
        replotter_->Replot();
        ++rebuilds_;
    } catch (const std::exception&) {
        // the chart failed: it shows nothing until the next frame rebuilds it
        chart_->clearGraphs();
        replotter_->Replot();
    }
}

}  // namespace lumora
