#pragma once
// The only way the engine talks to a window. The desktop program implements it
// with Qt widgets, lumora-cli with the console, tests with a recorder of calls.
//
// Threading: every member is called on the UI thread only, except Post(),
// which any thread may call to run a task on the UI thread later.
#include <functional>
#include <string>
#include <vector>

namespace lumora {

// Buttons and answers of message boxes (values as the desktop's own).
enum MsgButtons { kMbOk = 0, kMbOkCancel = 1, kMbYesNoCancel = 3, kMbYesNo = 4 };
enum MsgAnswer { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };
enum MsgFlags { kMbDefaultButton2 = 0x100, kMbIconQuestion = 0x20, kMbIconWarning = 0x30 };

class WindowPort {
public:
    virtual ~WindowPort() = default;

    // Controls are named by their numeric identifiers (1005 "RCV Port", ...).
    virtual void SetText(int controlId, const std::string& utf8) = 0;
    virtual std::string GetText(int controlId) = 0;
    virtual void SetCheck(int controlId, bool checked) = 0;
    virtual bool GetCheck(int controlId) = 0;
    virtual void EnableControl(int controlId, bool enabled) = 0;
    // Progress bars: range 0..upper, position pos.
    virtual void SetProgress(int controlId, int upper, int pos) = 0;

    // A modal message box; returns one of MsgAnswer. flags may add
    // kMbDefaultButton2 and an icon.
    virtual int MessageBox(const std::string& text, const std::string& caption, int buttons,
                           int flags = 0) = 0;

    virtual void SetActiveTab(int tab) = 0;
    virtual void StartTimer(int timerId, int periodMs) = 0;
    virtual void StopTimer(int timerId) = 0;

    // Runs task on the UI thread (any thread may call this).
    virtual void Post(std::function<void()> task) = 0;

    // Opens a folder in the desktop's file browser, or a web address in the browser.
    virtual void OpenFolder(const std::string& path) = 0;
    virtual void OpenUrl(const std::string& url) = 0;

    // ---- The main window's own needs. Every one has a harmless default, so a
    // console or a test window need not implement them.

    virtual void SetTitle(const std::string& /*utf8*/) {}
    // The text shown when the pointer rests on a control (empty: none).
    virtual void SetToolTip(int /*controlId*/, const std::string& /*utf8*/) {}
    // Fills a drop-down list and selects index (-1: none).
    virtual void SetComboItems(int /*controlId*/, const std::vector<std::string>& /*items*/, int /*selected*/) {}
    // Progress bar with range low..high at position pos.
    virtual void SetProgressRange(int controlId, int /*low*/, int high, int pos) { SetProgress(controlId, high, pos); }
    // The folder chooser; the chosen folder, or empty when the user cancelled.
    virtual std::string ChooseFolder(const std::string& /*title*/, const std::string& /*start*/) { return {}; }
    virtual void ShowAboutBox() {}
    // Ends the main window (and so the program) as its close box does.
    virtual void CloseWindow() {}
    // CloseWindow, and the program then ends with this exit code.
    virtual void CloseWindowWithExitCode(int /*exitCode*/) { CloseWindow(); }
    // Starts a new instance of the program with the same command line; false
    // when it could not be started.
    virtual bool RestartProgram() { return false; }
    // The sensor list's rows were rebuilt (rebuilt) or only their values
    // changed: the list widget refreshes what it shows.
    virtual void SensorListChanged(bool /*rebuilt*/) {}
};

}  // namespace lumora
