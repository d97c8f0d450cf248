#include "views/sensor_list.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "window/string_table.h"

namespace lumora {

std::string SensorListHeader(int column, int language) {
    Language lang = LanguageFromSetting(language);
    switch (column) {
        case 0: return "ID";
        case 1: return "SN";
        case 2: return LoadString(201, lang);
        case 3: return LoadString(202, lang);
        case 4: return LoadString(203, lang);
        case 5: return LoadString(204, lang);
        case kSensorListLabelColumn: return LoadString(265, lang);
        case kSensorListValueColumn: return LoadString(266, lang);
        case kSensorListUnitColumn: return LoadString(267, lang);
        default: return {};
    }
}

int SensorListColumnWidth(int column) {
    static const int kWidths[kSensorListColumnsWithValues] = {100, 200, 100, 200, 200, 200, 200, 200, 100};
    return column >= 0 && column < kSensorListColumnsWithValues ? kWidths[column] : 0;
}

bool SensorListColumnRightAligned(int column) {
    return column == kSensorListColumns - 1 || column == kSensorListValueColumn;
}

SensorList::SensorList()
    : layout_(kMaxReadings),
      values_(kMaxReadings),
      checked_(kMaxReadings, 0),
      selected_(kMaxReadings, 0),
      rowSensors_(kMaxReadings, nullptr),
      engValues_(kMaxReadings, 0.0),
      alarms_(kMaxReadings, 0) {}

void SensorList::SetSensors(std::shared_ptr<const CompiledSensors> sensors) {
    if (sensors == sensors_) return;
    sensors_ = std::move(sensors);
    sensorsChanged_ = true;
}

void SensorList::Relabel(const char* sn) {
    labelSn_ = sn;
    const SensorPlan* plan = sensors_ ? &sensors_->PlanFor(labelSn_) : nullptr;
    for (int k = 0; k < rowCount_; ++k) {
        const SensorCalibration* cal = plan ? plan->Find(layout_[static_cast<size_t>(k)].id) : nullptr;
        rowSensors_[static_cast<size_t>(k)] = cal ? cal->row : nullptr;
    }
}

int SensorList::AlarmOf(int row) const {
    if (!sensors_ || !haveValues_ || row < 0 || row >= rowCount_) return 0;
    return alarms_[static_cast<size_t>(row)];
}

bool SensorList::LayoutUnchanged(const FrameSlot& frame, int count) const {
    if (count != layoutCount_) return false;
    for (int k = 0; k < count; ++k) {
        const SensorReading& a = frame.readings[k];
        const SensorReading& b = layout_[static_cast<size_t>(k)];
        if (a.id != b.id || a.serial != b.serial || a.channel != b.channel) return false;
    }
    return true;
}

SensorListRefresh SensorList::Refresh(const FrameSlot& frame, bool resetRequested) {
    SensorListRefresh result;
    // A slot never holds more than its 320 readings, whatever count says.
    int count = std::clamp<int>(frame.count, 0, kMaxReadings);
    if (!LayoutUnchanged(frame, count)) {
        rowCount_ = count;
        layoutCount_ = count;
        std::copy(frame.readings, frame.readings + count, layout_.begin());
        std::fill(checked_.begin(), checked_.end(), 0);
        std::fill(selected_.begin(), selected_.end(), 0);
        ++rebuilds_;
        result.rebuilt = true;
        result.takeReference = true;
    }
    std::copy(frame.readings, frame.readings + count, values_.begin());
    if (resetRequested) result.takeReference = true;

    // Labels follow the table, the layout and the instrument.
    if (sensorsChanged_ || result.rebuilt || labelSn_ != frame.sn) {
        result.relabelled = sensorsChanged_;
        sensorsChanged_ = false;
        Relabel(frame.sn);
    }
    haveValues_ = sensors_ && frame.hasValues;
    if (haveValues_) {
        std::copy(frame.values, frame.values + count, engValues_.begin());
        std::copy(frame.alarms, frame.alarms + count, alarms_.begin());
    }
    return result;
}

int32_t SensorList::WavelengthDelta(int row) const {
    if (row < 0 || row >= rowCount_) return 0;
    // Unsigned arithmetic: wavelengths far apart must not overflow.
    uint32_t d = static_cast<uint32_t>(values_[static_cast<size_t>(row)].wavelength) -
                 static_cast<uint32_t>(layout_[static_cast<size_t>(row)].wavelength);
    return static_cast<int32_t>(d);
}

int SensorList::FormatCell(int row, int column, char* out, size_t size) const {
    if (size == 0) return 0;
    out[0] = '\0';
    if (row < 0 || row >= rowCount_) return 0;
    const SensorReading& r = values_[static_cast<size_t>(row)];
    const SensorRow* sensor = sensors_ ? rowSensors_[static_cast<size_t>(row)] : nullptr;
    const double value = engValues_[static_cast<size_t>(row)];
    int n = 0;
    switch (column) {
        case kSensorListLabelColumn:
            if (sensor) n = std::snprintf(out, size, "%s", sensor->label.c_str());
            break;
        case kSensorListValueColumn:
            if (sensors_ && haveValues_ && !std::isnan(value)) n = std::snprintf(out, size, "%g", value);
            break;
        case kSensorListUnitColumn:
            if (sensor) n = std::snprintf(out, size, "%s", sensor->unit.c_str());
            break;
        case 0: n = std::snprintf(out, size, "%d", layout_[static_cast<size_t>(row)].id); break;
        case 1: n = std::snprintf(out, size, "%d", layout_[static_cast<size_t>(row)].serial); break;
        case 2: n = std::snprintf(out, size, "%d", layout_[static_cast<size_t>(row)].channel); break;
        case 3: n = std::snprintf(out, size, "%ld", static_cast<long>(r.wavelength)); break;
        case 4: n = std::snprintf(out, size, "%ld", static_cast<long>(WavelengthDelta(row))); break;
        case 5: n = std::snprintf(out, size, "%g", r.physicValue); break;
        default: return 0;
    }
    if (n < 0) return 0;
    return std::min<int>(n, static_cast<int>(size) - 1);
}

std::string SensorList::CellText(int row, int column) const {
    char buf[256];
    int n = FormatCell(row, column, buf, sizeof buf);
    return std::string(buf, static_cast<size_t>(n));
}

void SensorList::SetChecked(int row, bool checked) {
    if (row >= 0 && row < rowCount_) checked_[static_cast<size_t>(row)] = checked;
}
bool SensorList::IsChecked(int row) const { return row >= 0 && row < rowCount_ && checked_[static_cast<size_t>(row)]; }
void SensorList::SetSelected(int row, bool selected) {
    if (row >= 0 && row < rowCount_) selected_[static_cast<size_t>(row)] = selected;
}
bool SensorList::IsSelected(int row) const {
    return row >= 0 && row < rowCount_ && selected_[static_cast<size_t>(row)];
}
void SensorList::ClearSelection() { std::fill(selected_.begin(), selected_.end(), 0); }

std::vector<int> SensorList::ChosenRows() const {
    std::vector<int> rows;
    for (int i = 0; i < rowCount_; ++i)
        if (checked_[static_cast<size_t>(i)] || selected_[static_cast<size_t>(i)]) rows.push_back(i);
    return rows;
}

}  // namespace lumora
