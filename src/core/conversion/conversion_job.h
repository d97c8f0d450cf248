#pragma once
// A conversion run: every ".dat" file of a directory converted to CSV on a
// worker thread, with the result sorted into lists and reported at the end.
// The menu flow (questions before the run, the report after it) is written
// against the window interface, so the desktop only binds it.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "window/window_port.h"
#include "conversion/conversion_context.h"
#include "platform/durable_file.h"

namespace lumora {

// The script started on the data directory before a run.
constexpr const char* kPreConvertScript = "7z.sh";

// Full paths of the recordings directly in directory (regular files whose
// extension is ".dat" in any letter case), sorted by name.
std::vector<std::string> ListSources(const std::string& directory);
// Number of ".csv" files directly in directory.
int CountExports(const std::string& directory);
// directory + "/" + name.
std::string JoinPath(const std::string& directory, const std::string& name);
// Whether the first output file of source (number 2 for binary recordings,
// 1 for JSON lines) exists already.
bool FirstOutputExists(const std::string& source);

// Why directory cannot be converted at all, in the interface language: it
// does not exist, or cannot be opened. Empty when it is a folder.
std::string FolderProblem(const std::string& directory);
// Takes the advisory lock that keeps a second conversion out of directory.
// false with the message to show when another run holds it (or the folder
// cannot be opened).
bool LockRunFolder(const std::string& directory, FolderLock& lock, std::string& message);

// What a finished run produced, for the report.
struct ConversionSummary {
    std::string directory;
    size_t total = 0;
    std::vector<std::string> succeeded;
    std::vector<std::string> failed;
    // Why each source of failed failed (same order): one line, no line feed.
    std::vector<std::string> failureReasons;
    // The run was stopped before its end: the source it was converting left
    // nothing, and the sources after it were not started.
    bool cancelled = false;
    // Set when the run ended early because of a fault of its own.
    std::string fault;
    std::vector<std::string> skipped;  // outputs existed and were not to be replaced
    // Sources converted past lines that were not valid records.
    struct BadLines {
        std::string source;
        SkippedLines lines;
    };
    std::vector<BadLines> badLines;
};

// "Sucess: N" and "\nDIR: dir", with "Error: N" when a source failed and the
// number skipped when any were; "Cancelled" first when the run was stopped.
std::string ResultReport(const ConversionSummary& summary);
// "Error list: \n" and "1: path\n" for every failed source, each followed by
// its reason on a line of its own, indented.
std::string ErrorListText(const ConversionSummary& summary);
// "path: N lines skipped (lines 3, 9, ...)\n" for every source with skipped
// lines; the first few line numbers are given.
std::string SkippedLinesText(const ConversionSummary& summary);

class ConversionJob {
public:
    explicit ConversionJob(std::string settingsPath = "./Lumora.ini");
    // Stops a running job at its next record and waits for its thread.
    ~ConversionJob();
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    ConversionContext& Context() { return ctx_; }

    // -1 idle, 1 from the confirmation of a run until its worker has finished.
    int State() const;
    // Empties the three lists and sets the run's sources and directory; false
    // (and nothing changed) while a run is active.
    bool Prepare(const std::string& directory, const std::vector<std::string>& sources);
    // Starts the worker over the prepared sources. With overwrite false, a
    // source whose first output exists is skipped. onDone runs on the worker
    // at the very end (after the state went back to idle). The run holds the
    // folder's lock until it ends: lock when the caller took it already,
    // else one taken here. false while a run is active, or when another run
    // holds the folder (StartError() then says so).
    bool Start(bool overwrite, std::function<void()> onDone, FolderLock lock = {});
    std::string StartError() const;
    // Makes a running job stop at its next record; the source being converted
    // leaves no output, the report says "Cancelled".
    void Cancel() { ctx_.cancel.store(true); }
    // Waits for the worker of the last run to end.
    void Join();

    ConversionSummary Summary() const;

private:
    void StartWorker(std::function<void()> onDone, FolderLock folderLock);
    void ConvertThreadProc();
    void ConvertSources();

    mutable std::mutex mutex_;  // state and the lists
    int state_ = -1;
    std::vector<std::string> sources_;
    std::vector<std::string> failed_;
    std::vector<std::string> succeeded_;
    std::vector<std::string> skipped_;
    std::vector<std::string> failureReasons_;
    bool cancelled_ = false;
    std::string fault_;
    std::string startError_;
    std::vector<ConversionSummary::BadLines> badLines_;
    std::string directory_;
    std::atomic<int> m_overwriteExports{1};

    ConversionContext ctx_;
    std::mutex threadMutex_;
    std::thread worker_;
};

// The parts of Tools > Data Convert that reach outside the program.
struct DataConvertHooks {
    // Starts the pre-conversion script with the directory as its argument
    // line; not waited for, its result not checked.
    std::function<void(const std::string& script, const std::string& argumentLine)> startScript;
    // Blocks the calling (UI) thread while the script does its work.
    std::function<void(int milliseconds)> sleep;
    // Shows the folder in the file manager after "Goto data directery?";
    // by default the window's OpenFolder.
    std::function<void(const std::string& directory)> openFolder;
    // Runs on the UI thread when a run has ended, before its report.
    std::function<void()> runEnded;
};
// Starts scripts with /bin/sh from the current directory and really sleeps.
DataConvertHooks DefaultDataConvertHooks();

// Tools > Data Convert on the UI thread: the listing, the questions
// 216/218/217, the archive script once the run is confirmed, and the start of
// the worker. A folder that is missing or that another run converts is
// refused with a message. The report follows on the UI thread (OnConvertDone)
// when the worker has finished. true when a run was started (it may have
// ended already when this returns).
bool OnDataConvert(ConversionJob& job, WindowPort& window, const std::string& directory,
                   const DataConvertHooks& hooks = DefaultDataConvertHooks());
// The result report of the last run, on the UI thread.
void OnConvertDone(ConversionJob& job, WindowPort& window, const DataConvertHooks& hooks = {});

}  // namespace lumora
