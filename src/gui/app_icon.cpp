#include "app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace lumora {
namespace {

// A dark disc with a green peak trace, drawn at each size so it stays sharp.
QPixmap DrawIcon(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    p.setPen(QPen(QColor(0, 90, 0), s / 16.0));
    p.setBrush(QColor(12, 24, 36));
    p.drawEllipse(QRectF(s * 0.05, s * 0.05, s * 0.9, s * 0.9));
    QPainterPath path;
    for (int i = 0; i <= 64; ++i) {
        double x = 0.16 + 0.68 * i / 64.0;
        double u = (x - 0.5) / 0.07;
        double y = 0.70 - 0.42 * std::exp(-u * u) - 0.03 * std::sin(i * 0.9);
        if (i == 0)
            path.moveTo(x * s, y * s);
        else
            path.lineTo(x * s, y * s);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 255, 0), std::max(1.0, s / 18.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    return pm;
}

}  // namespace

QIcon ProgramIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 24, 32, 48, 64, 128, 256}) i.addPixmap(DrawIcon(size));
        return i;
    }();
    return icon;
}

}  // namespace lumora
