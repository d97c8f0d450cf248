// Conversions that meet (the folder lock, a source that changes while it is
// read), failures that carry their reason, a worker that runs out of memory,
// and times with milliseconds.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdlib>
#include <future>

#include "conversion/conversion_job.h"
#include "conversion/output_file.h"
#include "conversion/recorded_file_reader.h"
#include "allocation_failure.h"
#include "conversion_test_util.h"
#include "support/child_process.h"
#include "support/run_program.h"

namespace lumora {
namespace {

using namespace lumora::test;

Bytes Recording(int records) {
    std::vector<Bytes> r;
    for (int i = 0; i < records; ++i) r.push_back(LmraRecord({1}, {30000}, 1700000000, i + 1));
    return LmraFile(r);
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Keeps a fifo open and read, on a thread of its own, while it lives: a
// writer blocked in opening it goes on, and its writes never fill it. Opened
// for reading and writing, so that it never waits for a writer itself.
class FifoDrain {
public:
    explicit FifoDrain(const std::string& fifo) : fd_(::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {
        reader_ = std::thread([this] {
            char buf[65536];
            while (!stop_.load()) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0) (void)!::read(fd_, buf, sizeof buf);
            }
        });
    }
    ~FifoDrain() {
        stop_.store(true);
        reader_.join();
        ::close(fd_);
    }

private:
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// Whether process pid has path open (it is then past its start-up).
bool HasOpen(pid_t pid, const std::string& path) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code linkError;
        if (fs::read_symlink(e.path(), linkError) == fs::path(path)) return true;
    }
    return false;
}

Child StartCli(const std::string& cwd, const std::vector<std::string>& args, const std::string& err,
               rlim_t fileSizeLimit = RLIM_INFINITY) {
    std::vector<std::string> argv = {LUMORA_CLI_PATH, "convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(cwd, argv, err, fileSizeLimit);
}

std::string Output(Child& c) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(c.out, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(c.out);
    return out;
}

// A run holds its folder: a second run, from the command line or from a
// job, is refused with a message while it lasts, and the lock ends with the
// run, with Ctrl+C and with a killed process, leaving nothing in the folder.
// The first output file is a fifo that nobody reads yet, which holds the
// command-line run inside its conversion for as long as the test needs.
TEST(ConversionLockTest, OneRunPerFolderFromTheWindowOrTheCommandLine) {
    if (!Exists(LUMORA_CLI_PATH)) GTEST_SKIP() << "lumora-cli not built";
    ScratchDir dir;
    const std::string data = dir / "data";
    fs::create_directory(data);
    WriteFile(data + "/a.dat", Recording(3000));
    const std::string fifo = CsvOutputPath(data + "/a.dat", 2) + kPartSuffix;
    const std::vector<std::string> before = {"a.dat"};

    for (const int stop : {SIGINT, SIGKILL}) {
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        Child cli = StartCli(dir.Path(), {"data"}, dir / "cli.err");
        ASSERT_GT(cli.pid, 0);
        // Reading its source, it holds the folder.
        ASSERT_TRUE(WaitUntil([&] { return HasOpen(cli.pid, data + "/a.dat"); }));
        FolderLock probe;
        EXPECT_EQ(probe.Acquire(data), FolderLock::kBusy);

        // The job and the menu flow are refused; the lock is the folder's,
        // whatever path names it.
        ConversionJob job(dir / "Lumora.ini");
        ASSERT_TRUE(job.Prepare(dir / "data/.", {data + "/a.dat"}));
        EXPECT_FALSE(job.Start(true, nullptr));
        EXPECT_EQ(job.StartError(), "'" + dir / "data/." + "' is being converted by another run.");
        EXPECT_EQ(job.State(), -1);
        std::string message;
        FolderLock second;
        EXPECT_FALSE(LockRunFolder(data, second, message));
        EXPECT_EQ(message, "'" + data + "' is being converted by another run.");

        ::kill(cli.pid, stop);
        // The run is told to stop before its output is read at all.
        if (stop == SIGINT) {
            ASSERT_TRUE(WaitUntil([&] { return ReadFile(dir / "cli.err").find("stopping") != std::string::npos; }));
        }
        int status;
        {
            FifoDrain drain(fifo);
            status = WaitExit(cli.pid, 30);
        }
        if (stop == SIGINT) {
            // Stopped as the window's Cancel stops: no table of the source.
            EXPECT_EQ(status, 1);
            EXPECT_EQ(Output(cli), "Cancelled\nSucess: 0\nDIR: data\n");
        } else {
            ::close(cli.out);
        }
        // The fifo is gone unless the run stopped before it began the source.
        ::unlink(fifo.c_str());
        EXPECT_EQ(Entries(data), before) << "no lock file, no table";
        EXPECT_EQ(probe.Acquire(data), FolderLock::kLocked) << "a dead process holds no lock";
        probe.Release();
    }

    // The other way round: a job waiting for its settings question holds the
    // folder, and the command line refuses with exit status 1.
    ConversionJob job(dir / "Lumora.ini");
    std::promise<void> asked, answered;
    job.Context().ui.askChange = [&](const std::string&) {
        asked.set_value();
        answered.get_future().wait();
        return false;
    };
    ASSERT_TRUE(job.Prepare(data, {data + "/a.dat"}));
    ASSERT_TRUE(job.Start(true, nullptr));
    asked.get_future().wait();
    Child cli = StartCli(dir.Path(), {"data"}, dir / "cli.err");
    EXPECT_EQ(WaitExit(cli.pid, 30), 1);
    EXPECT_EQ(Output(cli), "");
    EXPECT_EQ(ReadFile(dir / "cli.err"), "lumora-cli convert: 'data' is being converted by another run.\n");
    answered.set_value();
    job.Join();
    EXPECT_EQ(job.Summary().succeeded.size(), 1u);
    cli = StartCli(dir.Path(), {"data"}, dir / "cli.err");
    EXPECT_EQ(WaitExit(cli.pid, 30), 0);
    Output(cli);
}

// A source that changes while it is converted (cut short, or only touched)
// fails and leaves no output; so does a text source without one usable line
// when bad lines are skipped. The conversion is held on its first output
// file (a fifo) until the source has been changed.
TEST(ConversionSourceTest, ChangedSourceOrNoUsableLineFails) {
    ScratchDir dir;
    const std::string source = dir / "a.dat";
    const std::string fifo = CsvOutputPath(source, 2) + kPartSuffix;
    for (const bool cut : {true, false}) {
        WriteFile(source, Recording(2000));
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        ConversionContext ctx(dir / "Lumora.ini");
        std::future<int> result = std::async(std::launch::async, [&] { return ConvertFile(ctx, source); });
        // The source is open and its state taken once its records are counted.
        ASSERT_TRUE(WaitUntil([&] { return ctx.progress.m_convFileBusy.load() == 1; }));
        if (cut) {
            ASSERT_EQ(::truncate(source.c_str(), static_cast<off_t>(fs::file_size(source) / 8)), 0);
        } else {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {1600000000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
        }
        {
            FifoDrain drain(fifo);
            EXPECT_EQ(result.get(), kConvertSourceChanged);
        }
        EXPECT_NE(ctx.failureReason.find("changed while it was converted"), std::string::npos) << ctx.failureReason;
        EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"a.dat"});
    }

    WriteFile(source, std::string("not a record\n\n{\"Time\":0}\n"));
    ConversionContext ctx(dir / "Lumora.ini");
    ctx.skipBadLines = true;
    EXPECT_EQ(ConvertFile(ctx, source), kConvertNoRecords);
    EXPECT_EQ(ctx.failureReason, "no line is a valid record");
    EXPECT_EQ(ctx.skippedLines.count, 3);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"a.dat"});
}

// Memory running out on either thread of a source (the conversion thread's
// read buffer, the reader thread's line buffer growing for a 5 MiB line)
// fails that source with its reason; the run goes on with the next one and
// the process lives.
TEST(ConversionFaultTest, OutOfMemoryFailsTheSourceNotTheProgram) {
    ScratchDir dir;
    WriteFile(dir / "a.dat", Recording(10));
    std::string text = "{\"Time\":1700000000,\"Counter\":1,\"SN\":\"A\",\"Data\":[]}\n";
    text += "{\"Time\":1700000000,\"Counter\":2,\"SN\":\"" + std::string(5 << 20, 'x') + "\",\"Data\":[]}\n";
    WriteFile(dir / "b.dat", text);
    WriteFile(dir / "c.dat", std::string("{\"Time\":1700000000,\"Counter\":1,\"SN\":\"A\",\"Data\":[]}\n"));

    struct Case {
        size_t failFrom;
        std::vector<std::string> failed;
    } cases[] = {
        {1 << 20, {dir / "a.dat"}},  // the first source's 1 MiB read buffer
        {3 << 20, {dir / "b.dat"}},  // only b.dat's line buffer grows that far
    };
    for (const Case& c : cases) {
        for (const auto& e : fs::directory_iterator(dir.Path()))
            if (e.path().extension() != ".dat") fs::remove(e.path());
        ConversionJob job(dir / "Lumora.ini");
        ASSERT_TRUE(job.Prepare(dir.Path(), ListSources(dir.Path())));
        FailNextAllocationFrom(c.failFrom);
        ASSERT_TRUE(job.Start(true, nullptr));
        job.Join();
        EXPECT_EQ(PendingAllocationFailure(), 0u) << "the failure was injected";
        FailNextAllocationFrom(0);
        ConversionSummary s = job.Summary();
        EXPECT_EQ(s.failed, c.failed);
        EXPECT_EQ(s.succeeded.size(), 2u);
        EXPECT_EQ(s.failureReasons, std::vector<std::string>{"the conversion ran out of memory"});
        for (const std::string& name : Entries(dir.Path())) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
}

// Every failure says why, on its own indented line under the file; a folder
// that does not exist is named as missing.
TEST(ConvertCliTest, FailuresCarryTheirReason) {
    if (!Exists(LUMORA_CLI_PATH)) GTEST_SKIP() << "lumora-cli not built";
    ScratchDir dir;
    const std::string data = dir / "data";
    fs::create_directory(data);
    WriteFile(data + "/a.dat", Recording(2000));
    WriteFile(data + "/b.dat", Recording(2));
    fs::create_directory(CsvOutputPath(data + "/b.dat", 2) + kPartSuffix);  // its output cannot be created
    WriteFile(data + "/c.dat", Bytes{'L', 'M', 'R', 'A', 9});
    // Files may not grow beyond 64 KiB: the disk is full for a.dat's table.
    Child cli = StartCli(dir.Path(), {"data"}, dir / "cli.err", 64 << 10);
    EXPECT_EQ(WaitExit(cli.pid, 30), 1) << ReadFile(dir / "cli.err");
    EXPECT_EQ(Output(cli),
              "Sucess: 0\nError: 3\n\nDIR: data\nError list: \n"
              "1: data/a.dat\n    cannot write data/a-2.csv.part: File too large\n"
              "2: data/b.dat\n    cannot create data/b-2.csv.part: Is a directory\n"
              "3: data/c.dat\n    not a recording: \"LMRA\" followed by an unknown format byte\n");
    EXPECT_EQ(Entries(data), (std::vector<std::string>{"a.dat", "b-2.csv.part", "b.dat", "c.dat"}));

    ProgramResult r = RunProgram({LUMORA_CLI_PATH, "convert", "no-such-folder"}, dir.Path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "lumora-cli convert: The folder 'no-such-folder' does not exist.\n");
}

// [DataConvert] NeedMs: times with milliseconds and UTime with six decimals
// from the record's own microseconds, in both layouts and from both kinds of
// recording. At 0, and without the key, the rows are those of old.
TEST(ConvertMillisecondsTest, NeedMsInBothLayoutsAndUnchangedAtZero) {
    UseUtc();
    ScratchDir dir;
    TrailerFields t;
    t.time = 1700000000;
    t.microseconds = 123456;
    t.counter = 15;
    WriteFile(dir / "b.dat", LmraFile({EncodeWavelengthFrame({1}, {41234}, &t)}));
    WriteFile(dir / "t.dat", std::string("{\"SysTime\":[1700000000,7890],\"SysData\":{\"Counter\":15,\"SN\":\"A\","
                                         "\"Data\":[[1,1,1,1551234,51234,1001]]}}\n"));
    struct Case {
        const char* ini;  // [DataConvert] lines
        const char* binaryRow;
        const char* textRow;
    } cases[] = {
        {"", "2023-11-14 22:13:20,1700000000,15,1551234,51234", "2023-11-14 22:13:20,1700000000,15,1551234,51234"},
        {"NeedMs=0\n", "2023-11-14 22:13:20,1700000000,15,1551234,51234",
         "2023-11-14 22:13:20,1700000000,15,1551234,51234"},
        {"NeedMs=1\n", "2023-11-14 22:13:20.123,1700000000.123456,15,1551234,51234",
         "2023-11-14 22:13:20.007,1700000000.007890,15,1551234,51234"},
        {"NeedMs=1\nTitleAlign=0\nNeedDate=0\n", "22:13:20.123,1700000000.123456,15,1.1.1001,1551234,51234",
         "22:13:20.007,1700000000.007890,15,1.1.1001,1551234,51234"},
        {"NeedMs=0\nTitleAlign=0\nNeedDate=0\n", "22:13:20,1700000000,15,1.1.1001,1551234,51234",
         "22:13:20,1700000000,15,1.1.1001,1551234,51234"},
        {"NeedMs=1\nNeedUnitTime=0\n", "2023-11-14 22:13:20.123,15,1551234,51234",
         "2023-11-14 22:13:20.007,15,1551234,51234"},
    };
    for (const Case& c : cases) {
        WriteFile(dir / "Lumora.ini", std::string("[DataConvert]\n") + c.ini);
        ConversionContext ctx(dir / "Lumora.ini");
        ConvertSettings values;
        LoadConvertSettings(ctx.store, values);
        ctx.SetSettings(values);
        ASSERT_EQ(ConvertFile(ctx, dir / "b.dat"), kConvertOk);
        ASSERT_EQ(ConvertFile(ctx, dir / "t.dat"), kConvertOk);
        EXPECT_EQ(Lines(ReadFile(dir / "b-2.csv")).at(1), c.binaryRow) << c.ini;
        EXPECT_EQ(Lines(ReadFile(dir / "t-1.csv")).at(1), c.textRow) << c.ini;
    }
    // A time before 1970 with a fraction lies above its whole second.
    ConversionContext ctx(dir / "Lumora.ini");
    ConvertSettings values;
    values.m_NeedMs = 1;
    ctx.SetSettings(values);
    t.time = -5;
    WriteFile(dir / "b.dat", LmraFile({EncodeWavelengthFrame({1}, {41234}, &t)}));
    ASSERT_EQ(ConvertFile(ctx, dir / "b.dat"), kConvertOk);
    EXPECT_EQ(Lines(ReadFile(dir / "b-2.csv")).at(1), "-5.123,-4.876544,15,1551234,51234");
}

}  // namespace
}  // namespace lumora
