#include "sensor_list_widget.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "views/sensor_list.h"

namespace lumora {

SensorListModel::SensorListModel(SensorList& rows, int language, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows), language_(language) {}

int SensorListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shownRows_; }

int SensorListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kSensorListColumns;
}

QVariant SensorListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shownRows_ || index.row() >= rows_.RowCount()) return {};
    switch (role) {
        case Qt::DisplayRole: {
            char buf[64];
            int n = rows_.FormatCell(index.row(), index.column(), buf, sizeof buf);
            return QString::fromLatin1(buf, n);
        }
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(SensorListColumnRightAligned(index.column())
                                           ? Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter)
                                           : Qt::Alignment(Qt::AlignCenter));
        case Qt::CheckStateRole:
            if (index.column() == 0) return rows_.IsChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
            return {};
        default: return {};
    }
}

bool SensorListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0) return false;
    rows_.SetChecked(index.row(), value.toInt() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant SensorListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(SensorListHeader(section, language_));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(SensorListColumnRightAligned(section) ? Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter)
                                                                         : Qt::Alignment(Qt::AlignCenter));
    return {};
}

Qt::ItemFlags SensorListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

void SensorListModel::Refresh(bool rebuilt) {
    if (rebuilt || shownRows_ != rows_.RowCount()) {
        beginResetModel();
        shownRows_ = rows_.RowCount();
        endResetModel();
        return;
    }
    if (shownRows_ > 0) emit dataChanged(index(0, 3), index(shownRows_ - 1, kSensorListColumns - 1), {Qt::DisplayRole});
}

namespace {

// Draws the plain cells with one drawText each. The general delegate lays
// out every cell's text for eliding and asks the model for a dozen roles,
// which at 50 refreshes a second of a full list costs more than everything
// else the window does. The ID column with its check box keeps the general
// delegate, so the box is drawn and hit where the style puts it.
class FastCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (index.column() == 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group = option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        if (selected) painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        const Qt::Alignment align = SensorListColumnRightAligned(index.column())
                                        ? Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter)
                                        : Qt::Alignment(Qt::AlignCenter);
        painter->drawText(option.rect.adjusted(4, 0, -4, 0), static_cast<int>(align),
                          index.data(Qt::DisplayRole).toString());
    }
};

}  // namespace

SensorListWidget::SensorListWidget(SensorList& rows, int language, QWidget* parent)
    : QTableView(parent), rows_(rows), model_(new SensorListModel(rows, language, this)) {
    setObjectName("sensorList");
    setModel(model_);
    setItemDelegate(new FastCellDelegate(this));
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        rows_.ClearSelection();
        for (const QModelIndex& i : selectionModel()->selectedRows()) rows_.SetSelected(i.row(), true);
    });
}

void SensorListWidget::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    // The columns keep their proportions (100, 200, 100, 200, 200, 200) and
    // share the width of the view, whatever size the window is given; widths
    // the user drags stay until the window's size changes.
    int total = 0;
    for (int c = 0; c < kSensorListColumns; ++c) total += SensorListColumnWidth(c);
    const int width = viewport()->width();
    for (int c = 0; c < kSensorListColumns; ++c) setColumnWidth(c, SensorListColumnWidth(c) * width / total);
}

void SensorListWidget::Refresh(bool rebuilt) { model_->Refresh(rebuilt); }

bool SensorListWidget::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton && onRowClicked) {
            QModelIndex hit = indexAt(me->position().toPoint());
            onRowClicked(hit.isValid() ? hit.row() : -1);
        }
    }
    return QTableView::viewportEvent(event);
}

}  // namespace lumora
