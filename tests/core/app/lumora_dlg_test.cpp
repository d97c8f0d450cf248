#include "app/lumora_dlg.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <thread>

#include "acquisition/binary_decoder.h"
#include "acquisition/frame_encoder.h"
#include "window/captions.h"
#include "platform/udp_socket.h"
#include "support/free_ports.h"
#include "support/recording_window.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using test::RecordingWindow;

class DlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        dir = fs::temp_directory_path() / ("lumora_dlg_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        fs::create_directories(dir);
        ini = (dir / "Lumora.ini").string();
    }
    void TearDown() override {
        dlg.reset();
        SetUiLanguage(Language::English);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void Write(const char* section, const char* key, const std::string& value) {
        SettingsStore(ini).SetString(section, key, value);
    }
    std::string Read(const char* section, const char* key) {
        return SettingsStore(ini).GetString(section, key, "<none>");
    }
    std::string FileText() {
        std::ifstream in(ini);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void Start() {
        dlg = std::make_unique<CLumoraDlg>(win, ini);
        dlg->exitProcess = [this](int code) { exitCode = code; };
        dlg->OnInitDialog();
    }
    // Puts a frame of `count` readings into the ring as the decoder would.
    void PushFrame(int count, int counter, const char* sn = "SN1", int time = 0, int channelOf0 = 1,
                   int wavelengthBase = 1520000) {
        FrameRing& ring = dlg->Acquisition().Ring();
        FrameSlot& s = ring.Target();
        s.count = count;
        s.counter = counter;
        s.time = time;
        std::snprintf(s.sn, sizeof s.sn, "%s", sn);
        std::snprintf(s.text, sizeof s.text, "frame %d", counter);
        for (int k = 0; k < count; ++k) {
            s.readings[k].id = k + 1;
            s.readings[k].serial = 7008000 + k + 1;
            s.readings[k].channel = k == 0 ? channelOf0 : 1 + k / 8;
            s.readings[k].wavelength = wavelengthBase + 1000 * k + counter;
            s.readings[k].physicValue = counter * 0.5;
        }
        ring.Publish();
    }

    fs::path dir;
    std::string ini;
    RecordingWindow win;
    std::unique_ptr<CLumoraDlg> dlg;
    int exitCode = 1234;
};

TEST_F(DlgTest, FirstStartInEmptyDirectoryWritesTheEditsBack) {
    Start();
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(Read("Net", "Port"), "7008");
    EXPECT_EQ(Read("Net", "CmdPort"), "7009");
    EXPECT_EQ(Read("DataRec", "Interval"), "0");
    EXPECT_EQ(Read("DataSave", "LineNumber"), "100000");
    EXPECT_EQ(Read("DataSave", "ErrorNumber"), "1");
    EXPECT_EQ(Read("DataSave", "Dir"), cwd);
    EXPECT_EQ(Read("DataSave", "FileName"), "sa");
    // Neither an empty address nor the check boxes are written back.
    EXPECT_EQ(Read("Net", "IP"), "<none>");
    EXPECT_EQ(Read("Net", "AutoOpen"), "<none>");
    EXPECT_EQ(Read("View", "List"), "<none>");

    EXPECT_EQ(win.texts[IDC_PORT], "7008");
    EXPECT_EQ(win.texts[IDC_SAVE_DIR], cwd);
    EXPECT_EQ(win.texts[IDC_REALTIME_ID], "1");
    EXPECT_EQ(win.texts[IDC_SAVED_LINES], "0");
    EXPECT_TRUE(win.checks[IDC_LIST_DISP]);
    EXPECT_TRUE(win.checks[IDC_LOCAL_TIME]);
    EXPECT_TRUE(win.checks[IDC_SAVE_COUNTER]);
    EXPECT_TRUE(win.checks[IDC_INNER_SENSOR]);
    EXPECT_FALSE(win.checks[IDC_ENABLE]);
    EXPECT_EQ(win.title, "lumora Ver: 1.0.2.6");
    ASSERT_EQ(win.combos[IDC_PROTOCOL].items.size(), 3u);
    EXPECT_EQ(win.combos[IDC_PROTOCOL].items[2], "2: TCP Server");
    EXPECT_EQ(win.combos[IDC_PROTOCOL].selected, 0);
    EXPECT_EQ(win.timers, (std::map<int, int>{{kTimerStatus, 1000}}));
    EXPECT_EQ(win.tabs.back(), kViewTabList);
    EXPECT_FALSE(dlg->PortOpen());
    EXPECT_EQ(dlg->Session().PortText(), "7008");
}

TEST_F(DlgTest, StoredValuesAreShownAndNullDirectoryIsResolved) {
    Write("DataSave", "Dir", "NULL");
    Write("Net", "IP", "192.168.0.20");
    Write("Net", "Port", "7100");
    Write("Net", "Protocol", "2");
    Write("Net", "StringFormat", "1");
    Write("View", "OS", "1");
    Write("View", "List", "0");
    Start();
    EXPECT_EQ(Read("DataSave", "Dir"), fs::current_path().string());
    EXPECT_EQ(win.texts[IDC_DEVICE_IP], "192.168.0.20");
    EXPECT_EQ(dlg->CommandTexts().IpText(), "192.168.0.20");
    EXPECT_EQ(win.combos[IDC_PROTOCOL].selected, 2);
    EXPECT_TRUE(dlg->StringFormat());
    EXPECT_TRUE(win.checks[IDC_STRING_FORMAT]);
    EXPECT_TRUE(dlg->ShowTrace());
    EXPECT_FALSE(dlg->ShowList());
    EXPECT_EQ(dlg->Acquisition().m_rcvPort.load(), 7100);
}

TEST_F(DlgTest, EveryHandlerWritesItsKeyAndMirrorAtOnce) {
    Start();
    struct Edit {
        int id;
        const char* section;
        const char* key;
        const char* value;
    };
    const Edit edits[] = {
        {IDC_PORT, "Net", "Port", "7010"},        {IDC_CMD_PORT, "Net", "CmdPort", "7011"},
        {IDC_INTERVAL, "DataRec", "Interval", "5"}, {IDC_DEVICE_IP, "Net", "IP", "10.0.0.9"},
        {IDC_ERROR_NUMBER, "DataSave", "ErrorNumber", "3"}, {IDC_LINE_NUMBER, "DataSave", "LineNumber", "250"},
        {IDC_FILE_NAME, "DataSave", "FileName", "run"}, {IDC_SAVE_DIR, "DataSave", "Dir", "/data/x"},
    };
    for (const Edit& e : edits) {
        dlg->OnEditChanged(e.id, e.value);
        EXPECT_EQ(Read(e.section, e.key), e.value) << e.key;
    }
    EXPECT_EQ(dlg->PortText(), "7010");
    EXPECT_EQ(dlg->Session().PortText(), "7010");
    EXPECT_EQ(dlg->Session().IntervalMs(), 5);
    EXPECT_EQ(dlg->CommandTexts().CmdPortText(), "7011");
    EXPECT_EQ(dlg->CommandTexts().IpText(), "10.0.0.9");
    EXPECT_EQ(dlg->ErrorNumber(), 3);
    EXPECT_EQ(dlg->RecordsPerFile(), 250u);
    EXPECT_EQ(dlg->SaveDir(), "/data/x");

    struct Check {
        int id;
        const char* section;
        const char* key;
    };
    const Check checks[] = {
        {IDC_STRING_FORMAT, "Net", "StringFormat"}, {IDC_AUTO_OPEN, "Net", "AutoOpen"},
        {IDC_ENABLE, "DataSave", "Enable"},         {IDC_LOCAL_TIME, "DataSave", "EnableLocalTime"},
        {IDC_SAVE_COUNTER, "DataSave", "SaveCounter"}, {IDC_INNER_SENSOR, "DataSave", "InnerSensor"},
        {IDC_UNMATCHED, "DataSave", "NotMatched"},  {IDC_ALIGN, "DataSave", "AlignFields"},
        {IDC_RAW_DISP, "View", "Raw"},              {IDC_LIST_DISP, "View", "List"},
        {IDC_TRACE_DISP, "View", "OS"},             {IDC_REALTIME_DISP, "View", "RT"},
    };
    for (bool state : {true, false, true}) {
        for (const Check& c : checks) {
            dlg->OnCheckClicked(c.id, state);
            EXPECT_EQ(Read(c.section, c.key), state ? "1" : "0") << c.key;
        }
        EXPECT_EQ(dlg->StringFormat(), state);
        EXPECT_EQ(dlg->LiveEnable(), state);
        EXPECT_EQ(dlg->StampLocalTime(), state);
        EXPECT_EQ(dlg->LiveSaveCounter(), state);
        EXPECT_EQ(dlg->LiveInnerSensor(), state);
        EXPECT_EQ(dlg->NotMatched(), state ? 1 : 0);
        EXPECT_EQ(dlg->AlignFields(), state ? 1 : 0);
        EXPECT_EQ(dlg->LiveRawDisp(), state);
        EXPECT_EQ(dlg->ShowList(), state);
        EXPECT_EQ(dlg->ShowTrace(), state);
        EXPECT_EQ(dlg->ShowRealtime(), state);
    }
    dlg->OnComboSelected(IDC_PROTOCOL, 2);
    EXPECT_EQ(Read("Net", "Protocol"), "2");
    EXPECT_EQ(dlg->Protocol(), 2);

    // Spectrum DISP and FULL are kept in memory only.
    const std::string before = FileText();
    dlg->OnCheckClicked(IDC_SPECTRUM_DISP, true);
    dlg->OnCheckClicked(IDC_REALTIME_FULL, true);
    EXPECT_EQ(FileText(), before);
    EXPECT_TRUE(dlg->ShowSpectrum());
    EXPECT_TRUE(dlg->LiveFull());
    EXPECT_EQ(win.tabs.back(), kViewTabSpectrum);
}

TEST_F(DlgTest, EmptyNumberBoxesStoreEmptyTextAndZero) {
    Start();
    dlg->OnEditChanged(IDC_LINE_NUMBER, "");
    dlg->OnEditChanged(IDC_ERROR_NUMBER, "");
    EXPECT_EQ(Read("DataSave", "LineNumber"), "");
    EXPECT_EQ(Read("DataSave", "ErrorNumber"), "");
    EXPECT_EQ(dlg->RecordsPerFile(), 100000u);  // not one record per file while a number is typed
    EXPECT_EQ(dlg->ErrorNumber(), 0);
    // A number too long for an int saturates instead of wrapping.
    dlg->OnEditChanged(IDC_LINE_NUMBER, "99999999999999999999");
    EXPECT_GT(dlg->RecordsPerFile(), 2000000000u);
}

TEST_F(DlgTest, ResetAnsweredNoOrCancelChangesNothing) {
    Start();
    Write("Net", "Port", "7100");
    Write("DataSave", "Enable", "1");
    for (int answer : {kIdNo, kIdCancel}) {
        win.answer = answer;
        dlg->OnSystemReset();
        EXPECT_EQ(win.texts[IDC_PORT], "7008");
        EXPECT_FALSE(win.checks[IDC_ENABLE]);
        EXPECT_TRUE(win.TimerRunning(kTimerStatus));
    }
    ASSERT_EQ(win.boxes.size(), 2u);
    // Asked in Chinese whatever the interface language, No the default.
    EXPECT_EQ(win.boxes[0].text, "系统重置将关闭现在的所有采集，是否重置？");
    EXPECT_EQ(win.boxes[0].buttons, kMbYesNoCancel);
    EXPECT_TRUE(win.boxes[0].flags & kMbDefaultButton2);

    // The realtime view's FRQ starts from 0 again, as DAQ FRQ does.
    int drawRate = 17;
    dlg->viewHooks.drawRate = [&drawRate] { return drawRate; };
    dlg->viewHooks.clearDrawRate = [&drawRate] { drawRate = 0; };
    win.answer = kIdYes;
    dlg->OnSystemReset();
    EXPECT_EQ(win.texts[IDC_PORT], "7100");
    EXPECT_TRUE(win.checks[IDC_ENABLE]);
    EXPECT_TRUE(dlg->LiveEnable());
    dlg->UpdateStatus();
    EXPECT_EQ(win.texts[IDC_RT_FRQ], "0");
    EXPECT_EQ(win.texts[IDC_DAQ_FRQ], "0");
    dlg->viewHooks = {};
}

TEST(LocalAddress, FirstUpInterfaceThatIsNotLoopback) {
    // lo (up), eth0 down, wlan0 with IPv6 only, then eth1 and eth2 up.
    sockaddr_in v4[4] = {};
    const char* dotted[4] = {"127.0.0.1", "10.0.0.5", "192.168.1.20", "192.168.2.30"};
    for (int k = 0; k < 4; ++k) {
        v4[k].sin_family = AF_INET;
        inet_pton(AF_INET, dotted[k], &v4[k].sin_addr);
    }
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    ifaddrs eth2{nullptr, const_cast<char*>("eth2"), IFF_UP, reinterpret_cast<sockaddr*>(&v4[3]), nullptr, {}, nullptr};
    ifaddrs eth1{&eth2, const_cast<char*>("eth1"), IFF_UP, reinterpret_cast<sockaddr*>(&v4[2]), nullptr, {}, nullptr};
    ifaddrs wlan0{&eth1, const_cast<char*>("wlan0"), IFF_UP, reinterpret_cast<sockaddr*>(&v6), nullptr, {}, nullptr};
    ifaddrs noAddress{&wlan0, const_cast<char*>("tun0"), IFF_UP, nullptr, nullptr, {}, nullptr};
    ifaddrs eth0{&noAddress, const_cast<char*>("eth0"), 0, reinterpret_cast<sockaddr*>(&v4[1]), nullptr, {}, nullptr};
    ifaddrs lo{&eth0, const_cast<char*>("lo"), IFF_UP | IFF_LOOPBACK, reinterpret_cast<sockaddr*>(&v4[0]), nullptr,
               {}, nullptr};
    EXPECT_EQ(FirstUpIPv4Address(&lo), "192.168.1.20");
    EXPECT_EQ(FirstUpIPv4Address(&eth2), "192.168.2.30");
    eth2.ifa_flags = 0;
    eth1.ifa_flags = 0;
    EXPECT_EQ(FirstUpIPv4Address(&lo), "") << "only loopback and down interfaces: nothing";
}

TEST_F(DlgTest, ResetReopensWithAutoOpenAndLeavesClosedWithout) {
    Write("Net", "Port", std::to_string(test::FreeUdpPort()));
    Write("Net", "AutoOpen", "1");
    Write("View", "OS", "1");
    Start();
    ASSERT_TRUE(dlg->PortOpen());
    EXPECT_TRUE(win.TimerRunning(kTimerSensorList));
    EXPECT_TRUE(win.TimerRunning(kTimerTrace));
    EXPECT_EQ(win.texts[IDC_OPEN_CLOSE], "Close");

    PushFrame(3, 77, "DEV", 1000);
    dlg->UpdateSensorList();
    EXPECT_EQ(dlg->LastCounter(), 77);

    win.answer = kIdYes;
    dlg->OnSystemReset();
    EXPECT_TRUE(dlg->PortOpen());
    EXPECT_FALSE(dlg->StopReceive());
    EXPECT_EQ(win.timers, (std::map<int, int>{{kTimerSensorList, 20}, {kTimerTrace, 20}, {kTimerStatus, 1000}}));
    EXPECT_EQ(win.texts[IDC_OPEN_CLOSE], "Close");
    // The status counts from zero again.
    EXPECT_EQ(dlg->LastCounter(), 0);
    EXPECT_STREQ(dlg->CurrentSn(), "");
    EXPECT_EQ(dlg->FrameTime(), 0);
    EXPECT_EQ(dlg->Acquisition().Ring().LatestIndex(), -1);
    // Reset keeps the rows of the list.
    EXPECT_EQ(dlg->SensorRows().RowCount(), 3);

    Write("Net", "AutoOpen", "0");
    dlg->OnSystemReset();
    EXPECT_FALSE(dlg->PortOpen());
    EXPECT_TRUE(dlg->StopReceive());
    EXPECT_EQ(win.timers, (std::map<int, int>{{kTimerStatus, 1000}}));
    EXPECT_EQ(win.texts[IDC_OPEN_CLOSE], "Open");
    EXPECT_EQ(win.progress[IDC_PROGRESS_FILES].high, 1);
    EXPECT_EQ(win.progress[IDC_PROGRESS_RECORDS].pos, 0);
}

TEST_F(DlgTest, ViewBoxesSwitchTabsAndTimersAsTheyShould) {
    Write("Net", "Port", std::to_string(test::FreeUdpPort()));
    Write("View", "List", "0");
    Start();
    dlg->OnOpenClose();
    ASSERT_TRUE(dlg->PortOpen());
    EXPECT_FALSE(win.TimerRunning(kTimerSensorList));
    EXPECT_FALSE(win.TimerRunning(kTimerTrace));

    // List DISP after Open: the tab switches, the list timer stays off.
    dlg->OnCheckClicked(IDC_LIST_DISP, true);
    EXPECT_FALSE(win.TimerRunning(kTimerSensorList));
    EXPECT_EQ(win.tabs.back(), kViewTabList);
    // Trace DISP starts its timer at once and brings its tab forward.
    dlg->OnCheckClicked(IDC_TRACE_DISP, true);
    EXPECT_EQ(win.timers[kTimerTrace], 20);
    EXPECT_EQ(win.tabs.back(), kViewTabTrace);
    dlg->OnCheckClicked(IDC_TRACE_DISP, false);
    EXPECT_FALSE(win.TimerRunning(kTimerTrace));

    dlg->OnOpenClose();
    ASSERT_FALSE(dlg->PortOpen());
    size_t tabsBefore = win.tabs.size();
    dlg->OnCheckClicked(IDC_LIST_DISP, true);
    dlg->OnCheckClicked(IDC_TRACE_DISP, true);
    EXPECT_EQ(win.tabs.size(), tabsBefore);  // closed: neither switches nor starts
    EXPECT_FALSE(win.TimerRunning(kTimerTrace));
    dlg->OnCheckClicked(IDC_REALTIME_DISP, true);  // Realtime switches either way
    EXPECT_EQ(win.tabs.back(), kViewTabRealtime);
}

TEST_F(DlgTest, FirstSpectrumFrameAfterOpenBringsTheSpectrumForwardOnce) {
    Write("Net", "Port", std::to_string(test::FreeUdpPort()));
    Start();
    dlg->OnOpenClose();
    ASSERT_TRUE(dlg->PortOpen());
    std::vector<uint8_t> frame = EncodeSpectrumFrame(3, std::vector<uint16_t>(200, 1000));
    ASSERT_EQ(DecodeBinaryFrame(dlg->Acquisition(), frame.data(), frame.size()), 0);
    EXPECT_TRUE(dlg->ShowSpectrum());
    win.RunPosted();
    EXPECT_EQ(win.tabs.back(), kViewTabSpectrum);
    EXPECT_TRUE(win.checks[IDC_SPECTRUM_DISP]);

    // The user moves away and clears the box: later frames leave it so.
    dlg->OnCheckClicked(IDC_SPECTRUM_DISP, false);
    win.SetActiveTab(kViewTabList);
    win.checks[IDC_SPECTRUM_DISP] = false;
    ASSERT_EQ(DecodeBinaryFrame(dlg->Acquisition(), frame.data(), frame.size()), 0);
    win.RunPosted();
    EXPECT_EQ(win.tabs.back(), kViewTabList);
    EXPECT_FALSE(dlg->ShowSpectrum());
}

TEST_F(DlgTest, StatusRefreshFormatsTheFields) {
    setenv("TZ", "UTC", 1);
    tzset();
    Start();
    win.texts[IDC_SAVED_LINES] = "untouched";
    dlg->UpdateStatus();
    EXPECT_EQ(win.texts[IDC_SAVED_LINES], "untouched");  // Enable unticked
    EXPECT_EQ(win.texts.count(IDC_TIME), 0u);          // no frame time yet
    EXPECT_EQ(win.texts[IDC_DAQ_FRQ], "0");
    EXPECT_EQ(win.texts[IDC_COUNTER], "0");

    PushFrame(2, -5, "ABC", 5 * 3600 + 62);
    dlg->UpdateSensorList();
    dlg->m_rtDrawRate.store(17);
    dlg->OnCheckClicked(IDC_ENABLE, true);
    dlg->UpdateStatus();
    EXPECT_EQ(win.texts[IDC_TIME], "05:01:02");
    EXPECT_EQ(win.texts[IDC_COUNTER], "-5");
    EXPECT_EQ(win.texts[IDC_SN], "ABC");
    EXPECT_EQ(win.texts[IDC_RT_FRQ], "17");
    EXPECT_EQ(win.texts[IDC_SAVED_LINES], "0");
    EXPECT_EQ(win.texts[IDC_SAVE_FRQ], "0");

    // Conversion progress: shown while running and for `tail` refreshes after.
    ConversionProgress& c = dlg->ConvProgress();
    c.running = 1;
    c.filesTotal = 5;
    c.filesDone = 2;
    c.fileBusy = 1;
    c.recordsRange = 40000;
    c.recordsPos = 39000;
    dlg->UpdateStatus();
    EXPECT_EQ(win.progress[IDC_PROGRESS_FILES].high, 5);
    EXPECT_EQ(win.progress[IDC_PROGRESS_FILES].pos, 2);
    EXPECT_EQ(win.progress[IDC_PROGRESS_RECORDS].high, 40000);
    EXPECT_EQ(win.progress[IDC_PROGRESS_RECORDS].pos, 39000);
    c.running = 0;
    c.filesTail = 2;
    c.filesDone = 5;
    dlg->UpdateStatus();
    EXPECT_EQ(c.filesTail.load(), 1);
    EXPECT_EQ(win.progress[IDC_PROGRESS_FILES].pos, 5);
    unsetenv("TZ");
    tzset();
}

TEST_F(DlgTest, ListRefreshHandlesEachFrameOnceAndTakesReferences) {
    Write("View", "Raw", "1");
    Start();
    dlg->UpdateSensorList();  // nothing decoded yet
    EXPECT_EQ(win.listRebuilds + win.listRefreshes, 0);

    PushFrame(4, 10, "S1", 100);
    dlg->UpdateSensorList();
    EXPECT_EQ(win.listRebuilds, 1);
    EXPECT_EQ(win.texts[IDC_RAW_TEXT], "frame 10");
    EXPECT_EQ(dlg->SensorRows().RowCount(), 4);
    FrameSlot ref;
    ASSERT_TRUE(dlg->Acquisition().CopyReference(ref));
    EXPECT_EQ(ref.counter, 10);

    dlg->UpdateSensorList();  // same slot: nothing
    PushFrame(4, 10, "S1", 100);
    dlg->UpdateSensorList();  // new slot, same counter: nothing
    EXPECT_EQ(win.listRebuilds + win.listRefreshes, 1);

    PushFrame(4, 11, "S1", 101);
    dlg->UpdateSensorList();
    EXPECT_EQ(win.listRefreshes, 1);
    EXPECT_EQ(dlg->SensorRows().CellText(0, 4), "1");  // WL Delta against the layout frame
    ASSERT_TRUE(dlg->Acquisition().CopyReference(ref));
    EXPECT_EQ(ref.counter, 10);

    // RST: the next frame becomes the reference; WL Delta is not rebased.
    dlg->OnButtonClicked(IDC_RESET_REF);
    PushFrame(4, 15, "S1", 102);
    dlg->UpdateSensorList();
    ASSERT_TRUE(dlg->Acquisition().CopyReference(ref));
    EXPECT_EQ(ref.counter, 15);
    EXPECT_FALSE(dlg->ResetReference().IsRequested());
    EXPECT_EQ(dlg->SensorRows().CellText(0, 4), "5");

    // List DISP unticked: status and raw text follow, the rows do not.
    dlg->OnCheckClicked(IDC_RAW_DISP, false);
    dlg->OnCheckClicked(IDC_LIST_DISP, false);
    PushFrame(6, 20, "S2", 200);
    dlg->UpdateSensorList();
    EXPECT_EQ(dlg->SensorRows().RowCount(), 4);
    EXPECT_STREQ(dlg->CurrentSn(), "S2");
    EXPECT_EQ(dlg->FrameTime(), 200);
    EXPECT_EQ(dlg->LastCounter(), 20);
    EXPECT_EQ(win.texts[IDC_RAW_TEXT], "frame 15");  // box unticked since
    dlg->OnCheckClicked(IDC_LIST_DISP, true);
    PushFrame(6, 21, "S2", 200);
    dlg->UpdateSensorList();
    EXPECT_EQ(dlg->SensorRows().RowCount(), 6);
    EXPECT_EQ(win.listRebuilds, 2);

    // A click chooses the realtime reading; below the last row gives 0.
    dlg->OnSensorListClick(0);
    EXPECT_EQ(win.texts[IDC_REALTIME_ID], "1");
    EXPECT_EQ(dlg->LiveRealtimeId(), 1);
    dlg->OnSensorListClick(-1);
    EXPECT_EQ(win.texts[IDC_REALTIME_ID], "0");
    EXPECT_EQ(dlg->LiveRealtimeId(), 0);
}

TEST_F(DlgTest, LanguageChoiceAndSwitch) {
    for (auto [stored, expected] : std::vector<std::pair<const char*, Language>>{
             {"0", Language::English}, {"1", Language::Chinese}, {"2", Language::Chinese},
             {"7", Language::Chinese}, {nullptr, Language::English}}) {
        fs::remove(ini);
        if (stored) Write("View", "Language", stored);
        EXPECT_EQ(CLumoraDlg::ApplyLanguage(SettingsStore(ini)), expected) << (stored ? stored : "missing");
        EXPECT_EQ(UiLanguage(), expected);
    }
    fs::remove(ini);
    Start();
    dlg->OnCommand(ID_LANGUAGE_CHINESE);
    EXPECT_EQ(Read("View", "Language"), "1");
    EXPECT_EQ(win.restarts, 1);
    EXPECT_EQ(win.closed, 1);
    EXPECT_EQ(exitCode, 1234);

    win.restartSucceeds = false;
    dlg->OnCommand(ID_LANGUAGE_ENGLISH);
    EXPECT_EQ(Read("View", "Language"), "0");  // stored for the next start
    EXPECT_EQ(win.closed, 1);
    EXPECT_EQ(exitCode, -1);
}

TEST_F(DlgTest, FolderChooserDataDirAboutAndCounterReset) {
    Start();
    const std::string dirBefore = Read("DataSave", "Dir");
    win.chosenFolder = "";
    dlg->OnButtonClicked(IDC_BROWSE_DIR);
    EXPECT_EQ(win.chooserTitle, "Select path:");
    EXPECT_EQ(Read("DataSave", "Dir"), dirBefore);
    win.chosenFolder = "/srv/recordings";
    dlg->OnButtonClicked(IDC_BROWSE_DIR);
    EXPECT_EQ(win.texts[IDC_SAVE_DIR], "/srv/recordings");
    EXPECT_EQ(Read("DataSave", "Dir"), "/srv/recordings");

    dlg->OnCommand(ID_REPORT_DATA_DIR);
    EXPECT_EQ(win.folders, std::vector<std::string>{"/srv/recordings"});
    dlg->OnCommand(ID_HELP_ABOUT);
    dlg->OnCommand(IDM_ABOUTBOX);
    EXPECT_EQ(win.aboutShown, 2);
    dlg->OnCommand(ID_HELP_HANDBOOK);  // disabled entry: nothing

    PushFrame(1, 99);
    dlg->UpdateSensorList();
    EXPECT_EQ(dlg->LastCounter(), 99);
    dlg->OnButtonClicked(IDC_CLEAR_COUNTER);
    EXPECT_EQ(dlg->LastCounter(), 0);
    dlg->OnButtonClicked(IDC_RAW_CLEAR);
    EXPECT_EQ(win.texts[IDC_RAW_TEXT], "");
}

TEST_F(DlgTest, BindFailureLeavesThePortClosed) {
    // The box takes four characters: hold a free port below 10000.
    UdpSocket holder;
    ASSERT_TRUE(holder.Create());
    int taken = 0;
    for (int p = 9100; p < 10000 && !taken; ++p)
        if (holder.Bind(static_cast<uint16_t>(p))) taken = p;
    ASSERT_NE(taken, 0);
    Write("Net", "Port", std::to_string(taken));
    Start();
    dlg->OnOpenClose();
    EXPECT_FALSE(dlg->PortOpen());
    EXPECT_EQ(win.texts[IDC_OPEN_CLOSE], "");  // the caption never said "Close"
    ASSERT_EQ(win.boxes.size(), 1u);
    EXPECT_EQ(win.boxes[0].text.rfind("Port:" + std::to_string(taken) + ", Network startup failed", 0), 0u);
    EXPECT_FALSE(win.TimerRunning(kTimerSensorList));
}

// Close, the close box and the termination signals must lose nothing: the
// worker is joined before the recording is flushed and closed.
TEST_F(DlgTest, RecordsOverLoopbackAndCloseLosesNothing) {
    Write("Net", "Port", std::to_string(test::FreeUdpPort()));
    Write("DataSave", "Enable", "1");
    Write("DataSave", "Dir", dir.string());
    Start();
    dlg->OnOpenClose();
    ASSERT_TRUE(dlg->PortOpen());
    const uint16_t port = dlg->Session().BoundPort();
    ASSERT_NE(port, 0);

    UdpSocket sender;
    ASSERT_TRUE(sender.Create());
    const int kFrames = 50;
    TrailerFields trailer;
    trailer.sn = "E2E";
    std::vector<uint8_t> frame;
    for (int i = 1; i <= kFrames; ++i) {
        trailer.counter = i;
        EncodeWavelengthFrame(frame, {2, 2}, {100, 200, 300, 400}, &trailer);
        ASSERT_TRUE(sender.SendTo(frame.data(), frame.size(), "127.0.0.1", port));
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (dlg->DatagramCount() < static_cast<uint32_t>(kFrames) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(dlg->DatagramCount(), static_cast<uint32_t>(kFrames));

    dlg->OnClose();
    EXPECT_TRUE(dlg->StopReceive());
    EXPECT_FALSE(dlg->Recorder().IsFileOpen());
    const std::string path = dlg->Recorder().LastPath();
    ASSERT_FALSE(path.empty());
    // Header, then every frame, the last one included.
    const auto size = fs::file_size(path);
    EXPECT_EQ(size, 5 + kFrames * frame.size());
    win.RunPosted();
    EXPECT_EQ(win.texts[IDC_DEVICE_IP], "127.0.0.1");
    EXPECT_EQ(dlg->CommandTexts().IpText(), "127.0.0.1");
}

// A frame sink that runs out of memory, as the publisher's queue might.
class FailingSink : public FrameSink {
public:
    void OnFrame(const FrameSlot&, uint32_t) override { throw std::bad_alloc(); }
};

TEST_F(DlgTest, AnErrorInTheReceiveWorkerIsShownAndClosesThePort) {
    Write("Net", "Port", std::to_string(test::FreeUdpPort()));
    Start();
    FailingSink failing;
    dlg->Session().SetFrameSink(&failing);
    dlg->OnOpenClose();
    ASSERT_TRUE(dlg->PortOpen());
    UdpSocket sender;
    ASSERT_TRUE(sender.Create());
    const std::vector<uint8_t> frame = EncodeWavelengthFrame({2}, {100, 200});
    ASSERT_TRUE(sender.SendTo(frame.data(), frame.size(), "127.0.0.1", dlg->Session().BoundPort()));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!dlg->Session().WorkerFailed() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(dlg->Session().WorkerFailed());
    win.RunPosted();
    dlg->Session().SetFrameSink(nullptr);
    ASSERT_EQ(win.boxes.size(), 1u);
    EXPECT_EQ(win.boxes[0].text, "Receiving stopped after an error: std::bad_alloc");
    EXPECT_FALSE(dlg->PortOpen());
    EXPECT_EQ(win.texts[IDC_OPEN_CLOSE], "Open");
    EXPECT_FALSE(win.TimerRunning(kTimerSensorList));
    // The port opens again as usual.
    dlg->OnOpenClose();
    EXPECT_TRUE(dlg->PortOpen());
}

TEST_F(DlgTest, IgnoredAndCutShortDatagramsAreToldInTheDaqFrqTip) {
    Write("Net", "Port", std::to_string(test::FreeUdpPort()));
    Start();
    dlg->UpdateStatus();
    EXPECT_EQ(win.toolTips.count(IDC_DAQ_FRQ), 0u);  // nothing to tell yet
    dlg->OnOpenClose();
    ASSERT_TRUE(dlg->PortOpen());
    UdpSocket sender;
    ASSERT_TRUE(sender.Create());
    ASSERT_TRUE(sender.SendTo("", 0, "127.0.0.1", dlg->Session().BoundPort()));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (dlg->DatagramCount() < 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    dlg->UpdateStatus();
    EXPECT_EQ(win.toolTips[IDC_DAQ_FRQ], "Datagrams ignored (empty or blank): 1\nDatagrams cut short: 0");
}

// A free port of five digits, as the system hands them out.
uint16_t FreeFiveDigitPort() {
    for (int tries = 0; tries < 20; ++tries) {
        UdpSocket probe;
        if (probe.Create() && probe.Bind(0) && probe.LocalPort() >= 10000) return probe.LocalPort();
    }
    return 0;
}

TEST_F(DlgTest, FiveDigitPortFromTheSettingsFileIsBoundWhole) {
    const uint16_t port = FreeFiveDigitPort();
    ASSERT_NE(port, 0);
    const std::string text = std::to_string(port);
    Write("Net", "Port", text);
    Write("Net", "AutoOpen", "1");
    Start();  // AutoOpen at start-up
    ASSERT_TRUE(dlg->PortOpen());
    EXPECT_EQ(dlg->Session().BoundPort(), port);  // the socket's own address
    EXPECT_EQ(win.texts[IDC_PORT], text);

    dlg->OnOpenClose();
    dlg->OnOpenClose();  // Open
    ASSERT_TRUE(dlg->PortOpen());
    EXPECT_EQ(dlg->Session().BoundPort(), port);

    win.answer = kIdYes;
    dlg->OnSystemReset();
    ASSERT_TRUE(dlg->PortOpen());
    EXPECT_EQ(dlg->Session().BoundPort(), port);
    EXPECT_EQ(win.texts[IDC_PORT], text);
    EXPECT_EQ(Read("Net", "Port"), text);

    // Beyond the port range it is refused, not bound to its low 16 bits.
    Write("Net", "Port", "70000");
    dlg->OnSystemReset();
    EXPECT_FALSE(dlg->PortOpen());
    ASSERT_EQ(win.boxes.size(), 3u);  // two Reset questions, then the refusal
    EXPECT_EQ(win.boxes[2].text.rfind("Port:70000, Network startup failed", 0), 0u);
}

// Opens the port with recording on and sends `count` frames, one per datagram.
std::vector<uint8_t> RecordFrames(CLumoraDlg& dlg, int count) {
    std::vector<uint8_t> frame;
    dlg.OnOpenClose();
    if (!dlg.PortOpen()) return frame;
    UdpSocket sender;
    sender.Create();
    TrailerFields trailer;
    for (int i = 1; i <= count; ++i) {
        trailer.counter = i;
        EncodeWavelengthFrame(frame, {2}, {100, 200}, &trailer);
        sender.SendTo(frame.data(), frame.size(), "127.0.0.1", dlg.Session().BoundPort());
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (dlg.DatagramCount() < uint32_t(count) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return frame;
}

// Values of the settings file that cannot be used are not taken: a port stays
// in its box as it stands in the file and Open refuses it, the record count
// falls back to its default with a warning, the pause is cut to a minute and
// a prefix leading out of the folder records nothing.
TEST_F(DlgTest, UnusableSettingsValuesAreNotTaken) {
    Write("Net", "Port", "abc");
    Write("DataSave", "LineNumber", "0");
    Write("DataRec", "Interval", "2147483647");
    Start();
    EXPECT_EQ(win.texts[IDC_PORT], "abc");
    EXPECT_EQ(Read("Net", "Port"), "abc");
    EXPECT_EQ(win.texts[IDC_LINE_NUMBER], "100000");
    EXPECT_EQ(dlg->RecordsPerFile(), 100000u);
    ASSERT_EQ(win.boxes.size(), 1u);
    EXPECT_EQ(win.boxes[0].text.rfind("LineNumber=0 of " + ini + " is below 1", 0), 0u) << win.boxes[0].text;
    EXPECT_EQ(dlg->Session().IntervalMs(), 60000);
    dlg->OnEditChanged(IDC_INTERVAL, "99999");
    EXPECT_EQ(dlg->Session().IntervalMs(), 60000);

    win.answer = kIdYes;
    for (const std::string port : {"abc", "", "0", "70000", "-7008"}) {
        Write("Net", "Port", port);
        dlg->OnSystemReset();
        EXPECT_EQ(win.texts[IDC_PORT], port);
        dlg->OnOpenClose();
        EXPECT_FALSE(dlg->PortOpen()) << port;
        EXPECT_EQ(win.boxes.back().text.rfind("Port:" + port + ", Network startup failed", 0), 0u) << port;
        EXPECT_EQ(Read("Net", "Port"), port);
    }
    // Numbers are read as the file reads them.
    Write("Net", "Port", "7008abc");
    dlg->OnSystemReset();
    EXPECT_EQ(win.texts[IDC_PORT], "7008");
    EXPECT_EQ(Read("Net", "Port"), "7008");

    const std::string port = std::to_string(test::FreeUdpPort());
    Write("Net", "Port", port);
    Write("DataSave", "Enable", "1");
    Write("DataSave", "Dir", dir.string());
    Write("DataSave", "FileName", "../escaped");
    Write("DataRec", "Interval", "0");
    dlg->OnSystemReset();
    EXPECT_EQ(win.texts[IDC_FILE_NAME], "../escaped");
    dlg->OnEditChanged(IDC_FILE_NAME, "../escaped2");  // refused: not stored
    EXPECT_EQ(Read("DataSave", "FileName"), "../escaped");
    const size_t boxesBefore = win.boxes.size();
    RecordFrames(*dlg, 3);
    ASSERT_TRUE(dlg->PortOpen());
    EXPECT_EQ(dlg->DatagramCount(), 3u);
    dlg->OnOpenClose();
    win.RunPosted();
    ASSERT_EQ(win.boxes.size(), boxesBefore + 1);
    EXPECT_NE(win.boxes.back().text.find("File Name may not contain /, \\ or .."), std::string::npos)
        << win.boxes.back().text;
    for (const auto& e : fs::directory_iterator(dir.parent_path()))
        EXPECT_NE(e.path().filename().string().rfind("escaped", 0), 0u) << e.path();
}

TEST_F(DlgTest, FailedLanguageRestartClosesTheRecordingBeforeEnding) {
    Write("Net", "Port", std::to_string(test::FreeUdpPort()));
    Write("DataSave", "Enable", "1");
    Write("DataSave", "Dir", dir.string());
    Start();
    const std::vector<uint8_t> frame = RecordFrames(*dlg, 29);
    ASSERT_EQ(dlg->DatagramCount(), 29u);

    uintmax_t sizeAtEnd = 0;
    bool fileOpenAtEnd = true;
    dlg->exitProcess = [&](int code) {
        exitCode = code;
        fileOpenAtEnd = dlg->Recorder().IsFileOpen();
        sizeAtEnd = fs::file_size(dlg->Recorder().LastPath());
    };
    win.restartSucceeds = false;
    dlg->OnCommand(ID_LANGUAGE_CHINESE);
    EXPECT_EQ(exitCode, -1);
    EXPECT_TRUE(dlg->StopReceive());
    EXPECT_FALSE(fileOpenAtEnd);
    EXPECT_EQ(sizeAtEnd, 5 + 29 * frame.size());  // every frame, the last one included
}

TEST_F(DlgTest, FullDiskIsReportedAndTheLostRecordsShown) {
    Write("Net", "Port", std::to_string(test::FreeUdpPort()));
    Write("DataSave", "Enable", "1");
    Write("DataSave", "Dir", dir.string());
    Start();
    dlg->Recorder().SetWriteFunction([](int, const void*, size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    RecordFrames(*dlg, 5);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (dlg->Recorder().RecordsLost() < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    win.RunPosted();
    ASSERT_EQ(win.boxes.size(), 1u);
    EXPECT_EQ(win.boxes[0].text.rfind("Cannot write the record file " + dlg->Recorder().LastPath(), 0), 0u);
    dlg->UpdateStatus();
    EXPECT_EQ(win.texts[IDC_SAVED_LINES], "0 (lost 5)");

    dlg->OnOpenClose();
    EXPECT_FALSE(fs::exists(dlg->Recorder().LastPath()));  // nothing reached it: not left behind empty
    win.answer = kIdYes;
    dlg->OnSystemReset();
    dlg->UpdateStatus();
    EXPECT_EQ(win.texts[IDC_SAVED_LINES], "0");
}

TEST(Captions, BothLanguagesAndTheMenu) {
    EXPECT_EQ(ControlCaption(IDC_STRING_FORMAT, Language::English), "STR Format  ");
    EXPECT_EQ(ControlCaption(IDC_STRING_FORMAT, Language::Chinese), "字符格式     .");
    EXPECT_EQ(GroupTitle(Group::DataInterface, Language::Chinese), " 数据接口");
    EXPECT_EQ(ControlLabel(IDC_TRACE_CNT, Language::Chinese), "间隔");
    EXPECT_EQ(ViewTabCaption(kViewTabActiveSa, Language::Chinese), "在线设备");
    EXPECT_EQ(MenuText(ID_TOOLS_DEBUG, Language::Chinese), " 指令发送(&C)");
    EXPECT_EQ(AboutVersionLine(), "lumora Ver:1.0.2.6");
    EXPECT_EQ(WindowTitle(), "lumora Ver: 1.0.2.6");
    int separators = 0, disabled = 0;
    for (const MenuEntry& e : MainMenu()) {
        separators += e.id == -1;
        disabled += !e.enabled;
    }
    EXPECT_EQ(separators, 6);
    EXPECT_EQ(disabled, 4);
}

}  // namespace
}  // namespace lumora
