#pragma once
// What the reader and the writers share while a run converts: the settings in
// force, the window's "Inner sensor" state, the progress fields the status
// refresh reads, and the state of the output file being written.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "conversion/convert_settings.h"
#include "settings/settings_store.h"

namespace lumora {

// Plain counters written by the conversion thread and read by the status
// refresh on the UI thread without a lock.
struct ConvertProgress {
    // Files of the run.
    std::atomic<int> m_convRunning{0};
    std::atomic<int> m_convFilesLow{0};
    std::atomic<int> m_convFilesTotal{0};
    std::atomic<int> m_convFilesDone{0};
    std::atomic<int> m_convFilesTail{0};
    // Records of the current source.
    std::atomic<int> m_convFileBusy{0};
    std::atomic<int> m_convRecordsLow{0};
    std::atomic<int> m_convRecordsRange{0};
    std::atomic<int> m_convRecordsPos{0};
    std::atomic<int> m_convFileTail{0};
};

// The identity of one column group of an aligned header; two records give the
// same header text exactly when their lists of keys are equal.
struct HeaderKey {
    // Compared as bytes: three 32-bit fields, no padding.
    int32_t id;
    int32_t channel;
    int32_t serial;
    bool operator==(const HeaderKey&) const = default;
};
static_assert(sizeof(HeaderKey) == 12);

// Header of the output file now open (m_currentHeader). Empty means that the
// next record begins a new output file. For the aligned layout the sensor keys
// of the header are kept too, so that a record with the same sensors is
// recognised without building its header text.
class CurrentHeader {
public:
    bool Empty() const { return text_.empty(); }
    const std::string& Text() const { return text_; }
    void Clear() {
        text_.clear();
        keysValid_ = false;
    }
    void Set(const std::string& text) {
        text_ = text;
        keysValid_ = false;
    }
    void SetKeys(const std::vector<HeaderKey>& keys, unsigned layout) { SetKeys(keys.data(), keys.size(), layout); }
    void SetKeys(const HeaderKey* keys, size_t count, unsigned layout) {
        keys_.assign(keys, keys + count);
        keysLayout_ = layout;
        keysValid_ = true;
    }
    bool KeysMatch(const std::vector<HeaderKey>& keys, unsigned layout) const {
        return KeysMatch(keys.data(), keys.size(), layout);
    }
    bool KeysMatch(const HeaderKey* keys, size_t count, unsigned layout) const {
        return keysValid_ && !text_.empty() && layout == keysLayout_ && count == keys_.size() &&
               (count == 0 || std::memcmp(keys, keys_.data(), count * sizeof(HeaderKey)) == 0);
    }

private:
    std::string text_;
    std::vector<HeaderKey> keys_;
    unsigned keysLayout_ = 0;
    bool keysValid_ = false;
};

// Lines of a text source passed over because they were not valid records.
struct SkippedLines {
    static constexpr size_t kFirstKept = 5;
    int64_t count = 0;
    std::vector<int64_t> first;  // numbers (from 1) of the first kFirstKept
};

struct ConversionContext {
    explicit ConversionContext(std::string settingsPath = "./Lumora.ini") : store(std::move(settingsPath)) {}

    // The settings file the run reads and writes.
    SettingsStore store;
    // Question and dialog of the run's first source; without askChange the
    // question is answered No without asking.
    ConvertSettingsUi ui;

    // The values in force (m_dataConvertSetting). The UI thread may change them
    // through the menu's dialog while a run goes on; each source takes a copy
    // when it starts.
    ConvertSettings Settings() const {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        return settings_;
    }
    void SetSettings(const ConvertSettings& values) {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        settings_ = values;
    }

    // "Inner sensor" box: readings below 1523000 pm are written only while set.
    // The box sets it from the UI thread; every record reads it anew.
    std::atomic<bool> innerSensor{true};
    // 1 while the run's settings question is still to be asked.
    std::atomic<int> m_askConvertSettings{0};
    // Set to make a run end early (the owner is going away).
    std::atomic<bool> cancel{false};
    // A text line that is not a valid record is skipped instead of ending
    // its source. Set before a run.
    bool skipBadLines = false;
    // NeedMs for this run whatever the settings file says (lumora-cli
    // convert --ms); -1 when the file decides. Set before a run.
    int needMsOverride = -1;
    // What the source converted last skipped (conversion thread).
    SkippedLines skippedLines;
    // Why the source converted last failed; empty when it did not
    // (conversion thread).
    std::string failureReason;

    ConvertProgress progress;

    // Set when a receive worker starts (any thread): the next source begins
    // with no header and a fresh align-error count, as if the run were new.
    // It is taken at a source's start, never in the middle of one, where
    // clearing the header would create the open CSV file again, empty.
    std::atomic<bool> receiveStarted{false};

    // Used by the conversion thread only.
    CurrentHeader m_currentHeader;
    int m_alignErrorRun = 0;

private:
    mutable std::mutex settingsMutex_;
    ConvertSettings settings_;
};

// Asks the run's settings question once per run (when m_askConvertSettings is
// 1): reloads the values, shows them, runs the dialog on Yes, and saves them.
void ConfirmConvertSettings(ConversionContext& ctx);

}  // namespace lumora
