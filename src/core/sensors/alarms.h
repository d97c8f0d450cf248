#pragma once
// Alarm states of sensors and the alarm log (alarms.csv).
//
// A sensor enters HIGH when its value rises above high and leaves when it
// falls below high - hysteresis; it enters LOW when the value falls below low
// and leaves when it rises above low + hysteresis. An empty value changes
// nothing. Every sensor starts NORMAL and only changes are reported.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace lumora {

enum class AlarmState : int8_t { Low = -1, Normal = 0, High = 1 };

// "HIGH", "LOW" or "NORMAL".
const char* AlarmStateName(AlarmState state);

// The state after a value. Limits that are absent are infinite.
inline AlarmState NextAlarmState(AlarmState state, double value, double low, double high, double hysteresis) {
    if (std::isnan(value)) return state;
    if (state == AlarmState::High && value < high - hysteresis) state = AlarmState::Normal;
    if (state == AlarmState::Low && value > low + hysteresis) state = AlarmState::Normal;
    // Leaving one alarm may go straight into the other.
    if (state == AlarmState::Normal) {
        if (value > high) return AlarmState::High;
        if (value < low) return AlarmState::Low;
    }
    return state;
}

struct AlarmTransition {
    int64_t seconds = 0;  // the frame's time
    int32_t microseconds = 0;
    std::string sn;  // the frame's serial-number text
    int id = 0;
    std::string label;
    std::string unit;
    double value = 0;
    AlarmState state = AlarmState::Normal;
    AlarmState previous = AlarmState::Normal;
};

// "YYYY-MM-DD HH:MM:SS.mmm" in local time.
std::string AlarmTimeText(int64_t seconds, int32_t microseconds);
// One line of alarms.csv without its line end: Time,SN,ID,Label,Value,State
// (an SN with a comma, a quote or a line break in quotes).
std::string AlarmLogLine(const AlarmTransition& t);

// Appends transitions to alarms.csv. The file is created (with its header)
// by the first transition written to it, and every Append reaches the disk
// (fsync) before it returns. What cannot be written is kept and tried again
// with the next Append, up to a bound.
class AlarmLog {
public:
    static constexpr const char* kHeader = "Time,SN,ID,Label,Value,State";
    static constexpr size_t kMostKept = 100000;

    // Empty: transitions are not written (nor kept).
    void SetPath(std::string path);
    const std::string& Path() const { return path_; }

    // Writes what is kept from earlier failures and then lines. False when
    // the file could not be written (error says why); the lines are kept.
    bool Append(const std::vector<std::string>& lines, std::string& error);
    // Lines not written because more than kMostKept were waiting.
    uint64_t Lost() const { return lost_; }
    size_t Waiting() const { return waiting_.size(); }

private:
    std::string path_;
    std::vector<std::string> waiting_;
    uint64_t lost_ = 0;
};

}  // namespace lumora
