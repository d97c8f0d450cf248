#pragma once
// A window that records what the engine does to it: control texts and check
// states, timers, tabs, message boxes (answered by the test), posted tasks
// (run when the test says so).
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "window/window_port.h"

namespace lumora::test {

class RecordingWindow : public WindowPort {
public:
    void SetText(int id, const std::string& t) override { texts[id] = t; }
    std::string GetText(int id) override { return texts[id]; }
    void SetCheck(int id, bool c) override { checks[id] = c; }
    bool GetCheck(int id) override { return checks[id]; }
    void EnableControl(int id, bool e) override { enabled[id] = e; }
    void SetProgress(int id, int upper, int pos) override { SetProgressRange(id, 0, upper, pos); }
    void SetProgressRange(int id, int low, int high, int pos) override { progress[id] = {low, high, pos}; }
    int MessageBox(const std::string& text, const std::string& caption, int buttons, int flags) override {
        boxes.push_back({text, caption, buttons, flags});
        return answer;
    }
    void SetActiveTab(int tab) override { tabs.push_back(tab); }
    void StartTimer(int id, int ms) override { timers[id] = ms; }
    void StopTimer(int id) override { timers.erase(id); }
    void Post(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(postMutex);
        posted.push_back(std::move(task));
    }
    void OpenFolder(const std::string& path) override { folders.push_back(path); }
    void OpenUrl(const std::string& url) override { urls.push_back(url); }
    void SetTitle(const std::string& t) override { title = t; }
    void SetToolTip(int id, const std::string& t) override { toolTips[id] = t; }
    void SetComboItems(int id, const std::vector<std::string>& items, int selected) override {
        combos[id] = {items, selected};
    }
    std::string ChooseFolder(const std::string& t, const std::string&) override {
        chooserTitle = t;
        return chosenFolder;
    }
    void ShowAboutBox() override { ++aboutShown; }
    void CloseWindow() override { ++closed; }
    bool RestartProgram() override {
        ++restarts;
        return restartSucceeds;
    }
    void SensorListChanged(bool rebuilt) override { (rebuilt ? listRebuilds : listRefreshes)++; }

    // Runs the tasks posted so far (on the test's thread, standing in for the UI thread).
    void RunPosted() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> lock(postMutex);
            tasks.swap(posted);
        }
        for (auto& t : tasks) t();
    }
    bool TimerRunning(int id) const { return timers.count(id) != 0; }

    struct Box {
        std::string text, caption;
        int buttons, flags;
    };
    struct Progress {
        int low, high, pos;
    };
    struct Combo {
        std::vector<std::string> items;
        int selected;
    };
    std::map<int, std::string> texts;
    std::map<int, bool> checks;
    std::map<int, bool> enabled;
    std::map<int, Progress> progress;
    std::map<int, int> timers;
    std::map<int, Combo> combos;
    std::vector<Box> boxes;
    std::map<int, std::string> toolTips;
    std::vector<int> tabs;
    std::vector<std::string> folders, urls;
    std::string title, chooserTitle, chosenFolder;
    int answer = kIdOk;
    int aboutShown = 0, closed = 0, restarts = 0;
    bool restartSucceeds = true;
    int listRebuilds = 0, listRefreshes = 0;

private:
    std::mutex postMutex;
    std::deque<std::function<void()>> posted;
};

}  // namespace lumora::test
