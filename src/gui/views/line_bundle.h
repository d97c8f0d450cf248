#pragma once
// Draws every line graph of a chart in one pass of its own instead of one
// painter call per graph: each point is mapped with the axes' linear scale
// and each segment written straight into an image of the plotting area,
// which then reaches the chart in one copy. Hundreds of lines of hundreds of
// points cost a few milliseconds this way, where the painter's general line
// drawing takes several times that. The graphs stay in the chart, invisible
// to its own drawing, so the legend, the axes' fitting and the data are
// theirs as before; exports to vector formats (PDF) draw them as polylines.
#include <QImage>
#include <qcustomplot.h>

namespace lumora {

class LineBundle : public QCPLayerable {
    Q_OBJECT
public:
    // Draws on the chart's main layer, clipped to its axis rect.
    explicit LineBundle(QCustomPlot* chart);

    // A graph to be drawn by the bundle: it is hidden from the chart's own
    // drawing. Every graph of the chart is drawn, in the chart's order.
    static void Adopt(QCPGraph* graph) { graph->setVisible(false); }

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    QRect clipRect() const override;
    void draw(QCPPainter* painter) override;

private:
    void DrawVector(QCPPainter* painter);
    QImage image_;
};

}  // namespace lumora
