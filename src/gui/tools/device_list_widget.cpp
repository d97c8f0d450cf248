#include "tools/device_list_widget.h"

#include <QHeaderView>

#include "device/device_discovery.h"
#include "tools/tool_text.h"

namespace lumora {

using tools::Q;

DeviceListWidget::DeviceListWidget(DeviceDiscovery& discovery, QWidget* parent)
    : QTableWidget(0, kDeviceListColumns, parent), discovery_(discovery) {
    setObjectName(QStringLiteral("deviceList"));
    setFrameShape(QFrame::StyledPanel);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    for (int c = 0; c < kDeviceListColumns; ++c) {
        auto* header = new QTableWidgetItem(Q(DeviceListColumnCaption(c)));
        header->setTextAlignment(Qt::AlignCenter);
        setHorizontalHeaderItem(c, header);
        setColumnWidth(c, DeviceListColumnWidth(c));
    }
    // A double click on no row hits no address and opens nothing.
    connect(this, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { discovery_.OnRowDoubleClicked(row); });
    Refresh();
}

void DeviceListWidget::Refresh() {
    const auto& rows = discovery_.Rows();
    setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) SetRow(r, rows[static_cast<size_t>(r)]);
}

void DeviceListWidget::ShowNewestDevice() {
    const auto& rows = discovery_.Rows();
    if (rows.empty() || static_cast<size_t>(rowCount()) + 1 != rows.size()) {
        Refresh();  // not one row behind: show everything again
        return;
    }
    insertRow(0);
    SetRow(0, rows.front());
}

void DeviceListWidget::SetRow(int row, const DeviceRow& cells) {
    for (int c = 0; c < kDeviceListColumns; ++c) {
        QTableWidgetItem* it = item(row, c);
        if (!it) {
            it = new QTableWidgetItem;
            it->setTextAlignment(Qt::AlignCenter);
            setItem(row, c, it);
        }
        it->setText(Q(cells.cells[static_cast<size_t>(c)]));
    }
}

}  // namespace lumora
