#pragma once
// A WindowPort for tests: remembers texts, checks and message boxes, and runs
// posted tasks at once on the posting thread (one at a time).
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "window/window_port.h"

namespace lumora::test {

class TestWindowPort : public WindowPort {
public:
    void SetText(int id, const std::string& text) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        texts_[id] = text;
        history_[id].push_back(text);
    }
    std::string GetText(int id) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return texts_[id];
    }
    void SetCheck(int id, bool on) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        checks_[id] = on;
    }
    bool GetCheck(int id) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return checks_[id];
    }
    void EnableControl(int, bool) override {}
    void SetProgress(int id, int upper, int pos) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        progress_[id] = {upper, pos};
    }
    int MessageBox(const std::string& text, const std::string&, int, int) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        messages_.push_back(text);
        return kIdOk;
    }
    void SetActiveTab(int) override {}
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    void Post(std::function<void()> task) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        ++posts_;
        task();
    }
    void OpenFolder(const std::string&) override {}
    void OpenUrl(const std::string&) override {}

    std::string Text(int id) { return GetText(id); }
    std::vector<std::string> History(int id) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return history_[id];
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return messages_;
    }
    std::pair<int, int> Progress(int id) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return progress_[id];
    }
    int Posts() {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return posts_;
    }

private:
    std::recursive_mutex mutex_;
    std::map<int, std::string> texts_;
    std::map<int, std::vector<std::string>> history_;
    std::map<int, bool> checks_;
    std::map<int, std::pair<int, int>> progress_;
    std::vector<std::string> messages_;
    int posts_ = 0;
};

// A fresh directory under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "lumora-test-XXXXXX").string();
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        if (::mkdtemp(name.data())) path_ = name.data();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The ".dat" files of dir, oldest name first ("x.dat" before "x_2.dat").
inline std::vector<std::string> DatFiles(const std::string& dir) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() == ".dat") files.push_back(e.path().string());
    }
    auto key = [](const std::string& p) {
        std::string stem = std::filesystem::path(p).stem().string();
        size_t us = stem.rfind('_');
        int variant = 1;
        // "prefix-YYYYmmdd_HHMMSS_N": a third part after the time is the variant.
        if (us != std::string::npos && stem.size() - us <= 6 && stem.find('_') != us) variant = std::atoi(stem.c_str() + us + 1);
        std::string base = variant > 1 ? stem.substr(0, us) : stem;
        return std::make_pair(base, variant);
    };
    std::sort(files.begin(), files.end(), [&](const std::string& a, const std::string& b) { return key(a) < key(b); });
    return files;
}

}  // namespace lumora::test
