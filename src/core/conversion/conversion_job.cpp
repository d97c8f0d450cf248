#include "conversion/conversion_job.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
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

std::string FolderProblem(const std::string& directory) {
    const std::string path = directory.empty() ? "/" : directory;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return StringPrintf(LoadString(261).c_str(), directory.c_str());
        return StringPrintf(LoadString(262).c_str(), directory.c_str(), std::strerror(errno));
    }
    if (!S_ISDIR(st.st_mode)) return StringPrintf(LoadString(262).c_str(), directory.c_str(), std::strerror(ENOTDIR));
    return {};
}

bool LockRunFolder(const std::string& directory, FolderLock& lock, std::string& message) {
    switch (lock.Acquire(directory)) {
        case FolderLock::kLocked:
            return true;
        case FolderLock::kBusy:
            message = StringPrintf(LoadString(260).c_str(), directory.c_str());
            return false;
        case FolderLock::kFailed:
            break;
    }
    message = StringPrintf(LoadString(262).c_str(), directory.c_str(), std::strerror(errno));
    return false;
}

std::string ResultReport(const ConversionSummary& s) {
    std::string text = std::string(s.cancelled ? "Cancelled\n" : "") + (s.fault.empty() ? "" : s.fault + "\n") +
                       "Sucess: " + std::to_string(s.succeeded.size());
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
    for (size_t i = 0; i < s.failed.size(); ++i) {
        text += std::to_string(i + 1) + ": " + s.failed[i] + "\n";
        if (i < s.failureReasons.size() && !s.failureReasons[i].empty()) text += "    " + s.failureReasons[i] + "\n";
    }
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
    failureReasons_.clear();
    succeeded_.clear();
    skipped_.clear();
    badLines_.clear();
    cancelled_ = false;
    fault_.clear();
    sources_ = sources;
    directory_ = directory;
    return true;
}

bool ConversionJob::Start(bool overwrite, std::function<void()> onDone, FolderLock folderLock) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ >= 0) return false;
        startError_.clear();
        if (!folderLock.Held() && !LockRunFolder(directory_, folderLock, startError_)) return false;
        state_ = 1;
    }
    m_overwriteExports.store(overwrite ? 1 : 0);
    std::lock_guard<std::mutex> lock(threadMutex_);
    // The previous worker has set the state back already; it may still be
    // returning from its last step.
    if (worker_.joinable()) worker_.join();
    ctx_.cancel.store(false);
    try {
        StartWorker(std::move(onDone), std::move(folderLock));
    } catch (const std::exception& e) {
        // No thread to run it (the system's limit is reached): no run.
        std::lock_guard<std::mutex> stateLock(mutex_);
        state_ = -1;
        startError_ = std::string("The conversion could not start: ") + e.what();
        return false;
    }
    return true;
}

void ConversionJob::StartWorker(std::function<void()> onDone, FolderLock folderLock) {
    worker_ = std::thread([this, onDone = std::move(onDone), folderLock = std::move(folderLock)]() mutable {
        ConvertThreadProc();
        // Released before the report: a run started from it may lock again.
        folderLock.Release();
        {
            std::lock_guard<std::mutex> stateLock(mutex_);
            state_ = -1;
        }
        try {
            if (onDone) onDone();
        } catch (...) {
            // The report could not be handed on (no memory left); the run
            // itself has ended cleanly.
        }
    });
}

std::string ConversionJob::StartError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return startError_;
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
    s.failureReasons = failureReasons_;
    s.cancelled = cancelled_;
    s.fault = fault_;
    s.skipped = skipped_;
    s.badLines = badLines_;
    return s;
}

// The worker's body. Nothing leaves it by an exception: a source that fails
// in any way is one of the failed sources, with its reason.
void ConversionJob::ConvertThreadProc() {
    ConvertProgress& p = ctx_.progress;
    p.m_convFilesLow.store(1);
    p.m_convFilesDone.store(0);
    p.m_convRunning.store(1);
    ctx_.m_askConvertSettings.store(1);
    try {
        ConvertSources();
    } catch (...) {
        // Only the bookkeeping around the sources can get here (memory
        // running out while a list grows); the run ends and says so.
        std::lock_guard<std::mutex> lock(mutex_);
        fault_ = "The conversion stopped: it ran out of memory.";
    }
    p.m_convFilesDone.store(p.m_convFilesTotal.load());
    p.m_convFilesTail.store(2);
    p.m_convRunning.store(0);
}

void ConversionJob::ConvertSources() {
    std::vector<std::string> sources;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sources = sources_;
        failed_.reserve(sources.size());
        failureReasons_.reserve(sources.size());
        succeeded_.reserve(sources.size());
    }
    const int n = static_cast<int>(sources.size());
    ConvertProgress& p = ctx_.progress;
    p.m_convFilesTotal.store(n);
    const bool overwrite = m_overwriteExports.load() != 0;

    bool cancelled = false;
    for (int i = 0; i < n && !cancelled; ++i) {
        const std::string& path = sources[i];
        if (ctx_.cancel.load()) {
            cancelled = true;
            break;
        }
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
        if (r == kConvertCancelled) {
            // Not a failure of the source: it was not converted at all.
            cancelled = true;
        } else if (r == kConvertOk) {
            succeeded_.push_back(path);
        } else {
            failed_.push_back(path);
            failureReasons_.push_back(ctx_.failureReason);
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = cancelled;
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

    if (std::string problem = FolderProblem(directory); !problem.empty()) {
        window.MessageBox(problem, LUMORA_PRODUCT_NAME, kMbOk, kMbIconWarning);
        return false;
    }
    // Held from here, through the questions, to the end of the run: a second
    // conversion of the folder, here or in another program, is refused.
    FolderLock lock;
    if (std::string message; !LockRunFolder(directory, lock, message)) {
        window.MessageBox(message, LUMORA_PRODUCT_NAME, kMbOk, kMbIconWarning);
        return false;
    }

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

    // The archive script only once the run is confirmed: a run the user
    // cancels leaves no archive. It updates one archive of the folder with
    // what is new, so that repeated runs do not pack everything again. It
    // gets the directory as its argument line, split at blanks.
    if (hooks.startScript) hooks.startScript(kPreConvertScript, directory);
    if (hooks.sleep) hooks.sleep(3000);

    WindowPort* w = &window;
    ConversionJob* j = &job;
    DataConvertHooks after = hooks;
    if (!job.Start(
            overwrite, [w, j, after]() { w->Post([w, j, after]() { OnConvertDone(*j, *w, after); }); },
            std::move(lock))) {
        if (std::string error = job.StartError(); !error.empty())
            window.MessageBox(error, LUMORA_PRODUCT_NAME, kMbOk, kMbIconWarning);
        return false;
    }
    window.EnableControl(ID_TOOLS_DATA_CONVERT, false);
    window.EnableControl(ID_TOOLS_CONVERT_FOLDER, false);
    return true;
}

void OnConvertDone(ConversionJob& job, WindowPort& window, const DataConvertHooks& hooks) {
    if (hooks.runEnded) hooks.runEnded();
    ConversionSummary s = job.Summary();
    window.MessageBox(ResultReport(s), LUMORA_PRODUCT_NAME, kMbOk);
    if (!s.failed.empty() && window.MessageBox("Display error list?" + s.directory, LUMORA_PRODUCT_NAME, kMbYesNo,
                                               kMbDefaultButton2 | kMbIconQuestion) == kIdYes)
        window.MessageBox(ErrorListText(s), LUMORA_PRODUCT_NAME, kMbOk);
    // A run the user stopped is not followed by the question: the
    // conversion window offers the folder.
    if (!s.cancelled && window.MessageBox("Goto data directery? '" + s.directory + "'", LUMORA_PRODUCT_NAME,
                                          kMbYesNo, kMbIconQuestion) == kIdYes) {
        if (hooks.openFolder)
            hooks.openFolder(s.directory);
        else
            window.OpenFolder(s.directory);
    }
    window.EnableControl(ID_TOOLS_DATA_CONVERT, true);
    window.EnableControl(ID_TOOLS_CONVERT_FOLDER, true);
}

}  // namespace lumora
