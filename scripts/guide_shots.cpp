// Takes the guide's screenshots: the desktop program as a user sees it,
// receiving from the instrument simulator, and (with --tools) its views and
// tool windows. Run it on a display of the size wanted, e.g.
//   xvfb-run -a -s "-screen 0 1920x1080x24" guide_shots OUTDIR --lang zh --tools --maximized
// (scripts/guide-shots.sh takes the whole set). Files are named
// PREFIX-<what>-<lang>.png, PREFIX being the screen size by default.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/lumora_dlg.h"
#include "main_window.h"
#include "platform/udp_socket.h"
#include "sensor_list_widget.h"
#include "settings/settings_store.h"
#include "tools/command_editor_window.h"
#include "tools/publishing_tools.h"
#include "tools/sensor_tools.h"
#include "tools/tool_windows.h"
#include "views/chart_views.h"
#include "window/control_ids.h"

using namespace lumora;

namespace {

void Wait(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

int FreePort() {
    for (int p = 7300; p < 7900; ++p) {
        UdpSocket probe;
        if (probe.Create() && probe.Bind(static_cast<uint16_t>(p))) return p;
    }
    return 0;
}

struct Shooter {
    QString out;
    QString prefix;
    QString lang;

    QString File(const QString& what) const {
        return QDir(out).filePath(QStringLiteral("%1-%2-%3.png").arg(prefix, what, lang));
    }
    void Screen(const QString& what) const {
        QApplication::primaryScreen()->grabWindow(0).save(File(what));
        std::printf("%s\n", qPrintable(File(what)));
    }
    void Widget(QWidget* w, const QString& what) const {
        if (!w) return;
        w->grab().save(File(what));
        std::printf("%s\n", qPrintable(File(what)));
    }
    // Triggers something that opens a window (modal or not): the window is
    // taken once it is up, then closed (accepted when accept is set).
    void Opened(const std::function<void()>& open, const QString& what, bool accept = false) const {
        QList<QWidget*> before;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) before << w;
        QTimer::singleShot(1500, [this, what, accept, before] {
            QWidget* shown = QApplication::activeModalWidget();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (!shown && w->isVisible() && !before.contains(w) && !qobject_cast<QMenu*>(w)) shown = w;
            Widget(shown, what);
            if (auto* box = qobject_cast<QMessageBox*>(shown); box && accept) {
                QAbstractButton* yes = box->button(QMessageBox::Yes);
                (yes ? yes : box->button(QMessageBox::Ok))->click();
            } else if (auto* d = qobject_cast<QDialog*>(shown)) {
                accept ? d->accept() : d->reject();
            } else if (shown) {
                shown->close();
            }
        });
        open();
        Wait(2000);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: guide_shots OUTDIR [--lang en|zh] [--prefix NAME] [--maximized] [--tools]\n");
        return 2;
    }
    Shooter shoot;
    shoot.out = QDir(args[1]).absolutePath();
    QDir().mkpath(shoot.out);
    shoot.lang = args.contains("--lang") ? args.value(args.indexOf("--lang") + 1) : QStringLiteral("en");
    const QSize screen = QApplication::primaryScreen()->size();
    shoot.prefix = args.contains("--prefix") ? args.value(args.indexOf("--prefix") + 1)
                                             : QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height());

    // With --sensors FILE the program starts with that sensor table, and
    // only the pictures of the table are taken.
    const QString sensors = args.contains("--sensors") ? args.value(args.indexOf("--sensors") + 1) : QString();
    QTemporaryDir work;
    QDir().mkpath(work.filePath("data"));
    if (!sensors.isEmpty() && !QFile::copy(sensors, work.filePath("sensors.csv"))) {
        std::fprintf(stderr, "guide_shots: cannot read %s\n", qPrintable(sensors));
        return 1;
    }
    QDir::setCurrent(work.path());
    const int port = FreePort();
    {
        SettingsStore ini;
        ini.SetString("View", "Language", shoot.lang == "zh" ? "1" : "0");
        ini.SetString("Net", "Port", std::to_string(port));
        ini.SetString("Net", "AutoOpen", "1");
        ini.SetString("DataSave", "Enable", "1");
        // a relative folder, so that no path of the machine shows in the pictures
        ini.SetString("DataSave", "Dir", "data");
    }
    auto simulate = [&](QStringList more) {
        auto* p = new QProcess(&app);
        p->start(QStringLiteral(LUMORA_CLI_PATH),
                 QStringList{"simulate", "--port", QString::number(port), "--quiet"} + more);
        return p;
    };
    QProcess* wavelengths = simulate({"--rate", "50", "--channels", "8", "--peaks", "4", "--announce"});

    CLumoraDlg::ApplyLanguage(SettingsStore());
    auto window = std::make_unique<MainWindow>();
    ToolWindows tools(*window);
    ChartViews charts(*window);
    PublishingTools publishing(*window);
    SensorTools sensorTools(*window);
    if (args.contains("--maximized")) {
        // a display without a window manager does not maximise by itself
        window->setGeometry(QApplication::primaryScreen()->availableGeometry());
        window->showMaximized();
    } else {
        window->show();
    }
    window->Initialise();
    // DAQ FRQ counts over 10 s: the first picture waits for its first figure
    Wait(11000);
    if (!sensors.isEmpty()) {
        // the table's columns come after the usual ones
        QScrollBar* sideways = window->SensorListView()->horizontalScrollBar();
        sideways->setValue(sideways->maximum());
        Wait(500);
        shoot.Widget(window.get(), "sensorlist");
        shoot.Opened([&] { window->Action(ID_SETTING_SENSORS)->trigger(); }, "sensors");
    } else {
        shoot.Screen("main");
    }

    if (args.contains("--tools") && sensors.isEmpty()) {
        // the trace of eight sensors
        QAbstractItemModel* rows = window->SensorListView()->model();
        for (int r = 0; r < 8; ++r) rows->setData(rows->index(r, 0), Qt::Checked, Qt::CheckStateRole);
        qobject_cast<QCheckBox*>(window->Control(IDC_TRACE_DISP))->click();
        window->ViewTabs()->setCurrentIndex(kViewTabTrace);
        Wait(2500);
        shoot.Widget(window.get(), "trace");
        // the realtime strip of sensor 3
        qobject_cast<QSpinBox*>(window->Control(IDC_REALTIME_ID))->setValue(3);
        qobject_cast<QCheckBox*>(window->Control(IDC_REALTIME_DISP))->click();
        Wait(2500);
        shoot.Widget(window.get(), "realtime");
        // spectra of two channels
        QProcess* spectra1 = simulate({"--mode", "spectrum", "--rate", "5", "--spectrum-channel", "0"});
        QProcess* spectra2 = simulate({"--mode", "spectrum", "--rate", "5", "--spectrum-channel", "2",
                                       "--spectrum-length", "1500"});
        Wait(3000);
        window->ViewTabs()->setCurrentIndex(kViewTabSpectrum);
        Wait(500);
        shoot.Widget(window.get(), "spectrum");
        for (QProcess* p : {spectra1, spectra2}) {
            p->kill();
            p->waitForFinished(3000);
        }
        // the devices announcing themselves
        window->Action(ID_TOOLS_ACTIVE_SA)->trigger();
        Wait(3000);
        shoot.Widget(window.get(), "activesa");

        window->Action(ID_TOOLS_DEBUG)->trigger();
        if (CommandEditorWindow* editor = tools.CommandEditor()) {
            editor->Button(CommandEditorWindow::kStandard)->click();
            Wait(500);
            shoot.Widget(editor, "commands");
            editor->hide();
        }
        shoot.Opened([&] { window->Action(ID_SETTING_CONVERT_NORMAL)->trigger(); }, "convertsettings");
        shoot.Opened([&] { window->Action(ID_TOOLS_HIGHSPEED_DAQ)->trigger(); }, "highspeeddaq");
        shoot.Opened([&] { window->Action(ID_TOOLS_HIGHSPEED_CONVERT)->trigger(); }, "highspeedconvert");
        shoot.Opened([&] { window->Action(ID_SETTING_MQTT)->trigger(); }, "mqtt");
        shoot.Opened([&] { window->Action(ID_HELP_HANDBOOK)->trigger(); }, "handbook");
        // a conversion of what was recorded meanwhile: the question, then
        // the conversion window with its report
        qobject_cast<QCheckBox*>(window->Control(IDC_ENABLE))->click();
        Wait(1200);
        // Every question is taken and answered: OK to go on, No to keep
        // the settings; then the report.
        int asked = 0;
        QTimer answer;
        answer.setInterval(1500);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            shoot.Widget(box, QStringLiteral("convert%1").arg(++asked));
            QAbstractButton* no = box->button(QMessageBox::No);
            (no ? no : box->button(QMessageBox::Ok))->click();
        });
        answer.start();
        window->Action(ID_TOOLS_DATA_CONVERT)->trigger();
        Wait(12000);
        answer.stop();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != window.get() && w->isVisible()) shoot.Widget(w, "convertdone");
    }
    wavelengths->kill();
    wavelengths->waitForFinished(3000);
    window->EndProgram();
    return 0;
}
