#include "app/lumora_dlg.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "window/captions.h"
#include "lumora_version.h"
#include "platform/udp_socket.h"
#include "settings/setting_values.h"

namespace lumora {
namespace {

std::string CurrentDirectory() {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::current_path(ec);
    return ec ? std::string(".") : p.string();
}

}  // namespace

std::string SavedLinesText(const RawRecorder& recorder) {
    // Records of the current file that are really in it; records that did not
    // reach the disk are named beside them until Reset.
    const uint32_t saved = recorder.SavedInFile();
    const unsigned long long lost = recorder.RecordsLost();
    if (lost == 0) return std::to_string(saved);
    return StringPrintf(LoadString(222).c_str(), saved, lost);
}

void ConversionProgress::Clear() {
    for (std::atomic<int>* f : {&running, &filesLow, &filesTotal, &filesDone, &filesTail, &fileBusy, &recordsLow,
                                &recordsRange, &recordsPos, &fileTail})
        f->store(0, std::memory_order_relaxed);
}

CLumoraDlg::CLumoraDlg(WindowPort& window, std::string settingsPath)
    : m_window(window),
      m_settings(std::move(settingsPath)),
      m_recorder(&window),
      m_commandChannel(window, m_commandBoxes),
      m_session(std::make_unique<ReceiveSession>(m_acq, m_recorder, m_settings, m_sessionWindow)) {
    exitProcess = [this](int code) { m_window.CloseWindowWithExitCode(code); };
    m_acq.m_spectrumAutoShowHook.store(&m_spectrumForward);
    m_commandChannel.onSpectrumDisplay = [this](bool checked) { m_showSpectrum.store(checked); };
    // A receive worker that ended with an error has told the user; the port
    // then closes as if Close had been clicked.
    m_session->SetWorkerFailedHook([this] {
        if (m_portOpen) ClosePort();
    });
}

CLumoraDlg::~CLumoraDlg() {
    // Nothing may outlive what it uses: stop the worker before the members go.
    g_stopReceive.store(1, std::memory_order_release);
    StopRealtime();
    m_session->Stop();
    m_session.reset();
}

void CLumoraDlg::SpectrumForward::BringSpectrumForward() {
    // The window is touched on the UI thread only; the flag the spectrum view
    // reads is set at once.
    dlg_.m_showSpectrum.store(true);
    WindowPort* window = &dlg_.m_window;
    window->Post([window] {
        window->SetActiveTab(kViewTabSpectrum);
        window->SetCheck(IDC_SPECTRUM_DISP, true);
    });
}

void CLumoraDlg::SessionWindow::SetText(int id, const std::string& t) {
    w().SetText(id, t);
    if (id == IDC_DEVICE_IP) dlg_.m_commandBoxes.SetIpText(t);
}

Language CLumoraDlg::ApplyLanguage(const SettingsStore& settings) {
    Language lang = LanguageFromSetting(settings.GetInt("View", "Language", 0));
    SetUiLanguage(lang);
    return lang;
}

// ---------------------------------------------------------------- helpers

void CLumoraDlg::WriteInt(const char* section, const char* key, int value) {
    m_settings.SetString(section, key, std::to_string(value));
}

void CLumoraDlg::WriteCheck(const char* section, const char* key, bool checked) {
    m_settings.SetString(section, key, checked ? "1" : "0");
}

void CLumoraDlg::SetTextInt(int controlId, long value) { m_window.SetText(controlId, std::to_string(value)); }

void CLumoraDlg::SetTextUnsigned(int controlId, unsigned long value) {
    m_window.SetText(controlId, std::to_string(value));
}

void CLumoraDlg::SetEditText(int controlId, const std::string& text) {
    m_window.SetText(controlId, text);
    OnEditChanged(controlId, text);
}

uint32_t CLumoraDlg::DatagramCount() const { return m_session->DatagramCount(); }
int CLumoraDlg::PacketRate() const { return m_session->PacketRate(); }

// ---------------------------------------------------------------- dispatch

void CLumoraDlg::OnEditChanged(int controlId, const std::string& text) {
    switch (controlId) {
        case IDC_PORT: OnPortChanged(text); break;
        case IDC_CMD_PORT: OnCmdPortChanged(text); break;
        case IDC_INTERVAL: OnIntervalChanged(text); break;
        case IDC_DEVICE_IP: OnDeviceIpChanged(text); break;
        case IDC_ERROR_NUMBER: OnErrorNumberChanged(text); break;
        case IDC_LINE_NUMBER: OnLineNumberChanged(text); break;
        case IDC_FILE_NAME: OnFileNameChanged(text); break;
        case IDC_SAVE_DIR: OnSaveDirChanged(text); break;
        case IDC_REALTIME_ID: OnRealtimeIdChanged(text); break;
        case IDC_REALTIME_LEN: OnRealtimeLenChanged(text); break;
        default: break;  // INR and CNT of the view groups are shown only
    }
}

void CLumoraDlg::OnCheckClicked(int controlId, bool checked) {
    switch (controlId) {
        case IDC_STRING_FORMAT: OnStringFormatClicked(checked); break;
        case IDC_AUTO_OPEN: OnAutoOpenClicked(checked); break;
        case IDC_ENABLE: OnEnableClicked(checked); break;
        case IDC_LOCAL_TIME: OnLocalTimeClicked(checked); break;
        case IDC_SAVE_COUNTER: OnSaveCounterClicked(checked); break;
        case IDC_INNER_SENSOR: OnInnerSensorClicked(checked); break;
        case IDC_UNMATCHED: OnUnmatchedClicked(checked); break;
        case IDC_ALIGN: OnAlignClicked(checked); break;
        case IDC_RAW_DISP: OnRawDispClicked(checked); break;
        case IDC_LIST_DISP: OnListDispClicked(checked); break;
        case IDC_SPECTRUM_DISP: OnSpectrumDispClicked(checked); break;
        case IDC_TRACE_DISP: OnTraceDispClicked(checked); break;
        case IDC_REALTIME_DISP: OnRealtimeDispClicked(checked); break;
        case IDC_REALTIME_FULL: OnRealtimeFullClicked(checked); break;
        default: break;
    }
}

void CLumoraDlg::OnButtonClicked(int controlId) {
    switch (controlId) {
        case IDC_OPEN_CLOSE: OnOpenClose(); break;
        case IDC_WL_MODE: OnWavelengthMode(); break;
        case IDC_OS_MODE: OnSpectrumMode(); break;
        case IDC_RESET_REF: OnResetReference(); break;
        case IDC_CLEAR_COUNTER: OnClearCounter(); break;
        case IDC_BROWSE_DIR: OnBrowseDir(); break;
        case IDC_RAW_CLEAR: OnRawClear(); break;
        case IDC_SPECTRUM_RESET: OnSpectrumReset(); break;
        default: break;
    }
}

void CLumoraDlg::OnComboSelected(int controlId, int index) {
    if (controlId == IDC_PROTOCOL) OnProtocolChanged(index);
}

void CLumoraDlg::OnCommand(int commandId) {
    switch (commandId) {
        case ID_SYSTEM_RESET: OnSystemReset(); break;
        case ID_SYSTEM_EXIT: OnExit(); break;
        case ID_REPORT_DATA_DIR: OnDataDir(); break;
        case ID_SETTING_CONVERT_NORMAL: OnConvertSettings(); break;
        case ID_TOOLS_DEBUG: OnDebug(); break;
        case ID_TOOLS_DATA_CONVERT: OnDataConvert(); break;
        case ID_TOOLS_ACTIVE_SA: OnActiveSa(); break;
        case ID_TOOLS_HIGHSPEED_DAQ: OnHighSpeedDaq(); break;
        case ID_TOOLS_HIGHSPEED_CONVERT: OnHighSpeedConvert(); break;
        case ID_HELP_ABOUT:
        case IDM_ABOUTBOX: OnAbout(); break;
        case ID_LANGUAGE_CHINESE: OnLanguageChinese(); break;
        case ID_LANGUAGE_ENGLISH: OnLanguageEnglish(); break;
        case IDCANCEL_COMMAND: OnCancel(); break;
        default: break;  // the disabled entries have no handler
    }
}

void CLumoraDlg::OnTimer(int timerId) {
    switch (timerId) {
        case kTimerSensorList: UpdateSensorList(); break;
        case kTimerTrace: UpdateTrace(); break;
        case kTimerStatus: UpdateStatus(); break;
        default: break;
    }
}

// ---------------------------------------------------------------- Data Interface

void CLumoraDlg::OnProtocolChanged(int index) {
    // The selection is only shown and stored: the data port is always UDP.
    g_protocol.store(index);
    WriteInt("Net", "Protocol", index);
}

void CLumoraDlg::OnPortChanged(const std::string& text) {
    // The box takes four typed characters, but a longer port from the settings
    // file is bound whole (a port outside 1..65535 is refused at Open).
    m_settings.SetString("Net", "Port", text);
    UsePortText(text);
}

void CLumoraDlg::UsePortText(const std::string& text) {
    m_portText = text;
    m_session->SetPortText(m_portText);
    // The decoder numbers sensors by the port typed in the box.
    m_acq.m_rcvPort.store(LeadingInt(text), std::memory_order_relaxed);
}

void CLumoraDlg::OnCmdPortChanged(const std::string& text) {
    m_settings.SetString("Net", "CmdPort", text);
    m_commandBoxes.SetCmdPortText(text);
}

void CLumoraDlg::OnIntervalChanged(const std::string& text) {
    m_settings.SetString("DataRec", "Interval", text);
    // The receive worker sees the new pause at its next datagram.
    m_intervalText = text;
    m_session->SetIntervalText(text);
}

void CLumoraDlg::OnStringFormatClicked(bool checked) {
    m_stringFormat.store(checked ? 1 : 0);
    WriteCheck("Net", "StringFormat", checked);
    m_session->SetStringFormat(checked);
}

void CLumoraDlg::OnAutoOpenClicked(bool checked) { WriteCheck("Net", "AutoOpen", checked); }

void CLumoraDlg::OnOpenClose() {
    if (m_portOpen)
        ClosePort();
    else
        OpenPort();
}

void CLumoraDlg::OpenPort() {
    ApplySessionSettings();
    if (!UsablePort(m_portText)) {
        // No digits or 0 would let the system pick a port no instrument sends
        // to: refused as a port that cannot be opened.
        m_window.MessageBox(StringPrintf(LoadString(215).c_str(), m_portText.c_str()), "lumora", kMbOk);
        return;
    }
    bool opened = m_session->Open([this] {
        // The views get ready for a new run before the worker starts.
        StartRealtime();
        if (m_showList.load()) m_window.StartTimer(kTimerSensorList, kListTimerMs);
        if (m_showTrace.load()) m_window.StartTimer(kTimerTrace, kTraceTimerMs);
        g_stopReceive.store(0, std::memory_order_release);
    });
    if (opened) m_portOpen = 1;
}

void CLumoraDlg::ClosePort() {
    g_stopReceive.store(1, std::memory_order_release);
    // Shows "Open", joins the worker, then flushes and closes the recording.
    m_session->Close();
    StopRealtime();
    m_window.StopTimer(kTimerTrace);
    m_window.StopTimer(kTimerSensorList);
    m_portOpen = 0;
}

void CLumoraDlg::ApplySessionSettings() {
    m_session->SetPortText(m_portText);
    m_session->SetIntervalText(m_intervalText);
    m_session->SetRecordEnabled(m_liveEnable.load());
    m_session->SetStringFormat(m_stringFormat.load() != 0);
}

void CLumoraDlg::StartRealtime() {
    if (viewHooks.openViews) viewHooks.openViews();
}

void CLumoraDlg::StopRealtime() {
    if (viewHooks.closeViews) viewHooks.closeViews();
}

void CLumoraDlg::OnWavelengthMode() { m_commandChannel.OnWavelengthButton(); }
void CLumoraDlg::OnSpectrumMode() { m_commandChannel.OnSpectrumButton(); }
void CLumoraDlg::OnResetReference() { m_resetReference.Request(); }

// ---------------------------------------------------------------- Data Information

void CLumoraDlg::OnDeviceIpChanged(const std::string& text) {
    m_settings.SetString("Net", "IP", text);
    m_commandBoxes.SetIpText(text);
}

void CLumoraDlg::OnClearCounter() {
    m_lastCounter = 0;
    m_session->ResetDatagramCount();
}

// ---------------------------------------------------------------- Data Save

void CLumoraDlg::OnEnableClicked(bool checked) {
    m_liveEnable.store(checked);
    WriteCheck("DataSave", "Enable", checked);
    m_session->SetRecordEnabled(checked);
}

void CLumoraDlg::OnLocalTimeClicked(bool checked) {
    m_stampLocalTime.store(checked);
    m_recorder.SetStampLocalTime(checked);
    m_publisher.SetStampLocalTime(checked);
    WriteCheck("DataSave", "EnableLocalTime", checked);
}

void CLumoraDlg::OnSaveCounterClicked(bool checked) {
    m_liveSaveCounter.store(checked);
    m_recorder.SetSaveCounter(checked);
    WriteCheck("DataSave", "SaveCounter", checked);
}

void CLumoraDlg::OnInnerSensorClicked(bool checked) {
    m_liveInnerSensor.store(checked);
    WriteCheck("DataSave", "InnerSensor", checked);
}

void CLumoraDlg::OnUnmatchedClicked(bool checked) {
    m_notMatched.store(checked ? 1 : 0);
    WriteCheck("DataSave", "NotMatched", checked);
}

void CLumoraDlg::OnAlignClicked(bool checked) {
    m_alignFields.store(checked ? 1 : 0);
    WriteCheck("DataSave", "AlignFields", checked);
}

void CLumoraDlg::OnErrorNumberChanged(const std::string& text) {
    m_errorNumber.store(LeadingInt(text));
    m_settings.SetString("DataSave", "ErrorNumber", text);
}

void CLumoraDlg::OnLineNumberChanged(const std::string& text) {
    // While the box is emptied to type a new number, the default is in force.
    m_recordsPerFile.store(UsableRecordsPerFile(LeadingInt(text)));
    m_recorder.SetRecordsPerFile(m_recordsPerFile.load());
    m_settings.SetString("DataSave", "LineNumber", text);
}

void CLumoraDlg::OnFileNameChanged(const std::string& text) {
    m_fileName = text;
    // The recorder refuses a prefix that leads out of the folder, and says so
    // when it would open a file; such a prefix is not stored.
    m_recorder.SetFilePrefix(text);
    if (IsSafeFilePrefix(text)) m_settings.SetString("DataSave", "FileName", text);
}

void CLumoraDlg::OnSaveDirChanged(const std::string& text) {
    m_saveDir = text;
    m_recorder.SetDirectory(text);
    m_settings.SetString("DataSave", "Dir", text);
}

void CLumoraDlg::OnBrowseDir() {
    std::string chosen = m_window.ChooseFolder("Select path:", m_saveDir);
    if (!chosen.empty()) SetEditText(IDC_SAVE_DIR, chosen);
}

// ---------------------------------------------------------------- Source data

void CLumoraDlg::OnRawDispClicked(bool checked) {
    m_acq.m_showSourceData.store(checked, std::memory_order_relaxed);
    WriteCheck("View", "Raw", checked);
}

void CLumoraDlg::OnRawClear() { m_window.SetText(IDC_RAW_TEXT, ""); }

// ---------------------------------------------------------------- view groups

void CLumoraDlg::OnListDispClicked(bool checked) {
    // Only switches the tab: the list timer runs only when the port was opened
    // with the box ticked.
    m_showList.store(checked);
    if (checked && !StopReceive()) m_window.SetActiveTab(kViewTabList);
    WriteCheck("View", "List", checked);
}

void CLumoraDlg::OnSpectrumDispClicked(bool checked) {
    m_showSpectrum.store(checked);
    if (checked) m_window.SetActiveTab(kViewTabSpectrum);
}

void CLumoraDlg::OnSpectrumReset() {
    if (viewHooks.resetSpectrum) viewHooks.resetSpectrum();
}

void CLumoraDlg::OnTraceDispClicked(bool checked) {
    m_showTrace.store(checked);
    if (!StopReceive()) {
        m_window.StopTimer(kTimerTrace);
        if (checked) {
            m_window.StartTimer(kTimerTrace, kTraceTimerMs);
            m_window.SetActiveTab(kViewTabTrace);
        }
    }
    WriteCheck("View", "OS", checked);
}

void CLumoraDlg::OnRealtimeDispClicked(bool checked) {
    m_showRealtime.store(checked);
    if (checked) m_window.SetActiveTab(kViewTabRealtime);
    WriteCheck("View", "RT", checked);
    m_rtDrawRate.store(0);
    if (viewHooks.clearDrawRate) viewHooks.clearDrawRate();
}

void CLumoraDlg::OnRealtimeFullClicked(bool checked) { m_liveFull.store(checked); }

void CLumoraDlg::OnRealtimeIdChanged(const std::string& text) {
    m_liveRealtimeId.store(LeadingInt(text), std::memory_order_relaxed);
}

void CLumoraDlg::OnRealtimeLenChanged(const std::string& text) {
    // The realtime view decides which lengths it accepts.
    m_rtLength.store(LeadingInt(text), std::memory_order_relaxed);
    if (viewHooks.realtimeLength) viewHooks.realtimeLength(m_rtLength.load());
}

void CLumoraDlg::OnSensorListClick(int row) {
    m_sensorList.SetLastClickedRow(row);
    SetEditText(IDC_REALTIME_ID, std::to_string(row < 0 ? 0 : row + 1));
}

// ---------------------------------------------------------------- menu

void CLumoraDlg::OnDataDir() { m_window.OpenFolder(m_saveDir); }
void CLumoraDlg::OnAbout() { m_window.ShowAboutBox(); }

void CLumoraDlg::OnLanguageChinese() {
    m_settings.SetString("View", "Language", "1");
    RestartProgram();
}

void CLumoraDlg::OnLanguageEnglish() {
    m_settings.SetString("View", "Language", "0");
    RestartProgram();
}

void CLumoraDlg::RestartProgram() {
    if (m_window.RestartProgram()) {
        m_window.CloseWindow();
        return;
    }
    // The language is stored for the next start. This instance ends as Close
    // leaves it: worker joined, recording written out and closed.
    StopRealtime();
    OnClose();
    exitProcess(-1);
}

void CLumoraDlg::OnConvertSettings() {}
void CLumoraDlg::OnDebug() {}
void CLumoraDlg::OnDataConvert() {}
void CLumoraDlg::OnActiveSa() {}
void CLumoraDlg::OnHighSpeedDaq() {}
void CLumoraDlg::OnHighSpeedConvert() {}

// ---------------------------------------------------------------- start-up

void CLumoraDlg::ResolveSaveDir(const std::string& stored) {
    SetEditText(IDC_SAVE_DIR, stored == "NULL" ? CurrentDirectory() : stored);
}

void CLumoraDlg::ClearStatusState() {
    m_currentSn[0] = '\0';
    m_session->ClearLastSourceIp();
    m_frameTime = 0;
    m_lastTraceCounter = -1;
    if (viewHooks.forgetTraceCounter) viewHooks.forgetTraceCounter();
    m_lastListCounter = -1;
    m_lastListSlot = -1;
    m_conv.Clear();
}

void CLumoraDlg::ReadSettingsIntoControls(bool atStartup) {
    SettingsStore& s = m_settings;
    int port = s.GetInt("Net", "Port", 7008);
    int cmdPort = s.GetInt("Net", "CmdPort", 7009);
    int autoOpen = s.GetInt("Net", "AutoOpen", 0);
    if (atStartup) m_stringFormat.store(s.GetInt("Net", "StringFormat", 0) != 0 ? 1 : 0);
    g_protocol.store(s.GetInt("Net", "Protocol", 0));
    int interval = UsableIntervalMs(s.GetInt("DataRec", "Interval", 0));
    int enable = s.GetInt("DataSave", "Enable", 0);
    int lineNumber = s.GetInt("DataSave", "LineNumber", 100000);
    int localTime = s.GetInt("DataSave", "EnableLocalTime", 1);
    int saveCounter = s.GetInt("DataSave", "SaveCounter", 1);
    int errorNumber = s.GetInt("DataSave", "ErrorNumber", 1);
    int innerSensor = s.GetInt("DataSave", "InnerSensor", 1);
    m_alignFields.store(s.GetInt("DataSave", "AlignFields", 0));
    if (atStartup) m_notMatched.store(s.GetInt("DataSave", "NotMatched", 0));
    std::string dir = s.GetString("DataSave", "Dir", "NULL");
    std::string fileName = s.GetString("DataSave", "FileName", "sa");
    int raw = s.GetInt("View", "Raw", 0);
    int list = s.GetInt("View", "List", 1);
    int rt = s.GetInt("View", "RT", 0);
    int os = s.GetInt("View", "OS", 0);

    if (atStartup) {
        std::string ip = s.GetString("Net", "IP", "");
        // An empty box raises no change, so an empty address is not written.
        if (ip.empty()) {
            m_window.SetText(IDC_DEVICE_IP, ip);
            m_commandBoxes.SetIpText(ip);
        } else {
            SetEditText(IDC_DEVICE_IP, ip);
        }
    }

    // Number edits, each writing its value back through its change handler.
    // A port that cannot be used stays as it stands in the file: the box
    // shows it, Open refuses it, and it is not rewritten.
    if (UsablePort(std::to_string(port))) {
        SetEditText(IDC_PORT, std::to_string(port));
    } else {
        const std::string stored = s.GetString("Net", "Port", "");
        m_window.SetText(IDC_PORT, stored);
        UsePortText(stored);
    }
    SetEditText(IDC_CMD_PORT, std::to_string(cmdPort));
    SetEditText(IDC_INTERVAL, std::to_string(interval));
    if (lineNumber < 1) {
        const std::string stored = s.GetString("DataSave", "LineNumber", "");
        lineNumber = static_cast<int>(kDefaultRecordsPerFile);
        m_window.MessageBox(StringPrintf(LoadString(231).c_str(), stored.c_str(), m_settings.Path().c_str(),
                                         kDefaultRecordsPerFile),
                            "lumora", kMbOk, kMbIconWarning);
    }
    SetEditText(IDC_LINE_NUMBER, std::to_string(lineNumber));
    SetEditText(IDC_ERROR_NUMBER, std::to_string(errorNumber));
    if (atStartup) SetEditText(IDC_REALTIME_LEN, std::to_string(m_rtLength.load()));

    // Check boxes: state only, nothing written back.
    m_window.SetCheck(IDC_ENABLE, enable != 0);
    m_window.SetCheck(IDC_REALTIME_DISP, rt != 0);
    m_window.SetCheck(IDC_LIST_DISP, list != 0);
    m_window.SetCheck(IDC_TRACE_DISP, os != 0);
    m_window.SetCheck(IDC_RAW_DISP, raw != 0);
    m_window.SetCheck(IDC_AUTO_OPEN, autoOpen != 0);
    m_window.SetCheck(IDC_LOCAL_TIME, localTime != 0);
    m_window.SetCheck(IDC_SAVE_COUNTER, saveCounter != 0);
    m_window.SetCheck(IDC_INNER_SENSOR, innerSensor != 0);
    m_window.SetCheck(IDC_ALIGN, m_alignFields.load() != 0);
    if (atStartup) {
        m_window.SetCheck(IDC_STRING_FORMAT, m_stringFormat.load() != 0);
        m_window.SetCheck(IDC_UNMATCHED, m_notMatched.load() != 0);
        // The view flags follow the file at start-up only; Reset leaves them.
        m_showList.store(list != 0);
        m_showTrace.store(os != 0);
        m_showRealtime.store(rt != 0);
    }
    // The values read live follow their boxes.
    m_liveEnable.store(enable != 0);
    m_liveSaveCounter.store(saveCounter != 0);
    m_liveInnerSensor.store(innerSensor != 0);
    m_acq.m_showSourceData.store(raw != 0);
    m_stampLocalTime.store(localTime != 0);
    m_recorder.SetStampLocalTime(localTime != 0);
    m_recorder.SetSaveCounter(saveCounter != 0);

    m_fileNumber = 0;
    m_recorder.ResetFileNumber();
    m_recorder.ResetCounts();
    m_recorder.ResetRecordsInFile();
    m_window.SetText(IDC_SAVED_LINES, "0");
    ResolveSaveDir(dir);
    m_rtDrawRate.store(0);
    if (viewHooks.clearDrawRate) viewHooks.clearDrawRate();  // FRQ starts from 0 as DAQ FRQ does
    SetEditText(IDC_FILE_NAME, fileName);
    m_autoOpenAtStart = autoOpen != 0;
    ApplySessionSettings();
}

void CLumoraDlg::OnInitDialog() {
    ApplyLanguage(m_settings);
    // Bound fields into the window (the edits are still empty).
    m_window.SetText(IDC_PORT, m_portText);
    m_window.SetText(IDC_INTERVAL, m_intervalText);

    ReadSettingsIntoControls(true);
    m_session->ResetDatagramCount();
    m_lastCounter = 0;

    m_window.SetComboItems(IDC_PROTOCOL, {"0: UDP", "1: TCP Client", "2: TCP Server"}, g_protocol.load());
    std::string local = LocalIPv4Address();
    m_window.SetComboItems(IDC_LOCAL_IP, local.empty() ? std::vector<std::string>{} : std::vector<std::string>{local},
                           local.empty() ? -1 : 0);
    m_window.SetTitle(WindowTitle());

    SetEditText(IDC_REALTIME_ID, "1");
    m_window.SetActiveTab(kViewTabList);

    ClearStatusState();
    m_acq.Ring().ResetIndices();
    m_acq.ClearReference();

    ApplyMqttSettings();
    m_window.StartTimer(kTimerStatus, kStatusTimerMs);
    if (m_autoOpenAtStart) {
        WaitForDataPort();
        OnOpenClose();
    }
}

void CLumoraDlg::ApplyMqttSettings() {
    const MqttSettings mqtt = LoadMqttSettings(m_settings);
    if (!mqtt.enable) {
        m_session->SetFrameSink(nullptr);
        m_publisher.Stop();  // what is queued still goes out, within the stop's short time
        return;
    }
    m_publisher.SetStampLocalTime(m_stampLocalTime.load());
    m_publisher.Start(mqtt);
    m_session->SetFrameSink(&m_publisher);
}

void CLumoraDlg::WaitForDataPort() {
    if (m_startupPortWaitMs <= 0) return;
    long port = LeadingInt(m_portText);
    if (port <= 0 || port > 65535) return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_startupPortWaitMs);
    for (;;) {
        UdpSocket probe;
        if (probe.Create() && probe.Bind(static_cast<uint16_t>(port))) return;
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// ---------------------------------------------------------------- status

void CLumoraDlg::UpdateStatus() {
    unsigned rate = static_cast<unsigned>(PacketRate());
    if (m_liveEnable.load()) {
        SetTextUnsigned(IDC_SAVE_FRQ, rate);
        m_window.SetText(IDC_SAVED_LINES, SavedLinesText(m_recorder));
    }
    SetTextUnsigned(IDC_RT_FRQ,
                    static_cast<unsigned>(viewHooks.drawRate ? viewHooks.drawRate() : m_rtDrawRate.load()));
    SetTextUnsigned(IDC_DAQ_FRQ, rate);
    m_window.SetText(IDC_SN, m_currentSn);
    if (m_frameTime != 0) {
        time_t t = static_cast<time_t>(m_frameTime);
        struct tm local {};
        if (localtime_r(&t, &local)) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%2.2d:%2.2d:%2.2d", local.tm_hour, local.tm_min, local.tm_sec);
            m_window.SetText(IDC_TIME, buf);
        }
    }
    if (m_conv.running.load() || m_conv.filesTail.load() > 0) {
        // The files bar takes 16-bit bounds.
        m_window.SetProgressRange(IDC_PROGRESS_FILES, static_cast<int16_t>(m_conv.filesLow.load()),
                                  static_cast<int16_t>(m_conv.filesTotal.load()), m_conv.filesDone.load());
        ShowFileNumber(m_window, m_conv.filesDone.load(), m_conv.filesTotal.load());
        if (!m_conv.running.load()) m_conv.filesTail.fetch_sub(1);
    }
    if (m_conv.fileBusy.load() || m_conv.fileTail.load() > 0) {
        m_window.SetProgressRange(IDC_PROGRESS_RECORDS, m_conv.recordsLow.load(), m_conv.recordsRange.load(),
                                  m_conv.recordsPos.load());
        if (!m_conv.fileBusy.load()) m_conv.fileTail.fetch_sub(1);
    }
    SetTextInt(IDC_COUNTER, m_lastCounter);
    ShowDatagramTroubles();
}

void CLumoraDlg::ShowDatagramTroubles() {
    // Datagrams that brought nothing to record, or that the system cut
    // short, are never skipped without a word: the DAQ FRQ field tells.
    const uint64_t ignored = m_session->IgnoredDatagrams();
    const uint64_t cutShort = m_session->CutShortDatagrams();
    if (ignored == m_shownIgnored && cutShort == m_shownCutShort) return;
    m_shownIgnored = ignored;
    m_shownCutShort = cutShort;
    m_window.SetToolTip(IDC_DAQ_FRQ, StringPrintf(LoadString(227).c_str(), static_cast<unsigned long long>(ignored),
                                                  static_cast<unsigned long long>(cutShort)));
}

// ---------------------------------------------------------------- sensor list

void CLumoraDlg::UpdateSensorList() {
    if (StopReceive()) return;
    FrameRing& ring = m_acq.Ring();
    const int i = ring.LatestIndex();
    if (i < 0 || i == m_lastListSlot) return;
    m_lastListSlot = i;

    const bool showRaw = LiveRawDisp();
    std::string rawText;
    bool listRefreshed = false;
    SensorListRefresh r;
    {
        // The slot's lock: the receive worker can only be here if it has gone
        // round the whole ring meanwhile; then it waits for this short copy.
        std::lock_guard<std::mutex> lock(ring.slotMutex[i]);
        const FrameSlot& s = ring.slots[i];
        if (s.counter == m_lastListCounter) return;
        m_lastListCounter = s.counter;
        if (showRaw) rawText.assign(s.text, strnlen(s.text, sizeof s.text));
        if (std::strncmp(s.sn, m_currentSn, sizeof m_currentSn) != 0) {
            size_t n = strnlen(s.sn, sizeof s.sn - 1);
            std::memcpy(m_currentSn, s.sn, n);
            m_currentSn[n] = '\0';
        }
        if (s.time != static_cast<int32_t>(static_cast<uint32_t>(m_frameTime))) m_frameTime = s.time;
        m_lastCounter = s.counter;

        if (m_showList.load()) {
            listRefreshed = true;
            r = m_sensorList.Refresh(s, m_resetReference.IsRequested());
            if (r.takeReference) {
                // Exchanged whole under the reference lock: the decoder
                // computes a frame entirely against the old or the new one.
                m_acq.SetReference(s);
                m_resetReference.Take();
            }
        }
    }
    if (showRaw) m_window.SetText(IDC_RAW_TEXT, rawText);
    if (listRefreshed) m_window.SensorListChanged(r.rebuilt);
}

void CLumoraDlg::UpdateTrace() {
    if (viewHooks.updateTrace) viewHooks.updateTrace();
}

// ---------------------------------------------------------------- reset and end

void CLumoraDlg::OnSystemReset() {
    int answer = m_window.MessageBox(kResetQuestion, LUMORA_PRODUCT_NAME, kMbYesNoCancel,
                                     kMbDefaultButton2 | kMbIconQuestion);
    if (answer != kIdYes) return;

    if (m_portOpen) ClosePort();
    g_stopReceive.store(1, std::memory_order_release);
    m_session->Stop();
    m_window.SetText(IDC_OPEN_CLOSE, LoadString(212));
    m_window.StopTimer(kTimerSensorList);
    m_window.StopTimer(kTimerTrace);
    m_window.StopTimer(kTimerStatus);

    ReadSettingsIntoControls(false);
    m_session->ResetPacketRate();

    m_acq.Ring().ResetIndices();
    m_window.SetText(IDC_PORT, m_portText);
    m_window.SetText(IDC_INTERVAL, m_intervalText);
    m_lastCounter = 0;
    m_window.SetComboItems(IDC_PROTOCOL, {"0: UDP", "1: TCP Client", "2: TCP Server"}, g_protocol.load());
    std::string local = LocalIPv4Address();
    m_window.SetComboItems(IDC_LOCAL_IP, local.empty() ? std::vector<std::string>{} : std::vector<std::string>{local},
                           local.empty() ? -1 : 0);
    m_window.SetTitle(WindowTitle());

    ClearStatusState();
    m_window.SetProgressRange(IDC_PROGRESS_FILES, 0, 1, 0);
    m_window.SetProgressRange(IDC_PROGRESS_RECORDS, 0, 1, 0);

    m_window.StartTimer(kTimerStatus, kStatusTimerMs);
    if (m_autoOpenAtStart) OnOpenClose();
}

void CLumoraDlg::OnClose() {
    g_stopReceive.store(1, std::memory_order_release);
    // The worker is joined before the file is flushed and closed, so nothing
    // is written after this.
    m_session->Stop();
}

void CLumoraDlg::OnCancel() {
    // The dialog ends and the program with it: files still open are closed.
    OnClose();
    m_window.CloseWindow();
}

void CLumoraDlg::OnExit() {
    StopRealtime();
    OnClose();
    m_window.CloseWindow();
}

}  // namespace lumora
