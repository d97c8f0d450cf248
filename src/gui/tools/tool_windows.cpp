#include "tools/tool_windows.h"

#include <QDialog>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <future>

#include "window/control_ids.h"
#include "lumora_version.h"
#include "main_window.h"
#include "platform/process.h"
#include "tools/command_editor_window.h"
#include "tools/convert_settings_dialog.h"
#include "tools/device_list_widget.h"
#include "tools/tool_text.h"

namespace lumora {

namespace {

constexpr int kBridgeMs = 100;

// Waits on the conversion thread for an answer from the UI thread. Gives up
// (fallback) when the run is being cancelled, or when the task that was to
// answer was dropped unrun because the window went away first.
template <class T>
T WaitForAnswer(std::future<T>& answer, const std::atomic<bool>& cancel, T fallback) {
    while (answer.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (cancel.load()) return fallback;
    }
    try {
        return answer.get();
    } catch (const std::future_error&) {
        return fallback;
    }
}

}  // namespace

ToolWindows::ToolWindows(MainWindow& window, DiscoveryOptions discovery) : window_(window), port_(window) {
    CLumoraDlg& dlg = window.Dlg();
    job_ = std::make_unique<ConversionJob>(dlg.Settings().Path());
    ConversionContext& ctx = job_->Context();
    // The conversion's values as the file holds them from start-up on.
    ConvertSettings values;
    LoadConvertSettings(ctx.store, values);
    ctx.SetSettings(values);
    ctx.ui = MakeSettingsUi();
    // Each start of receiving gives the conversion's next source a fresh header.
    dlg.Session().SetWorkerStartHook([&ctx] { ctx.receiveStarted.store(true, std::memory_order_release); });

    discovery_ = std::make_unique<DeviceDiscovery>(port_, [&dlg]() { return dlg.StopReceive(); }, discovery);
    discovery_->onDeviceAdded = [this](const CSa&) {
        if (deviceList_) deviceList_->ShowNewestDevice();
    };
    LoadHighSpeedSettings(dlg.Settings(), daq_, convert_);

    startScript = DefaultScriptStarter();
    waitForScript = [](int ms) {
        // The window keeps painting and its timers keep running; clicks and
        // keys wait until the pause is over.
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    };
    runSettingsDialog = [this](ConvertSettings& v) { return EditConvertSettings(&window_, v); };
    showFolder = ShowFolderInFileManager;

    deviceList_ = new DeviceListWidget(*discovery_);
    window.SetTabWidget(kTabActiveSa, deviceList_);

    bridge_ = new QTimer(this);
    bridge_->setInterval(kBridgeMs);
    connect(bridge_, &QTimer::timeout, this, &ToolWindows::CopyProgress);

    window.SetCommandHandler(ID_SETTING_CONVERT_NORMAL, [this] { OnConvertSettings(); });
    window.SetCommandHandler(ID_TOOLS_DEBUG, [this] { OnDebug(); });
    window.SetCommandHandler(ID_TOOLS_DATA_CONVERT, [this] { OnDataConvert(); });
    window.SetCommandHandler(ID_TOOLS_CONVERT_FOLDER, [this] { OnConvertFolder(); });
    window.SetCommandHandler(ID_TOOLS_ACTIVE_SA, [this] { OnActiveSa(); });
    window.SetCommandHandler(ID_TOOLS_HIGHSPEED_DAQ, [this] { OnHighSpeedDaq(); });
    window.SetCommandHandler(ID_TOOLS_HIGHSPEED_CONVERT, [this] { OnHighSpeedConvert(); });
}

ToolWindows::~ToolWindows() {
    *alive_ = false;
    for (int id : {ID_SETTING_CONVERT_NORMAL, ID_TOOLS_DEBUG, ID_TOOLS_DATA_CONVERT, ID_TOOLS_CONVERT_FOLDER,
                   ID_TOOLS_ACTIVE_SA, ID_TOOLS_HIGHSPEED_DAQ, ID_TOOLS_HIGHSPEED_CONVERT})
        window_.SetCommandHandler(id, nullptr);
    for (QPointer<QDialog>& d : launchers_) delete d.data();
    delete editor_.data();
    delete conversionWindow_.data();
    delete deviceList_.data();
    discovery_.reset();  // ends and joins the listeners
    window_.Dlg().Session().SetWorkerStartHook(nullptr);
    // The worker may be waiting for the run's question: it is stopped and
    // joined while the job still exists, and only then released.
    job_->Context().cancel.store(true);
    job_->Join();
    job_.reset();
}

// ---------------------------------------------------------------- settings

void ToolWindows::WhenSettingsFree(std::function<void()> task) {
    if (!settingsBusy_) {
        task();
        return;
    }
    QTimer::singleShot(kBridgeMs, this, [this, task = std::move(task)]() mutable { WhenSettingsFree(std::move(task)); });
}

ConvertSettingsUi ToolWindows::MakeSettingsUi() {
    ConvertSettingsUi ui;
    std::shared_ptr<bool> alive = alive_;
    const std::atomic<bool>* cancel = &job_->Context().cancel;
    // Both run on the conversion thread and wait for the UI thread, which
    // shows the question and the dialog; the run goes on with the answer.
    ui.askChange = [this, alive, cancel](const std::string& text) {
        auto promise = std::make_shared<std::promise<bool>>();
        std::future<bool> answer = promise->get_future();
        port_.Post([this, alive, text, promise]() {
            if (!*alive) return promise->set_value(false);
            WhenSettingsFree([this, text, promise]() {
                settingsBusy_ = true;
                bool yes = port_.MessageBox(text, LUMORA_PRODUCT_NAME, kMbYesNo, kMbDefaultButton2 | kMbIconQuestion) ==
                           kIdYes;
                // After Yes the dialog follows at once; the menu must not
                // open it in between.
                settingsBusy_ = yes;
                promise->set_value(yes);
            });
        });
        return WaitForAnswer(answer, *cancel, false);
    };
    ui.editSettings = [this, alive, cancel](ConvertSettings& values) {
        using Result = std::pair<bool, ConvertSettings>;
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> answer = promise->get_future();
        port_.Post([this, alive, copy = values, promise]() mutable {
            if (!*alive) return promise->set_value({false, copy});
            settingsBusy_ = true;
            bool ok = runSettingsDialog && runSettingsDialog(copy);
            settingsBusy_ = false;
            promise->set_value({ok, copy});
        });
        Result r = WaitForAnswer(answer, *cancel, Result{false, values});
        if (r.first) values = r.second;
        return r.first;
    };
    return ui;
}

void ToolWindows::OnConvertSettings() {
    // One dialog at a time: the run's question or dialog may be up.
    if (settingsBusy_) return;
    settingsBusy_ = true;
    ConversionContext& ctx = job_->Context();
    ConvertSettings values;
    LoadConvertSettings(ctx.store, values);
    if (runSettingsDialog) runSettingsDialog(values);
    // Saved after Cancel too: the values just loaded are written back.
    SaveConvertSettings(ctx.store, values);
    ctx.SetSettings(values);
    settingsBusy_ = false;
}

// ---------------------------------------------------------------- conversion

void ToolWindows::OnDataConvert() { ConvertDirectory(port_.GetText(IDC_SAVE_DIR)); }

void ToolWindows::OnConvertFolder() {
    if (convertFlowActive_ || job_->State() >= 0) return;
    static const tools::Caption kChooseTitle{"Convert folder", "转换文件夹"};
    const std::string directory = port_.ChooseFolder(tools::S(kChooseTitle.In(UiLanguage())), port_.GetText(IDC_SAVE_DIR));
    if (!directory.empty()) ConvertDirectory(directory);
}

void ToolWindows::ConvertDirectory(const std::string& directory) {
    // The pause after the script lets the window run on; a second command in
    // the meantime is not a second run.
    if (convertFlowActive_) return;
    convertFlowActive_ = true;
    if (!conversionWindow_) {
        conversionWindow_ = new ConversionWindow(UiLanguage(), &window_);
        conversionWindow_->onCancel = [this] { job_->Cancel(); };
        conversionWindow_->showFolder = [this](const std::string& d) { return showFolder && showFolder(d); };
    }
    std::shared_ptr<bool> alive = alive_;
    DataConvertHooks hooks;
    hooks.startScript = [this](const std::string& script, const std::string& line) {
        if (startScript) startScript(script, line);
    };
    hooks.sleep = [this](int ms) {
        if (waitForScript) waitForScript(ms);
    };
    // The report comes from a task posted by the worker; the tool windows
    // may be gone by then.
    hooks.runEnded = [this, alive] {
        if (*alive && conversionWindow_) conversionWindow_->Finish(job_->Summary());
    };
    hooks.openFolder = [this, alive](const std::string&) {
        if (*alive && conversionWindow_) conversionWindow_->OpenFolder();
    };
    job_->Context().innerSensor.store(window_.Dlg().LiveInnerSensor());
    job_->Context().SetSensors(window_.Dlg().SensorTable());
    const bool started = lumora::OnDataConvert(*job_, port_, directory, hooks);
    convertFlowActive_ = false;
    if (!started) return;
    conversionWindow_->Begin(directory);
    // The run's report may be in already (every source skipped or
    // unreadable); the window then shows its end.
    if (job_->State() < 0) conversionWindow_->Finish(job_->Summary());
    conversionWindow_->show();
    conversionWindow_->raise();
    // A run that has ended already still hands its end to the display.
    StartProgressBridge();
}

void ToolWindows::StartProgressBridge() {
    CopyProgress();
    bridge_->start();
}

// The job keeps its progress for itself; the window's status refresh shows
// the window's copy, brought up to date here. The two "tail" counts are
// handed over once each time the job sets them.
void ToolWindows::CopyProgress() {
    const bool idle = job_->State() < 0;  // all progress of a finished run is written by now
    ConvertProgress& p = job_->Context().progress;
    ConversionProgress& m = window_.Dlg().ConvProgress();
    m.filesLow.store(p.m_convFilesLow.load());
    m.filesTotal.store(p.m_convFilesTotal.load());
    m.filesDone.store(p.m_convFilesDone.load());
    if (int tail = p.m_convFilesTail.exchange(0)) m.filesTail.store(tail);
    m.running.store(p.m_convRunning.load());
    m.recordsLow.store(p.m_convRecordsLow.load());
    m.recordsRange.store(p.m_convRecordsRange.load());
    m.recordsPos.store(p.m_convRecordsPos.load());
    if (int tail = p.m_convFileTail.exchange(0)) m.fileTail.store(tail);
    m.fileBusy.store(p.m_convFileBusy.load());
    job_->Context().innerSensor.store(window_.Dlg().LiveInnerSensor());
    if (conversionWindow_ && !idle)
        conversionWindow_->ShowProgress(p.m_convFilesDone.load(), p.m_convFilesTotal.load(), p.m_convRecordsPos.load(),
                                        p.m_convRecordsRange.load());
    if (idle) bridge_->stop();
}

// ---------------------------------------------------------------- the other tools

void ToolWindows::OnDebug() {
    if (!editor_) {
        CLumoraDlg& dlg = window_.Dlg();
        editor_ = new CommandEditorWindow(
            dlg.Settings(), [&dlg](std::string text) { dlg.Commands().PostCommand(std::move(text)); }, UiLanguage(),
            &window_);
        editor_->showMessage = [this](const QString& text) {
            port_.MessageBox(text.toStdString(), LUMORA_PRODUCT_NAME, kMbOk, kMbIconWarning);
        };
    }
    editor_->show();
    editor_->raise();
    editor_->activateWindow();
}

void ToolWindows::Keep(QDialog* launcher) {
    std::erase_if(launchers_, [](const QPointer<QDialog>& p) { return p.isNull(); });
    launchers_.emplace_back(launcher);
    launcher->show();
}

void ToolWindows::OnActiveSa() { discovery_->StartRun(); }

void ToolWindows::OnHighSpeedDaq() {
    ScriptStarter start = [this](const std::string& s, const std::string& l) {
        if (startScript) startScript(s, l);
    };
    auto* d = new HighSpeedDaqDialog(window_.Dlg().Settings(), daq_, convert_, start, UiLanguage(), &window_);
    Keep(d);
}

void ToolWindows::OnHighSpeedConvert() {
    ScriptStarter start = [this](const std::string& s, const std::string& l) {
        if (startScript) startScript(s, l);
    };
    auto* d = new HighSpeedConvertDialog(window_.Dlg().Settings(), daq_, convert_, start, UiLanguage(), &window_);
    Keep(d);
}

}  // namespace lumora
