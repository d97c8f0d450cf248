#include "conversion/recorded_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "conversion/csv_writer.h"
#include "conversion/output_file.h"
#include "json/json_reading.h"

namespace lumora {
namespace {

constexpr size_t kReadChunk = 1 << 20;

std::string CannotRead(int error) { return std::string("cannot be read: ") + std::strerror(error); }

std::string LineReaderFailure(int error) {
    if (error == EMSGSIZE) return "a line is longer than " + std::to_string(TextLineReader::kMaxLine >> 20) + " MiB";
    return CannotRead(error);
}

// What an exception caught while converting says to the user.
std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "the conversion ran out of memory";
    } catch (const std::exception& e) {
        return std::string("the conversion failed: ") + e.what();
    } catch (...) {
        return "the conversion failed";
    }
}

// Reads the whole file from its current position through buffer, calling
// feed(data, n) -> bool for every chunk. false on a read error or when feed
// asked to stop (stopped is then set).
template <class F>
bool ReadChunks(int fd, uint8_t* buffer, F&& feed, bool* stopped = nullptr) {
    for (;;) {
        ssize_t r = ReadFull(fd, buffer, kReadChunk);
        if (r < 0) return false;
        if (r > 0 && !feed(buffer, static_cast<size_t>(r))) {
            if (stopped) *stopped = true;
            return false;
        }
        if (static_cast<size_t>(r) < kReadChunk) return true;
    }
}

// ---- the driver: two threads per source ----
//
// The reader thread reads the source and cuts it into items (binary pieces
// or text lines), copied into batches. Each batch is then decoded and
// formatted into CSV rows by one of the two threads, in turn: the reader
// formats every other batch, the conversion thread the rest. The conversion
// thread places the rows in order (which file, which header, the error log)
// and writes them. Only a few batches exist, so memory stays the same for
// any size of source.

// Items of a batch: text lines, or binary records. A binary record carries
// up to 320 readings and makes a row about ten times as long as a recorded
// text line does, so fewer of them keep a batch's rows to the same size.
constexpr size_t kBatchLines = 256;
constexpr size_t kBatchRecords = 128;
constexpr size_t kBatchBytes = 1 << 19;
constexpr int kBatchCount = 4;
// Bytes readable after every item, for a parser that reads a little past the
// end of its input.
constexpr size_t kItemPadding = json::kPadding;

enum class ItemResult : uint8_t { Record, Skip, Fail };

// How the items of a source become records. Binary pieces that are not
// valid records are skipped. A JSON line is decoded without the previous
// line's counter, so that batches can be decoded apart; the conversion
// thread applies the duplicate rule in order.
struct ItemDecoder {
    SourceKind kind;
    bool onlyMatched;
    // capacity: bytes readable from item on, so that a JSON line is parsed
    // where it lies in the batch.
    ItemResult operator()(const char* item, size_t n, size_t capacity, FrameSlot& slot) const {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(item);
        switch (kind) {
            case SourceKind::LmraBinary:
                return DecodeLmraPiece(bytes, n, slot) ? ItemResult::Record : ItemResult::Skip;
            case SourceKind::HeaderlessBinary:
                return DecodeHeaderlessPiece(bytes, n, slot) ? ItemResult::Record : ItemResult::Skip;
            case SourceKind::JsonLines:
                break;
        }
        JsonLineState fresh;
        switch (DecodeJsonLine(item, n, onlyMatched, fresh, slot, capacity)) {
            case JsonLineResult::Record:
                return ItemResult::Record;
            case JsonLineResult::Skip:
                return ItemResult::Skip;
            case JsonLineResult::Fail:
                break;
        }
        return ItemResult::Fail;
    }
};

// After the items of a batch.
constexpr int kMoreFollow = 1;
constexpr int kSourceEnd = 0;  // otherwise a failure result of the source

struct Batch {
    int64_t index = 0;
    std::vector<char> raw;
    size_t rawUsed = 0;
    std::vector<uint32_t> itemEnd;
    std::vector<int64_t> itemLine;  // number of each item's first line (text sources)
    int after = kMoreFollow;

    bool formatted = false;
    std::vector<ItemResult> results;
    std::vector<int32_t> counters;
    TextBuffer rows;
    std::vector<uint32_t> rowEnd;
    std::vector<HeaderKey> keys;
    std::vector<uint32_t> keyEnd;

    size_t Items() const { return itemEnd.size(); }
    const char* Item(size_t i, size_t& n) const {
        size_t begin = i ? itemEnd[i - 1] : 0;
        n = itemEnd[i] - begin;
        return raw.data() + begin;
    }
    // Bytes readable from item i on: the items after it and the padding.
    size_t Capacity(const char* item) const { return static_cast<size_t>(raw.data() + raw.size() - item); }
    void Add(const void* data, size_t n, int64_t line) {
        if (raw.size() < rawUsed + n + kItemPadding) raw.resize(std::max(raw.size() * 2, rawUsed + n + kItemPadding));
        std::memcpy(raw.data() + rawUsed, data, n);
        rawUsed += n;
        itemEnd.push_back(static_cast<uint32_t>(rawUsed));
        itemLine.push_back(line);
    }
    bool Full(size_t maxItems) const { return itemEnd.size() >= maxItems || rawUsed >= kBatchBytes; }
    void Reset(int64_t newIndex) {
        index = newIndex;
        rawUsed = 0;
        itemEnd.clear();
        itemLine.clear();
        after = kMoreFollow;
        formatted = false;
        results.clear();
        counters.clear();
        rows.Clear();
        rowEnd.clear();
        keys.clear();
        keyEnd.clear();
    }
    // Decodes and formats every item.
    void Format(const ItemDecoder& decode, RowFormatter& formatter, FrameSlot& slot, bool listMode) {
        for (size_t i = 0; i < Items(); ++i) {
            size_t n;
            const char* item = Item(i, n);
            ItemResult r = decode(item, n, Capacity(item), slot);
            results.push_back(r);
            counters.push_back(r == ItemResult::Record ? slot.counter : 0);
            if (r == ItemResult::Record) formatter.Format(slot, listMode, rows, keys);
            rowEnd.push_back(static_cast<uint32_t>(rows.Size()));
            keyEnd.push_back(static_cast<uint32_t>(keys.size()));
        }
        formatted = true;
    }
};

// The batches of one source, passed from the reader to the conversion thread.
class BatchQueue {
public:
    BatchQueue() {
        for (Batch& b : batches_) free_.push_back(&b);
    }
    // A batch to fill; nullptr once the conversion thread has stopped reading.
    Batch* TakeFree() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || !free_.empty(); });
        if (stopped_) return nullptr;
        Batch* b = free_.front();
        free_.pop_front();
        return b;
    }
    void PutReady(Batch* b) {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_.push_back(b);
        changed_.notify_all();
    }
    // The next batch in order; nullptr when the reader thread failed and no
    // batch is left.
    Batch* TakeReady() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !ready_.empty() || readerFailed_; });
        if (ready_.empty()) return nullptr;
        Batch* b = ready_.front();
        ready_.pop_front();
        return b;
    }
    void PutFree(Batch* b) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(b);
        changed_.notify_all();
    }
    void Stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }
    // The reader thread ends without shipping the rest of the source.
    void ReaderFailed() {
        std::lock_guard<std::mutex> lock(mutex_);
        readerFailed_ = true;
        changed_.notify_all();
    }

private:
    Batch batches_[kBatchCount];
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch*> free_;
    std::deque<Batch*> ready_;
    std::atomic<bool> stopped_{false};
    bool readerFailed_ = false;
};

// The reader thread's side: fills batches with items and hands them on,
// formatting every other one itself.
class BatchProducer {
public:
    BatchProducer(BatchQueue& queue, const ConversionContext& ctx, const ItemDecoder& decode,
                  const ConvertSettings& settings)
        : queue_(queue),
          ctx_(ctx),
          decode_(decode),
          formatter_(ctx, settings),
          slot_(new FrameSlot),
          listMode_(settings.m_NeedPV == 0) {}

    // false when the conversion thread no longer takes batches, or the run
    // is stopping (End then says so).
    bool Begin() {
        batch_ = queue_.TakeFree();
        if (!batch_) return false;
        batch_->Reset(index_++);
        return true;
    }
    // line: number of the item's first line in a text source.
    bool Add(const void* item, size_t n, int64_t line = 0) {
        batch_->Add(item, n, line);
        if (!batch_->Full(decode_.kind == SourceKind::JsonLines ? kBatchLines : kBatchRecords)) return true;
        Ship(kMoreFollow);
        if (Stopping()) return false;
        return Begin();
    }
    // The run is stopping, or the conversion thread takes no more batches.
    bool Stopping() const { return ctx_.cancel.load(std::memory_order_relaxed) || queue_.Stopped(); }
    // The last batch, with what follows its items: the end of the source or
    // a failure.
    void End(int after) {
        if (!batch_ && !Begin()) return;
        if (after == kSourceEnd && ctx_.cancel.load(std::memory_order_relaxed)) after = kConvertCancelled;
        Ship(after);
    }

private:
    void Ship(int after) {
        batch_->after = after;
        if (batch_->index % 2 == 0) batch_->Format(decode_, formatter_, *slot_, listMode_);
        queue_.PutReady(batch_);
        batch_ = nullptr;
    }

    BatchQueue& queue_;
    const ConversionContext& ctx_;
    ItemDecoder decode_;
    RowFormatter formatter_;
    std::unique_ptr<FrameSlot> slot_;
    bool listMode_;
    Batch* batch_ = nullptr;
    int64_t index_ = 0;
};

// Everything one source needs while its rows go to the output files.
class SourceRun {
public:
    SourceRun(ConversionContext& ctx, const std::string& path, SourceKind kind, const ConvertSettings& settings)
        : ctx_(ctx),
          path_(path),
          kind_(kind),
          settings_(settings),
          lineMax_(FileLineMaxValue(settings.m_FileLineMax)),
          listMode_(settings.m_NeedPV == 0),
          decode_{kind, settings.m_OnlyMatched != 0},
          writer_(ctx, settings),
          formatter_(ctx, settings),
          slot_(new FrameSlot) {}

    void Start(int64_t estimate) {
        estimate_ = estimate;
        ConvertProgress& p = ctx_.progress;
        p.m_convRecordsPos.store(0, std::memory_order_relaxed);
        p.m_convFileBusy.store(1, std::memory_order_relaxed);
        p.m_convRecordsLow.store(1, std::memory_order_relaxed);
        range_ = static_cast<int>(std::min<int64_t>(estimate, 100));
        p.m_convRecordsRange.store(range_, std::memory_order_relaxed);
        fileNumber_ = kind_ == SourceKind::JsonLines ? 0 : 1;
        // A JSON source starts with a fresh align-error count; a binary source
        // continues with what the previous source left, unless receiving has
        // started since.
        const bool receiveStarted = ctx_.receiveStarted.exchange(false, std::memory_order_acq_rel);
        if (kind_ == SourceKind::JsonLines || receiveStarted) ctx_.m_alignErrorRun = 0;
        ctx_.m_currentHeader.Clear();
    }

    // Runs fill(producer) -> after on a reader thread, and places the rows of
    // its batches in order on this thread until the source ends or must stop.
    // fill may set readerReason_ for the failure it returns. An exception on
    // either thread (memory running out) ends the source as failed.
    template <class Fill>
    void Convert(Fill&& fill) {
        BatchQueue queue;
        std::string readerFault;
        std::thread reader([&] {
            try {
                BatchProducer producer(queue, ctx_, decode_, settings_);
                int after = kSourceEnd;
                if (producer.Begin()) after = fill(producer);
                producer.End(after);
            } catch (...) {
                readerFault = CurrentExceptionText();
                queue.ReaderFailed();
            }
        });
        struct Joiner {
            BatchQueue& queue;
            std::thread& thread;
            ~Joiner() {
                queue.Stop();
                thread.join();
            }
        };
        int after = kMoreFollow;
        try {
            Joiner joiner{queue, reader};
            for (;;) {
                Batch* b = queue.TakeReady();
                if (!b) break;
                if (!b->formatted) b->Format(decode_, formatter_, *slot_, listMode_);
                bool go = Place(*b);
                after = b->after;
                queue.PutFree(b);
                if (!go || after != kMoreFollow) break;
            }
        } catch (...) {
            Fail(kConvertFault, CurrentExceptionText());
        }
        // The reader thread has ended: what it left may be read now.
        if (!readerFault.empty()) Fail(kConvertFault, readerFault);
        if (after != kMoreFollow && after != kSourceEnd) Fail(after, readerReason_);
    }

    void Fail(int result, std::string reason = {}) {
        if (result_ != kConvertOk) return;
        result_ = result;
        reason_ = std::move(reason);
    }

    // The run was told to stop; the source then ends as cancelled.
    bool StopRequested() {
        if (!ctx_.cancel.load(std::memory_order_relaxed)) return false;
        Fail(kConvertCancelled, "cancelled");
        return true;
    }

    // The source as it is when its reading begins: if it is different at the
    // end, the rows made are not those of any one state of the file.
    void WatchSource(int fd) {
        sourceFd_ = fd;
        if (::fstat(fd, &sourceAtStart_) != 0) sourceFd_ = -1;
    }

    // Ends the source: its files get their final names when it was converted
    // whole, and are removed (or, after a bad line, kept under their
    // temporary names) otherwise. The result; ctx.failureReason says why it
    // failed.
    int Finish() {
        finished_ = true;
        ConvertProgress& p = ctx_.progress;
        p.m_convRecordsPos.store(range_, std::memory_order_relaxed);
        if (result_ == kConvertOk && SourceChanged())
            Fail(kConvertSourceChanged,
                 "changed while it was converted (its size or modification time is not the same): convert it again "
                 "once it is complete");
        if (result_ == kConvertOk && kind_ == SourceKind::JsonLines && handed_ == 0 && ctx_.skippedLines.count > 0)
            Fail(kConvertNoRecords, "no line is a valid record");
        if (result_ == kConvertOk) {
            bool ok = csv_.Close();
            ok = log_.Close() && ok;
            if (!ok || writer_.OutputFailed()) Fail(kConvertOutputFailed, OutputError());
        }
        if (result_ == kConvertOk) {
            // The error log first: once the first CSV file has its final
            // name, everything of the source has.
            if (!log_.Commit() || !csv_.Commit()) Fail(kConvertOutputFailed, OutputError());
        }
        if (result_ == kConvertBadLine) {
            // The rows before the bad line are kept for the user, under the
            // temporary names: the source is not complete.
            csv_.KeepTemporary();
            log_.KeepTemporary();
        } else if (result_ != kConvertOk) {
            csv_.Discard();
            log_.Discard();
        }
        ctx_.m_currentHeader.Clear();
        p.m_convFileTail.store(1, std::memory_order_relaxed);
        p.m_convFileBusy.store(0, std::memory_order_relaxed);
        ctx_.failureReason = result_ == kConvertOk ? std::string() : reason_;
        return result_;
    }

    // A source left without Finish (an exception on the way) leaves no
    // output behind.
    ~SourceRun() {
        if (finished_) return;
        csv_.Discard();
        log_.Discard();
    }

    const ConvertSettings& Settings() const { return settings_; }

    // Why fill() failed: written by the reader thread only, read after it ends.
    std::string readerReason_;

private:
    bool SourceChanged() const {
        struct stat now {};
        if (sourceFd_ < 0 || ::fstat(sourceFd_, &now) != 0) return false;
        return now.st_size != sourceAtStart_.st_size || now.st_mtim.tv_sec != sourceAtStart_.st_mtim.tv_sec ||
               now.st_mtim.tv_nsec != sourceAtStart_.st_mtim.tv_nsec;
    }

    std::string OutputError() const {
        if (!csv_.Error().empty()) return csv_.Error();
        if (!log_.Error().empty()) return log_.Error();
        return "an output file could not be written";
    }

    // Places the rows of a batch; false when the source must stop.
    bool Place(const Batch& b) {
        for (size_t i = 0; i < b.Items(); ++i) {
            switch (b.results[i]) {
                case ItemResult::Skip:
                    continue;
                case ItemResult::Fail:
                    if (!BadLine(b, i)) return false;
                    continue;
                case ItemResult::Record:
                    break;
            }
            if (kind_ == SourceKind::JsonLines) {
                // A line repeating the counter of the line before is the same
                // frame again.
                if (json_.havePrevious && b.counters[i] == json_.previousCounter) continue;
                json_.havePrevious = true;
                json_.previousCounter = b.counters[i];
            }
            const size_t rowBegin = i ? b.rowEnd[i - 1] : 0;
            const size_t keyBegin = i ? b.keyEnd[i - 1] : 0;
            if (!PlaceRow(b.rows.Data() + rowBegin, b.rowEnd[i] - rowBegin, b.keys.data() + keyBegin,
                          b.keyEnd[i] - keyBegin))
                return false;
        }
        return true;
    }

    // A line that failed on its own is decoded again with the counter of the
    // line before: a repeated frame is skipped before anything else is
    // looked at. Otherwise it ends the source, or is counted and passed over
    // when the run skips bad lines.
    bool BadLine(const Batch& b, size_t i) {
        size_t n;
        const char* line = b.Item(i, n);
        if (DecodeJsonLine(line, n, decode_.onlyMatched, json_, *slot_, b.Capacity(line)) != JsonLineResult::Fail)
            return true;
        if (!ctx_.skipBadLines) {
            Fail(kConvertBadLine, "line " + std::to_string(b.itemLine[i]) +
                                      " is not a valid record");
            return false;
        }
        SkippedLines& skipped = ctx_.skippedLines;
        if (skipped.first.size() < SkippedLines::kFirstKept) skipped.first.push_back(b.itemLine[i]);
        skipped.count += 1;
        return !StopRequested();
    }

    bool PlaceRow(const char* row, size_t rowLength, const HeaderKey* keys, size_t keyCount) {
        if (handed_ % lineMax_ == 0) {
            ctx_.m_currentHeader.Clear();
            fileNumber_ += 1;
        }
        if (settings_.m_TitleAlign != 0)
            writer_.PlaceAlignedRow(row, rowLength, keys, keyCount, csv_, log_, path_, fileNumber_, listMode_);
        else
            writer_.PlaceGroupedRow(row, rowLength, csv_, path_, fileNumber_, listMode_);
        handed_ += 1;
        if (handed_ <= estimate_) {
            int pos = static_cast<int>(std::floor(static_cast<double>(range_) * static_cast<double>(handed_) /
                                                  static_cast<double>(estimate_)));
            ctx_.progress.m_convRecordsPos.store(pos, std::memory_order_relaxed);
        }
        if (writer_.OutputFailed()) {
            Fail(kConvertOutputFailed, OutputError());
            return false;
        }
        return !StopRequested();
    }

    ConversionContext& ctx_;
    std::string path_;
    SourceKind kind_;
    ConvertSettings settings_;
    int lineMax_;
    bool listMode_;
    ItemDecoder decode_;
    CsvWriter writer_;
    RowFormatter formatter_;
    std::unique_ptr<FrameSlot> slot_;
    JsonLineState json_;
    OutputFile csv_;
    OutputFile log_;
    int64_t estimate_ = 0;
    int64_t handed_ = 0;
    int range_ = 0;
    int fileNumber_ = 0;
    int result_ = kConvertOk;
    std::string reason_;
    bool finished_ = false;
    int sourceFd_ = -1;
    struct stat sourceAtStart_ {};
};

int ReadBinary(SourceRun& run, int fd, SourceKind kind) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
    const bool lmra = kind == SourceKind::LmraBinary;

    // Estimate: the start markers in the whole file.
    RunCounter starts(0xFF, lmra ? 2 : 4);
    bool stopped = false;
    bool readOk = ReadChunks(
        fd, buffer.get(),
        [&](const uint8_t* d, size_t n) {
            if (run.StopRequested()) return false;
            starts.Feed(d, n);
            return true;
        },
        &stopped);
    if (!readOk || ::lseek(fd, lmra ? static_cast<off_t>(kLmraHeaderSize) : 0, SEEK_SET) < 0) {
        const int error = errno;
        run.Start(0);
        if (!stopped) run.Fail(kConvertBadSource, CannotRead(error));
        return run.Finish();
    }
    run.Start(starts.Count());

    if (lmra) {
        run.Convert([&](BatchProducer& producer) {
            bool cut = false;
            int readError = 0;
            LmraRecordReader records([&](uint8_t* into, size_t n) -> ssize_t {
                // Checked per read too: long runs of invalid records give no
                // record to stop at.
                if (producer.Stopping()) {
                    cut = true;
                    return -1;
                }
                const ssize_t r = ReadFull(fd, into, n);
                if (r < 0) readError = errno;
                return r;
            });
            LmraRecordView record;
            while (records.Next(record)) {
                if (!producer.Add(record.data, record.pieceLength)) return kSourceEnd;
            }
            if (readError == 0 || cut) return kSourceEnd;
            run.readerReason_ = CannotRead(readError);
            return kConvertBadSource;
        });
        return run.Finish();
    }
    run.Convert([&](BatchProducer& producer) {
        PieceCutter cutter(0xFE, 4);
        bool cut = false;
        bool ok = ReadChunks(
            fd, buffer.get(),
            [&](const uint8_t* d, size_t n) {
                if (producer.Stopping()) return false;
                return cutter.Feed(d, n, [&](const uint8_t* piece, size_t length) { return producer.Add(piece, length); });
            },
            &cut);
        if (ok || cut) return kSourceEnd;
        run.readerReason_ = CannotRead(errno);
        return kConvertBadSource;
    });
    return run.Finish();
}

ByteReader FileBytes(int fd) {
    return [fd](uint8_t* into, size_t n) { return ReadFull(fd, into, n); };
}

int ReadJsonLines(SourceRun& run, int fd, bool skipBadLines, std::string& reason) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        reason = CannotRead(errno);
        return kConvertBadSource;
    }
    int64_t fileLength = st.st_size;
    size_t firstLength = 0;
    {
        TextLineReader first(FileBytes(fd));
        std::string_view line;
        TextLineReader::Status s = first.Next(line);
        if (s == TextLineReader::kError) {
            reason = LineReaderFailure(errno);
            return kConvertBadLine;
        }
        if (s == TextLineReader::kLine) {
            firstLength = line.size();
            if (firstLength > 0 && line[firstLength - 1] == '\r') --firstLength;
        }
    }
    if (fileLength == 0 || (firstLength == 0 && !skipBadLines)) {
        reason = fileLength == 0 ? "the file is empty" : "line 1 is empty";
        return kConvertBadLine;
    }
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        reason = CannotRead(errno);
        return kConvertBadSource;
    }
    run.Start(firstLength ? fileLength / static_cast<int64_t>(firstLength) : 0);

    run.Convert([&](BatchProducer& producer) {
        // Lines that leave an object open are joined with the lines after
        // them into one record.
        JsonRecordReader records(FileBytes(fd));
        JsonRecord record;
        for (;;) {
            TextLineReader::Status s = records.Next(record);
            if (s == TextLineReader::kEnd || producer.Stopping()) return kSourceEnd;
            if (s == TextLineReader::kError) {
                run.readerReason_ = LineReaderFailure(errno);
                return kConvertBadLine;
            }
            if (!producer.Add(record.text.data(), record.text.size(), record.line)) return kSourceEnd;
        }
    });
    return run.Finish();
}

}  // namespace

// ---- the source ----

namespace {

// Why a source cannot be opened: errno, or what it is instead of a file.
std::string CannotOpen(const std::string& path) {
    const int error = errno;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return "cannot be opened: not a regular file";
    return std::string("cannot be opened: ") + std::strerror(error);
}

int ConvertSource(ConversionContext& ctx, const std::string& path) {
    SourceKind kind;
    int r = DetectSourceKind(path, kind);
    if (r == kConvertCannotOpen) ctx.failureReason = CannotOpen(path);
    if (r == kConvertBadSource) ctx.failureReason = "not a recording: \"LMRA\" followed by an unknown format byte";
    if (r != kConvertOk) return r;

    ConfirmConvertSettings(ctx);
    // The question may have been abandoned because the run is stopping.
    if (ctx.cancel.load()) {
        ctx.failureReason = "cancelled";
        return kConvertCancelled;
    }
    ConvertSettings settings = ctx.Settings();
    int fd = OpenRegularFile(path);
    if (fd < 0) {
        ctx.failureReason = CannotOpen(path);
        return kConvertCannotOpen;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    ctx.skippedLines = SkippedLines{};
    SourceRun run(ctx, path, kind, settings);
    run.WatchSource(fd);
    if (kind != SourceKind::JsonLines) return ReadBinary(run, fd, kind);
    std::string reason;
    const int result = ReadJsonLines(run, fd, ctx.skipBadLines, reason);
    if (!reason.empty()) ctx.failureReason = reason;
    return result;
}

}  // namespace

int ConvertFile(ConversionContext& ctx, const std::string& path) {
    ctx.failureReason.clear();
    try {
        return ConvertSource(ctx, path);
    } catch (...) {
        ctx.failureReason = CurrentExceptionText();
        return kConvertFault;
    }
}

}  // namespace lumora
