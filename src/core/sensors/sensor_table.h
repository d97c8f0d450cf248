#pragma once
// The sensor table (sensors.csv): what each sensor is called, its unit, its
// calibration and its alarm limits.
//
// The file is UTF-8 CSV with a header line. Columns are found by their header
// names in any order; columns this program does not know are kept as they
// are when the file is written again. The table keeps every cell as the text
// it was (a coefficient typed as "1e6" stays so), and Validate() turns the
// cells into SensorRows, refusing what it cannot use with the file, line and
// column named.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/frame_types.h"

namespace lumora {

// Sensor ids run from 1 to this.
constexpr int kMaxSensorId = kMaxReadings;

// The known columns, in the order a new table lists them.
inline constexpr const char* kSensorColumns[] = {"sn",      "id",          "label", "unit", "lambda0",
                                                 "c0",      "c1",          "c2",    "c3",   "comp_id",
                                                 "comp_factor", "low",     "high",  "hysteresis"};

struct SensorRow {
    std::string sn;  // empty: any instrument
    int id = 0;
    std::string label;
    std::string unit;
    double lambda0 = 0;          // pm
    double c[4] = {0, 0, 0, 0};  // value = c0 + c1 d + c2 d^2 + c3 d^3, d in pm
    int compId = 0;              // 0: no compensating sensor
    double compFactor = 1;
    std::optional<double> low;
    std::optional<double> high;
    double hysteresis = 0;
    int line = 0;  // where the row is (or will be) in the file
};

class SensorTable {
public:
    // A table with the known columns and no rows.
    static SensorTable WithKnownColumns();

    // Reads CSV text. Lines are counted from 1 (the header); blank lines are
    // skipped; a field may be quoted ("a,b", "" for a quote) within its line.
    // False with messages "NAME:LINE: ..." in errors when the text cannot be
    // read as a table; Validate() is not run.
    bool Parse(std::string_view text, const std::string& name, std::vector<std::string>& errors);

    // Turns the cells into rows(). False with every error found, each naming
    // name, the row's line and the column; rows() is then empty.
    bool Validate(const std::string& name, std::vector<std::string>& errors);

    // The CSV text: the header and the cells as they are, quoted only where
    // they must be, lines ending in "\n".
    std::string ToCsv() const;

    // ---- the cells
    const std::vector<std::string>& Header() const { return header_; }
    size_t RowCount() const { return cells_.size(); }
    // -1 when there is no such column (names are matched without regard to case).
    int ColumnIndex(std::string_view name) const;
    // Adds the column (at the end) unless it is there; returns its index.
    int AddColumn(std::string_view name);
    // Empty text for a column the table lacks.
    const std::string& Cell(size_t row, std::string_view column) const;
    const std::string& Cell(size_t row, size_t column) const { return cells_[row][column]; }
    // Adds the column when missing.
    void SetCell(size_t row, std::string_view column, std::string value);
    void SetCell(size_t row, size_t column, std::string value) { cells_[row][column] = std::move(value); }
    // Appends an empty row; returns its index.
    size_t AddRow();
    void RemoveRow(size_t row);

    // The rows Validate() made, in table order.
    const std::vector<SensorRow>& Rows() const { return rows_; }

private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> cells_;
    std::vector<int> lines_;  // line of each row in the text it came from; 0 for rows added since
    std::vector<SensorRow> rows_;
};

// Reads and validates a file. False with the reasons in errors.
bool LoadSensorTable(const std::string& path, SensorTable& table, std::vector<std::string>& errors);
// Writes the table atomically (a failure leaves the old file). The table is
// written as it is: validate it first.
bool SaveSensorTable(const std::string& path, const SensorTable& table, std::string& error);

// ---- presets: coefficients from physical parameters
struct LinearCoefficients {
    double c0 = 0;
    double c1 = 0;
};
// A strain grating: c1 = 10^6 / (lambda0 k) microstrain per pm.
constexpr double kDefaultGaugeFactor = 0.78;
LinearCoefficients StrainPreset(double lambda0Pm, double gaugeFactor = kDefaultGaugeFactor);
// A temperature grating of sensitivity S pm/°C that reads T0 at lambda0.
LinearCoefficients TemperaturePreset(double sensitivityPmPerDegree, double t0);

// A number as the table writes it (coefficients to ten significant digits,
// whole numbers without a fraction).
std::string SensorNumberText(double v);

// ---- Zero
struct ZeroResult {
    int changed = 0;
    std::vector<size_t> missing;  // rows that apply to the frame's instrument but found no reading
};
// Writes the wavelength of each sensor of the validated table that applies
// to frame's instrument (its own row, or the row for any instrument where it
// has none) into that row's lambda0 cell. Validate again afterwards.
ZeroResult ZeroFromFrame(SensorTable& table, const FrameSlot& frame);

}  // namespace lumora
