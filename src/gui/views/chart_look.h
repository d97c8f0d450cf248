#pragma once
// The look shared by the spectrum and trace charts, and the sunken panel that
// holds a chart in its view tab.
#include <QFrame>
#include <QPointer>
#include <QVector>
#include <vector>

#include <qcustomplot.h>

namespace lumora {

// Green on black: axes, frame and labels RGB(0, 180, 0), grid RGB(0, 50, 0),
// legend shown with its entries one under the other, series drawn with thin
// solid unsmoothed pens. zoomWithMouse switches wheel zoom and drag on.
void ApplyChartLook(QCustomPlot* chart, bool zoomWithMouse);

// The colour the chart gives its series number `index`.
QColor SeriesColor(int index);

// Gives `graph` the line look and the colour of series `index`.
void StyleSeries(QCPGraph* graph, int index);

// Replaces the points of graph by (x[k], y[k]); reuses the graph's storage
// when the point count is unchanged. x must be ascending.
void SetSeriesPoints(QCPGraph* graph, const double* x, const double* y, int n);

// Redraws a chart at once while it is on screen; a chart behind another view
// tab is redrawn when it comes forward instead, so hidden charts cost no
// drawing however fast their data changes.
class ChartReplotter : public QObject {
    Q_OBJECT
public:
    explicit ChartReplotter(QCustomPlot* chart);
    void Replot();
    bool Stale() const { return stale_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QCustomPlot> chart_;
    bool stale_ = false;
};

// A sunken frame around one chart.
class ChartPanel : public QFrame {
    Q_OBJECT
public:
    explicit ChartPanel(QWidget* parent = nullptr);
    QCustomPlot* chart() const { return chart_; }

private:
    QCustomPlot* chart_;
};

}  // namespace lumora
