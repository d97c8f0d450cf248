#pragma once
// What the "List" tab shows: one row per reading of the latest frame, with ID,
// SN and channel fixed while the frame layout stays the same, and wavelength,
// wavelength change since the layout frame and physical value refreshed on
// every tick. The rows are rebuilt only when the layout changes, so the check
// marks and the selection survive the 50 refreshes a second.
//
// All members run on the UI thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/frame_types.h"
#include "sensors/sensor_values.h"

namespace lumora {

constexpr int kSensorListColumns = 6;
// While a sensor table is loaded, "Label", "Value" and "Unit" follow.
constexpr int kSensorListLabelColumn = 6;
constexpr int kSensorListValueColumn = 7;
constexpr int kSensorListUnitColumn = 8;
constexpr int kSensorListColumnsWithValues = 9;

// Header texts "ID", "SN", "CH", "Wavelength", "WL Delta", "PhysicValue"
// (the last four from the string table, in the language given), then
// "Label", "Value", "Unit".
std::string SensorListHeader(int column, int language);
// Column widths in pixels at 100 % scale.
int SensorListColumnWidth(int column);
// All columns are centred except PhysicValue and Value, which are right-aligned.
bool SensorListColumnRightAligned(int column);

struct SensorListRefresh {
    bool rebuilt = false;        // rows were deleted and built anew (selection and checks gone)
    bool relabelled = false;     // the columns or the labels changed (a table was loaded or left)
    bool takeReference = false;  // the caller must make this frame the physical-value reference
};

class SensorList {
public:
    SensorList();

    // One refresh with the latest frame (the steps after the status fields):
    // rebuilds the rows when the layout (count and every id, serial, channel)
    // differs from the layout frame, then sets the three value columns.
    // resetRequested is the RST request; the result says whether the frame
    // becomes the reference (on a rebuild, or when reset was requested).
    SensorListRefresh Refresh(const FrameSlot& frame, bool resetRequested);

    // The sensor table whose labels and units the rows show (null: none;
    // the list then has its six columns). Takes effect at the next Refresh.
    void SetSensors(std::shared_ptr<const CompiledSensors> sensors);
    int ColumnCount() const { return sensors_ ? kSensorListColumnsWithValues : kSensorListColumns; }
    // The alarm state of the row's sensor in the frame shown: 0 normal, 1 high, -1 low.
    int AlarmOf(int row) const;

    int RowCount() const { return rowCount_; }
    const SensorReading& Reading(int row) const { return values_[static_cast<size_t>(row)]; }
    int32_t WavelengthDelta(int row) const;

    // Cell text as shown: "%d" for ID, SN and CH, "%ld" for the two
    // wavelength columns, "%g" for the physical value and the value (empty
    // where it is), label and unit as the table has them (UTF-8). Writes at
    // most size bytes including the NUL and returns the length; 0 outside
    // the rows.
    int FormatCell(int row, int column, char* out, size_t size) const;
    std::string CellText(int row, int column) const;

    // Check marks and selection of the rows; both cleared by a rebuild.
    void SetChecked(int row, bool checked);
    bool IsChecked(int row) const;
    void SetSelected(int row, bool selected);
    bool IsSelected(int row) const;
    void ClearSelection();
    // Rows that are selected or ticked, in ascending order (what the trace
    // view draws).
    std::vector<int> ChosenRows() const;

    // Row last clicked, -1 when the click hit no row.
    int LastClickedRow() const { return lastClickedRow_; }
    void SetLastClickedRow(int row) { lastClickedRow_ = row; }

    // How many times the rows were rebuilt (for tests and the benchmark).
    long RebuildCount() const { return rebuilds_; }

private:
    bool LayoutUnchanged(const FrameSlot& frame, int count) const;
    void Relabel(const char* sn);

    int rowCount_ = 0;
    // m_listLayoutFrame: the readings of the frame the rows were built from.
    int layoutCount_ = 0;
    std::vector<SensorReading> layout_;
    // Readings of the frame shown last (row i = reading i).
    std::vector<SensorReading> values_;
    std::vector<uint8_t> checked_;
    std::vector<uint8_t> selected_;
    int lastClickedRow_ = -1;
    long rebuilds_ = 0;

    // The sensor table and what it gives each row.
    std::shared_ptr<const CompiledSensors> sensors_;
    bool sensorsChanged_ = false;
    std::string labelSn_;  // the instrument the labels are for
    std::vector<const SensorRow*> rowSensors_;
    bool haveValues_ = false;
    std::vector<double> engValues_;
    std::vector<int8_t> alarms_;
};

}  // namespace lumora
