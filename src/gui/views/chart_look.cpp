#include "views/chart_look.h"

#include <QVBoxLayout>

namespace lumora {

namespace {

const QColor kAxisColor(0, 180, 0);
const QColor kGridColor(0, 50, 0);

void StyleAxis(QCPAxis* axis) {
    const QPen pen(kAxisColor, 1);
    axis->setBasePen(pen);
    axis->setTickPen(pen);
    axis->setSubTickPen(pen);
    axis->setTickLabelColor(kAxisColor);
    axis->setLabelColor(kAxisColor);
    axis->grid()->setPen(QPen(kGridColor, 1, Qt::SolidLine));
    axis->grid()->setZeroLinePen(QPen(kGridColor, 1, Qt::SolidLine));
    axis->grid()->setSubGridVisible(false);
}

}  // namespace

void ApplyChartLook(QCustomPlot* chart, bool zoomWithMouse) {
    chart->setBackground(QBrush(Qt::black));
    chart->axisRect()->setBackground(QBrush(Qt::black));
    chart->setNotAntialiasedElements(QCP::aeAll);
    // plain polylines draw faster here than the chart's line-pair shortcut
    chart->setPlottingHint(QCP::phFastPolylines, false);

    // the top and right axes close the frame of the plotting area
    chart->axisRect()->setupFullAxesBox(false);
    for (QCPAxis* axis : chart->axisRect()->axes()) StyleAxis(axis);
    for (QCPAxis* axis : {chart->xAxis2, chart->yAxis2}) {
        axis->setTicks(false);
        axis->setTickLabels(false);
        axis->grid()->setVisible(false);
    }

    chart->legend->setVisible(chart->legend->itemCount() > 0);  // and again at each replot
    chart->legend->setFillOrder(QCPLayoutGrid::foRowsFirst);
    chart->legend->setWrap(0);
    chart->legend->setBrush(QBrush(Qt::black));
    chart->legend->setBorderPen(QPen(kAxisColor, 1));
    chart->legend->setTextColor(kAxisColor);
    chart->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);

    if (zoomWithMouse)
        chart->setInteractions(QCP::iRangeZoom | QCP::iRangeDrag);
    else
        chart->setInteractions(QCP::Interactions());
}

QColor SeriesColor(int index) {
    // hues a golden angle apart stay distinct for many series
    const int hue = static_cast<int>(std::fmod(120.0 + index * 137.508, 360.0));
    const int value = index % 2 ? 230 : 255;
    return QColor::fromHsv(hue, 200, value);
}

void StyleSeries(QCPGraph* graph, int index) {
    graph->setPen(QPen(SeriesColor(index), 1, Qt::SolidLine));
    graph->setLineStyle(QCPGraph::lsLine);
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    graph->setAntialiased(false);
    graph->setAdaptiveSampling(true);
}

void SetSeriesPoints(QCPGraph* graph, const double* x, const double* y, int n) {
    QSharedPointer<QCPGraphDataContainer> data = graph->data();
    if (data->size() == n) {
        int k = 0;
        for (auto it = data->begin(); it != data->end(); ++it, ++k) {
            it->key = x[k];
            it->value = y[k];
        }
        return;
    }
    QVector<QCPGraphData> points(n);
    for (int k = 0; k < n; ++k) points[k] = QCPGraphData(x[k], y[k]);
    data->set(points, true);
}

ChartReplotter::ChartReplotter(QCustomPlot* chart) : QObject(chart), chart_(chart) {
    if (chart_) chart_->installEventFilter(this);
}

void ChartReplotter::Replot() {
    if (!chart_) return;
    // an empty legend would still draw its frame
    chart_->legend->setVisible(chart_->legend->itemCount() > 0);
    if (chart_->isVisible()) {
        chart_->replot();
        stale_ = false;
    } else {
        stale_ = true;
    }
}

bool ChartReplotter::eventFilter(QObject* watched, QEvent* event) {
    // the event type first: during the chart's destruction it is no longer
    // a chart and must not be looked at as one
    if (event->type() == QEvent::Show && stale_ && chart_ && watched == chart_.data()) {
        stale_ = false;
        chart_->replot(QCustomPlot::rpQueuedReplot);
    }
    return QObject::eventFilter(watched, event);
}

ChartPanel::ChartPanel(QWidget* parent) : QFrame(parent), chart_(new QCustomPlot(this)) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(chart_);
}

}  // namespace lumora
