#pragma once
// The desktop's publishing and playback: Setting > MQTT... with its dialog,
// the connection indicator at the right end of the menu bar, and Tools >
// Play recording... with its small player window.
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <memory>

#include "conversion/recording_player.h"
#include "window/string_table.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QProgressBar;
class QDoubleSpinBox;
class QTimer;

namespace lumora {

class CLumoraDlg;
class MainWindow;

// Setting > MQTT...: every field writes its [MQTT] key as it changes; Enable
// starts or stops publishing at once, Apply restarts with the new values.
class MqttDialog : public QDialog {
    Q_OBJECT
public:
    MqttDialog(CLumoraDlg& dlg, Language lang, QWidget* parent);
    // The connection state and the counts, from the publisher.
    void Refresh();

private:
    CLumoraDlg& dlg_;
    Language lang_;
    QCheckBox* enable_ = nullptr;
    QLabel* note_ = nullptr;       // why the last key pressed in Topic or Client ID was not taken
    QLabel* cleartext_ = nullptr;  // the password would travel without TLS
    QLabel* state_ = nullptr;
    QLabel* counts_ = nullptr;
};

// The player of Tools > Play recording...: progress, pause and resume,
// speed and stop. Closing it stops playing.
class ReplayWindow : public QDialog {
    Q_OBJECT
public:
    ReplayWindow(RecordingPlayer& player, const QString& files, Language lang, QWidget* parent);
    void Refresh();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    RecordingPlayer& player_;
    Language lang_;
    QProgressBar* progress_ = nullptr;
    QLabel* sent_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* stop_ = nullptr;
    QDoubleSpinBox* speed_ = nullptr;
};

class PublishingTools : public QObject {
    Q_OBJECT
public:
    explicit PublishingTools(MainWindow& window);
    ~PublishingTools() override;

    void OnMqttSettings();
    // files empty: asks for them.
    void OnPlayRecording(QStringList files = {});

    QLabel* Indicator() const { return indicator_; }
    MqttDialog* Dialog() const { return dialog_.data(); }
    ReplayWindow* Player() const { return replayWindow_.data(); }

private:
    void Refresh();

    MainWindow& window_;
    Language lang_;
    QLabel* indicator_ = nullptr;
    QTimer* timer_ = nullptr;
    QPointer<MqttDialog> dialog_;
    QPointer<ReplayWindow> replayWindow_;
    RecordingPlayer player_;
};

}  // namespace lumora
