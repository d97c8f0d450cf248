// Conversion settings, the conversion job, the menu flow through the window
// interface, and lumora-cli convert.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <future>
#include <map>
#include <mutex>

#include "window/control_ids.h"
#include "conversion/conversion_job.h"
#include "conversion/output_file.h"
#include "conversion/recorded_file_reader.h"
#include "conversion_test_util.h"
#include "settings/settings_store.h"

namespace lumora {
namespace {

using namespace lumora::test;

// A window that records message boxes, answers them from a script, and runs
// posted tasks when the test asks.
class FakeWindow : public WindowPort {
public:
    struct Box {
        std::string text;
        int buttons;
        int flags;
    };
    std::vector<Box> boxes;
    std::deque<int> answers;  // answers in order; kIdOk / kIdYes when empty
    std::vector<std::string> opened;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;

    void SetText(int id, const std::string& t) override { texts[id] = t; }
    std::string GetText(int id) override { return texts[id]; }
    void SetCheck(int, bool) override {}
    bool GetCheck(int) override { return false; }
    void EnableControl(int id, bool on) override { enabled[id] = on; }
    void SetProgress(int, int, int) override {}
    int MessageBox(const std::string& text, const std::string&, int buttons, int flags) override {
        boxes.push_back({text, buttons, flags});
        if (answers.empty()) return buttons == kMbOk || buttons == kMbOkCancel ? kIdOk : kIdYes;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    void SetActiveTab(int) override {}
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    void Post(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(m);
        tasks.push_back(std::move(task));
        cv.notify_all();
    }
    void OpenFolder(const std::string& p) override { opened.push_back(p); }
    void OpenUrl(const std::string&) override {}

    // Runs posted tasks until one has run, waiting up to 10 s for it.
    bool RunOneTask() {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m);
            if (!cv.wait_for(lock, std::chrono::seconds(30), [&] { return !tasks.empty(); })) return false;
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
        return true;
    }

private:
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::function<void()>> tasks;
};

Bytes OneRecordLmra(int counter = 1) { return LmraFile({LmraRecord({1}, {30000}, 1700000000, counter)}); }

// The settings question as the desktop puts it: a box shown by a task posted
// to the window, the conversion thread waiting for the answer.
ConvertSettingsUi AskThroughWindow(FakeWindow& window) {
    ConvertSettingsUi ui;
    ui.askChange = [&window](const std::string& text) {
        auto answer = std::make_shared<std::promise<bool>>();
        std::future<bool> result = answer->get_future();
        window.Post([&window, text, answer] {
            answer->set_value(window.MessageBox(text, "", kMbYesNo, kMbDefaultButton2) == kIdYes);
        });
        return result.wait_for(std::chrono::seconds(30)) == std::future_status::ready && result.get();
    };
    return ui;
}

DataConvertHooks NoScript(std::vector<std::string>* started = nullptr) {
    DataConvertHooks h;
    h.startScript = [started](const std::string& script, const std::string& args) {
        if (started) started->push_back(script + " " + args);
    };
    h.sleep = [](int) {};
    return h;
}

TEST(ConvertSettingsTest, LoadSaveAndIntegerRules) {
    ScratchDir dir;
    SettingsStore store(dir / "Lumora.ini");
    ConvertSettings v;
    v.m_NeedPV = 7;
    LoadConvertSettings(store, v);
    EXPECT_EQ(v.m_FileLineMax, "200000");
    EXPECT_EQ(v.m_AlignErrorMax, "100");
    EXPECT_EQ(v.m_NeedPV, 1);
    EXPECT_EQ(v.m_TitleAlign, 1);
    EXPECT_EQ(v.m_OnlyMatched, 0);
    SaveConvertSettings(store, v);
    EXPECT_EQ(ReadFile(dir / "Lumora.ini"),
              "[DataConvert]\nFileLineMax=200000\nAlignErrorMax=100\nOnlyMatched=0\nNeedPV=1\nNeedSN=1\nNeedDate=1\n"
              "NeedUnitTime=1\nTitleAlign=1\nNeedSingleSensor=0\nNeedMs=0\n");

    EXPECT_EQ(FileLineMaxValue("3"), 3);
    EXPECT_EQ(FileLineMaxValue("12abc"), 12);
    for (const char* t : {"", "abc", "0", "-5"}) EXPECT_EQ(FileLineMaxValue(t), 200000) << t;
    EXPECT_EQ(FileLineMaxValue("99999999999999"), INT32_MAX);
    EXPECT_EQ(AlignErrorMaxValue("x"), 0);
    EXPECT_EQ(AlignErrorMaxValue(""), 0);
    EXPECT_EQ(AlignErrorMaxValue("7 rows"), 7);
}

TEST(ConvertSettingsTest, QuestionIsAskedOncePerRunInTheFileLanguage) {
    ScratchDir dir;
    ConversionContext ctx(dir / "Lumora.ini");
    WriteFile(dir / "Lumora.ini", std::string("[View]\nLanguage=1\n[DataConvert]\nFileLineMax=500\nNeedSN=0\n"));
    std::vector<std::string> asked;
    bool answerYes = false;
    ctx.ui.askChange = [&](const std::string& text) {
        asked.push_back(text);
        return answerYes;
    };
    ctx.ui.editSettings = [](ConvertSettings& v) {
        v.m_TitleAlign = 0;
        return true;
    };

    ConfirmConvertSettings(ctx);  // not asked before a run sets the flag
    EXPECT_TRUE(asked.empty());
    ctx.m_askConvertSettings = 1;
    ConfirmConvertSettings(ctx);
    ConfirmConvertSettings(ctx);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], ConvertSettingsQuestion(ctx.Settings(), Language::Chinese));
    EXPECT_NE(asked[0].find("最大文件行数：500\n"), std::string::npos);
    EXPECT_NE(asked[0].find("导出序列号：0\n"), std::string::npos);
    // No: the values shown are used, and all nine keys are written back.
    EXPECT_EQ(ctx.Settings().m_FileLineMax, "500");
    EXPECT_EQ(ctx.Settings().m_TitleAlign, 1);
    EXPECT_NE(ReadFile(dir / "Lumora.ini").find("NeedSingleSensor=0"), std::string::npos);

    // Yes: the dialog's values apply to the run and are saved.
    answerYes = true;
    WriteFile(dir / "Lumora.ini", std::string("[View]\nLanguage=0\n"));
    ctx.m_askConvertSettings = 1;
    ConfirmConvertSettings(ctx);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].rfind("The system is converted according to the following parameters.", 0), 0u);
    EXPECT_NE(asked[1].find("Maximum file lines: 200000\n"), std::string::npos);
    EXPECT_EQ(ctx.Settings().m_TitleAlign, 0);
    EXPECT_NE(ReadFile(dir / "Lumora.ini").find("TitleAlign=0"), std::string::npos);
}

TEST(ConversionJobTest, RunSortsSourcesAndReports) {
    ScratchDir dir;
    WriteFile(dir / "a.dat", OneRecordLmra());
    WriteFile(dir / "b.dat", Bytes{'L', 'M', 'R', 'A', 0x00});  // unreadable
    WriteFile(dir / "c.DAT", std::string("{\"Time\":1700000000,\"Counter\":1,\"SN\":\"A\",\"Data\":[]}\n"));
    WriteFile(dir / "notes.txt", std::string("x"));
    fs::create_directory(dir / "sub.dat");
    std::vector<std::string> sources = ListSources(dir.Path());
    ASSERT_EQ(sources, (std::vector<std::string>{dir / "a.dat", dir / "b.dat", dir / "c.DAT"}));

    ConversionJob job(dir / "Lumora.ini");
    int asked = 0;
    job.Context().ui.askChange = [&](const std::string&) {
        ++asked;
        return false;
    };
    ASSERT_TRUE(job.Prepare(dir.Path(), sources));
    ASSERT_TRUE(job.Start(true, nullptr));
    job.Join();
    EXPECT_EQ(job.State(), -1);
    EXPECT_EQ(asked, 1);
    ConversionSummary s = job.Summary();
    EXPECT_EQ(s.succeeded, (std::vector<std::string>{dir / "a.dat", dir / "c.DAT"}));
    EXPECT_EQ(s.failed, (std::vector<std::string>{dir / "b.dat"}));
    const ConvertProgress& p = job.Context().progress;
    EXPECT_EQ(p.m_convFilesDone.load(), 3);
    EXPECT_EQ(p.m_convFilesTotal.load(), 3);
    EXPECT_EQ(p.m_convFilesTail.load(), 2);
    EXPECT_EQ(p.m_convRunning.load(), 0);

    EXPECT_EQ(ResultReport(s), "Sucess: 2\nError: 1\n\nDIR: " + dir.Path());
    EXPECT_EQ(ErrorListText(s), "Error list: \n1: " + dir / "b.dat" +
                                    "\n    not a recording: \"LMRA\" followed by an unknown format byte\n");
    s.failed.clear();
    EXPECT_EQ(ResultReport(s), "Sucess: 2\nDIR: " + dir.Path());
    s.skipped = {"x"};
    EXPECT_EQ(ResultReport(s), "Sucess: 2\nSkipped: 1\nDIR: " + dir.Path());
}

TEST(ConversionJobTest, MenuFlowAsksAndReportsThroughTheWindow) {
    ScratchDir dir;
    FakeWindow window;
    ConversionJob job(dir / "Lumora.ini");
    std::vector<std::string> started;

    // Only exports, no sources: message 216 and no overwrite question. The
    // archive script runs only for a run that is confirmed.
    WriteFile(dir / "old-2.csv", std::string("x"));
    OnDataConvert(job, window, dir.Path(), NoScript(&started));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, LoadString(216) + "\n" + dir.Path());
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(window.texts[IDC_FILE_NUMBER], "0");

    // Cancel at 218: nothing starts, not even the script.
    WriteFile(dir / "old.dat", OneRecordLmra());
    WriteFile(dir / "new.dat", OneRecordLmra());
    window.boxes.clear();
    window.answers = {kIdCancel};
    OnDataConvert(job, window, dir.Path(), NoScript(&started));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, StringPrintf(LoadString(218).c_str(), dir.Path().c_str(), 2));
    EXPECT_EQ(job.State(), -1);
    EXPECT_TRUE(started.empty());

    // A folder that does not exist is named as missing.
    window.boxes.clear();
    OnDataConvert(job, window, dir / "gone", NoScript(&started));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "The folder '" + dir / "gone" + "' does not exist.");

    // OK, then No to the overwrite question: the source whose output exists
    // is skipped. A second command while the run waits for its question does
    // nothing at all.
    std::mutex m;
    std::condition_variable cv;
    bool release = false, waiting = false;
    job.Context().ui.askChange = [&](const std::string&) {
        std::unique_lock<std::mutex> lock(m);
        waiting = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
        return false;
    };
    window.boxes.clear();
    window.answers = {kIdOk, kIdNo};
    OnDataConvert(job, window, dir.Path(), NoScript(&started));
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[1].text, StringPrintf(LoadString(217).c_str(), 1));
    EXPECT_EQ(window.boxes[1].flags & kMbDefaultButton2, kMbDefaultButton2);
    EXPECT_EQ(started, (std::vector<std::string>{"7z.sh " + dir.Path()}));
    EXPECT_FALSE(window.enabled[ID_TOOLS_DATA_CONVERT]);
    EXPECT_FALSE(window.enabled[ID_TOOLS_CONVERT_FOLDER]);
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return waiting; }));
    }
    EXPECT_EQ(job.State(), 1);
    OnDataConvert(job, window, dir.Path(), NoScript(&started));
    EXPECT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(started.size(), 1u);
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
        cv.notify_all();
    }

    // The report arrives as a posted task.
    window.boxes.clear();
    window.answers = {kIdOk, kIdYes};
    ASSERT_TRUE(window.RunOneTask());
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[0].text, "Sucess: 1\nSkipped: 1\nDIR: " + dir.Path());
    EXPECT_EQ(window.boxes[1].text, "Goto data directery? '" + dir.Path() + "'");
    EXPECT_EQ(window.opened, (std::vector<std::string>{dir.Path()}));
    EXPECT_TRUE(window.enabled[ID_TOOLS_DATA_CONVERT]);
    EXPECT_TRUE(window.enabled[ID_TOOLS_CONVERT_FOLDER]);
    EXPECT_TRUE(Exists(dir / "new-2.csv"));
    EXPECT_FALSE(Exists(dir / "old-2.csv") && ReadFile(dir / "old-2.csv") != "x");

    // A failed source: the long report, and the list on Yes.
    WriteFile(dir / "bad.dat", Bytes{'L', 'M', 'R', 'A', 1});
    job.Context().ui = AskThroughWindow(window);
    window.boxes.clear();
    OnDataConvert(job, window, dir.Path(), NoScript());  // 218 OK, 217 Yes
    ASSERT_TRUE(window.RunOneTask());                     // the settings question, answered No
    EXPECT_EQ(window.boxes.back().text.rfind("The system is converted", 0), 0u);
    window.answers = {kIdOk, kIdYes, kIdOk, kIdNo};
    ASSERT_TRUE(window.RunOneTask());
    EXPECT_EQ(window.boxes[window.boxes.size() - 4].text, "Sucess: 2\nError: 1\n\nDIR: " + dir.Path());
    EXPECT_EQ(window.boxes[window.boxes.size() - 3].text, "Display error list?" + dir.Path());
    EXPECT_EQ(window.boxes[window.boxes.size() - 2].text,
              "Error list: \n1: " + dir / "bad.dat" +
                  "\n    not a recording: \"LMRA\" followed by an unknown format byte\n");
    EXPECT_EQ(window.opened.size(), 1u);
}

// Runs lumora-cli in cwd; returns its exit code and fills out and err.
int RunCli(const std::string& cwd, const std::string& args, std::string& out, std::string& err) {
    std::string errPath = cwd + "/cli.err";
    std::string cmd = "cd '" + cwd + "' && '" LUMORA_CLI_PATH "' convert " + args + " 2>'" + errPath + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return -1;
    out.clear();
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = ::pclose(p);
    err = ReadFile(errPath);
    fs::remove(errPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ConvertCliTest, ConvertsADirectoryWithoutQuestions) {
    if (!Exists(LUMORA_CLI_PATH)) GTEST_SKIP() << "lumora-cli not built";
    ScratchDir dir;
    std::string data = dir / "data";
    fs::create_directory(data);
    WriteFile(dir / "Lumora.ini", std::string("[DataConvert]\nTitleAlign=0\n[DataSave]\nInnerSensor=0\n"));
    std::string out, err;

    EXPECT_EQ(RunCli(dir.Path(), "", out, err), 2);
    EXPECT_EQ(RunCli(dir.Path(), "data", out, err), 2);
    EXPECT_EQ(err, LoadString(216) + "\ndata\n");

    WriteFile(data + "/a.dat", LmraFile({LmraRecord({2}, {1000, 30000}, 1700000000, 1)}));
    EXPECT_EQ(RunCli(dir.Path(), "data", out, err), 0);
    EXPECT_EQ(out, "Sucess: 1\nDIR: data\n");
    EXPECT_EQ(err, "");
    // [DataSave] InnerSensor 0 leaves out the reading below 1523000 pm, and
    // the grouped layout comes from [DataConvert] TitleAlign.
    auto rows = Lines(ReadFile(data + "/a-2.csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].substr(rows[1].find(',')), ",1700000000,1,2.1.1002,1540000,40000");

    WriteFile(data + "/b.dat", Bytes{'L', 'M', 'R', 'A', 2});
    EXPECT_EQ(RunCli(dir.Path(), "data --no-overwrite", out, err), 1);
    EXPECT_EQ(out, "Sucess: 0\nError: 1\nSkipped: 1\n\nDIR: data\nError list: \n1: data/b.dat\n"
                   "    not a recording: \"LMRA\" followed by an unknown format byte\n");
    // The settings file is read, never written.
    EXPECT_EQ(ReadFile(dir / "Lumora.ini"), "[DataConvert]\nTitleAlign=0\n[DataSave]\nInnerSensor=0\n");
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

using namespace lumora::test;

// Only whole files carry final names: a run stopped in the middle of a
// source and a write that fails leave no CSV under a final name, so a later
// run with "do not overwrite" converts the source instead of skipping it.
TEST(ConversionJobTest, UnfinishedOutputNeverCarriesAFinalName) {
    ScratchDir dir;
    WriteFile(dir / "Lumora.ini", std::string("[DataConvert]\nFileLineMax=50000\n"));
    std::vector<Bytes> records;
    const int kRecords = 300000;
    for (int i = 0; i < kRecords; ++i) records.push_back(LmraRecord({1}, {30000}, 1700000000, i % 60000 + 1));  // no FD FD in a counter
    WriteFile(dir / "big.dat", LmraFile(records));
    auto finalNames = [&] {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(dir.Path()))
            if (e.path().extension() == ".csv" || e.path().extension() == ".log") names.push_back(e.path().string());
        return names;
    };
    auto leftovers = [&] {
        size_t n = 0;
        for (auto& e : fs::directory_iterator(dir.Path())) n += e.path().extension() == ".part";
        return n;
    };

    {
        // Stopped once the source has begun writing.
        ConversionJob job(dir / "Lumora.ini");
        ASSERT_TRUE(job.Prepare(dir.Path(), {dir / "big.dat"}));
        ASSERT_TRUE(job.Start(true, nullptr));
        for (int i = 0; i < 10000 && !Exists(dir / "big-2.csv.part"); ++i) usleep(1000);
        job.Cancel();
        job.Join();
        EXPECT_TRUE(job.Summary().cancelled);
        EXPECT_TRUE(job.Summary().failed.empty()) << "a stopped source is not a failed one";
    }
    EXPECT_TRUE(finalNames().empty());
    EXPECT_EQ(leftovers(), 0u);

    // "Do not overwrite" converts it whole, with every record once.
    ConversionJob job(dir / "Lumora.ini");
    ASSERT_TRUE(job.Prepare(dir.Path(), {dir / "big.dat"}));
    ASSERT_TRUE(job.Start(false, nullptr));
    job.Join();
    EXPECT_EQ(job.Summary().succeeded.size(), 1u);
    size_t rows = 0;
    for (int n = 2; n <= 7; ++n) rows += Lines(ReadFile(CsvOutputPath(dir / "big.dat", n))).size() - 1;
    EXPECT_EQ(rows, static_cast<size_t>(kRecords));
    EXPECT_EQ(leftovers(), 0u);

    // A write that fails (files may not grow beyond 64 KiB): the source is
    // reported failed and nothing of it is left.
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    fs::copy_file(dir / "big.dat", dir / "out/big.dat");
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ConversionContext ctx(dir / "Lumora.ini");
    const int result = ConvertFile(ctx, dir / "out/big.dat");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, kConvertOutputFailed);
    size_t outputs = 0;
    for (auto& e : fs::directory_iterator(dir / "out")) outputs += e.path().filename() != "big.dat";
    EXPECT_EQ(outputs, 0u);
}

// The stop request ends a source also where no valid record comes: in the
// counting pass, among invalid pieces, and after a question that was
// abandoned because the run is stopping.
TEST(ConversionJobTest, StopRequestIsSeenWhereNoRecordComes) {
    ScratchDir dir;
    WriteFile(dir / "noise.dat", LmraFile({Bytes(1 << 16, 0x11)}));
    ConversionContext ctx(dir / "Lumora.ini");
    ctx.cancel.store(true);
    EXPECT_EQ(ConvertFile(ctx, dir / "noise.dat"), kConvertCancelled);

    WriteFile(dir / "a.dat", OneRecordLmra());
    ConversionContext asked(dir / "Lumora.ini");
    asked.m_askConvertSettings = 1;
    asked.ui.askChange = [&](const std::string&) {
        asked.cancel.store(true);  // the window went away while the question waited
        return false;
    };
    EXPECT_EQ(ConvertFile(asked, dir / "a.dat"), kConvertCancelled);
    EXPECT_FALSE(Exists(dir / "a-2.csv"));
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

using namespace lumora::test;

// Bad lines end a text source unless lumora-cli is told to skip them; then
// each source says how many it skipped and where. The source spans several
// batches of the two conversion threads: a repeated frame is still dropped,
// also when the repeat lacks its other members.
TEST(ConvertCliTest, SkipBadLinesGoesOnAndSaysWhere) {
    if (!Exists(LUMORA_CLI_PATH)) GTEST_SKIP() << "lumora-cli not built";
    ScratchDir dir;
    fs::create_directory(dir / "data");
    std::string text;
    for (int i = 1; i <= 1000; ++i) {
        if (i == 301) text += std::string(2, ' ') + "\n{\"SysTime\":[1700000001,0],\"SysData\":}\n";
        if (i == 701) text += "\xFF\xFF\x01\x02 binary\n";
        text += "{\"Time\":1700000000,\"Counter\":" + std::to_string(i) + ",\"SN\":\"A\",\"Data\":[[1,1,1,1551000,5,1001]]}\n";
        if (i == 600) text += "{\"Time\":1700000000,\"Counter\":600}\n";  // the same frame again
    }
    WriteFile(dir / "data/t.dat", text);
    std::string out, err;
    EXPECT_EQ(RunCli(dir.Path(), "data", out, err), 1);
    EXPECT_FALSE(Exists(dir / "data/t-1.csv"));

    EXPECT_EQ(RunCli(dir.Path(), "data --skip-bad-lines", out, err), 0);
    EXPECT_EQ(out, "Sucess: 1\nDIR: data\ndata/t.dat: 3 lines skipped (lines 301, 302, 704)\n");
    auto rows = Lines(ReadFile(dir / "data/t-1.csv"));
    ASSERT_EQ(rows.size(), 1001u);
    EXPECT_EQ(rows[1000].substr(rows[1000].find(',')), ",1700000000,1000,1551000,5");
    EXPECT_FALSE(Exists(dir / "Lumora.ini"));
}

}  // namespace
}  // namespace lumora
