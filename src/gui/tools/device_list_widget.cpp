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
    const std::vector<DeviceRow>& rows = discovery_.Rows();
    setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        for (int c = 0; c < kDeviceListColumns; ++c) {
            const std::string& text = rows[static_cast<size_t>(r)].cells[static_cast<size_t>(c)];
            QTableWidgetItem* it = item(r, c);
            if (!it) {
                it = new QTableWidgetItem;
                it->setTextAlignment(Qt::AlignCenter);
                setItem(r, c, it);
            }
            it->setText(Q(text));
        }
    }
}

}  // namespace lumora
