#include "sensors/sensor_table.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include "platform/replace_file.h"

namespace lumora {
namespace {

// A sensor table is a few hundred lines; anything this large is not one.
constexpr std::streamoff kLargestTable = 16 * 1024 * 1024;
// Enough to see what is wrong without flooding the dialog or the terminal.
constexpr size_t kMostErrors = 100;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The fields of one line; a quoted field may hold commas and doubled quotes.
// False when a quote is not closed on its line.
bool SplitFields(std::string_view line, std::vector<std::string>& fields) {
    fields.clear();
    size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                field += line[i++];
            }
            if (!closed) return false;
            const size_t comma = line.find(',', i);
            // Anything between the closing quote and the comma is kept too.
            field += Trim(line.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i));
            i = comma;
        } else {
            const size_t comma = line.find(',', i);
            field = Trim(line.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i));
            i = comma;
        }
        fields.push_back(std::move(field));
        if (i == std::string_view::npos) return true;
        ++i;  // past the comma
    }
}

bool NeedsQuotes(const std::string& s) {
    if (s.empty()) return false;
    // A field that begins with the byte-order mark would lose it as the
    // file's mark when read again.
    if (s.compare(0, 3, "\xEF\xBB\xBF") == 0) return true;
    if (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t') return true;
    return s.find_first_of(",\"\r\n") != std::string::npos;
}

void AppendField(std::string& out, const std::string& s) {
    if (!NeedsQuotes(s)) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

bool ParseNumber(std::string_view text, double& out) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool ParseWhole(std::string_view text, long long& out) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    long long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
    out = v;
    return true;
}

// Collects the messages of one validation, each "NAME:LINE: column COL: text".
class ErrorList {
public:
    ErrorList(const std::string& name, std::vector<std::string>& errors) : name_(name), errors_(errors) {}
    void Add(int line, std::string_view column, const std::string& text) {
        ++count_;
        if (errors_.size() >= kMostErrors) return;
        std::string m = name_ + ":" + std::to_string(line) + ": ";
        if (!column.empty()) m += "column " + std::string(column) + ": ";
        errors_.push_back(m + text);
    }
    int Count() const { return count_; }

private:
    const std::string& name_;
    std::vector<std::string>& errors_;
    int count_ = 0;
};

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// Reads the cells of one row into a SensorRow, reporting what it cannot use.
class RowReader {
public:
    RowReader(const SensorTable& table, size_t row, int line, ErrorList& errors)
        : table_(table), row_(row), line_(line), errors_(errors) {}

    std::string Text(const char* column) const { return std::string(Trim(table_.Cell(row_, column))); }

    // A number; empty gives def when optional, else an error.
    std::optional<double> Number(const char* column, bool required) {
        const std::string text = Text(column);
        if (text.empty()) {
            if (required) errors_.Add(line_, column, "missing");
            return std::nullopt;
        }
        double v = 0;
        if (!ParseNumber(text, v)) {
            errors_.Add(line_, column, Quoted(text) + " is not a number");
            return std::nullopt;
        }
        return v;
    }

    // A sensor id 1..320; 0 when empty and not required, or wrong.
    int Id(const char* column, bool required) {
        const std::string text = Text(column);
        if (text.empty()) {
            if (required) errors_.Add(line_, column, "missing");
            return 0;
        }
        long long v = 0;
        if (!ParseWhole(text, v)) {
            errors_.Add(line_, column, Quoted(text) + " is not a whole number");
            return 0;
        }
        if (v < 1 || v > kMaxSensorId) {
            errors_.Add(line_, column, text + " is outside 1.." + std::to_string(kMaxSensorId));
            return 0;
        }
        return static_cast<int>(v);
    }

    // Free text that must stay one CSV field of its own.
    std::string FreeText(const char* column) {
        std::string text = Text(column);
        if (text.find_first_of(",\"\r\n") != std::string::npos)
            errors_.Add(line_, column, Quoted(text) + " must not contain a comma, a quote or a line break");
        return text;
    }

private:
    const SensorTable& table_;
    size_t row_;
    int line_;
    ErrorList& errors_;
};

}  // namespace

SensorTable SensorTable::WithKnownColumns() {
    SensorTable t;
    for (const char* c : kSensorColumns) t.header_.emplace_back(c);
    return t;
}

bool SensorTable::Parse(std::string_view text, const std::string& name, std::vector<std::string>& errors) {
    header_.clear();
    cells_.clear();
    lines_.clear();
    rows_.clear();
    ErrorList list(name, errors);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // as spreadsheets save UTF-8

    std::vector<std::string> fields;
    int lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (Trim(line).empty()) continue;
        if (!SplitFields(line, fields)) {
            list.Add(lineNumber, "", "a quote is not closed on its line");
            continue;
        }
        if (header_.empty()) {
            header_ = fields;
            continue;
        }
        if (fields.size() > header_.size()) {
            list.Add(lineNumber, "",
                     std::to_string(fields.size()) + " fields, but the header names " + std::to_string(header_.size()));
            continue;
        }
        fields.resize(header_.size());
        cells_.push_back(fields);
        lines_.push_back(lineNumber);
    }
    if (header_.empty()) {
        errors.push_back(name + ":1: no header line");
        return false;
    }
    for (size_t i = 0; i < header_.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (!header_[i].empty() && SameName(header_[i], header_[j]))
                list.Add(1, header_[i], "named twice in the header");
        }
    }
    for (const char* required : {"id", "lambda0"}) {
        if (ColumnIndex(required) < 0) list.Add(1, "", std::string("no column ") + required + " in the header");
    }
    return list.Count() == 0;
}

bool SensorTable::Validate(const std::string& name, std::vector<std::string>& errors) {
    rows_.clear();
    ErrorList list(name, errors);
    for (const char* required : {"id", "lambda0"}) {
        if (ColumnIndex(required) < 0) list.Add(1, "", std::string("no column ") + required + " in the header");
    }
    if (list.Count()) return false;

    std::vector<SensorRow> rows;
    rows.reserve(cells_.size());
    for (size_t i = 0; i < cells_.size(); ++i) {
        SensorRow r;
        r.line = lines_[i] ? lines_[i] : static_cast<int>(i) + 2;
        RowReader read(*this, i, r.line, list);
        r.sn = read.Text("sn");
        r.id = read.Id("id", true);
        r.label = read.FreeText("label");
        r.unit = read.FreeText("unit");
        r.lambda0 = read.Number("lambda0", true).value_or(0);
        for (int k = 0; k < 4; ++k) r.c[k] = read.Number(kSensorColumns[5 + k], false).value_or(0);
        r.compId = read.Id("comp_id", false);
        r.compFactor = read.Number("comp_factor", false).value_or(1);
        r.low = read.Number("low", false);
        r.high = read.Number("high", false);
        r.hysteresis = read.Number("hysteresis", false).value_or(0);
        // A negative band would make a value just past a limit enter and
        // leave the alarm on alternate frames.
        if (r.hysteresis < 0) list.Add(r.line, "hysteresis", "must not be negative");
        rows.push_back(std::move(r));
    }

    std::map<std::pair<std::string, int>, int> firstLine;
    for (const SensorRow& r : rows) {
        if (r.id == 0) continue;
        auto [it, fresh] = firstLine.emplace(std::make_pair(r.sn, r.id), r.line);
        if (!fresh) {
            list.Add(r.line, "id",
                     "sensor " + std::to_string(r.id) + " of " +
                         (r.sn.empty() ? std::string("any instrument") : "instrument " + r.sn) +
                         " is already on line " + std::to_string(it->second));
        }
    }
    for (const SensorRow& r : rows) {
        if (r.compId == 0) continue;
        bool found = false;
        for (const SensorRow& c : rows) {
            // A row for one instrument is compensated by that instrument's
            // sensor or by one listed for any; a row for any instrument by a
            // row of any kind (instruments without one get no value).
            if (c.id == r.compId && (r.sn.empty() || c.sn.empty() || c.sn == r.sn)) {
                found = true;
                break;
            }
        }
        if (!found) list.Add(r.line, "comp_id", "sensor " + std::to_string(r.compId) + " has no row");
    }
    if (list.Count()) return false;
    rows_ = std::move(rows);
    return true;
}

std::string SensorTable::ToCsv() const {
    std::string out;
    for (size_t c = 0; c < header_.size(); ++c) {
        if (c) out += ',';
        AppendField(out, header_[c]);
    }
    out += '\n';
    for (const auto& row : cells_) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c) out += ',';
            AppendField(out, row[c]);
        }
        out += '\n';
    }
    return out;
}

int SensorTable::ColumnIndex(std::string_view name) const {
    for (size_t i = 0; i < header_.size(); ++i)
        if (SameName(header_[i], name)) return static_cast<int>(i);
    return -1;
}

int SensorTable::AddColumn(std::string_view name) {
    const int existing = ColumnIndex(name);
    if (existing >= 0) return existing;
    header_.emplace_back(name);
    for (auto& row : cells_) row.resize(header_.size());
    return static_cast<int>(header_.size()) - 1;
}

const std::string& SensorTable::Cell(size_t row, std::string_view column) const {
    static const std::string kEmpty;
    const int c = ColumnIndex(column);
    return c < 0 ? kEmpty : cells_[row][static_cast<size_t>(c)];
}

void SensorTable::SetCell(size_t row, std::string_view column, std::string value) {
    const int c = AddColumn(column);
    cells_[row][static_cast<size_t>(c)] = std::move(value);
}

size_t SensorTable::AddRow() {
    cells_.emplace_back(header_.size());
    lines_.push_back(0);
    return cells_.size() - 1;
}

void SensorTable::RemoveRow(size_t row) {
    cells_.erase(cells_.begin() + static_cast<std::ptrdiff_t>(row));
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(row));
    rows_.clear();
}

bool LoadSensorTable(const std::string& path, SensorTable& table, std::vector<std::string>& errors) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        errors.push_back("cannot read " + path + ": " + std::strerror(errno));
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || size > kLargestTable) {
        errors.push_back(path + ": too large for a sensor table");
        return false;
    }
    in.seekg(0);
    std::string text(static_cast<size_t>(size), '\0');
    if (!in.read(text.data(), size)) {
        errors.push_back("cannot read " + path);
        return false;
    }
    return table.Parse(text, path, errors) && table.Validate(path, errors);
}

bool SaveSensorTable(const std::string& path, const SensorTable& table, std::string& error) {
    switch (ReplaceFile(path, table.ToCsv())) {
        case ReplaceResult::Ok:
            return true;
        case ReplaceResult::ReadOnly:
            error = path + " is read-only";
            return false;
        case ReplaceResult::Failed:
            break;
    }
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
}

LinearCoefficients StrainPreset(double lambda0Pm, double gaugeFactor) {
    return {0, 1e6 / (lambda0Pm * gaugeFactor)};
}

LinearCoefficients TemperaturePreset(double sensitivityPmPerDegree, double t0) {
    return {t0, 1.0 / sensitivityPmPerDegree};
}

std::string SensorNumberText(double v) {
    char buf[40];
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15)
        std::snprintf(buf, sizeof buf, "%.0f", v);
    else
        std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

ZeroResult ZeroFromFrame(SensorTable& table, const FrameSlot& frame) {
    ZeroResult result;
    const std::vector<SensorRow>& rows = table.Rows();
    const int count = std::clamp<int>(frame.count, 0, kMaxReadings);
    for (size_t i = 0; i < rows.size(); ++i) {
        const SensorRow& r = rows[i];
        bool applies = r.sn == frame.sn;
        if (r.sn.empty()) {
            applies = true;
            for (const SensorRow& other : rows)
                if (other.id == r.id && !other.sn.empty() && other.sn == frame.sn) applies = false;
        }
        if (!applies) continue;
        int k = 0;
        while (k < count && frame.readings[k].id != r.id) ++k;
        if (k == count) {
            result.missing.push_back(i);
            continue;
        }
        table.SetCell(i, "lambda0", std::to_string(frame.readings[k].wavelength));
        ++result.changed;
    }
    return result;
}

}  // namespace lumora
