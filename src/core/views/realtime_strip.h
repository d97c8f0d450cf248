#pragma once
// The realtime strip: the physical value of one reading over the last LEN
// frames, sampled from the frame ring by a 1 ms tick and drawn as a list of
// lines and labels that a painter turns into pixels.
//
// The 1 ms tick runs on its own thread while the LEN box changes on the UI
// thread; one lock makes a sampling-and-drawing pass and a change of length
// exclude each other.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "model/frame_types.h"
#include "sensors/sensor_values.h"

namespace lumora {

constexpr int kRealtimeMinLength = 10;
constexpr int kRealtimeMaxLength = 10000;
constexpr int kRealtimeDefaultLength = 100;

// Placement of the strip on a surface of width x height pixels.
struct RealtimeGeometry {
    int width = 0;
    int height = 0;
    int leftMargin = 120;
    int verticalMargin = 80;  // 40 above and 40 below the plot
    int plotWidth = 0;        // width - 180: 60 pixels are left on the right
    int plotHeight = 0;       // height - 80
    int originX = 0;          // x of the first sample and of the axis
    int originY = 0;          // y of the strip's minimum (bottom of the plot)
    float tickSpacing = 0;    // plotHeight / 10
    int labelLeft = 5;
    int labelRight = 105;

    static RealtimeGeometry For(int width, int height);
};

struct RealtimeLine {
    int x1, y1, x2, y2;
};

struct RealtimeLabel {
    int left, top, right, bottom;  // the text is one line, centred vertically, cut with an ellipsis
    std::string text;
};

struct RealtimePoint {
    int x, y;
};

// One drawing of the strip on a black surface, everything in the strip's green.
struct RealtimeDrawing {
    int width = 0;
    int height = 0;
    std::vector<RealtimeLine> scale;    // the axis, ticks and base line (empty with FULL)
    // 11 values from the top (max) to the base line (min); with units, the
    // unit above them
    std::vector<RealtimeLabel> labels;
    std::vector<RealtimePoint> line;    // one point per sample, joined in order
};

// The same picture with fewer segments: where consecutive points share an x
// (more samples than pixel columns), the segments between them are vertical
// and together cover the column from its lowest to its highest point, so
// each such run is reduced to its first, lowest, highest and last point.
// The segments between columns stay as they were.
void CompactStripLine(const std::vector<RealtimePoint>& line, std::vector<RealtimePoint>& out);

class RealtimeStrip {
public:
    // The port opens: a surface of the given size and a strip of LEN zeros.
    void Open(int width, int height);
    // The surface changed size while open: the next drawing uses the new
    // geometry; the samples stay.
    void Resize(int width, int height);
    // The port closes: the samples no longer exist. The caller stops the
    // tick first.
    void Close();
    bool IsOpen() const;

    // LEN box: n outside 10..10000 or equal to the current length is
    // ignored (false); otherwise the strip becomes n zeros while open.
    bool SetLength(int n);
    int Length() const;

    // "Units": the strip shows the engineering value of the reading instead
    // of its physical value, with its unit from the table (null: physical
    // values). A change restarts the strip from zeros; frames whose reading
    // has no value add no sample.
    void SetUnits(std::shared_ptr<const CompiledSensors> sensors);

    // One pass of the 1 ms tick. Takes the newest frame of the ring when it
    // is new; when `id` (1-based) names one of its readings, shifts that
    // reading's physical value into the strip and lays out the drawing into
    // `out`. Returns true when `out` holds a new drawing. A change of id
    // restarts the strip from zeros.
    bool Step(const FrameRing& ring, int id, bool full, RealtimeDrawing& out);

    // The rate of drawings: call once per drawing shown, with the wall clock
    // in milliseconds since 1970. The rate is the average of the last
    // window of at least 10 seconds; 0 during the first window.
    void CountDrawing(int64_t nowMs);
    int DrawRate() const { return drawRate_.load(std::memory_order_relaxed); }
    void ClearDrawRate() { drawRate_.store(0, std::memory_order_relaxed); }

    // For inspection.
    std::vector<float> Samples() const;
    float Min() const;
    float Max() const;
    int SensorId() const;
    RealtimeGeometry Geometry() const;

private:
    bool LayOut(bool full, RealtimeDrawing& out);  // with the lock held

    mutable std::mutex mutex_;
    RealtimeGeometry geometry_;
    bool open_ = false;
    int length_ = kRealtimeDefaultLength;
    std::vector<float> samples_;
    int sensorId_ = 0;
    float min_ = 1660000.0f;
    float max_ = -1660000.0f;
    int lastCounter_ = 0;
    std::shared_ptr<const CompiledSensors> units_;
    std::string unit_;  // of the sensor shown

    std::atomic<int> drawRate_{0};
    int drawCount_ = 0;         // only the drawing thread counts
    int64_t rateStartMs_ = 0;
};

}  // namespace lumora
