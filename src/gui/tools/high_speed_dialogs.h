#pragma once
// "High speed DAQ" and "HighSpeed Convert": the modeless launcher forms of the
// two high-speed scripts. Every box stores its value the moment it changes;
// OK starts the script with the argument line and closes the form; Cancel
// closes it and keeps what was typed. Each menu command opens a new form, and
// a form deletes itself when closed.
#include <QDialog>
#include <functional>
#include <string>

#include "window/string_table.h"
#include "device/high_speed.h"

class QLineEdit;

namespace lumora {

class SettingsStore;

// How a form starts its script (tests replace it): script name and argument line.
using ScriptStarter = std::function<void(const std::string& script, const std::string& argumentLine)>;
// Starts the script from the current directory with /bin/sh, not waiting.
ScriptStarter DefaultScriptStarter();

class HighSpeedDaqDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPort = 1037, kCount = 1038, kSecond = 1039, kInterval = 1040, kFileName = 1041;

    HighSpeedDaqDialog(SettingsStore& settings, HighSpeedDaqSettings& daq, HighSpeedConvertSettings& convert,
                       ScriptStarter start, Language lang, QWidget* parent = nullptr);

    HighSpeedDaqForm& Form() { return form_; }
    QLineEdit* Box(int id) const;

public slots:
    void accept() override;  // OK

private:
    HighSpeedDaqForm form_;
    ScriptStarter start_;
};

class HighSpeedConvertDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWavelengthOffset = 1061, kChannelOffset = 1062, kFileName = 1063;

    HighSpeedConvertDialog(SettingsStore& settings, HighSpeedDaqSettings& daq, HighSpeedConvertSettings& convert,
                           ScriptStarter start, Language lang, QWidget* parent = nullptr);

    HighSpeedConvertForm& Form() { return form_; }
    QLineEdit* Box(int id) const;

public slots:
    void accept() override;

private:
    HighSpeedConvertForm form_;
    ScriptStarter start_;
};

}  // namespace lumora
