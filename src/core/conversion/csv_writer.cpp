#include "conversion/csv_writer.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "conversion/number_format.h"

namespace lumora {
namespace {

// Worst case of one sensor's columns in a row or a header.
constexpr size_t kPerReadingRoom = 96;

const char* GroupedHeader(bool listMode, bool unitTime, bool withSn) {
    if (listMode) return unitTime ? "Time,UTime,Counter,CH,Wavelength\n" : "Time,Counter,CH,Wavelength\n";
    if (unitTime)
        return withSn ? "Time,UTime,Counter,ID.CH.SN,Wavelength,PhysicValue\n"
                      : "Time,UTime,Counter,ID.CH,Wavelength,PhysicValue\n";
    return withSn ? "Time,Counter,ID.CH.SN,Wavelength,PhysicValue\n" : "Time,Counter,ID.CH,Wavelength,PhysicValue\n";
}

// Which header texts the keys of the aligned layout stand for.
unsigned AlignedLayout(const ConvertSettings& s, bool listMode) {
    const bool withSn = s.m_NeedSN == 1;
    return (listMode ? 1u : 0u) | (!listMode && withSn ? 2u : 0u) | (s.m_NeedUnitTime == 1 ? 4u : 0u);
}

}  // namespace

void TextBuffer::Grow(size_t need) {
    size_t cap = cap_ ? cap_ : 4096;
    while (cap < need) cap *= 2;
    std::unique_ptr<char[]> bigger(new char[cap]);
    if (len_) std::memcpy(bigger.get(), data_.get(), len_);
    data_ = std::move(bigger);
    cap_ = cap;
}

// ---- formatting ----

RowFormatter::RowFormatter(const ConversionContext& ctx, const ConvertSettings& settings)
    : ctx_(ctx), settings_(settings) {}

std::string RowFormatter::TimeText(int32_t time, bool withDate) {
    char text[64];
    if (time < 0) {
        // Before 1970 the local-time conversion is not trusted: the raw number.
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(time));
        return text;
    }
    time_t t = time;
    struct tm tm {};
    if (!localtime_r(&t, &tm)) {
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(time));
        return text;
    }
    if (withDate)
        std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    else
        std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

// "time text,UTime," or "time text," then the counter. Records of the same
// second share their time text.
void RowFormatter::BuildRowStart(const FrameSlot& record, TextBuffer& rows) {
    if (settings_.m_NeedMs == 1) {
        BuildRowStartMs(record, rows);
        return;
    }
    if (!cachedTimeValid_ || cachedTime_ != record.time) {
        cachedTimePrefix_ = TimeText(record.time, settings_.m_NeedDate == 1);
        cachedTimePrefix_ += ',';
        if (settings_.m_NeedUnitTime == 1) {
            char num[kNumberRoom];
            cachedTimePrefix_.append(num, AppendInt(num, record.time));
            cachedTimePrefix_ += ',';
        }
        cachedTime_ = record.time;
        cachedTimeValid_ = true;
    }
    rows.Append(cachedTimePrefix_.data(), cachedTimePrefix_.size());
    char* p = rows.Reserve(kNumberRoom);
    rows.SetEnd(AppendInt(p, record.counter));
}

// The same with the record's microseconds: "time text.mmm" and UTime with six
// decimals. Microseconds outside 0..999999 count as 0.
void RowFormatter::BuildRowStartMs(const FrameSlot& record, TextBuffer& rows) {
    if (!cachedTimeValid_ || cachedTime_ != record.time) {
        cachedTimePrefix_ = TimeText(record.time, settings_.m_NeedDate == 1);
        cachedTime_ = record.time;
        cachedTimeValid_ = true;
    }
    const uint32_t us = record.microseconds >= 0 && record.microseconds <= 999999
                            ? static_cast<uint32_t>(record.microseconds)
                            : 0u;
    char* p = rows.Reserve(cachedTimePrefix_.size() + 4 * kNumberRoom);
    std::memcpy(p, cachedTimePrefix_.data(), cachedTimePrefix_.size());
    p += cachedTimePrefix_.size();
    *p++ = '.';
    p = AppendDigits(p, us / 1000, 3);
    *p++ = ',';
    if (settings_.m_NeedUnitTime == 1) {
        // Seconds and the fraction as one number: a time before 1970 with a
        // fraction lies between the next lower second and its own.
        const int64_t time = record.time;
        if (time < 0 && us > 0) {
            *p++ = '-';
            p = AppendUint(p, static_cast<uint32_t>(-(time + 1)));
            *p++ = '.';
            p = AppendDigits(p, 1000000 - us, 6);
        } else {
            p = AppendInt(p, record.time);
            *p++ = '.';
            p = AppendDigits(p, us, 6);
        }
        *p++ = ',';
    }
    rows.SetEnd(AppendInt(p, record.counter));
}

void RowFormatter::Include(const FrameSlot& record) {
    included_.clear();
    int count = record.count;
    if (count > kMaxReadings) count = kMaxReadings;
    bool all = ctx_.innerSensor.load(std::memory_order_relaxed);
    for (int i = 0; i < count; ++i)
        if (all || record.readings[i].wavelength >= kInnerSensorLimit) included_.push_back(i);
}

size_t RowFormatter::Format(const FrameSlot& record, bool listMode, TextBuffer& rows, std::vector<HeaderKey>& keys) {
    BuildRowStart(record, rows);
    Include(record);
    if (settings_.m_TitleAlign == 0) {
        FormatGrouped(record, listMode, rows);
        return 0;
    }
    const size_t before = keys.size();
    FormatAligned(record, listMode, rows, keys);
    return keys.size() - before;
}

void RowFormatter::FormatGrouped(const FrameSlot& record, bool listMode, TextBuffer& rows) {
    const bool withSn = settings_.m_NeedSN == 1;
    char* p = rows.Reserve(included_.size() * kPerReadingRoom + 2);
    if (labels_.size() < included_.size()) labels_.resize(included_.size());
    for (size_t j = 0; j < included_.size(); ++j) {
        const SensorReading& r = record.readings[included_[j]];
        *p++ = ',';
        if (listMode) {
            p = AppendInt(p, r.channel);
            *p++ = ',';
            p = AppendInt(p, r.wavelength);
            continue;
        }
        Label& label = labels_[j];
        const HeaderKey key{r.id, r.channel, withSn ? r.serial : 0};
        if (!label.valid || !(label.key == key)) {
            char* t = label.text;
            t = AppendInt(t, r.id);
            *t++ = '.';
            t = AppendInt(t, r.channel);
            if (withSn) {
                *t++ = '.';
                t = AppendInt(t, r.serial);
            }
            *t++ = ',';
            label.length = static_cast<uint8_t>(t - label.text);
            label.key = key;
            label.valid = true;
        }
        // The whole label area is copied (the row has room for it); only its
        // length counts.
        for (size_t k = 0; k < sizeof label.text; k += 16) std::memcpy(p + k, label.text + k, 16);
        p += label.length;
        p = AppendInt(p, r.wavelength);
        *p++ = ',';
        p = AppendG(p, r.physicValue);
    }
    *p++ = '\n';
    rows.SetEnd(p);
}

void RowFormatter::FormatAligned(const FrameSlot& record, bool listMode, TextBuffer& rows,
                                 std::vector<HeaderKey>& keys) {
    const bool withSn = settings_.m_NeedSN == 1;
    char* p = rows.Reserve(included_.size() * kPerReadingRoom + 2);
    for (int i : included_) {
        const SensorReading& r = record.readings[i];
        *p++ = ',';
        p = AppendInt(p, r.wavelength);
        if (listMode) {
            keys.push_back({0, r.channel, 0});
            continue;
        }
        *p++ = ',';
        p = AppendG(p, r.physicValue);
        keys.push_back({r.id, r.channel, withSn ? r.serial : 0});
    }
    *p++ = '\n';
    rows.SetEnd(p);
}

// ---- placing rows in the output files ----

CsvWriter::CsvWriter(ConversionContext& ctx, const ConvertSettings& settings)
    : ctx_(ctx),
      settings_(settings),
      alignErrorMax_(AlignErrorMaxValue(settings.m_AlignErrorMax)),
      formatter_(ctx, settings) {
    // Pick up a changed time zone once per source.
    tzset();
}

void CsvWriter::BeginOutputFile(const char* header, size_t headerLength, OutputFile& csvFile,
                                const std::string& sourcePath, int fileNumber) {
    ctx_.m_currentHeader.Set(std::string(header, headerLength));
    if (csvFile.IsOpen() && !csvFile.Close()) outputFailed_ = true;
    if (!csvFile.Create(CsvOutputPath(sourcePath, fileNumber))) {
        outputFailed_ = true;
        return;
    }
    csvFile.Write(header, headerLength);
}

int CsvWriter::WriteGroupedRow(const FrameSlot& record, OutputFile& csvFile, OutputFile&,
                               const std::string& sourcePath, int& fileNumber, bool listMode) {
    row_.Clear();
    keyScratch_.clear();
    formatter_.Format(record, listMode, row_, keyScratch_);
    return PlaceGroupedRow(row_.Data(), row_.Size(), csvFile, sourcePath, fileNumber, listMode);
}

int CsvWriter::WriteAlignedRow(const FrameSlot& record, OutputFile& csvFile, OutputFile& logFile,
                               const std::string& sourcePath, int& fileNumber, bool listMode) {
    row_.Clear();
    keyScratch_.clear();
    formatter_.Format(record, listMode, row_, keyScratch_);
    return PlaceAlignedRow(row_.Data(), row_.Size(), keyScratch_.data(), keyScratch_.size(), csvFile, logFile,
                           sourcePath, fileNumber, listMode);
}

int CsvWriter::PlaceGroupedRow(const char* row, size_t rowLength, OutputFile& csvFile, const std::string& sourcePath,
                               int fileNumber, bool listMode) {
    if (ctx_.m_currentHeader.Empty()) {
        const char* header = GroupedHeader(listMode, settings_.m_NeedUnitTime == 1, settings_.m_NeedSN == 1);
        BeginOutputFile(header, std::strlen(header), csvFile, sourcePath, fileNumber);
    }
    if (csvFile.IsOpen()) csvFile.Write(row, rowLength);
    return 0;
}

// The header text of a row of the aligned layout, from its sensor keys.
void CsvWriter::BuildAlignedHeader(const HeaderKey* keys, size_t keyCount, bool listMode) {
    const bool withSn = settings_.m_NeedSN == 1;
    header_.Clear();
    const char* start = settings_.m_NeedUnitTime == 1 ? "Time,UTime,Counter" : "Time,Counter";
    header_.Append(start, std::strlen(start));
    char* h = header_.Reserve(keyCount * kPerReadingRoom + 2);
    for (size_t i = 0; i < keyCount; ++i) {
        const HeaderKey& k = keys[i];
        *h++ = ',';
        if (listMode) {
            h = AppendInt(h, k.channel);
            continue;
        }
        for (const char* suffix : {":WL,", ":PV"}) {
            h = AppendInt(h, k.id);
            *h++ = '.';
            h = AppendInt(h, k.channel);
            if (withSn) {
                *h++ = '.';
                h = AppendInt(h, k.serial);
            }
            size_t n = std::strlen(suffix);
            std::memcpy(h, suffix, n);
            h += n;
        }
    }
    *h++ = '\n';
    header_.SetEnd(h);
}

int CsvWriter::PlaceAlignedRow(const char* row, size_t rowLength, const HeaderKey* keys, size_t keyCount,
                               OutputFile& csvFile, OutputFile& logFile, const std::string& sourcePath,
                               int& fileNumber, bool listMode) {
    const unsigned layout = AlignedLayout(settings_, listMode);
    CurrentHeader& current = ctx_.m_currentHeader;
    if (!current.Empty() && current.KeysMatch(keys, keyCount, layout)) {
        ctx_.m_alignErrorRun = 0;
        if (csvFile.IsOpen()) csvFile.Write(row, rowLength);
        return 0;
    }

    BuildAlignedHeader(keys, keyCount, listMode);
    if (current.Empty()) {
        BeginOutputFile(header_.Data(), header_.Size(), csvFile, sourcePath, fileNumber);
        current.SetKeys(keys, keyCount, layout);
        if (csvFile.IsOpen()) csvFile.Write(row, rowLength);
        return 0;
    }
    if (current.Text().size() == header_.Size() &&
        std::memcmp(current.Text().data(), header_.Data(), header_.Size()) == 0) {
        current.SetKeys(keys, keyCount, layout);
        ctx_.m_alignErrorRun = 0;
        if (csvFile.IsOpen()) csvFile.Write(row, rowLength);
        return 0;
    }

    // Align error: the record's header and row go to the log.
    if (!logFile.IsOpen() && !logFile.Create(ErrorLogPath(sourcePath))) outputFailed_ = true;
    logFile.Write(header_.Data(), header_.Size());
    logFile.Write(row, rowLength);
    if (ctx_.m_alignErrorRun < alignErrorMax_) {
        ctx_.m_alignErrorRun += 1;
        return -1;
    }
    ctx_.m_alignErrorRun = 0;
    fileNumber += 1;
    BeginOutputFile(header_.Data(), header_.Size(), csvFile, sourcePath, fileNumber);
    current.SetKeys(keys, keyCount, layout);
    if (csvFile.IsOpen()) csvFile.Write(row, rowLength);
    return 0;
}

}  // namespace lumora
