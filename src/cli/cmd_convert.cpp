// lumora-cli convert DIR [--no-overwrite] [--skip-bad-lines]: converts every
// recording directly in DIR to CSV as the desktop's Tools > Data Convert does,
// without questions and without the pre-conversion script. With
// --skip-bad-lines a text line that is not a valid record is passed over
// instead of ending its source, and the lines skipped are reported. --value
// adds each sensor's engineering value from the sensor table (--sensors FILE,
// [Sensors] File or ./sensors.csv) for this run ([DataConvert] NeedValue).
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "window/string_table.h"
#include "cli_commands.h"
#include "conversion/conversion_job.h"
#include "conversion/recorded_file_reader.h"
#include "cli_sensors.h"

namespace lumora::cli {

int RunConvert(const Args& args) {
    std::string directory;
    bool overwrite = true;
    bool skipBadLines = false;
    bool value = false;
    std::string sensorFile;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--value") {
            value = true;
        } else if (a == "--sensors" && i + 1 < args.size()) {
            sensorFile = args[++i];
        } else if (a == "--no-overwrite") {
            overwrite = false;
        } else if (a == "--skip-bad-lines") {
            skipBadLines = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "lumora-cli convert: unknown option '%s'\nusage: lumora-cli convert DIR [--no-overwrite] [--skip-bad-lines] [--value] [--sensors FILE]\n",
                         a.c_str());
            return 2;
        } else if (directory.empty()) {
            directory = a;
        } else {
            std::fprintf(stderr, "usage: lumora-cli convert DIR [--no-overwrite] [--skip-bad-lines] [--value] [--sensors FILE]\n");
            return 2;
        }
    }
    if (directory.empty()) {
        std::fprintf(stderr, "usage: lumora-cli convert DIR [--no-overwrite] [--skip-bad-lines] [--value] [--sensors FILE]\n");
        return 2;
    }

    ConversionJob job;  // settings of ./Lumora.ini
    ConversionContext& ctx = job.Context();
    SetUiLanguage(LanguageFromSetting(ctx.store.GetInt("View", "Language", 0)));
    ConvertSettings values;
    LoadConvertSettings(ctx.store, values);
    ctx.SetSettings(values);
    ctx.innerSensor.store(ctx.store.GetInt("DataSave", "InnerSensor", 1) != 0);
    ctx.skipBadLines = skipBadLines;
    std::shared_ptr<const CompiledSensors> sensors;
    if (!LoadCommandSensors("convert", sensorFile, ctx.store, sensors)) return 2;
    if (value && !sensors) {
        std::fprintf(stderr, "lumora-cli convert: --value needs a sensor table (--sensors FILE or ./sensors.csv)\n");
        return 2;
    }
    ctx.SetSensors(sensors);
    if (value) ctx.needValueOverride = 1;
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
    job.Start(overwrite, [&]() {
        std::lock_guard<std::mutex> lock(m);
        done = true;
        cv.notify_all();
    });

    // Progress for long runs, only on a terminal.
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    const auto began = std::chrono::steady_clock::now();
    bool shown = false;
    {
        std::unique_lock<std::mutex> lock(m);
        while (!cv.wait_for(lock, std::chrono::milliseconds(250), [&] { return done; })) {
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
    return s.failed.empty() ? 0 : 1;
}

}  // namespace lumora::cli
