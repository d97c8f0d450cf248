#pragma once
// CLumoraDlg: the program's main window as state and handlers. It owns every
// long-lived thing (settings mirrors, frame ring, recorder, command channel,
// sensor list, view flags) and talks to the real window only through
// WindowPort, so a test drives it exactly as the desktop front end does.
//
// Everything here runs on the UI thread unless a comment says otherwise. The
// values worker threads read "live" from the window (Enable, Counter, the
// source-data DISP box, FULL, ID, the IP and CMD Port texts) are kept as
// atomics that the change handlers set.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/acquisition_state.h"
#include "acquisition/receive_session.h"
#include "window/control_ids.h"
#include "window/string_table.h"
#include "window/window_port.h"
#include "device/command_channel.h"
#include "publishing/mqtt_publisher.h"
#include "recording/raw_recorder.h"
#include "settings/settings_store.h"
#include "views/sensor_list.h"

namespace lumora {

// Progress of a conversion run as the status refresh shows it. The conversion
// job writes these from its thread; the status refresh only displays them.
struct ConversionProgress {
    std::atomic<int> running{0};      // m_convRunning
    std::atomic<int> filesLow{0};     // m_convFilesLow
    std::atomic<int> filesTotal{0};   // m_convFilesTotal
    std::atomic<int> filesDone{0};    // m_convFilesDone
    std::atomic<int> filesTail{0};    // m_convFilesTail
    std::atomic<int> fileBusy{0};     // m_convFileBusy
    std::atomic<int> recordsLow{0};   // m_convRecordsLow
    std::atomic<int> recordsRange{0}; // m_convRecordsRange
    std::atomic<int> recordsPos{0};   // m_convRecordsPos
    std::atomic<int> fileTail{0};     // m_convFileTail
    void Clear();
};

// "Saved lines": records of the current file, and the records lost since
// start or Reset when there are any.
std::string SavedLinesText(const RawRecorder& recorder);

// The Reset question, asked in Chinese whatever the interface language.
inline constexpr char kResetQuestion[] = "系统重置将关闭现在的所有采集，是否重置？";

class CLumoraDlg {
public:
    // settingsPath: the settings file, "./Lumora.ini" of the current directory.
    explicit CLumoraDlg(WindowPort& window, std::string settingsPath = "./Lumora.ini");
    ~CLumoraDlg();
    CLumoraDlg(const CLumoraDlg&) = delete;
    CLumoraDlg& operator=(const CLumoraDlg&) = delete;

    // ---- life of the window
    // Reads [View] Language into the UI language; returns it. Called at
    // program start and again at window initialisation.
    static Language ApplyLanguage(const SettingsStore& settings);
    void OnInitDialog();
    void UpdateStatus();      // timer 3, every second
    void UpdateSensorList();  // timer 0, every 20 ms
    void UpdateTrace();       // timer 2, every 20 ms (the trace view attaches here)
    void OnTimer(int timerId);
    void OnSystemReset();     // System > Reset
    void OnClose();           // close box, SIGTERM, SIGINT, SIGHUP: stop receiving, flush the recording
    void OnCancel();          // Escape, tray "Close": the dialog ends
    void OnExit();            // System > Exit
    // When the new instance of a language switch starts, the old one may still
    // hold the data port: wait up to this long for it before AutoOpen.
    void SetStartupPortWait(int milliseconds) { m_startupPortWaitMs = milliseconds; }

    // ---- generic entry points of the front end (they dispatch to the named
    // handlers below). OnEditChanged is for changes made by the user; text the
    // program puts into an edit goes through SetEditText, which runs the same
    // handler, as an edit's change notification would.
    void OnEditChanged(int controlId, const std::string& text);
    void OnCheckClicked(int controlId, bool checked);
    void OnButtonClicked(int controlId);
    void OnComboSelected(int controlId, int index);
    void OnCommand(int commandId);  // menu and system-menu commands
    void SetEditText(int controlId, const std::string& text);

    // ---- Data Interface
    void OnProtocolChanged(int index);
    void OnPortChanged(const std::string& text);
    void OnCmdPortChanged(const std::string& text);
    void OnIntervalChanged(const std::string& text);
    void OnStringFormatClicked(bool checked);
    void OnAutoOpenClicked(bool checked);
    void OnOpenClose();
    void OnWavelengthMode();
    void OnSpectrumMode();
    void OnResetReference();
    // ---- Data Information
    void OnDeviceIpChanged(const std::string& text);
    void OnClearCounter();
    // ---- Data Save
    void OnEnableClicked(bool checked);
    void OnLocalTimeClicked(bool checked);
    void OnSaveCounterClicked(bool checked);
    void OnInnerSensorClicked(bool checked);
    void OnUnmatchedClicked(bool checked);
    void OnAlignClicked(bool checked);
    void OnErrorNumberChanged(const std::string& text);
    void OnLineNumberChanged(const std::string& text);
    void OnFileNameChanged(const std::string& text);
    void OnSaveDirChanged(const std::string& text);
    void OnBrowseDir();
    // ---- Source data
    void OnRawDispClicked(bool checked);
    void OnRawClear();
    // ---- view groups
    void OnListDispClicked(bool checked);
    void OnSpectrumDispClicked(bool checked);
    void OnSpectrumReset();
    void OnTraceDispClicked(bool checked);
    void OnRealtimeDispClicked(bool checked);
    void OnRealtimeFullClicked(bool checked);
    void OnRealtimeIdChanged(const std::string& text);
    void OnRealtimeLenChanged(const std::string& text);
    // A click in the sensor list: row index, -1 when no row was hit.
    void OnSensorListClick(int row);

    // ---- menu
    void OnDataDir();
    void OnAbout();
    void OnLanguageChinese();
    void OnLanguageEnglish();
    // Commands whose windows belong to the tool windows; they do nothing yet.
    void OnConvertSettings();   // Setting > Data Convert > Normal
    void OnDebug();             // Tools > Debug (command editor)
    void OnDataConvert();       // Tools > Data Convert
    void OnActiveSa();          // Tools > Active SA (device discovery)
    void OnHighSpeedDaq();      // Tools > HighSpeed DAQ
    void OnHighSpeedConvert();  // Tools > HighSpeed Convert

    // ---- state other parts of the program read
    WindowPort& Window() { return m_window; }
    SettingsStore& Settings() { return m_settings; }
    AcquisitionState& Acquisition() { return m_acq; }
    RawRecorder& Recorder() { return m_recorder; }
    CommandChannel& Commands() { return m_commandChannel; }
    CommandBoxes& CommandTexts() { return m_commandBoxes; }
    ResetReferenceFlag& ResetReference() { return m_resetReference; }
    SensorList& SensorRows() { return m_sensorList; }
    ConversionProgress& ConvProgress() { return m_conv; }
    ReceiveSession& Session() { return *m_session; }
    MqttPublisher& Publisher() { return m_publisher; }
    // [MQTT] Enable 1: publish what the data port decodes, (re)starting with
    // the [MQTT] settings as the file holds them; 0: stop publishing at once.
    void ApplyMqttSettings();

    bool PortOpen() const { return m_portOpen != 0; }
    bool StopReceive() const { return g_stopReceive.load(std::memory_order_acquire) != 0; }
    const std::string& PortText() const { return m_portText; }
    const std::string& IntervalText() const { return m_intervalText; }
    int Protocol() const { return g_protocol.load(); }
    bool StringFormat() const { return m_stringFormat.load(); }
    uint32_t RecordsPerFile() const { return m_recordsPerFile.load(); }
    int ErrorNumber() const { return m_errorNumber.load(); }
    int AlignFields() const { return m_alignFields.load(); }
    int NotMatched() const { return m_notMatched.load(); }
    bool StampLocalTime() const { return m_stampLocalTime.load(); }
    bool ShowList() const { return m_showList.load(); }
    bool ShowTrace() const { return m_showTrace.load(); }
    bool ShowRealtime() const { return m_showRealtime.load(); }
    bool ShowSpectrum() const { return m_showSpectrum.load(); }
    const char* CurrentSn() const { return m_currentSn; }
    int64_t FrameTime() const { return m_frameTime; }
    int LastCounter() const { return m_lastCounter; }
    // Live values (any thread).
    bool LiveEnable() const { return m_liveEnable.load(std::memory_order_relaxed); }
    bool LiveSaveCounter() const { return m_liveSaveCounter.load(std::memory_order_relaxed); }
    bool LiveRawDisp() const { return m_acq.m_showSourceData.load(std::memory_order_relaxed); }
    bool LiveFull() const { return m_liveFull.load(std::memory_order_relaxed); }
    bool LiveInnerSensor() const { return m_liveInnerSensor.load(std::memory_order_relaxed); }
    int LiveRealtimeId() const { return m_liveRealtimeId.load(std::memory_order_relaxed); }
    int RealtimeLength() const { return m_rtLength.load(std::memory_order_relaxed); }
    std::string SaveDir() const { return m_saveDir; }
    // Datagrams received (the "x" button zeroes it) and datagrams per second.
    uint32_t DatagramCount() const;
    int PacketRate() const;
    // Realtime drawings per second ("FRQ"), kept by the realtime view.
    std::atomic<int> m_rtDrawRate{0};

    // How the program ends, with the recording already closed, when a
    // language switch cannot start the new instance (tests replace it).
    std::function<void(int)> exitProcess;

    // Where the chart views attach (all called on the UI thread; each may be
    // left empty).
    struct ViewHooks {
        // Open, after the port is bound and before the worker starts: empty
        // the trace's start-up series, prepare the realtime canvas, start the
        // 1 ms tick.
        std::function<void()> openViews;
        // Close, Reset and Exit: stop the 1 ms tick (waiting for it), then
        // release the realtime canvas.
        std::function<void()> closeViews;
        std::function<void()> updateTrace;         // timer 2
        std::function<void()> resetSpectrum;       // spectrum RST (1068)
        std::function<void(int)> realtimeLength;   // LEN (1058), its leading digits
        std::function<void()> forgetTraceCounter;  // Reset: the next frame is taken whatever its counter
        std::function<int()> drawRate;             // FRQ (1031); m_rtDrawRate when empty
        std::function<void()> clearDrawRate;       // Realtime DISP clicked
    };
    ViewHooks viewHooks;

private:
    void ReadSettingsIntoControls(bool atStartup);
    // The port text in force (m_portText, the session, the decoder's port),
    // without writing it to the settings file.
    void UsePortText(const std::string& text);
    void ResolveSaveDir(const std::string& stored);
    void ClearStatusState();
    // The Open and Close paths of the data port.
    void OpenPort();
    void ClosePort();
    // Hands the settings mirrors to the receive session.
    void ApplySessionSettings();
    // Prepares the realtime view and starts its 1 ms tick; stops the tick and
    // releases what it draws into.
    void StartRealtime();
    void StopRealtime();
    void WaitForDataPort();
    void RestartProgram();
    void WriteInt(const char* section, const char* key, int value);
    void WriteCheck(const char* section, const char* key, bool checked);
    void SetTextInt(int controlId, long value);
    void SetTextUnsigned(int controlId, unsigned long value);
    void ShowDatagramTroubles();

    // What the receive worker shows goes through the window as well; the
    // address it writes into the "IP" box is also where commands go.
    class SessionWindow : public WindowPort {
    public:
        explicit SessionWindow(CLumoraDlg& dlg) : dlg_(dlg) {}
        void SetText(int id, const std::string& t) override;
        std::string GetText(int id) override { return w().GetText(id); }
        void SetCheck(int id, bool c) override { w().SetCheck(id, c); }
        bool GetCheck(int id) override { return w().GetCheck(id); }
        void EnableControl(int id, bool e) override { w().EnableControl(id, e); }
        void SetProgress(int id, int upper, int pos) override { w().SetProgress(id, upper, pos); }
        int MessageBox(const std::string& text, const std::string& caption, int buttons, int flags) override {
            return w().MessageBox(text, caption, buttons, flags);
        }
        void SetActiveTab(int tab) override { w().SetActiveTab(tab); }
        void StartTimer(int id, int ms) override { w().StartTimer(id, ms); }
        void StopTimer(int id) override { w().StopTimer(id); }
        void Post(std::function<void()> task) override { w().Post(std::move(task)); }
        void OpenFolder(const std::string& path) override { w().OpenFolder(path); }
        void OpenUrl(const std::string& url) override { w().OpenUrl(url); }
        void SetProgressRange(int id, int low, int high, int pos) override { w().SetProgressRange(id, low, high, pos); }

    private:
        WindowPort& w() { return dlg_.m_window; }
        CLumoraDlg& dlg_;
    };

    // The first spectrum frame after Open brings the Spectrum tab forward and
    // ticks its DISP box; the decoder calls this on the receive worker.
    class SpectrumForward : public SpectrumAutoShowHook {
    public:
        explicit SpectrumForward(CLumoraDlg& dlg) : dlg_(dlg) {}
        void BringSpectrumForward() override;

    private:
        CLumoraDlg& dlg_;
    };

    WindowPort& m_window;
    SessionWindow m_sessionWindow{*this};
    SpectrumForward m_spectrumForward{*this};
    SettingsStore m_settings;
    AcquisitionState m_acq;
    RawRecorder m_recorder;
    CommandBoxes m_commandBoxes;
    CommandChannel m_commandChannel;
    ResetReferenceFlag m_resetReference;
    SensorList m_sensorList;
    ConversionProgress m_conv;
    MqttPublisher m_publisher;  // outlives the session, which hands it frames
    std::unique_ptr<ReceiveSession> m_session;

    // Settings mirrored in memory.
    std::string m_portText;      // "RCV Port" (4 typed characters; longer from the settings file)
    std::string m_intervalText;  // "INR (ms)"
    std::string m_saveDir;       // "Save DIR"
    std::string m_fileName;      // "File Name"
    std::atomic<int> m_stringFormat{0};
    std::atomic<int> g_protocol{0};
    std::atomic<uint32_t> m_recordsPerFile{100000};
    std::atomic<int> m_errorNumber{1};
    std::atomic<int> m_alignFields{0};
    std::atomic<int> m_notMatched{0};
    std::atomic<bool> m_stampLocalTime{true};

    // Live values of check boxes and edits.
    std::atomic<bool> m_liveEnable{false};
    std::atomic<bool> m_liveSaveCounter{true};
    std::atomic<bool> m_liveInnerSensor{true};
    std::atomic<bool> m_liveFull{false};
    std::atomic<int> m_liveRealtimeId{1};
    std::atomic<int> m_rtLength{100};

    // View flags.
    std::atomic<bool> m_showList{true};
    std::atomic<bool> m_showTrace{false};
    std::atomic<bool> m_showRealtime{false};
    std::atomic<bool> m_showSpectrum{false};

    // Port state.
    int m_portOpen = 0;
    bool m_autoOpenAtStart = false;  // [Net] AutoOpen as read at start-up or Reset

    std::atomic<int> g_stopReceive{0};
    int m_startupPortWaitMs = 0;

    // Status fields kept by the list refresh.
    char m_currentSn[kSnSize] = {};
    int64_t m_frameTime = 0;
    int m_lastCounter = 0;
    int m_lastListSlot = -1;
    int m_lastListCounter = -1;
    int m_lastTraceCounter = -1;
    int m_fileNumber = 0;
    // Ignored and cut-short datagrams as the DAQ FRQ tooltip last showed them.
    uint64_t m_shownIgnored = 0;
    uint64_t m_shownCutShort = 0;
};

}  // namespace lumora
