#include "views/line_bundle.h"

#include <cmath>
#include <cstdint>

namespace lumora {

namespace {

// The linear map of an axis: pixel = scale * coordinate + offset.
struct AxisMap {
    double scale;
    double offset;
    double operator()(double v) const { return scale * v + offset; }
};

AxisMap MapOf(const QCPAxis* axis, double origin) {
    const double p0 = axis->coordToPixel(0.0);
    return {axis->coordToPixel(1.0) - p0, p0 - origin};
}

// Clips the segment to [0, w) x [0, h) (Liang-Barsky); false when nothing
// of it is inside.
bool ClipSegment(double& x0, double& y0, double& x1, double& y1, double w, double h) {
    const double dx = x1 - x0, dy = y1 - y0;
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0, w - 1 - x0, y0, h - 1 - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            if (t > t1) return false;
            if (t > t0) t0 = t;
        } else {
            if (t < t0) return false;
            if (t < t1) t1 = t;
        }
    }
    x1 = x0 + t1 * dx;
    y1 = y0 + t1 * dy;
    x0 = x0 + t0 * dx;
    y0 = y0 + t0 * dy;
    return true;
}

// A one-pixel line between two points inside the image (Bresenham).
void DrawSegment(uint32_t* bits, int stride, int x0, int y0, int x1, int y1, uint32_t colour) {
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? stride : -stride;
    const int stepY = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    uint32_t* p = bits + static_cast<ptrdiff_t>(y0) * stride + x0;
    for (;;) {
        *p = colour;
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
            p += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += stepY;
            p += sy;
        }
    }
}

}  // namespace

LineBundle::LineBundle(QCustomPlot* chart) : QCPLayerable(chart, QStringLiteral("main")) {}

void LineBundle::applyDefaultAntialiasingHint(QCPPainter* painter) const {
    applyAntialiasingHint(painter, false, QCP::aePlottables);
}

QRect LineBundle::clipRect() const {
    return mParentPlot && mParentPlot->axisRect() ? mParentPlot->axisRect()->rect() : QRect();
}

void LineBundle::draw(QCPPainter* painter) {
    QCustomPlot* chart = mParentPlot;
    if (!chart || chart->graphCount() == 0) return;
    if (painter->modes().testFlag(QCPPainter::pmVectorized)) {
        DrawVector(painter);
        return;
    }
    const QRect area = clipRect();
    if (area.isEmpty()) return;
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QSize size = (QSizeF(area.size()) * ratio).toSize();
    if (image_.size() != size) image_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
    image_.fill(Qt::transparent);
    uint32_t* bits = reinterpret_cast<uint32_t*>(image_.bits());
    const int stride = static_cast<int>(image_.bytesPerLine() / 4);
    const double w = size.width(), h = size.height();

    for (int g = 0; g < chart->graphCount(); ++g) {
        const QCPGraph* graph = chart->graph(g);
        if (!graph->keyAxis() || !graph->valueAxis() || graph->lineStyle() == QCPGraph::lsNone) continue;
        const uint32_t colour = graph->pen().color().rgba() | 0xFF000000u;
        AxisMap mx = MapOf(graph->keyAxis(), area.left());
        AxisMap my = MapOf(graph->valueAxis(), area.top());
        mx = {mx.scale * ratio, mx.offset * ratio};
        my = {my.scale * ratio, my.offset * ratio};
        const QCPGraphDataContainer& data = *graph->data();
        const QCPRange keys = graph->keyAxis()->range();
        auto it = data.findBegin(keys.lower), end = data.findEnd(keys.upper);
        bool havePrevious = false;
        double px = 0, py = 0;
        for (; it != end; ++it) {
            const double x = mx(it->key), y = my(it->value);
            if (!std::isfinite(x) || !std::isfinite(y)) {
                havePrevious = false;  // a gap in the line
                continue;
            }
            if (havePrevious && px >= 0 && px <= w - 1 && x >= 0 && x <= w - 1 && py >= 0 && py <= h - 1 && y >= 0 &&
                y <= h - 1) {
                // both ends inside: the common case needs no clipping
                DrawSegment(bits, stride, static_cast<int>(px + 0.5), static_cast<int>(py + 0.5),
                            static_cast<int>(x + 0.5), static_cast<int>(y + 0.5), colour);
            } else if (havePrevious) {
                double x0 = px, y0 = py, x1 = x, y1 = y;
                // clipped coordinates are not negative: adding a half rounds
                if (ClipSegment(x0, y0, x1, y1, w, h))
                    DrawSegment(bits, stride, static_cast<int>(x0 + 0.5), static_cast<int>(y0 + 0.5),
                                static_cast<int>(x1 + 0.5), static_cast<int>(y1 + 0.5), colour);
            }
            px = x;
            py = y;
            havePrevious = true;
        }
    }
    image_.setDevicePixelRatio(ratio);
    painter->drawImage(area.topLeft(), image_);
}

void LineBundle::DrawVector(QCPPainter* painter) {
    QCustomPlot* chart = mParentPlot;
    for (int g = 0; g < chart->graphCount(); ++g) {
        const QCPGraph* graph = chart->graph(g);
        if (!graph->keyAxis() || !graph->valueAxis() || graph->lineStyle() == QCPGraph::lsNone) continue;
        painter->setPen(graph->pen());
        QPolygonF line;
        auto flush = [&] {
            if (line.size() > 1) painter->drawPolyline(line);
            line.clear();
        };
        for (const QCPGraphData& d : *graph->data()) {
            const QPointF p(graph->keyAxis()->coordToPixel(d.key), graph->valueAxis()->coordToPixel(d.value));
            if (std::isfinite(p.x()) && std::isfinite(p.y()))
                line << p;
            else
                flush();
        }
        flush();
    }
}

}  // namespace lumora
