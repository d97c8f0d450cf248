#pragma once
// What the user does with a chart: the wheel zooms, dragging pans and a
// double click fits both axes to the data; the context menu saves the picture
// (PNG or PDF), copies the shown series as CSV to the clipboard, or gives the
// axes back to the view. The view's own ranges hold until the user zooms,
// pans or fits; after a fit the axes follow the data at every redraw, after
// zooming or panning they stay where the user put them.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <qcustomplot.h>

#include "window/string_table.h"

namespace lumora {

class ChartControls : public QObject {
    Q_OBJECT
public:
    enum class Ranges { View, Fitted, User };

    // Owned by the chart.
    ChartControls(QCustomPlot* chart, Language lang);

    void SetAxisTitles(const QString& x, const QString& y);

    // The view's ranges for this redraw: taken while the ranges are the
    // view's; fitted to the data instead after a double click; left alone
    // once the user zoomed or panned.
    void ApplyRanges(const QCPRange& x, const QCPRange& y);

    Ranges Mode() const { return mode_; }
    // The axes go back to the view from its next redraw on.
    void GiveRangesToView();
    // Fits both axes to the data now and from then on (the double click).
    void Fit();

    // The ranges as one line for the settings file: "view", "fit" or
    // "x0 x1 y0 y1"; and back (false for a text it does not understand).
    QString RangesText() const;
    bool SetRangesText(const QString& text);

    // The series shown, as CSV: the x axis's title and one column per
    // series, one row per x within the shown x range.
    QString DataCsv() const;
    // Writes the chart as PDF when path ends in ".pdf", otherwise as PNG.
    bool SaveImage(const QString& path) const;
    // Asks for the image's file name (tests answer it); empty = cancelled.
    std::function<QString()> chooseImageFile;

signals:
    // The user changed the ranges (zoom, pan, fit, or back to the view).
    void rangesChanged();

private:
    void OnAxisRangeChanged();
    void ShowMenu(const QPoint& pos);
    void SaveImageAs();
    void SetRanges(const QCPRange& x, const QCPRange& y);
    void FitAxes();

    QPointer<QCustomPlot> chart_;
    Language lang_;
    Ranges mode_ = Ranges::View;
    int applying_ = 0;  // >0 while the program itself sets the ranges
    QCPRange viewX_, viewY_;  // the view's last ranges
    bool haveViewRanges_ = false;
};

}  // namespace lumora
