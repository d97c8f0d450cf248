#pragma once
// The "Active SA" view: the instruments found by device discovery, newest
// first, in ten centred columns. A double click on a row opens the
// instrument's web page.
#include <QTableWidget>

namespace lumora {

class DeviceDiscovery;
struct DeviceRow;

class DeviceListWidget : public QTableWidget {
    Q_OBJECT
public:
    explicit DeviceListWidget(DeviceDiscovery& discovery, QWidget* parent = nullptr);

    // Shows all of the discovery's rows again.
    void Refresh();
    // Shows the device the discovery listed last as a new row at the top; the
    // rows below are not touched.
    void ShowNewestDevice();

private:
    void SetRow(int row, const DeviceRow& cells);
    DeviceDiscovery& discovery_;
};

}  // namespace lumora
