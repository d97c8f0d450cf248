#include "tools/publishing_tools.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValidator>

#include "app/lumora_dlg.h"
#include "control_tips.h"
#include "main_window.h"
#include "publishing/mqtt_settings.h"
#include "tools/tool_text.h"
#include "window/control_ids.h"

namespace lumora {

using tools::Caption;
using tools::Q;
using tools::S;

namespace {

constexpr int kRefreshMs = 250;
constexpr char kSection[] = "MQTT";

const Caption kMqttTitle{"MQTT publishing", "MQTT 发布"};
const Caption kEnable{"Publish decoded frames", "发布解码后的数据帧"};
const Caption kHost{"Host", "服务器"};
const Caption kPort{"Port", "端口"};
const Caption kTopic{"Topic", "主题"};
const Caption kClientId{"Client ID", "客户端 ID"};
const Caption kBatch{"Batch (ms)", "批量间隔 (ms)"};
const Caption kQos{"QoS", "QoS"};
const Caption kUser{"User", "用户名"};
const Caption kPassword{"Password", "密码"};
const Caption kCaFile{"CA file (TLS)", "CA 证书 (TLS)"};
const Caption kApply{"Apply", "应用"};
const Caption kClose{"Close", "关闭"};
const Caption kPublished{"Frames published: %1    dropped: %2", "已发布帧: %1    丢弃帧: %2"};
const Caption kStates[] = {{"off", "关闭"}, {"connecting", "连接中"}, {"connected", "已连接"}, {"failed", "失败"}};
const Caption kStateLine{"State: %1", "状态: %1"};
const Caption kNotTaken{"Not taken: %1.", "未接受: %1。"};
const Caption kCleartext{"The password travels without encryption: give a CA file to use TLS.",
                         "密码将不加密传输: 指定 CA 证书即可使用 TLS。"};

const Caption kPlayTitle{"Play recording", "回放记录"};
const Caption kChoose{"Play recording", "选择要回放的记录"};
const Caption kFilter{"Recordings (*.dat);;All files (*)", "记录文件 (*.dat);;所有文件 (*)"};
const Caption kPause{"Pause", "暂停"};
const Caption kResume{"Resume", "继续"};
const Caption kStop{"Stop", "停止"};
const Caption kSpeed{"Speed", "速度"};
const Caption kSent{"Frames sent: %1", "已发送帧: %1"};
const Caption kFinished{"Finished: %1 frames sent", "回放结束: 已发送 %1 帧"};
const Caption kCannotPlay{"Cannot play the recording:\n%1", "无法回放记录:\n%1"};
const Caption kChecking{"Checking the recordings...", "正在检查记录..."};

QString StateText(MqttState state, Language lang) { return kStates[static_cast<int>(state)].In(lang); }

QColor StateColour(MqttState state) {
    switch (state) {
        case MqttState::Connected: return QColor(0x2e, 0x9d, 0x3a);
        case MqttState::Connecting: return QColor(0xd4, 0x8a, 0x00);
        case MqttState::Failed: return QColor(0xc6, 0x28, 0x28);
        case MqttState::Off: break;
    }
    return QColor(0x90, 0x90, 0x90);
}

// Refuses a topic or client id that cannot be published with, keeping the
// reason for the dialog to show.
class MqttNameValidator : public QValidator {
public:
    MqttNameValidator(const char* what, QObject* parent) : QValidator(parent), what_(what) {}
    State validate(QString& input, int&) const override {
        return CheckMqttName(S(input), what_, reason_) ? Acceptable : Invalid;
    }
    const std::string& Reason() const { return reason_; }

private:
    const char* what_;
    mutable std::string reason_;
};

}  // namespace

// ---------------------------------------------------------------- MqttDialog

MqttDialog::MqttDialog(CLumoraDlg& dlg, Language lang, QWidget* parent) : QDialog(parent), dlg_(dlg), lang_(lang) {
    setObjectName("mqttDialog");
    setWindowTitle(kMqttTitle.In(lang));
    SettingsStore& store = dlg.Settings();
    const MqttSettings s = LoadMqttSettings(store);

    auto* layout = new QVBoxLayout(this);
    enable_ = new QCheckBox(kEnable.In(lang), this);
    enable_->setObjectName("mqttEnable");
    enable_->setChecked(s.enable);
    connect(enable_, &QCheckBox::toggled, this, [this](bool on) {
        dlg_.Settings().SetString(kSection, "Enable", on ? "1" : "0");
        dlg_.ApplyMqttSettings();
        Refresh();
    });
    layout->addWidget(enable_);

    note_ = new QLabel(this);
    note_->setObjectName("mqttNote");
    note_->setWordWrap(true);
    note_->hide();
    auto* form = new QFormLayout;
    auto addEdit = [&](const Caption& label, const char* key, const std::string& value, bool digits = false,
                       bool secret = false, const char* name = nullptr) {
        auto* e = new QLineEdit(Q(value), this);
        e->setObjectName(QStringLiteral("mqtt%1").arg(QString::fromLatin1(key)));
        if (digits) e->setValidator(new QIntValidator(0, 99999, e));
        if (secret) e->setEchoMode(QLineEdit::Password);
        if (name) {
            auto* v = new MqttNameValidator(name, e);
            e->setValidator(v);
            connect(e, &QLineEdit::inputRejected, this, [this, v] {
                note_->setText(kNotTaken.In(lang_).arg(Q(v->Reason())));
                note_->show();
            });
        }
        connect(e, &QLineEdit::textChanged, this,
                [this, key](const QString& text) { dlg_.Settings().SetString(kSection, key, S(text)); });
        form->addRow(label.In(lang_), e);
        return e;
    };
    addEdit(kHost, "Host", s.host);
    addEdit(kPort, "Port", std::to_string(s.port), true);
    addEdit(kTopic, "Topic", s.topic, false, false, "the topic");
    addEdit(kClientId, "ClientId", s.clientId, false, false, "the client id");
    addEdit(kBatch, "BatchMs", std::to_string(s.batchMs), true);
    auto* qos = new QComboBox(this);
    qos->setObjectName("mqttQoS");
    qos->addItems({"0", "1", "2"});
    qos->setCurrentIndex(s.qos);
    connect(qos, &QComboBox::currentIndexChanged, this,
            [this](int index) { dlg_.Settings().SetString(kSection, "QoS", std::to_string(index)); });
    form->addRow(kQos.In(lang), qos);
    addEdit(kUser, "User", s.user);
    QLineEdit* password = addEdit(kPassword, "Password", s.password, false, true);
    // The CA file's edit with a browse button beside it.
    auto* ca = new QLineEdit(Q(s.caFile), this);
    ca->setObjectName("mqttCAFile");
    connect(ca, &QLineEdit::textChanged, this,
            [this](const QString& text) { dlg_.Settings().SetString(kSection, "CAFile", S(text)); });
    // Said once, under the form, while a password would go without TLS.
    cleartext_ = new QLabel(kCleartext.In(lang), this);
    cleartext_->setObjectName("mqttCleartext");
    cleartext_->setWordWrap(true);
    auto showCleartext = [this, password, ca] {
        cleartext_->setVisible(!password->text().isEmpty() && ca->text().isEmpty());
    };
    connect(password, &QLineEdit::textChanged, this, showCleartext);
    connect(ca, &QLineEdit::textChanged, this, showCleartext);
    showCleartext();
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    browse->setObjectName("mqttBrowseCA");
    browse->setMaximumWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    connect(browse, &QPushButton::clicked, this, [this, ca] {
        const QString f = QFileDialog::getOpenFileName(this, kCaFile.In(lang_), ca->text());
        if (!f.isEmpty()) ca->setText(f);
    });
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(ca, 1);
    caRow->addWidget(browse);
    form->addRow(kCaFile.In(lang), caRow);
    layout->addLayout(form);
    layout->addWidget(note_);
    layout->addWidget(cleartext_);

    state_ = new QLabel(this);
    state_->setObjectName("mqttState");
    state_->setWordWrap(true);
    counts_ = new QLabel(this);
    counts_->setObjectName("mqttCounts");
    layout->addWidget(state_);
    layout->addWidget(counts_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* apply = new QPushButton(kApply.In(lang), this);
    apply->setObjectName("mqttApply");
    connect(apply, &QPushButton::clicked, this, [this] {
        dlg_.ApplyMqttSettings();
        Refresh();
    });
    auto* close = new QPushButton(kClose.In(lang), this);
    close->setObjectName("mqttClose");
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    buttons->addWidget(apply);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    ApplyToolTips(this, lang);
    Refresh();
}

void MqttDialog::Refresh() {
    MqttPublisher& p = dlg_.Publisher();
    const MqttState state = p.State();
    QString line = kStateLine.In(lang_).arg(StateText(state, lang_));
    const std::string message = p.LastMessage();
    if (state != MqttState::Off && !message.empty()) line += QStringLiteral(" — ") + Q(message);
    state_->setText(line);
    counts_->setText(kPublished.In(lang_).arg(p.Published()).arg(p.Dropped()));
}

// ---------------------------------------------------------------- ReplayWindow

ReplayWindow::ReplayWindow(RecordingPlayer& player, const QString& files, Language lang, QWidget* parent)
    : QDialog(parent), player_(player), lang_(lang) {
    setObjectName("replayWindow");
    setWindowTitle(kPlayTitle.In(lang));
    auto* layout = new QVBoxLayout(this);
    auto* file = new QLabel(files, this);
    file->setObjectName("replayFiles");
    layout->addWidget(file);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("replayProgress");
    progress_->setRange(0, 1000);
    layout->addWidget(progress_);
    sent_ = new QLabel(this);
    sent_->setObjectName("replaySent");
    layout->addWidget(sent_);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(kSpeed.In(lang), this));
    speed_ = new QDoubleSpinBox(this);
    speed_->setObjectName("replaySpeed");
    speed_->setRange(RecordingPlayer::kSlowest, RecordingPlayer::kFastest);
    speed_->setDecimals(1);
    speed_->setSingleStep(0.5);
    speed_->setSuffix(QStringLiteral(" x"));
    speed_->setValue(player.Speed());
    connect(speed_, &QDoubleSpinBox::valueChanged, this, [this](double v) { player_.SetSpeed(v); });
    row->addWidget(speed_);
    row->addStretch(1);
    pause_ = new QPushButton(kPause.In(lang), this);
    pause_->setObjectName("replayPause");
    connect(pause_, &QPushButton::clicked, this, [this] {
        player_.SetPaused(!player_.Paused());
        Refresh();
    });
    stop_ = new QPushButton(kStop.In(lang), this);
    stop_->setObjectName("replayStop");
    connect(stop_, &QPushButton::clicked, this, [this] {
        player_.Stop();
        Refresh();
    });
    row->addWidget(pause_);
    row->addWidget(stop_);
    layout->addLayout(row);
    setMinimumWidth(fontMetrics().averageCharWidth() * 55);
    ApplyToolTips(this, lang);
    Refresh();
}

void ReplayWindow::Refresh() {
    progress_->setValue(static_cast<int>(player_.Progress() * 1000));
    const bool playing = player_.Playing();
    QString text = player_.Checking() ? kChecking.In(lang_) : (playing ? kSent : kFinished).In(lang_).arg(player_.Sent());
    // A file that is no recording, changed while it played or a frame that
    // could not be sent ended the replay early.
    const std::string error = player_.Error();
    if (!playing && !error.empty()) text += QStringLiteral("\n") + kCannotPlay.In(lang_).arg(Q(error));
    sent_->setText(text);
    pause_->setText((player_.Paused() ? kResume : kPause).In(lang_));
    pause_->setEnabled(playing);
    stop_->setEnabled(playing);
}

void ReplayWindow::closeEvent(QCloseEvent* event) {
    player_.Stop();
    QDialog::closeEvent(event);
}

// ---------------------------------------------------------------- PublishingTools

PublishingTools::PublishingTools(MainWindow& window) : window_(window), lang_(UiLanguage()) {
    indicator_ = new QLabel(&window);
    indicator_->setObjectName("mqttIndicator");
    indicator_->setContentsMargins(4, 0, 6, 0);
    window.SetMenuCornerWidget(indicator_);

    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &PublishingTools::Refresh);
    timer_->start();

    window.SetCommandHandler(ID_SETTING_MQTT, [this] { OnMqttSettings(); });
    window.SetCommandHandler(ID_TOOLS_PLAY_RECORDING, [this] { OnPlayRecording(); });
    Refresh();
}

PublishingTools::~PublishingTools() {
    window_.SetCommandHandler(ID_SETTING_MQTT, nullptr);
    window_.SetCommandHandler(ID_TOOLS_PLAY_RECORDING, nullptr);
    player_.Stop();
    delete dialog_.data();
    delete replayWindow_.data();
}

void PublishingTools::OnMqttSettings() {
    if (!dialog_) {
        dialog_ = new MqttDialog(window_.Dlg(), lang_, &window_);
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void PublishingTools::OnPlayRecording(QStringList files) {
    if (files.isEmpty())
        files = QFileDialog::getOpenFileNames(&window_, kChoose.In(lang_), QString(), kFilter.In(lang_));
    if (files.isEmpty()) return;
    CLumoraDlg& dlg = window_.Dlg();
    // The recording goes into the program's own data port, opened for it.
    if (!dlg.PortOpen()) dlg.OnOpenClose();
    if (!dlg.PortOpen()) return;  // the reason has been shown
    std::vector<std::string> paths;
    for (const QString& f : files) paths.push_back(S(f));
    ReplayOptions options;
    options.to = "127.0.0.1";
    options.port = dlg.Session().BoundPort();
    std::string error;
    if (!player_.Start(paths, options, error)) {
        QMessageBox::warning(&window_, kPlayTitle.In(lang_), kCannotPlay.In(lang_).arg(Q(error)));
        return;
    }
    QStringList names;
    for (const QString& f : files) names << QFileInfo(f).fileName();
    delete replayWindow_.data();
    replayWindow_ = new ReplayWindow(player_, names.join(QStringLiteral(", ")), lang_, &window_);
    replayWindow_->setAttribute(Qt::WA_DeleteOnClose);
    replayWindow_->show();
}

void PublishingTools::Refresh() {
    MqttPublisher& p = window_.Dlg().Publisher();
    const MqttState state = p.State();
    indicator_->setText(QStringLiteral("<span style=\"color:%1\">&#9679;</span> MQTT").arg(StateColour(state).name()));
    indicator_->setToolTip(QStringLiteral("MQTT: %1\n%2\n%3")
                               .arg(StateText(state, lang_), Q(p.LastMessage()),
                                    kPublished.In(lang_).arg(p.Published()).arg(p.Dropped())));
    if (dialog_) dialog_->Refresh();
    if (replayWindow_) replayWindow_->Refresh();
}

}  // namespace lumora
