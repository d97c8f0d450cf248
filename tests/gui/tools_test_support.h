#pragma once
// What the tool-window tests share: a main window in a fresh folder whose
// message boxes are answered by the test.
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main_window.h"
#include "tools/tool_windows.h"

namespace lumora::test {

struct Box {
    std::string text;
    int buttons;
    int flags;
};

// A main window with its tool windows, in a temporary folder of its own.
// Message boxes are answered by `answer` (the default answers OK / No) and
// recorded; scripts and the pause after "7z.sh" are recorded, not run.
struct ToolsFixture {
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<ToolWindows> tools;
    std::vector<Box> boxes;
    std::vector<std::pair<std::string, std::string>> scripts;
    std::vector<int> waits;
    std::function<int(const Box&)> answer;

    ToolsFixture() {
        window = std::make_unique<MainWindow>(dir.filePath(QStringLiteral("Lumora.ini")));
        window->messageBoxOverride = [this](const std::string& text, const std::string&, int buttons, int flags) {
            boxes.push_back({text, buttons, flags});
            if (answer) return answer(boxes.back());
            return buttons == kMbOk || buttons == kMbOkCancel ? static_cast<int>(kIdOk) : static_cast<int>(kIdNo);
        };
        // Active SA listens on a port of the system's choosing, not on 7000.
        DiscoveryOptions discovery;
        discovery.port = 0;
        tools = std::make_unique<ToolWindows>(*window, discovery);
        tools->startScript = [this](const std::string& s, const std::string& line) { scripts.emplace_back(s, line); };
        tools->waitForScript = [this](int ms) { waits.push_back(ms); };
    }
    ~ToolsFixture() {
        tools.reset();
        window.reset();
    }
    std::string Path(const QString& name) const { return dir.filePath(name).toStdString(); }
    std::string Ini() const { return Path(QStringLiteral("Lumora.ini")); }
    // Texts of the boxes shown so far.
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const Box& b : boxes) t.push_back(b.text);
        return t;
    }
};

}  // namespace lumora::test
