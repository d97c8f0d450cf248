#pragma once
// Writes what the instrument sends into rotating ".dat" files.
//
// Binary record file: "LMRA" and the format mark 0x65, then records back to
// back: each is one frame as assembled (starting with 0xFF 0xFF), followed by
// a 52-byte trailer when the frame brings none of its own.
// Text record file (opened by a JSON datagram): one line per datagram, either
// the text or {"SysTime":[s,us],"SysData":<text>}, its line breaks made blanks.
// The layouts themselves are formats/' (lmra_records.h, json_lines.h).
//
// Records are collected per receive batch and reach the file with one write
// at Flush (the end of the batch), Close or rotation: no stdio buffer holds
// them back, so a killed program loses nothing the worker has handled. A
// record reaches the file whole or not at all: after a failed or short write
// the file is cut back to its last whole record, the records that did not
// make it are counted as lost, and the failure is reported once per file.
//
// RecordData and Flush run on the receive worker only; Close must not run
// while either is in progress (the receive session joins its worker first).
// The setters may be called from any thread.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "acquisition/record_sink.h"
#include "formats/lmra_records.h"
#include "platform/clock.h"

namespace lumora {

class WindowPort;

constexpr int kFileNumberControl = 1044;

// Text of the "File Number" field: the number, or number/total when total is
// not 0.
std::string FileNumberText(int number, int total);
// Shows it in the "File Number" field; callable from any thread.
void ShowFileNumber(WindowPort& window, int number, int total);

class RawRecorder : public RecordSink {
public:
    // window may be null (no display, no failure report).
    explicit RawRecorder(WindowPort* window, const Clock& clock = SystemClock());
    ~RawRecorder() override;
    RawRecorder(const RawRecorder&) = delete;
    RawRecorder& operator=(const RawRecorder&) = delete;

    // "Save DIR" and "File Name": read whenever a file is opened.
    void SetDirectory(const std::string& dir);
    void SetFilePrefix(const std::string& prefix);
    // m_recordsPerFile ("File lines"): takes effect at the next record.
    void SetRecordsPerFile(uint32_t n) { recordsPerFile_.store(n, std::memory_order_relaxed); }
    // m_stampLocalTime ("Local Time") and the "Counter" box, read per record.
    void SetStampLocalTime(bool on) { stampLocalTime_.store(on, std::memory_order_relaxed); }
    void SetSaveCounter(bool on) { saveCounter_.store(on, std::memory_order_relaxed); }

    // Records one binary frame (first two bytes 0xFF 0xFF; stamped in place
    // when it carries its own trailer) or one text datagram. datagramCount is
    // the session's m_datagramCount at this moment. Always returns 0.
    int RecordData(uint8_t* data, size_t length, uint32_t datagramCount) override;

    // Writes the records collected since the last flush (one system call).
    void Flush() override;
    // Flushes and closes the current file, if any.
    void Close() override;

    bool IsFileOpen() const { return fileOpen_.load(std::memory_order_acquire); }
    // m_recordsInFile: records in the current file ("Saved lines").
    uint32_t RecordsInFile() const { return recordsInFile_.load(std::memory_order_relaxed); }
    void ResetRecordsInFile() override { recordsInFile_.store(0, std::memory_order_relaxed); }
    // m_fileNumber: files opened since start or Reset ("File Number").
    int FileNumber() const { return fileNumber_.load(std::memory_order_relaxed); }
    void ResetFileNumber() { fileNumber_.store(0, std::memory_order_relaxed); }
    // Path of the file opened last (empty before the first).
    std::string LastPath() const;

    // Files really created, records that reached a file and records that did
    // not (a file that could not be created, a failed write), since start or
    // ResetCounts.
    int FilesCreated() const { return filesCreated_.load(std::memory_order_relaxed); }
    uint64_t RecordsWritten() const { return recordsWritten_.load(std::memory_order_relaxed); }
    uint64_t RecordsLost() const { return recordsLost_.load(std::memory_order_relaxed); }
    // Records of the current file that did not reach it.
    uint32_t LostInFile() const { return lostInFile_.load(std::memory_order_relaxed); }
    // Records of the current file that really reached it. Records that found
    // no file at all are lost without counting toward one.
    uint32_t SavedInFile() const {
        const uint32_t inFile = RecordsInFile();
        return inFile - std::min(LostInFile(), inFile);
    }
    void ResetCounts();

    // The system call that writes to the file (write(2) unless a test puts a
    // failing one in its place).
    using WriteFunction = std::function<ssize_t(int fd, const void* data, size_t length)>;
    void SetWriteFunction(WriteFunction write) { write_ = std::move(write); }

private:
    bool OpenFile(bool binary);
    void CloseFile();
    // Collecting one record: the header of a binary file counts as a unit of
    // its own, so a failed write can drop it and have it written again.
    void Append(const void* data, size_t length);
    void EndRecord();
    void AppendHeaderIfNeeded();
    void CountLost(uint32_t records);
    void ReportWriteFailure(int err);

    WindowPort* window_;
    const Clock& clock_;

    mutable std::mutex textMutex_;  // guards dir_, prefix_, lastPath_
    std::string dir_ = ".";
    std::string prefix_ = "sa";
    std::string lastPath_;

    std::atomic<uint32_t> recordsPerFile_{100000};
    std::atomic<bool> stampLocalTime_{true};
    std::atomic<bool> saveCounter_{true};

    int fd_ = -1;
    bool needHeader_ = false;     // the file's header is still to be written
    uint64_t fileBytes_ = 0;      // whole units known to be in the file
    bool writeFailureReported_ = false;
    WriteFunction write_;

    // Records of the current batch, back to back, and where each unit ends.
    std::vector<uint8_t> pending_;
    std::vector<size_t> unitEnds_;
    bool pendingHeader_ = false;  // the first unit is the file's header

    std::atomic<bool> fileOpen_{false};
    std::atomic<uint32_t> recordsInFile_{0};
    std::atomic<int> fileNumber_{0};
    std::atomic<int> filesCreated_{0};
    std::atomic<uint64_t> recordsWritten_{0};
    std::atomic<uint64_t> recordsLost_{0};
    std::atomic<uint32_t> lostInFile_{0};
    bool failureReported_ = false;
    std::string lastBase_;  // name of the last file opened, without "_N.dat"
    int lastVariant_ = 0;
};

}  // namespace lumora
