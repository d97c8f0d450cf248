#pragma once
// The desktop program's main window: a resizable dialog with the four groups
// of controls, the menu, the view groups and the five view tabs. It binds the
// widgets to CLumoraDlg's handlers and is the engine's WindowPort.
//
// Every control is named "ctl<id>" after its identifier (its label
// "lbl<id>", group boxes "grp..."), every menu action "cmd<id>", the view tab
// widget "viewTabs" and its pages "viewTab0" .. "viewTab4".
#include <QDialog>
#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <memory>

#include "window/captions.h"
#include "app/lumora_dlg.h"
#include "window/window_port.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenuBar;
class QScrollArea;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;
class QWidget;

namespace lumora {

class RecordingIndicator;
class WindowMemory;
class SensorListWidget;

class MainWindow : public QDialog, public WindowPort {
    Q_OBJECT
public:
    // settingsPath: "./Lumora.ini" of the current directory for the program.
    explicit MainWindow(const QString& settingsPath = QStringLiteral("./Lumora.ini"), QWidget* parent = nullptr);
    ~MainWindow() override;

    // Window initialisation (reads the settings into the controls, starts the
    // status timer, opens the port when AutoOpen is set). Call once, after
    // any test overrides are in place.
    void Initialise();

    CLumoraDlg& Dlg() { return *dlg_; }
    QWidget* Control(int id) const;
    QAction* Action(int commandId) const;
    QTabWidget* ViewTabs() const { return tabs_; }
    SensorListWidget* SensorListView() const { return sensorList_; }
    // Puts widget into view tab `tab` (1 to 4), replacing what was there. The
    // tab page takes ownership.
    void SetTabWidget(int tab, QWidget* widget);
    QWidget* TabPage(int tab) const;
    // Lets another part of the program handle a menu command instead of
    // CLumoraDlg::OnCommand.
    void SetCommandHandler(int commandId, std::function<void()> handler);
    // Small widgets at the right end of the menu bar, where they move no
    // control of the window. They stand in this order, left to right.
    enum class MenuIndicator { Recording, Alarms, Mqtt };
    // Puts widget in its place (null empties the place); the window takes
    // ownership.
    void SetMenuIndicator(MenuIndicator place, QWidget* widget);
    // The MQTT dot's place, the last one.
    void SetMenuCornerWidget(QWidget* widget) { SetMenuIndicator(MenuIndicator::Mqtt, widget); }
    QWidget* MenuIndicatorWidget(MenuIndicator place) const;
    RecordingIndicator* Recording() const { return recording_; }
    // The [Window] keys of the settings file.
    WindowMemory& Memory() { return *memory_; }
    // One of them changed its text or was shown or hidden: the menu bar
    // places them anew.
    void MenuCornerChanged();
    // Adds widget to the controls of a group box (by its object name,
    // "grpTraceView"...), before the group's spare room; false when there is
    // no such group.
    bool AddToGroup(const QString& groupName, QWidget* widget);
    // The window's default size: the layout with the view area at its
    // described size.
    QSize DescribedSize() const;
    // The least size of the layout with the view area as it is now.
    QSize LeastSize() const;
    // Help > Handbook: the guide in the interface language.
    void OpenHandbook();
    QWidget* Handbook() const { return handbook_; }
    // Controls were shown or hidden (the Units boxes of a sensor table): the
    // window's sizes follow the layout again.
    void LayoutChanged();
    // Whether the window hid itself into the tray.
    bool InTray() const;

    // Tests answer message boxes and the folder chooser with these.
    std::function<int(const std::string& text, const std::string& caption, int buttons, int flags)>
        messageBoxOverride;
    std::function<std::string(const std::string& title, const std::string& start)> folderChooserOverride;

    // ---- WindowPort
    void SetText(int controlId, const std::string& utf8) override;
    std::string GetText(int controlId) override;
    void SetCheck(int controlId, bool checked) override;
    bool GetCheck(int controlId) override;
    void EnableControl(int controlId, bool enabled) override;
    void SetProgress(int controlId, int upper, int pos) override;
    int MessageBox(const std::string& text, const std::string& caption, int buttons, int flags) override;
    void SetActiveTab(int tab) override;
    void StartTimer(int timerId, int periodMs) override;
    void StopTimer(int timerId) override;
    void Post(std::function<void()> task) override;
    void OpenFolder(const std::string& path) override;
    void OpenUrl(const std::string& url) override;
    void SetTitle(const std::string& utf8) override;
    void SetToolTip(int controlId, const std::string& utf8) override;
    void SetComboItems(int controlId, const std::vector<std::string>& items, int selected) override;
    void SetProgressRange(int controlId, int low, int high, int pos) override;
    std::string ChooseFolder(const std::string& title, const std::string& start) override;
    void ShowAboutBox() override;
    void CloseWindow() override;
    void CloseWindowWithExitCode(int exitCode) override;
    bool RestartProgram() override;
    void SensorListChanged(bool rebuilt) override;

    bool TimerActive(int timerId) const;
    // What main() returns once the program has ended.
    int ExitCode() const { return exitCode_; }

signals:
    // The program has ended (close box, Escape, Exit, tray "Close", a language
    // switch or a termination signal): main() leaves its event loop.
    void programEnded();
    // The once-a-second status refresh has run.
    void statusRefreshed();

public slots:
    // The close box's way out, also taken on SIGTERM, SIGINT and SIGHUP.
    void EndProgram();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void BuildControls();
    void BuildMenu();
    void BuildTray();
    QWidget* BuildDataInterface();
    QWidget* BuildDataInformation();
    QWidget* BuildDataSave();
    QWidget* BuildSourceData();
    QWidget* BuildViewGroups();
    QWidget* BuildViewArea();
    QGroupBox* NewGroup(Group group, const char* objectName);
    QLabel* NewLabel(int id);
    QWidget* NewNumberEdit(int id, int maxLength = 0);
    QWidget* NewEdit(int id);
    QWidget* NewField(int id);
    QWidget* NewCheck(int id, bool textLeft = false);
    QWidget* NewButton(int id);
    void Register(int id, QWidget* w);
    // The described layout is the window's default and least size where the
    // screen's available area holds it; otherwise the window fits the area,
    // its view area shrinks some way, and it scrolls.
    void FitToScreen();
    void HideToTray();
    void RestoreFromTray();

    Language lang_;
    std::unique_ptr<CLumoraDlg> dlg_;
    std::map<int, QWidget*> controls_;
    std::map<int, QAction*> actions_;
    std::map<int, QTimer*> timers_;
    std::map<int, std::function<void()>> commandHandlers_;
    QMenuBar* menuBar_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QScrollArea* scroll_ = nullptr;  // holds every control below the menu
    QWidget* contents_ = nullptr;
    QSize viewAreaSize_;  // the described size of the view tabs
    SensorListWidget* sensorList_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QWidget* indicators_ = nullptr;  // the menu bar's corner
    std::array<QPointer<QWidget>, 3> indicatorSlots_;
    RecordingIndicator* recording_ = nullptr;
    WindowMemory* memory_ = nullptr;
    QPointer<QWidget> handbook_;
    bool geometryRestored_ = false;
    int settingText_ = 0;  // >0 while the program itself changes a control
    bool ended_ = false;
    bool initialised_ = false;
    int exitCode_ = 0;
};

}  // namespace lumora
