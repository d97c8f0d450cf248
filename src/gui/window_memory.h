#pragma once
// What the program remembers of its window, in the section [Window] of the
// settings file, beside the described keys (which it never touches):
//
//   Geometry      x,y,width,height of the window (written when the program ends)
//   Maximized     1 when the window was maximised
//   Tab           the view tab shown
//   Sensors       ids of the ticked sensor-list rows, "3,5,7"
//   SpectrumDisp  the Spectrum DISP box
//   RealtimeId    the realtime view's ID
//   SpectrumRange, TraceRange  the charts' ranges: "view", "fit" or "x0 x1 y0 y1"
//
// Each is written when it changes and applied at the next start.
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>

namespace lumora {

class ChartControls;
class MainWindow;
class SettingsStore;

class WindowMemory : public QObject {
    Q_OBJECT
public:
    WindowMemory(MainWindow& window, SettingsStore& settings);

    // Before the window is first shown: its size and place, when they still
    // fit a screen of this desktop.
    void RestoreGeometry();
    // After the window's initialisation: the tab, Spectrum DISP, the ID, and
    // the ticks, which are put on the rows the first time they are built.
    // From then on every change is written.
    void RestoreViews();
    // A chart whose ranges are remembered under `key` (e.g. "TraceRange"):
    // the remembered ranges are applied now, and written when they change.
    void RememberChart(const QString& key, ChartControls* chart);
    // When the program ends (also writes chart ranges still waiting).
    void SaveGeometry();

    // The sensor-list rows were built anew (before they are shown).
    void OnRowsRebuilt();

private:
    QString Read(const char* key) const;
    void Write(const char* key, const QString& value);
    void WriteTickedSensors();
    void FlushChartWrites();

    struct PendingWrite {
        QTimer* timer = nullptr;
        std::function<void()> write;
    };

    MainWindow& window_;
    SettingsStore& settings_;
    QSet<int> pendingTicks_;  // ids to tick when the rows are first built
    bool ticksPending_ = false;
    bool writing_ = false;    // changes are written (after RestoreViews)
    std::map<QString, PendingWrite> chartWrites_;
};

}  // namespace lumora
