#pragma once
// The Trace tab: the physical value of every chosen sensor-list row over the
// last (up to 500) frames, rebuilt on each tick of the trace timer when a new
// frame has arrived.
#include <QObject>
#include <QPointer>
#include <qcustomplot.h>
#include <functional>
#include <memory>
#include <vector>

#include "views/chart_controls.h"
#include "views/chart_look.h"
#include "views/trace_history.h"


namespace lumora {

class TraceView : public QObject {
    Q_OBJECT
public:
    explicit TraceView(QObject* parent = nullptr);

    // Once at window initialisation: the chart gets its look and the empty
    // start-up series. chosenRows gives the sensor-list rows that are
    // selected or ticked, in list order; active is false while the data
    // port is closed or Trace DISP is unticked.
    void Init(QCustomPlot* chart, const FrameRing* ring, std::function<std::vector<int>()> chosenRows,
              std::function<bool()> active);

    // Tick of the trace timer (UI thread).
    void UpdateTrace();

    // Opening the data port empties the start-up series if it is still there.
    void EmptyStartupSeries();
    // System reset: the next frame is taken whatever its counter.
    void ForgetLastCounter() { history_.ForgetLastCounter(); }
    // "Units": lines of engineering values from this table, named by label,
    // with the unit on the left axis (null: physical values). Redraws.
    void SetUnits(std::shared_ptr<const CompiledSensors> sensors);

    const TraceHistory& History() const { return history_; }
    TraceHistory& History() { return history_; }
    // Rebuilds the chart from the history for the given rows (UI thread).
    void Rebuild(const std::vector<int>& rows);
    int RebuildCount() const { return rebuilds_; }
    QCustomPlot* chart() const { return chart_; }
    ChartControls* Controls() const { return controls_; }

    // Whether the physical values are wavelength changes in picometres (the
    // binary frames'), drawn as nanometres; otherwise they are drawn as they
    // are. Asked at every rebuild; unset means "as they are".
    std::function<bool()> valuesArePicometres;

private:
    // The value axis's title: the units of the sensor table's lines when
    // given, else the wavelength change in nm or the plain PhysicValue.
    void ShowValueTitle(bool nanometres, const std::string* units = nullptr);
    int LegendRowsThatFit() const;

    TraceHistory history_;
    std::vector<TraceSeries> series_;
    QPointer<QCustomPlot> chart_;
    ChartReplotter* replotter_ = nullptr;  // owned by the chart
    ChartControls* controls_ = nullptr;    // owned by the chart
    QString valueTitle_;                   // the y title shown
    const FrameRing* ring_ = nullptr;
    std::function<std::vector<int>()> chosenRows_;
    std::function<bool()> active_;
    std::shared_ptr<const CompiledSensors> units_;
    int rebuilds_ = 0;
};

}  // namespace lumora
