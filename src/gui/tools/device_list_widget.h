#pragma once
// The "Active SA" view: the instruments found by device discovery, newest
// first, in ten centred columns. A double click on a row opens the
// instrument's web page.
#include <QTableWidget>

namespace lumora {

class DeviceDiscovery;

class DeviceListWidget : public QTableWidget {
    Q_OBJECT
public:
    explicit DeviceListWidget(DeviceDiscovery& discovery, QWidget* parent = nullptr);

    // Shows the discovery's rows again (after a device was added).
    void Refresh();

private:
    DeviceDiscovery& discovery_;
};

}  // namespace lumora
