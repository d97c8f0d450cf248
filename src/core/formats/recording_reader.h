#pragma once
// Recordings as a whole: which of the three kinds a file is, and the
// datagrams it holds, read back for replay.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "formats/headerless_pieces.h"
#include "formats/json_lines.h"
#include "formats/lmra_records.h"

namespace lumora {

enum class SourceKind { HeaderlessBinary, LmraBinary, JsonLines };

// Results of DetectSourceKind (the conversion reports the same numbers).
constexpr int kKindDetected = 0;
constexpr int kKindCannotOpen = -1;     // cannot be opened, no regular file, or no longer exists
constexpr int kKindUnknownFormat = -2;  // "LMRA" with an unknown format byte

// The kind of path from its first five bytes: FF FF FF FF headerless,
// "LMRA" 0x65 binary records, anything else JSON lines.
int DetectSourceKind(const std::string& path, SourceKind& kind);

// Opens a file for reading when it is a regular one (a fifo or a folder
// named like a recording is not); -1 otherwise, errno telling why.
int OpenRegularFile(const std::string& path);
// Reads up to n bytes; fewer only at the end of the file. -1 on a read error.
ssize_t ReadFull(int fd, uint8_t* buffer, size_t n);

struct RecordedDatagram {
    const uint8_t* data = nullptr;  // valid until the next call of Next
    size_t length = 0;
    bool haveTime = false;
    double time = 0;  // seconds since 1970, as recorded
};

// Reads one recording back as the datagrams the instrument sent: a binary
// record loses the trailer the recorder appended, a text record the SysTime
// wrapping. Reads with read(); a file whose size or modification time changes
// meanwhile ends reading with an error.
class RecordingReader {
public:
    RecordingReader();
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // Reading ends (with an error) once *cancel is set.
    void SetCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }
    // Opens a file that starts like a recording; false with the reason.
    bool Open(const std::string& path, std::string& error);
    // Reads the whole file and checks that it is a recording: every text
    // record a JSON object (after broken lines are joined), every headerless
    // piece a record, and at least one record of either. Reading then starts
    // again from the beginning. false with the reason.
    bool Check(std::string& error);
    // The next datagram; false at the end of the file or on an error.
    bool Next(RecordedDatagram& out);
    // false (with Error() set) when the file's size or modification time is
    // no longer what it was when it was opened.
    bool Unchanged();
    // Why reading ended early; empty when it did not.
    const std::string& Error() const { return error_; }

    uint64_t Offset() const { return offset_; }
    uint64_t Size() const { return size_; }
    SourceKind Kind() const { return kind_; }
    // Identity of the file as opened: device, inode, size and modification
    // time; two readers of an unchanged file give the same.
    std::string Identity() const;

private:
    void Close();
    bool Rewind();
    ssize_t ReadBody(uint8_t* into, size_t n);
    bool NextBinary(RecordedDatagram& out);
    bool NextHeaderless(RecordedDatagram& out);
    bool NextText(RecordedDatagram& out);

    std::string path_;
    int fd_ = -1;
    uint64_t size_ = 0;
    int64_t mtimeNs_ = 0;
    uint64_t device_ = 0, inode_ = 0;
    uint64_t offset_ = 0;
    SourceKind kind_ = SourceKind::LmraBinary;
    std::string error_;
    const std::atomic<bool>* cancel_ = nullptr;

    std::unique_ptr<LmraRecordReader> records_;
    std::unique_ptr<JsonRecordReader> lines_;
    std::unique_ptr<PieceCutter> cutter_;
    std::vector<uint8_t> chunk_;
    std::deque<std::vector<uint8_t>> pieces_;
    std::vector<uint8_t> piece_;
    bool bodyEnded_ = false;
};

}  // namespace lumora
