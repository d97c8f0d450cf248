// lumora-cli convert DIR [--no-overwrite] [--skip-bad-lines] [--ms]: converts
// every recording directly in DIR to CSV as the desktop's Tools > Data Convert
// does, without questions and without the pre-conversion script. With
// --skip-bad-lines a text line that is not a valid record is passed over
// instead of ending its source, and the lines skipped are reported. --ms
// writes times with milliseconds for this run ([DataConvert] NeedMs).
// Ctrl+C, SIGTERM and SIGHUP stop the run as the window's Cancel does.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "window/string_table.h"
#include "cli_commands.h"
#include "cli_util.h"
#include "conversion/conversion_job.h"
#include "conversion/recorded_file_reader.h"

namespace lumora::cli {
namespace {

constexpr const char* kUsage = "usage: lumora-cli convert DIR [--no-overwrite] [--skip-bad-lines] [--ms]\n";

std::atomic<bool> g_convertStop{false};
void OnConvertSignal(int) { g_convertStop.store(true); }

}  // namespace

int RunConvert(const Args& args) {
    std::string directory;
    bool haveDirectory = false;
    bool overwrite = true;
    bool skipBadLines = false;
    bool milliseconds = false;
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::printf(
                "%s"
                "Converts every .dat file directly in DIR into CSV files beside it, with the [DataConvert]\n"
                "settings and [DataSave] InnerSensor of ./Lumora.ini.\n"
                "  --no-overwrite    skip recordings whose first CSV file exists already\n"
                "  --skip-bad-lines  pass over lines of text recordings that are no valid record\n"
                "  --ms              times with milliseconds, UTime with six decimals\n"
                "Ctrl+C, SIGTERM or SIGHUP stop the run; the recording being converted leaves no file.\n"
                "Exit status 1 when a recording failed, the run was stopped or another run converts DIR.\n",
                kUsage);
            return 0;
        }
        if (a == "--no-overwrite") {
            overwrite = false;
        } else if (a == "--skip-bad-lines") {
            skipBadLines = true;
        } else if (a == "--ms") {
            milliseconds = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "lumora-cli convert: unknown option '%s'\n%s", a.c_str(), kUsage);
            return 2;
        } else if (!haveDirectory) {
            directory = a;
            haveDirectory = true;
        } else {
            std::fprintf(stderr, "%s", kUsage);
            return 2;
        }
    }
    if (!haveDirectory) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }

    // Caught before the folder is locked: a stop at any moment after it ends
    // the run the same way.
    g_convertStop.store(false);
    CatchStopSignals(OnConvertSignal);

    ConversionJob job;  // settings of ./Lumora.ini
    ConversionContext& ctx = job.Context();
    SetUiLanguage(LanguageFromSetting(ctx.store.GetInt("View", "Language", 0)));
    if (std::string problem = FolderProblem(directory); !problem.empty()) {
        std::fprintf(stderr, "lumora-cli convert: %s\n", problem.c_str());
        return 2;
    }
    FolderLock lock;
    if (std::string message; !LockRunFolder(directory, lock, message)) {
        std::fprintf(stderr, "lumora-cli convert: %s\n", message.c_str());
        return 1;
    }
    ConvertSettings values;
    LoadConvertSettings(ctx.store, values);
    ctx.SetSettings(values);
    ctx.innerSensor.store(ctx.store.GetInt("DataSave", "InnerSensor", 1) != 0);
    ctx.skipBadLines = skipBadLines;
    if (milliseconds) ctx.needMsOverride = 1;
    // The settings question is answered No without asking: the run uses the
    // file's values.
    ctx.ui = ConvertSettingsUi{};

    std::vector<std::string> sources = ListSources(directory);
    if (sources.empty()) {
        std::fprintf(stderr, "%s\n%s\n", LoadString(216).c_str(), directory.c_str());
        return 2;
    }
    job.Prepare(directory, sources);

    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    if (!job.Start(
            overwrite,
            [&]() {
                std::lock_guard<std::mutex> guard(m);
                done = true;
                cv.notify_all();
            },
            std::move(lock))) {
        std::fprintf(stderr, "lumora-cli convert: %s\n", job.StartError().c_str());
        return 1;
    }

    // Progress for long runs, only on a terminal.
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    const auto began = std::chrono::steady_clock::now();
    bool shown = false;
    bool stopping = false;
    {
        std::unique_lock<std::mutex> guard(m);
        while (!cv.wait_for(guard, std::chrono::milliseconds(100), [&] { return done; })) {
            if (g_convertStop.load() && !stopping) {
                stopping = true;
                job.Cancel();
                std::fprintf(stderr, "%slumora-cli convert: stopping\n", shown ? "\n" : "");
                shown = false;
            }
            if (!tty || std::chrono::steady_clock::now() - began < std::chrono::seconds(1)) continue;
            const ConvertProgress& p = ctx.progress;
            std::fprintf(stderr, "\rfiles %d/%d, records of file %d: %d/%d   ", p.m_convFilesDone.load(),
                         p.m_convFilesTotal.load(), p.m_convFilesDone.load() + 1, p.m_convRecordsPos.load(),
                         p.m_convRecordsRange.load());
            shown = true;
        }
    }
    job.Join();
    if (shown) std::fprintf(stderr, "\n");

    ConversionSummary s = job.Summary();
    std::printf("%s\n", ResultReport(s).c_str());
    if (!s.failed.empty()) std::printf("%s", ErrorListText(s).c_str());
    std::printf("%s", SkippedLinesText(s).c_str());
    return s.failed.empty() && !s.cancelled && s.fault.empty() ? 0 : 1;
}

}  // namespace lumora::cli
