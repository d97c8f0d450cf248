#pragma once
// The tool windows of the main window and the work behind their menu
// commands: Setting > Data Convert > Normal, Tools > Debug, Data Convert,
// Convert folder..., Active SA, HighSpeed DAQ and HighSpeed Convert.
//
// It keeps what lives as long as the main window for these commands: the
// conversion job and its settings, the command editor (created on first use,
// then shown and hidden), the device discovery with the "Active SA" list, and
// the two high-speed parameter records. Message boxes go through the main
// window's WindowPort, so a test answers them.
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conversion/conversion_job.h"
#include "device/device_discovery.h"
#include "device/high_speed.h"
#include "tools/command_editor_window.h"
#include "tools/conversion_window.h"
#include "tools/device_list_widget.h"
#include "tools/high_speed_dialogs.h"

class QDialog;
class QTimer;

namespace lumora {

class MainWindow;

class ToolWindows : public QObject {
    Q_OBJECT
public:
    // Loads the conversion and high-speed settings, registers the six menu
    // commands with the window and puts the device list into tab 4. Must be
    // destroyed before the window: it closes its windows and ends its
    // threads (discovery listeners, a running conversion) then.
    // discovery: where Active SA listens (tests choose a free port).
    explicit ToolWindows(MainWindow& window, DiscoveryOptions discovery = {});
    ~ToolWindows() override;

    // ---- the menu commands
    void OnConvertSettings();   // Setting > Data Convert > Normal
    void OnDebug();             // Tools > Debug
    void OnDataConvert();       // Tools > Data Convert
    void OnConvertFolder();     // Tools > Convert folder...
    void OnActiveSa();          // Tools > Active SA
    void OnHighSpeedDaq();      // Tools > HighSpeed DAQ
    void OnHighSpeedConvert();  // Tools > HighSpeed Convert

    // ---- what tests replace
    // Starts "7z.sh", "daq.sh" and "convert.sh" (script, argument line).
    ScriptStarter startScript;
    // The wait after "7z.sh" has been started; by default the window goes on
    // painting and counting while it lasts (user input waits until after).
    std::function<void(int milliseconds)> waitForScript;
    // Runs the conversion settings dialog over values; true for OK. By
    // default the modal "Data Convert / Export Setting" dialog.
    std::function<bool(ConvertSettings& values)> runSettingsDialog;
    // Shows a folder in the desktop's file manager; false when none is
    // found. By default through QDesktopServices.
    std::function<bool(const std::string& directory)> showFolder;

    // ---- state
    ConversionJob& Job() { return *job_; }
    DeviceDiscovery& Discovery() { return *discovery_; }
    DeviceListWidget* DeviceList() const { return deviceList_; }
    CommandEditorWindow* CommandEditor() const { return editor_; }
    // The window of the last conversion run; null before the first.
    ConversionWindow* ConversionView() const { return conversionWindow_; }
    HighSpeedDaqSettings& DaqSettings() { return daq_; }
    HighSpeedConvertSettings& ConvertSettingsRecord() { return convert_; }
    // The conversion settings dialog is open, or the run's question or
    // dialog is up: the other path must not open it too.
    bool SettingsDialogBusy() const { return settingsBusy_; }

private:
    ConvertSettingsUi MakeSettingsUi();
    // Runs task on the UI thread once neither the settings dialog nor the
    // run's question is up.
    void WhenSettingsFree(std::function<void()> task);
    // Keeps track of a launcher form and shows it.
    void Keep(QDialog* launcher);
    // Data Convert over directory: the questions, the run, its window.
    void ConvertDirectory(const std::string& directory);
    void StartProgressBridge();
    void CopyProgress();

    MainWindow& window_;
    WindowPort& port_;
    std::unique_ptr<ConversionJob> job_;
    std::unique_ptr<DeviceDiscovery> discovery_;
    HighSpeedDaqSettings daq_;
    HighSpeedConvertSettings convert_;
    QPointer<DeviceListWidget> deviceList_;
    QPointer<CommandEditorWindow> editor_;
    QPointer<ConversionWindow> conversionWindow_;
    std::vector<QPointer<QDialog>> launchers_;
    QTimer* bridge_ = nullptr;
    bool convertFlowActive_ = false;
    bool settingsBusy_ = false;
    // Posted tasks check this before touching the object.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lumora
