#pragma once
// The desktop's sensor table: Setting > "Sensors..." with its table editor,
// and the count of active alarms on the menu bar (left of the MQTT dot),
// whose tooltip lists them. Both stay out of sight until a table is loaded
// or the editor is opened.
#include <QDialog>
#include <QObject>
#include <QPointer>

#include "sensors/sensor_table.h"
#include "window/string_table.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace lumora {

class CLumoraDlg;
class MainWindow;

// The table editor: the file's path, the rows with every column of the file
// (unknown ones included), add, remove, import and export CSV, presets that
// fill c0 and c1 from physical parameters, Zero from the latest frame. Save
// validates as "lumora-cli sensors check" does, writes the file atomically
// and puts the table to use.
class SensorsDialog : public QDialog {
    Q_OBJECT
public:
    SensorsDialog(CLumoraDlg& dlg, Language lang, QWidget* parent);

    // The grid as a table (not validated).
    SensorTable GridTable() const;
    void ShowTable(const SensorTable& table);
    QString Path() const;
    void SetPath(const QString& path);

    // The actions of the buttons (tests call them; questions and messages go
    // through the dialog's own boxes, which tests can answer).
    bool Save();
    void AddRow();
    void RemoveSelectedRows();
    bool Import(const QString& file);
    bool Export(const QString& file);
    // Fills c0 and c1 (and an empty unit) of the selected rows from the
    // preset chosen and its parameters.
    bool ApplyPreset();
    bool Zero();

    // Tests answer the dialog's questions (true: yes) and see its messages.
    std::function<bool(const QString&)> confirmOverride;
    std::function<void(const QString&)> messageOverride;

private:
    bool Confirm(const QString& text);
    void Message(const QString& text);
    bool ValidGrid(SensorTable& table);
    void PresetChanged();
    int Column(const char* name);

    CLumoraDlg& dlg_;
    Language lang_;
    QLineEdit* path_ = nullptr;
    QTableWidget* grid_ = nullptr;
    QComboBox* preset_ = nullptr;
    QLabel* paramALabel_ = nullptr;
    QLabel* paramBLabel_ = nullptr;
    QLineEdit* paramA_ = nullptr;
    QLineEdit* paramB_ = nullptr;
    QLabel* status_ = nullptr;
};

class SensorTools : public QObject {
    Q_OBJECT
public:
    explicit SensorTools(MainWindow& window);
    ~SensorTools() override;

    void OnSensors();
    QLabel* Indicator() const { return indicator_; }
    SensorsDialog* Dialog() const { return dialog_.data(); }
    // The alarm count and its tooltip, from the engine's active alarms.
    void RefreshIndicator();

private:
    MainWindow& window_;
    Language lang_;
    QLabel* indicator_ = nullptr;
    QPointer<SensorsDialog> dialog_;
};

}  // namespace lumora
