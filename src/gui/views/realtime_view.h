#pragma once
// The Realtime tab: a scrolling strip of one reading, sampled and drawn by a
// 1 ms tick on a thread of its own.
//
// The tick draws into an off-screen image; the finished image is swapped
// with the one the widget shows. A timer of the UI thread at the screen's
// refresh rate repaints the widget when a new image is there, copying it in
// one piece: the strip never flickers, the UI thread never waits for a
// drawing and the tick never posts to the UI thread.
#include <QFont>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <mutex>

#include "views/realtime_strip.h"
#include "views/realtime_ticker.h"

namespace lumora {

class Clock;

class RealtimeView : public QWidget {
    Q_OBJECT
public:
    struct Inputs {
        std::function<bool()> show;  // Realtime DISP ticked
        std::function<int()> id;     // the ID box, 1-based
        std::function<bool()> full;  // FULL ticked: no scale
    };

    explicit RealtimeView(QWidget* parent = nullptr);
    ~RealtimeView() override;

    // Once at window initialisation. The inputs are called on the tick's
    // thread; they must read values that are safe to read from there.
    void Init(const FrameRing* ring, Inputs inputs, const Clock* clock = nullptr);

    // The data port opens: a surface of the widget's present size and a strip
    // of LEN zeros. Call before StartSampling. While open, the surface
    // follows the widget's size from the next drawing on (the view area is
    // laid out only after a port opened at start-up).
    void OpenCanvas();
    // The 1 ms tick.
    void StartSampling();
    // Stops the tick and waits for a running pass to finish.
    void StopSampling();
    // The data port closes: stops the tick if it still runs, then releases
    // the surface and the strip.
    void CloseCanvas();

    // LEN box (UI thread): the text's leading digits; lengths outside
    // 10..10000 are ignored.
    void OnLengthChanged(int n) { strip_.SetLength(n); }
    // "Units": engineering values with their unit (null: physical values).
    void SetUnits(std::shared_ptr<const CompiledSensors> sensors) { strip_.SetUnits(std::move(sensors)); }

    // FRQ: drawings per second over the last 10-second window.
    int DrawRate() const { return strip_.DrawRate(); }
    void ClearDrawRate() { strip_.ClearDrawRate(); }

    // One pass of the tick, on the calling thread (tests, benchmarks).
    bool TickOnce();
    // A copy of the picture the widget shows.
    QImage Picture() const;
    RealtimeStrip& Strip() { return strip_; }
    bool Sampling() const { return ticker_.Running(); }

    // Draws `drawing` on `image` (black background, green pen and labels).
    static void Render(const RealtimeDrawing& drawing, const QFont& font, QImage& image);
    // "微软雅黑" at 8 points, or the closest font the system has.
    static QFont LabelFont();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const FrameRing* ring_ = nullptr;
    Inputs inputs_;
    const Clock* clock_ = nullptr;
    RealtimeStrip strip_;
    RealtimeTicker ticker_;
    RealtimeDrawing drawing_;  // the tick's own
    QFont font_;
    QImage back_;                 // drawn by the tick
    mutable std::mutex imageMutex_;
    QImage front_;                // shown by the widget
    std::atomic<bool> newPicture_{false};
    std::atomic<int64_t> wantedSize_{0};  // width << 32 | height, set by the UI thread
    QTimer refresh_;
    int refreshMs_ = 16;
};

}  // namespace lumora
