#include "recording/raw_recorder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "acquisition/frame_encoder.h"
#include "core/recording/test_window_port.h"

namespace lumora {
namespace {

using test::DatFiles;
using test::ReadBytes;
using test::ReadText;
using test::TempDir;
using test::TestWindowPort;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kNowMs = 1700000000250;  // 250 ms past the second 1700000000

const Bytes kHeader = {'L', 'M', 'R', 'A', 0x65};
const Bytes kMarkerOnly = {0xFF, 0xFF};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes RecorderTrailer(int64_t ms, uint32_t count) {
    Bytes t(kTrailerSize);
    BuildRecorderTrailer(t.data(), ms, count);
    return t;
}

// A frame without trailer: 2 channels with 3 and 2 peaks.
Bytes PlainFrame(uint16_t base) {
    return EncodeWavelengthFrame({3, 2}, {base, uint16_t(base + 1), uint16_t(base + 2), uint16_t(base + 3),
                                          uint16_t(base + 4)});
}

Bytes TrailerFrame(int32_t counter) {
    TrailerFields f;
    f.sn = "SN-42";
    f.time = 1600000000;
    f.microseconds = 123000;
    f.counter = counter;
    f.channelOffset = 4;
    return EncodeWavelengthFrame({2}, {100, 200}, &f);
}

uint32_t Le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest() : clock(kNowMs), recorder(&window, clock) {
        recorder.SetDirectory(dir.Path());
        recorder.SetFilePrefix("sa");
    }
    void Record(Bytes frame, uint32_t count) { recorder.RecordData(frame.data(), frame.size(), count); }
    void RecordText(const std::string& text, uint32_t count = 0) {
        Bytes b(text.begin(), text.end());
        recorder.RecordData(b.data(), b.size(), count);
    }
    std::string ExpectedName(int variant = 1) const {
        std::string stem = dir.Path() + "/sa-" + FormatLocalTime(kNowMs / 1000, "%Y%m%d_%H%M%S");
        return variant > 1 ? stem + "_" + std::to_string(variant) + ".dat" : stem + ".dat";
    }

    TempDir dir;
    TestWindowPort window;
    ManualClock clock;
    RawRecorder recorder;
};

TEST_F(RecorderTest, BinaryFileHeaderRecordsAndStamps) {
    // The marker-only frame after opening the port opens the file with just its header.
    Record(kMarkerOnly, 1);
    ASSERT_TRUE(recorder.IsFileOpen());
    EXPECT_EQ(recorder.LastPath(), ExpectedName());
    EXPECT_EQ(window.Text(kFileNumberControl), "1");
    EXPECT_EQ(recorder.RecordsInFile(), 0u);

    // No trailer of its own: the recorder appends one with the time and the
    // datagram count whatever the options say.
    recorder.SetSaveCounter(false);
    recorder.SetStampLocalTime(false);
    Bytes plain = PlainFrame(1000);
    Record(plain, 7);

    // Own trailer, all four combinations of Counter and Local Time.
    Bytes asSent = TrailerFrame(99);
    struct Case {
        bool counter, localTime;
        uint32_t count;
    } cases[] = {{false, false, 8}, {true, false, 9}, {false, true, 10}, {true, true, 11}};
    Bytes expected = Cat({kHeader, plain, RecorderTrailer(kNowMs, 7)});
    for (const Case& c : cases) {
        recorder.SetSaveCounter(c.counter);
        recorder.SetStampLocalTime(c.localTime);
        clock.Advance(1001);
        Bytes frame = asSent;
        recorder.RecordData(frame.data(), frame.size(), c.count);
        Bytes stamped = asSent;
        size_t n = stamped.size();
        if (c.counter) std::memcpy(&stamped[n - 16], &c.count, 4);  // little-endian machine
        if (c.localTime) {
            StampTime t = ToStamp(clock.NowMs());
            int32_t s = int32_t(t.seconds);
            std::memcpy(&stamped[n - 24], &s, 4);
            std::memcpy(&stamped[n - 20], &t.microseconds, 4);
        }
        EXPECT_EQ(frame, stamped) << "stamped in place, counter " << c.counter << " local " << c.localTime;
        expected = Cat({expected, stamped});
    }
    EXPECT_EQ(recorder.RecordsInFile(), 5u);
    recorder.Close();
    EXPECT_FALSE(recorder.IsFileOpen());
    Bytes file = ReadBytes(ExpectedName());
    EXPECT_EQ(file, expected);

    // The appended trailer, field by field.
    const size_t t = kHeader.size() + plain.size();
    EXPECT_EQ(Bytes(file.begin() + t, file.begin() + t + 7), (Bytes{0xFE, 0xFE, 0xFE, 0xFE, 0x65, 'X', 0}));
    EXPECT_EQ(Le32(file, t + 28), 1700000000u);
    EXPECT_EQ(Le32(file, t + 32), 250000u);
    EXPECT_EQ(Le32(file, t + 36), 7u);
    EXPECT_EQ(Le32(file, t + 44), 1510000u);
    EXPECT_EQ(Le32(file, t + 48), 0xFDFDFDFDu);
}

TEST_F(RecorderTest, ShortFrameEndingLikeATrailerGetsOneAppended) {
    // 0xFD at length - 4 and - 3, but far too short for a trailer: stamping it
    // would write before the frame's start.
    Record(kMarkerOnly, 0);
    Bytes shortFrame = {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0xFD, 0xFD, 0x00, 0x00};
    Bytes copy = shortFrame;
    Record(shortFrame, 3);
    recorder.Close();
    EXPECT_EQ(ReadBytes(ExpectedName()), Cat({kHeader, copy, RecorderTrailer(kNowMs, 3)}));
    EXPECT_FALSE(FrameHasOwnTrailer(copy.data(), copy.size()));
    Bytes full = TrailerFrame(1);
    EXPECT_TRUE(FrameHasOwnTrailer(full.data(), full.size()));
}

TEST_F(RecorderTest, RotationKeepsEveryFrameAndNeverReplacesAFile) {
    recorder.SetRecordsPerFile(3);
    Record(kMarkerOnly, 0);
    std::vector<Bytes> frames;
    for (int i = 0; i < 7; ++i) frames.push_back(PlainFrame(uint16_t(100 * (i + 1))));  // A..G
    for (int i = 0; i < 7; ++i) Record(frames[i], uint32_t(i + 1));
    EXPECT_EQ(recorder.RecordsInFile(), 1u);
    recorder.Close();

    // All opened within the same second: the later ones get "_2" and "_3".
    std::vector<std::string> files = DatFiles(dir.Path());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], ExpectedName(1));
    EXPECT_EQ(files[1], ExpectedName(2));
    EXPECT_EQ(files[2], ExpectedName(3));
    auto rec = [&](int i) { return Cat({frames[i], RecorderTrailer(kNowMs, uint32_t(i + 1))}); };
    EXPECT_EQ(ReadBytes(files[0]), Cat({kHeader, rec(0), rec(1), rec(2)}));
    EXPECT_EQ(ReadBytes(files[1]), Cat({kHeader, rec(3), rec(4), rec(5)}));
    EXPECT_EQ(ReadBytes(files[2]), Cat({kHeader, rec(6)}));
    EXPECT_EQ(window.History(kFileNumberControl), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(recorder.FileNumber(), 3);

    // LineNumber 0 (and 1): one record per file, none lost.
    TempDir other;
    recorder.SetDirectory(other.Path());
    recorder.SetRecordsPerFile(0);
    for (int i = 0; i < 3; ++i) Record(frames[i], 50);
    EXPECT_FALSE(recorder.IsFileOpen());
    files = DatFiles(other.Path());
    ASSERT_EQ(files.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ReadBytes(files[i]), Cat({kHeader, frames[i], RecorderTrailer(kNowMs, 50)}));
    EXPECT_EQ(recorder.FileNumber(), 6);
}

TEST_F(RecorderTest, TextLinesWithAndWithoutSysTime) {
    const std::string doc = R"({"Time":1,"Counter":2,"SN":"A","Data":[]})";
    recorder.SetStampLocalTime(true);
    RecordText(doc);
    RecordText("");  // an empty datagram still makes a line
    recorder.SetStampLocalTime(false);
    RecordText(doc);
    // A binary frame into a text file is written in its own kind, no header.
    Bytes frame = PlainFrame(5);
    Record(frame, 4);
    recorder.Close();

    const std::string prefix = "{\"SysTime\":[1700000000,250000],\"SysData\":";
    Bytes bin = Cat({frame, RecorderTrailer(kNowMs, 4)});
    std::string expected = prefix + doc + "}\n" + prefix + "}\n" + doc + "\n" + std::string(bin.begin(), bin.end());
    EXPECT_EQ(ReadText(ExpectedName()), expected);
}

TEST_F(RecorderTest, UncreatableFileIsCountedReportedOnceAndRetried) {
    const std::string missing = dir.Path() + "/not-yet";
    recorder.SetDirectory(missing);
    Bytes frame = PlainFrame(10);
    Record(kMarkerOnly, 0);
    Record(frame, 1);
    Record(frame, 2);
    EXPECT_FALSE(recorder.IsFileOpen());
    EXPECT_EQ(recorder.FileNumber(), 3);
    EXPECT_EQ(window.Text(kFileNumberControl), "3");
    EXPECT_EQ(recorder.RecordsLost(), 2u);
    EXPECT_EQ(recorder.SavedInFile(), 0u);  // not 2^32 - 2
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_NE(window.Messages()[0].find(missing), std::string::npos);

    // Once the directory exists the next record opens a file and goes into it.
    std::filesystem::create_directory(missing);
    Record(frame, 3);
    ASSERT_TRUE(recorder.IsFileOpen());
    recorder.Close();
    std::vector<std::string> files = DatFiles(missing);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadBytes(files[0]), Cat({kHeader, frame, RecorderTrailer(kNowMs, 3)}));

    // A later failure is reported again.
    std::filesystem::remove_all(missing);
    Record(frame, 4);
    EXPECT_EQ(window.Messages().size(), 2u);
}

TEST_F(RecorderTest, ManyFilesWithinOneSecondAllGetTheirOwnName) {
    // One record per file at a high rate: far more files in one second than
    // one opening would probe names for.
    recorder.SetRecordsPerFile(1);
    Bytes frame = PlainFrame(1);
    const int files = 1200;
    for (int i = 0; i < files; ++i) Record(frame, uint32_t(i));
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(DatFiles(dir.Path()).size(), size_t(files));
    EXPECT_EQ(recorder.LastPath(), ExpectedName(files));
}

// A disk with `space` bytes left: writes fill it, then fail with ENOSPC.
struct SmallDisk {
    size_t space = 0;
    int calls = 0;
    RawRecorder::WriteFunction Writer() {
        return [this](int fd, const void* data, size_t length) -> ssize_t {
            ++calls;
            size_t n = std::min(length, space);
            if (n == 0) {
                errno = ENOSPC;
                return -1;
            }
            space -= n;
            return ::write(fd, data, n);
        };
    }
};

TEST_F(RecorderTest, FullDiskKeepsRecordsWholeAndCountsTheLoss) {
    SmallDisk disk;
    recorder.SetWriteFunction(disk.Writer());
    const Bytes frame = PlainFrame(7);
    const size_t record = frame.size() + kTrailerSize;
    auto rec = [&](uint32_t n) { return Cat({frame, RecorderTrailer(kNowMs, n)}); };

    // Room for the header and two and a half records: one batch of four.
    disk.space = kHeader.size() + 2 * record + record / 2;
    Record(kMarkerOnly, 0);
    for (uint32_t n = 1; n <= 4; ++n) Record(frame, n);
    recorder.Flush();
    EXPECT_EQ(disk.calls, 2);  // one write for the batch, one more for the rest that failed
    EXPECT_EQ(ReadBytes(recorder.LastPath()), Cat({kHeader, rec(1), rec(2)}));  // the torn third is cut off
    EXPECT_EQ(recorder.RecordsWritten(), 2u);
    EXPECT_EQ(recorder.RecordsLost(), 2u);
    EXPECT_EQ(recorder.RecordsInFile(), 4u);  // rotation still counts every record
    EXPECT_EQ(recorder.LostInFile(), 2u);
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_NE(window.Messages()[0].find(recorder.LastPath()), std::string::npos);
    EXPECT_NE(window.Messages()[0].find(std::strerror(ENOSPC)), std::string::npos);

    // The header was lost with the records when nothing fits: it is written
    // again before the next record, so the file still parses.
    TempDir other;
    recorder.SetDirectory(other.Path());
    recorder.Close();
    disk.space = 0;
    Record(kMarkerOnly, 0);
    recorder.Flush();
    disk.space = 1 << 20;
    Record(frame, 9);
    recorder.Close();
    EXPECT_EQ(ReadBytes(recorder.LastPath()), Cat({kHeader, rec(9)}));
}

TEST(FileNumberText, NumberOrNumberOfTotal) {
    EXPECT_EQ(FileNumberText(4, 0), "4");
    EXPECT_EQ(FileNumberText(3, 10), "3/10");
}

}  // namespace
}  // namespace lumora
