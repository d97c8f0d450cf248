#include "conversion/conversion_job.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "window/control_ids.h"
#include "window/string_table.h"
#include "conversion/output_file.h"
#include "conversion/recorded_file_reader.h"
#include "lumora_version.h"
#include "platform/process.h"

namespace lumora {
namespace {

bool HasExtension(const std::string& name, const char* ext) {
    size_t n = std::strlen(ext);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, ext) == 0;
}

// Regular files (or links to them) directly in directory whose name ends
// with ext in any letter case.
std::vector<std::string> ListFiles(const std::string& directory, const char* ext) {
    std::vector<std::string> files;
    DIR* dir = ::opendir(directory.empty() ? "/" : directory.c_str());
    if (!dir) return files;
    while (const dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (!HasExtension(name, ext)) continue;
        std::string path = JoinPath(directory, name);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files.push_back(path);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

// A source that never reached the reader (skipped, or refused before its
// records were read) still ends with a full record bar, as a converted one.
void ShowSourceEnded(ConvertProgress& p) {
    p.m_convRecordsLow.store(0);
    p.m_convRecordsRange.store(1);
    p.m_convRecordsPos.store(1);
    p.m_convFileBusy.store(0);
    p.m_convFileTail.store(1);
}

std::string FileNumberText(int number, int total) {
    return total ? std::to_string(number) + "/" + std::to_string(total) : std::to_string(number);
}

}  // namespace

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::vector<std::string> ListSources(const std::string& directory) { return ListFiles(directory, ".dat"); }

int CountExports(const std::string& directory) { return static_cast<int>(ListFiles(directory, ".csv").size()); }

bool FirstOutputExists(const std::string& source) {
    SourceKind kind;
    if (DetectSourceKind(source, kind) != kConvertOk) return false;
    struct stat st {};
    return ::stat(CsvOutputPath(source, kind == SourceKind::JsonLines ? 1 : 2).c_str(), &st) == 0;
}

std::string ResultReport(const ConversionSummary& s) {
    std::string text = "Sucess: " + std::to_string(s.succeeded.size());
    if (s.failed.empty()) {
        if (!s.skipped.empty()) text += "\nSkipped: " + std::to_string(s.skipped.size());
    } else {
        text += "\nError: " + std::to_string(s.failed.size()) + "\n";
        if (!s.skipped.empty()) text += "Skipped: " + std::to_string(s.skipped.size()) + "\n";
    }
    return text + "\nDIR: " + s.directory;
}

std::string ErrorListText(const ConversionSummary& s) {
    std::string text = "Error list: \n";
    for (size_t i = 0; i < s.failed.size(); ++i) text += std::to_string(i + 1) + ": " + s.failed[i] + "\n";
    return text;
}

std::string SkippedLinesText(const ConversionSummary& s) {
    std::string text;
    for (const ConversionSummary::BadLines& b : s.badLines) {
        text += b.source + ": " + std::to_string(b.lines.count) + (b.lines.count == 1 ? " line" : " lines") +
                " skipped (line";
        if (b.lines.first.size() > 1) text += "s";
        for (size_t i = 0; i < b.lines.first.size(); ++i) text += (i ? ", " : " ") + std::to_string(b.lines.first[i]);
        text += b.lines.count > static_cast<int64_t>(b.lines.first.size()) ? ", ...)\n" : ")\n";
    }
    return text;
}

// ---- the job ----

ConversionJob::ConversionJob(std::string settingsPath) : ctx_(std::move(settingsPath)) {}

ConversionJob::~ConversionJob() {
    ctx_.cancel.store(true);
    Join();
}

int ConversionJob::State() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

bool ConversionJob::Prepare(const std::string& directory, const std::vector<std::string>& sources) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ >= 0) return false;
    failed_.clear();
    succeeded_.clear();
    skipped_.clear();
    badLines_.clear();
    sources_ = sources;
    directory_ = directory;
    return true;
}

bool ConversionJob::Start(bool overwrite, std::function<void()> onDone) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ >= 0) return false;
        state_ = 1;
    }
    m_overwriteExports.store(overwrite ? 1 : 0);
    std::lock_guard<std::mutex> lock(threadMutex_);
    // The previous worker has set the state back already; it may still be
    // returning from its last step.
    if (worker_.joinable()) worker_.join();
    ctx_.cancel.store(false);
    worker_ = std::thread([this, onDone = std::move(onDone)]() mutable { ConvertThreadProc(std::move(onDone)); });
    return true;
}

void ConversionJob::Join() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (worker_.joinable()) worker_.join();
}

ConversionSummary ConversionJob::Summary() const {
    std::lock_guard<std::mutex> lock(mutex_);
    ConversionSummary s;
    s.directory = directory_;
    s.total = sources_.size();
    s.succeeded = succeeded_;
    s.failed = failed_;
    s.skipped = skipped_;
    s.badLines = badLines_;
    return s;
}

void ConversionJob::ConvertThreadProc(std::function<void()> onDone) {
    std::vector<std::string> sources;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sources = sources_;
    }
    const int n = static_cast<int>(sources.size());
    ConvertProgress& p = ctx_.progress;
    p.m_convFilesTotal.store(n);
    p.m_convFilesLow.store(1);
    p.m_convFilesDone.store(0);
    p.m_convRunning.store(1);
    ctx_.m_askConvertSettings.store(1);
    const bool overwrite = m_overwriteExports.load() != 0;

    for (int i = 0; i < n && !ctx_.cancel.load(); ++i) {
        const std::string& path = sources[i];
        if (!overwrite && FirstOutputExists(path)) {
            ShowSourceEnded(p);
            p.m_convFilesDone.store(i + 1);
            std::lock_guard<std::mutex> lock(mutex_);
            skipped_.push_back(path);
            continue;
        }
        int r = ConvertFile(ctx_, path);
        if (r != kConvertOk) ShowSourceEnded(p);
        p.m_convFilesDone.store(i + 1);
        std::lock_guard<std::mutex> lock(mutex_);
        if (ctx_.skippedLines.count > 0) badLines_.push_back({path, ctx_.skippedLines});
        (r == kConvertOk ? succeeded_ : failed_).push_back(path);
    }

    p.m_convFilesDone.store(n);
    p.m_convFilesTail.store(2);
    p.m_convRunning.store(0);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = -1;
    }
    if (onDone) onDone();
}

// ---- the menu flow ----

DataConvertHooks DefaultDataConvertHooks() {
    DataConvertHooks hooks;
    hooks.startScript = [](const std::string& script, const std::string& argumentLine) {
        (void)StartShellScript(script, SplitAtBlanks(argumentLine));
    };
    hooks.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    return hooks;
}

bool OnDataConvert(ConversionJob& job, WindowPort& window, const std::string& directory,
                   const DataConvertHooks& hooks) {
    if (job.State() >= 0) return false;
    if (!job.Prepare(directory, {})) return false;

    // The script gets the directory as its argument line, split at blanks.
    if (hooks.startScript) hooks.startScript(kPreConvertScript, directory);
    if (hooks.sleep) hooks.sleep(3000);

    std::vector<std::string> sources = ListSources(directory);
    const int exports = CountExports(directory);
    const int n = static_cast<int>(sources.size());
    if (!job.Prepare(directory, sources)) return false;
    window.SetText(IDC_FILE_NUMBER, FileNumberText(0, n));
    window.SetProgressRange(IDC_PROGRESS_FILES, 0, n, 0);

    if (n == 0) {
        window.MessageBox(LoadString(216) + "\n" + directory, LUMORA_PRODUCT_NAME, kMbOk);
        return false;
    }
    if (window.MessageBox(StringPrintf(LoadString(218).c_str(), directory.c_str(), n), LUMORA_PRODUCT_NAME,
                          kMbOkCancel) != kIdOk)
        return false;
    bool overwrite = true;
    if (exports > 0) {
        int answer = window.MessageBox(StringPrintf(LoadString(217).c_str(), exports), LUMORA_PRODUCT_NAME,
                                       kMbYesNoCancel, kMbDefaultButton2 | kMbIconQuestion);
        if (answer == kIdYes)
            overwrite = true;
        else if (answer == kIdNo)
            overwrite = false;
        else
            return false;
    }
    WindowPort* w = &window;
    ConversionJob* j = &job;
    if (!job.Start(overwrite, [w, j]() { w->Post([w, j]() { OnConvertDone(*j, *w); }); })) return false;
    window.EnableControl(ID_TOOLS_DATA_CONVERT, false);
    return true;
}

void OnConvertDone(ConversionJob& job, WindowPort& window) {
    ConversionSummary s = job.Summary();
    window.MessageBox(ResultReport(s), LUMORA_PRODUCT_NAME, kMbOk);
    if (!s.failed.empty() && window.MessageBox("Display error list?" + s.directory, LUMORA_PRODUCT_NAME, kMbYesNo,
                                               kMbDefaultButton2 | kMbIconQuestion) == kIdYes)
        window.MessageBox(ErrorListText(s), LUMORA_PRODUCT_NAME, kMbOk);
    if (window.MessageBox("Goto data directery? '" + s.directory + "'", LUMORA_PRODUCT_NAME, kMbYesNo,
                          kMbIconQuestion) == kIdYes)
        window.OpenFolder(s.directory);
    window.EnableControl(ID_TOOLS_DATA_CONVERT, true);
}

}  // namespace lumora
