#pragma once
// Writes decoded records as CSV rows: the grouped layout (one fixed header, a
// group of columns per sensor) and the aligned layout (a column per sensor in
// the header; a record whose sensors differ is an align error and goes to the
// "_err.log" until too many come in a row).
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/frame_types.h"
#include "conversion/conversion_context.h"
#include "conversion/output_file.h"

namespace lumora {

// Readings below this wavelength (pm) are the instrument's inner sensors.
constexpr int32_t kInnerSensorLimit = 1523000;

// A growable text buffer written through a raw pointer.
class TextBuffer {
public:
    // Makes room for n more bytes and returns where they go.
    char* Reserve(size_t n) {
        if (len_ + n > cap_) Grow(len_ + n);
        return data_.get() + len_;
    }
    void SetEnd(const char* end) { len_ = static_cast<size_t>(end - data_.get()); }
    void Append(const char* s, size_t n) {
        char* p = Reserve(n);
        std::memcpy(p, s, n);
        len_ += n;
    }
    void Clear() { len_ = 0; }
    const char* Data() const { return data_.get(); }
    size_t Size() const { return len_; }
    std::string Str() const { return std::string(data_.get(), len_); }

private:
    void Grow(size_t need);
    std::unique_ptr<char[]> data_;
    size_t cap_ = 0;
    size_t len_ = 0;
};

// Formats the rows of records: the part of the work that depends on nothing
// but the record and the settings, so that several threads can format rows
// of one source at once (each with a formatter of its own) while one thread
// places them in order. It keeps its caches between records.
class RowFormatter {
public:
    RowFormatter(const ConversionContext& ctx, const ConvertSettings& settings);

    // Appends the record's row (line end included) to rows. For the aligned
    // layout its sensor keys are appended to keys too. Returns the number of
    // keys appended.
    size_t Format(const FrameSlot& record, bool listMode, TextBuffer& rows, std::vector<HeaderKey>& keys);

    // The time column text of a record time (local time; the raw number for a
    // time before 1970).
    static std::string TimeText(int32_t time, bool withDate);

private:
    void BuildRowStart(const FrameSlot& record, TextBuffer& rows);
    void BuildRowStartMs(const FrameSlot& record, TextBuffer& rows);
    void Include(const FrameSlot& record);
    void FormatGrouped(const FrameSlot& record, bool listMode, TextBuffer& rows);
    void FormatAligned(const FrameSlot& record, bool listMode, TextBuffer& rows, std::vector<HeaderKey>& keys);

    const ConversionContext& ctx_;
    ConvertSettings settings_;
    // Text of the "id.channel.serial" label of the sensor at each position of
    // the previous row: most records repeat the sensors of the one before.
    struct Label {
        HeaderKey key;
        bool valid = false;
        uint8_t length = 0;
        char text[48];
    };
    std::vector<Label> labels_;
    std::vector<int> included_;
    int32_t cachedTime_ = 0;
    bool cachedTimeValid_ = false;
    std::string cachedTimePrefix_;
};

// One writer per source: formats rows and places them in the output files in
// order (which file, which header, the align-error log).
class CsvWriter {
public:
    CsvWriter(ConversionContext& ctx, const ConvertSettings& settings);

    // Grouped layout. Always 0.
    int WriteGroupedRow(const FrameSlot& record, OutputFile& csvFile, OutputFile& logFile,
                        const std::string& sourcePath, int& fileNumber, bool listMode);
    // Aligned layout: 0 when the row went into the CSV file, -1 when only into
    // the error log. fileNumber grows when align errors force a new file.
    int WriteAlignedRow(const FrameSlot& record, OutputFile& csvFile, OutputFile& logFile,
                        const std::string& sourcePath, int& fileNumber, bool listMode);

    // The same for a row formatted already (by a RowFormatter with the same
    // settings): row holds its text, keys its sensor keys (aligned layout).
    int PlaceGroupedRow(const char* row, size_t rowLength, OutputFile& csvFile, const std::string& sourcePath,
                        int fileNumber, bool listMode);
    int PlaceAlignedRow(const char* row, size_t rowLength, const HeaderKey* keys, size_t keyCount,
                        OutputFile& csvFile, OutputFile& logFile, const std::string& sourcePath, int& fileNumber,
                        bool listMode);

    // An output file could not be created or written since this writer began.
    bool OutputFailed() const { return outputFailed_; }

    static std::string TimeText(int32_t time, bool withDate) { return RowFormatter::TimeText(time, withDate); }

private:
    void BeginOutputFile(const char* header, size_t headerLength, OutputFile& csvFile,
                         const std::string& sourcePath, int fileNumber);
    void BuildAlignedHeader(const HeaderKey* keys, size_t keyCount, bool listMode);

    ConversionContext& ctx_;
    ConvertSettings settings_;
    int alignErrorMax_;
    RowFormatter formatter_;
    TextBuffer row_;
    TextBuffer header_;
    std::vector<HeaderKey> keys_;
    std::vector<HeaderKey> keyScratch_;
    bool outputFailed_ = false;
};

}  // namespace lumora
