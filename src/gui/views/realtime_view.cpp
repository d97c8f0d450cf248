#include "views/realtime_view.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>

#include "platform/clock.h"

namespace lumora {

namespace {
const QColor kStripGreen(0, 255, 0);
}

RealtimeView::RealtimeView(QWidget* parent) : QWidget(parent) {
    // the strip only shows; it takes no mouse input
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    font_ = LabelFont();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const double hz = screen->refreshRate();
        if (hz >= 10.0 && hz <= 1000.0) refreshMs_ = std::max(1, static_cast<int>(1000.0 / hz));
    }
    connect(&refresh_, &QTimer::timeout, this, [this] {
        if (newPicture_.exchange(false, std::memory_order_acq_rel)) update();
    });
}

RealtimeView::~RealtimeView() { CloseCanvas(); }

QFont RealtimeView::LabelFont() {
    QFont font;
    font.setFamilies({QString::fromUtf8("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

void RealtimeView::Init(const FrameRing* ring, Inputs inputs, const Clock* clock) {
    ring_ = ring;
    inputs_ = std::move(inputs);
    clock_ = clock ? clock : &SystemClock();
}

void RealtimeView::OpenCanvas() {
    StopSampling();
    const int w = std::max(width(), 1);
    const int h = std::max(height(), 1);
    strip_.Open(w, h);
    wantedSize_.store(static_cast<int64_t>(w) << 32 | h, std::memory_order_release);
    back_ = QImage(w, h, QImage::Format_RGB32);
    back_.fill(Qt::black);
    {
        std::lock_guard<std::mutex> lock(imageMutex_);
        front_ = QImage(w, h, QImage::Format_RGB32);
        front_.fill(Qt::black);
    }
    refresh_.start(refreshMs_);
    update();
}

void RealtimeView::StartSampling() {
    if (!ring_ || !strip_.IsOpen()) return;
    ticker_.Start([this] { TickOnce(); });
}

void RealtimeView::StopSampling() { ticker_.Stop(); }

void RealtimeView::CloseCanvas() {
    ticker_.Stop();  // nothing below may be released while a pass still runs
    refresh_.stop();
    strip_.Close();
    back_ = QImage();
    {
        std::lock_guard<std::mutex> lock(imageMutex_);
        front_ = QImage();
    }
    update();
}

bool RealtimeView::TickOnce() {
    if (!ring_) return false;
    if (inputs_.show && !inputs_.show()) return false;
    const int id = inputs_.id ? inputs_.id() : 0;
    const bool full = inputs_.full && inputs_.full();
    const int64_t wanted = wantedSize_.load(std::memory_order_acquire);
    const int wantW = static_cast<int>(wanted >> 32);
    const int wantH = static_cast<int>(wanted & 0xFFFFFFFF);
    if (wanted != 0 && !back_.isNull() && (wantW != back_.width() || wantH != back_.height())) {
        strip_.Resize(wantW, wantH);
        back_ = QImage(wantW, wantH, QImage::Format_RGB32);
    }
    if (!strip_.Step(*ring_, id, full, drawing_)) return false;
    if (back_.width() != drawing_.width || back_.height() != drawing_.height) return false;
    Render(drawing_, font_, back_);
    {
        std::lock_guard<std::mutex> lock(imageMutex_);
        std::swap(front_, back_);
    }
    newPicture_.store(true, std::memory_order_release);
    strip_.CountDrawing(clock_ ? clock_->NowMs() : SystemClock().NowMs());
    return true;
}

void RealtimeView::Render(const RealtimeDrawing& d, const QFont& font, QImage& image) {
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kStripGreen, 1, Qt::SolidLine));
    for (const RealtimeLine& l : d.scale) p.drawLine(l.x1, l.y1, l.x2, l.y2);
    if (!d.labels.empty()) {
        p.setFont(font);
        const QFontMetrics metrics(font);
        for (const RealtimeLabel& label : d.labels) {
            const QRect rect(label.left, label.top, label.right - label.left, label.bottom - label.top);
            const QString text = metrics.elidedText(QString::fromStdString(label.text), Qt::ElideRight, rect.width());
            p.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
    }
    if (d.line.size() > 1) {
        thread_local std::vector<RealtimePoint> compact;
        CompactStripLine(d.line, compact);
        QPolygon polygon(static_cast<int>(compact.size()));
        for (int k = 0; k < polygon.size(); ++k) polygon[k] = QPoint(compact[k].x, compact[k].y);
        p.drawPolyline(polygon);
    }
}

void RealtimeView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int64_t w = std::max(width(), 1);
    const int64_t h = std::max(height(), 1);
    wantedSize_.store(w << 32 | h, std::memory_order_release);
}

QImage RealtimeView::Picture() const {
    std::lock_guard<std::mutex> lock(imageMutex_);
    return front_.copy();
}

void RealtimeView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    std::lock_guard<std::mutex> lock(imageMutex_);
    if (front_.isNull()) {
        p.fillRect(event->rect(), Qt::black);
        return;
    }
    p.drawImage(event->rect(), front_, event->rect());
    if (front_.width() < width() || front_.height() < height()) {
        // the surface keeps the size it had when the port opened
        const QRegion outside = QRegion(event->rect()) - QRegion(0, 0, front_.width(), front_.height());
        for (const QRect& r : outside) p.fillRect(r, Qt::black);
    }
}

}  // namespace lumora
