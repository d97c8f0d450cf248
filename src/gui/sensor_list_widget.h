#pragma once
// The "List" tab: a table view over the rows the engine's SensorList keeps.
// Six columns (centred, the last right-aligned), a check box in front of each
// row, full-row multi-selection, headers that can be dragged to reorder.
// While a sensor table is loaded "Label", "Value" and "Unit" follow, reached
// by scrolling sideways, and a row in alarm is drawn red (high) or blue (low).
#include <QAbstractTableModel>
#include <QTableView>
#include <functional>

namespace lumora {

class SensorList;

class SensorListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    SensorListModel(SensorList& rows, int language, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The engine rebuilt its rows (true) or changed only the value columns.
    void Refresh(bool rebuilt);

    static const QColor& HighAlarmColour();
    static const QColor& LowAlarmColour();

private:
    SensorList& rows_;
    int language_;
    int shownRows_ = 0;
    int shownColumns_ = 0;
};

class SensorListWidget : public QTableView {
    Q_OBJECT
public:
    SensorListWidget(SensorList& rows, int language, QWidget* parent = nullptr);

    SensorListModel* listModel() const { return model_; }
    void Refresh(bool rebuilt);

    // Told the row under every click, -1 when it hit no row.
    std::function<void(int row)> onRowClicked;

protected:
    bool viewportEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The described columns share the view's width in their proportions;
    // the columns of the sensor table follow at their own widths.
    void LayOutColumns();

    SensorList& rows_;
    SensorListModel* model_;
};

}  // namespace lumora
