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
#include <string>
#include <vector>

#include "model/frame_types.h"

namespace lumora {

constexpr int kSensorListColumns = 6;

// Header texts "ID", "SN", "CH", "Wavelength", "WL Delta", "PhysicValue"
// (the last four from the string table, in the language given).
std::string SensorListHeader(int column, int language);
// Column widths in pixels at 100 % scale.
int SensorListColumnWidth(int column);
// All columns are centred except the last, which is right-aligned.
bool SensorListColumnRightAligned(int column);

struct SensorListRefresh {
    bool rebuilt = false;        // rows were deleted and built anew (selection and checks gone)
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

    int RowCount() const { return rowCount_; }
    const SensorReading& Reading(int row) const { return values_[static_cast<size_t>(row)]; }
    int32_t WavelengthDelta(int row) const;

    // Cell text as shown: "%d" for ID, SN and CH, "%ld" for the two
    // wavelength columns, "%g" for the physical value. Writes at most size
    // bytes including the NUL and returns the length; 0 outside the rows.
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
};

}  // namespace lumora
