#pragma once
// A window with no controls, for lumora-cli and the benchmarks: control calls
// do nothing, a message box prints its text on stderr and answers OK, and a
// posted task runs at once on the calling thread. Users override only what
// they need to see or do differently.
#include <cstdio>
#include <functional>
#include <string>

#include "window/window_port.h"

namespace lumora {

class ConsoleWindowPort : public WindowPort {
public:
    void SetText(int, const std::string&) override {}
    std::string GetText(int) override { return {}; }
    void SetCheck(int, bool) override {}
    bool GetCheck(int) override { return false; }
    void EnableControl(int, bool) override {}
    void SetProgress(int, int, int) override {}
    int MessageBox(const std::string& text, const std::string&, int, int) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        return kIdOk;
    }
    void SetActiveTab(int) override {}
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    void Post(std::function<void()> task) override { task(); }
    void OpenFolder(const std::string&) override {}
    void OpenUrl(const std::string&) override {}
};

}  // namespace lumora
