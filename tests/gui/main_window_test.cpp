// The main window on the offscreen platform: its controls and captions in
// both languages, the keys, the sensor list widget, and the whole program
// recording what a loopback sender sends.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>
#include <memory>

#include "about_dialog.h"
#include "handbook_window.h"
#include "acquisition/frame_encoder.h"
#include "window/captions.h"
#include "main_window.h"
#include "platform/udp_socket.h"
#include "recording_indicator.h"
#include "sensor_list_widget.h"
#include "views/chart_views.h"
#include "settings/settings_store.h"
#include "views/sensor_list.h"

using namespace lumora;

namespace {

// A main window over a settings file in a fresh folder.
struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
    std::vector<std::string> boxes;

    explicit Fixture(std::vector<std::pair<std::string, std::string>> settings = {}, bool initialise = true) {
        SettingsStore store(Ini());
        for (auto& [key, value] : settings) {
            auto dot = key.find('.');
            store.SetString(key.substr(0, dot), key.substr(dot + 1), value);
        }
        CLumoraDlg::ApplyLanguage(store);
        window = std::make_unique<MainWindow>(QString::fromStdString(Ini()));
        window->messageBoxOverride = [this](const std::string& text, const std::string&, int, int) {
            boxes.push_back(text);
            return static_cast<int>(kIdNo);
        };
        if (initialise) window->Initialise();
    }
    ~Fixture() {
        window.reset();
        SetUiLanguage(Language::English);
    }
    std::string Ini() const { return dir.filePath(QStringLiteral("Lumora.ini")).toStdString(); }
    template <typename T>
    T* Get(int id) {
        return window->findChild<T*>(QStringLiteral("ctl%1").arg(id));
    }
    std::string Read(const char* section, const char* key) {
        return SettingsStore(Ini()).GetString(section, key, "<none>");
    }
    void PushFrame(int count, int counter, int channelShift = 0) {
        FrameRing& ring = window->Dlg().Acquisition().Ring();
        FrameSlot& s = ring.Target();
        s.count = count;
        s.counter = counter;
        for (int k = 0; k < count; ++k) {
            s.readings[k] = SensorReading{k + 1, 7008000 + k + 1, 1 + k / 4 + channelShift, 1530000 + k * 50 + counter,
                                          counter * 1.0, 0, 0};
        }
        ring.Publish();
        window->Dlg().UpdateSensorList();
    }
};

void PublishTenReadings(FrameRing& ring, int counter) {
    FrameSlot& s = ring.Target();
    s.count = 10;
    s.counter = counter;
    for (int k = 0; k < 10; ++k) s.readings[k] = SensorReading{k + 1, 7008001 + k, 1, 1530000 + k, 0.0, 0, 0};
    ring.Publish();
}

// A free UDP port the four-character "RCV Port" box can hold.
int FreeSmallPort() {
    for (int p = 9200; p < 10000; ++p) {
        UdpSocket probe;
        if (probe.Create() && probe.Bind(static_cast<uint16_t>(p))) return p;
    }
    return 0;
}

// Whether some socket is bound to UDP port `port` (from the kernel's table).
// Bytes waiting in the receive queue of the socket bound to the UDP port, or
// -1 when no socket holds it.
long UdpReceiveQueue(int port) {
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly)) return -1;
    const QByteArray needle = QStringLiteral(":%1 ").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    for (const QByteArray& line : table.readAll().split('\n')) {
        QList<QByteArray> fields = line.simplified().split(' ');
        // sl local_address rem_address st tx_queue:rx_queue ...
        if (fields.size() > 4 && (fields[1] + ' ').endsWith(needle)) return fields[4].split(':').value(1).toLong(nullptr, 16);
    }
    return -1;
}

bool UdpPortInUse(int port) { return UdpReceiveQueue(port) >= 0; }

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void controlsAndCaptionsInBothLanguages_data() {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << 0;
        QTest::newRow("Chinese") << 1;
    }
    void controlsAndCaptionsInBothLanguages() {
        QFETCH(int, language);
        const Language lang = static_cast<Language>(language);
        Fixture f({{"View.Language", std::to_string(language)}});
        MainWindow& w = *f.window;

        const int buttonsAndChecks[] = {IDC_STRING_FORMAT, IDC_AUTO_OPEN,    IDC_WL_MODE,     IDC_OS_MODE,
                                        IDC_RESET_REF,     IDC_CLEAR_COUNTER, IDC_ENABLE,     IDC_LOCAL_TIME,
                                        IDC_SAVE_COUNTER,  IDC_INNER_SENSOR, IDC_UNMATCHED,   IDC_ALIGN,
                                        IDC_BROWSE_DIR,    IDC_RAW_DISP,     IDC_RAW_CLEAR,   IDC_LIST_DISP,
                                        IDC_SPECTRUM_DISP, IDC_SPECTRUM_RESET, IDC_TRACE_DISP, IDC_REALTIME_DISP,
                                        IDC_REALTIME_FULL};
        for (int id : buttonsAndChecks) {
            auto* b = f.Get<QAbstractButton>(id);
            QVERIFY2(b, qPrintable(QString::number(id)));
            QCOMPARE(b->text().toStdString(), ControlCaption(id, lang));
        }
        QCOMPARE(f.Get<QPushButton>(IDC_OPEN_CLOSE)->text().toStdString(), LoadString(212, lang));
        QCOMPARE(f.Get<QAbstractButton>(IDC_STRING_FORMAT)->text(),
                 lang == Language::Chinese ? QStringLiteral("字符格式     .") : QStringLiteral("STR Format  "));

        const int labelled[] = {IDC_PROTOCOL,    IDC_LOCAL_IP,   IDC_PORT,        IDC_CMD_PORT,     IDC_INTERVAL,
                                IDC_SN,          IDC_DEVICE_IP,  IDC_COUNTER,     IDC_TIME,         IDC_DAQ_FRQ,
                                IDC_RT_FRQ,      IDC_ERROR_NUMBER, IDC_LINE_NUMBER, IDC_SAVED_LINES, IDC_SAVE_FRQ,
                                IDC_FILE_NUMBER, IDC_FILE_NAME,  IDC_SAVE_DIR,    IDC_LIST_INR,     IDC_SPECTRUM_CNT,
                                IDC_TRACE_CNT,   IDC_REALTIME_LEN, IDC_REALTIME_ID};
        for (int id : labelled) {
            QVERIFY2(w.Control(id), qPrintable(QString::number(id)));
            auto* label = w.findChild<QLabel*>(QStringLiteral("lbl%1").arg(id));
            QVERIFY2(label, qPrintable(QString::number(id)));
            QCOMPARE(label->text().toStdString(), ControlLabel(id, lang));
        }
        QVERIFY(f.Get<QProgressBar>(IDC_PROGRESS_FILES));
        QVERIFY(f.Get<QProgressBar>(IDC_PROGRESS_RECORDS));
        QVERIFY(w.Control(IDC_RAW_TEXT));
        QCOMPARE(w.findChild<QGroupBox*>("grpDataInterface")->title().toStdString(),
                 GroupTitle(Group::DataInterface, lang));
        QCOMPARE(w.findChild<QGroupBox*>("grpRealtimeView")->title().toStdString(),
                 GroupTitle(Group::RealtimeView, lang));

        // Number edits: digits only; the data port at most four characters.
        auto* port = f.Get<QLineEdit>(IDC_PORT);
        port->clear();
        QTest::keyClicks(port, "7a0b09x9");
        QCOMPARE(port->text(), QStringLiteral("7009"));
        QCOMPARE(f.Read("Net", "Port"), std::string("7009"));
        auto* lines = f.Get<QLineEdit>(IDC_LINE_NUMBER);
        lines->selectAll();
        QTest::keyClicks(lines, "-12e5");
        QCOMPARE(lines->text(), QStringLiteral("125"));
        QCOMPARE(f.Read("DataSave", "LineNumber"), std::string("125"));
        QCOMPARE(w.Dlg().RecordsPerFile(), 125u);
        // File Name does not take what would lead the recordings out of their folder.
        auto* name = f.Get<QLineEdit>(IDC_FILE_NAME);
        name->clear();
        QTest::keyClicks(name, "a/b..c\\d");
        QCOMPARE(name->text(), QStringLiteral("ab.cd"));
        QCOMPARE(f.Read("DataSave", "FileName"), std::string("ab.cd"));

        // Tabs and menu.
        QTabWidget* tabs = w.ViewTabs();
        QCOMPARE(tabs->count(), 5);
        for (int t = 0; t < 5; ++t) {
            QCOMPARE(tabs->tabText(t).toStdString(), ViewTabCaption(t, lang));
            QCOMPARE(w.TabPage(t)->objectName(), QStringLiteral("viewTab%1").arg(t));
        }
        QCOMPARE(tabs->currentIndex(), 0);
        QVERIFY(w.Action(ID_SYSTEM_RESET));
        QCOMPARE(w.Action(ID_TOOLS_DEBUG)->text().toStdString(), MenuText(ID_TOOLS_DEBUG, lang));
        // Help > Handbook shows the guide of the interface's language.
        w.Action(ID_HELP_HANDBOOK)->trigger();
        auto* handbook = qobject_cast<HandbookWindow*>(w.Handbook());
        QVERIFY(handbook && handbook->isVisible());
        QCOMPARE(handbook->Browser()->source().fileName(),
                 lang == Language::Chinese ? QStringLiteral("guide.zh.md") : QStringLiteral("guide.md"));
        QVERIFY(handbook->Browser()->document()->toPlainText().startsWith(
            lang == Language::Chinese ? QString::fromUtf8("Lumora 使用指南") : QStringLiteral("Lumora guide")));
        // the screenshots are shrunk to the text's width: no sideways scrolling
        QTRY_COMPARE(handbook->Browser()->horizontalScrollBar()->maximum(), 0);
        handbook->close();
        // Every control, its label and every tab says in a line what it does.
        for (const auto& ids : {std::vector<int>(std::begin(buttonsAndChecks), std::end(buttonsAndChecks)),
                                std::vector<int>(std::begin(labelled), std::end(labelled))}) {
            for (int id : ids) {
                const QString tip = w.Control(id)->toolTip();
                QVERIFY2(!tip.isEmpty() && !tip.contains('\n'), qPrintable(QString::number(id)));
                if (auto* label = w.findChild<QLabel*>(QStringLiteral("lbl%1").arg(id))) QCOMPARE(label->toolTip(), tip);
            }
        }
        for (int t = 0; t < tabs->count(); ++t) QVERIFY(!tabs->tabToolTip(t).isEmpty());
        QVERIFY(!w.Action(ID_SETTING_CONVERT_HIGHSPEED)->isEnabled());
        QVERIFY(w.Action(ID_HELP_ABOUT)->isEnabled());
        // Only the other language is offered.
        QCOMPARE(w.Action(ID_LANGUAGE_CHINESE) != nullptr, lang == Language::English);
        QCOMPARE(w.Action(ID_LANGUAGE_ENGLISH) != nullptr, lang == Language::Chinese);
        QCOMPARE(w.windowTitle(), QStringLiteral("lumora Ver: 1.0.2.6"));
        QCOMPARE(w.findChild<QMenuBar*>("menuBar")->actions().size(), 6);
    }

    // The described layout is the window's default and least size where the
    // screen holds it; a smaller screen gets a window that fits and scrolls.
    // Room the window gains goes to the view tabs and the source-data box.
    // The program's tests run this on the default offscreen screen and on
    // screens of 1920 x 1080 and 1366 x 768 (tests/gui/CMakeLists.txt).
    void windowFitsTheScreenAndGrowsIntoTheViews_data() { controlsAndCaptionsInBothLanguages_data(); }
    void windowFitsTheScreenAndGrowsIntoTheViews() {
        QFETCH(int, language);
        Fixture f({{"View.Language", std::to_string(language)}});
        MainWindow& w = *f.window;
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(w.windowFlags() & Qt::WindowMaximizeButtonHint);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* scroll = w.findChild<QScrollArea*>("mainScroll");
        QWidget* contents = scroll->widget();
        const QRect area = w.screen()->availableGeometry();
        QVERIFY(w.width() <= area.width() && w.height() <= area.height());
        const QSize described = w.DescribedSize();
        if (w.minimumSize() == described) {
            // The screen holds the layout: nothing scrolls.
            QCOMPARE(w.size(), described);
            QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
            QCOMPARE(scroll->verticalScrollBar()->maximum(), 0);
        } else {
            QVERIFY(described.width() > area.width() || described.height() > area.height());
            for (QScrollBar* bar : {scroll->horizontalScrollBar(), scroll->verticalScrollBar()})
                bar->setValue(bar->maximum());
            const QPoint corner = contents->mapTo(scroll->viewport(), contents->rect().bottomRight());
            QVERIFY2(scroll->viewport()->rect().contains(corner), "the far corner comes into view");
            for (QScrollBar* bar : {scroll->horizontalScrollBar(), scroll->verticalScrollBar()}) bar->setValue(0);
        }

        // Growing: the controls on the left keep their width, the view tabs
        // take all of it, the tabs and the source-data box the height.
        const QSize before = w.size();
        auto* dataSave = w.findChild<QGroupBox*>("grpDataSave");
        auto* source = w.findChild<QGroupBox*>("grpSourceData");
        const QSize roomy = described + QSize(100, 100);
        w.resize(roomy);
        QTRY_COMPARE(scroll->verticalScrollBar()->maximum() + scroll->horizontalScrollBar()->maximum(), 0);
        const QSize tabs0 = w.ViewTabs()->size(), save0 = dataSave->size(), source0 = source->size();
        w.resize(roomy + QSize(400, 300));
        QTRY_COMPARE(w.ViewTabs()->size(), tabs0 + QSize(400, 300));
        QCOMPARE(dataSave->size(), save0);
        QCOMPARE(source->height(), source0.height() + 300);
        SensorListWidget* list = w.SensorListView();
        QVERIFY(list->horizontalHeader()->length() <= list->viewport()->width());
        QVERIFY(list->horizontalHeader()->length() >= list->viewport()->width() - 6);
        w.resize(before);

        // On a screen of 1366 x 768 and up, nothing is scrolled sideways and
        // every column of the list is in view; it is the Chinese layout with
        // the CJK font of the Chinese interface that is widest.
        if (area.width() < 1366 || area.height() < 768) return;
        QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
        const QPoint listRight = list->mapTo(scroll->viewport(), list->rect().topRight());
        QVERIFY(scroll->viewport()->rect().contains(listRight));
        QVERIFY(list->horizontalHeader()->length() <= list->viewport()->width());
        if (language == 1 && !QFontDatabase::families().contains(QStringLiteral("Noto Sans CJK SC")))
            QSKIP("the CJK font (fonts-noto-cjk) is not installed: the Chinese layout was measured with another font");
    }

    void aboutBoxLines() {
        AboutDialog en(Language::English);
        QCOMPARE(en.windowTitle(), QStringLiteral("About Lumora"));
        QCOMPARE(en.findChild<QLabel*>("aboutVersion")->text(), QStringLiteral("lumora Ver:1.0.2.6"));
        QVERIFY(en.findChild<QLabel*>("aboutCopyright")->text().endsWith(QStringLiteral(" Copyright")));
        AboutDialog zh(Language::Chinese);
        QCOMPARE(zh.windowTitle(), QStringLiteral("关于 Lumora"));
        QCOMPARE(zh.findChild<QPushButton*>("aboutOk")->text(), QStringLiteral("确定"));
    }

    // The installed guide goes before the build tree's, the window's language
    // before the folder order, and English stands in for a missing Chinese guide.
    void guideIsFoundInTheLanguageInstalledFirst() {
        QTemporaryDir tmp;
        const QDir top(tmp.path());
        for (const char* file : {"installed/guide.md", "installed/guide.zh.md", "source/guide.md",
                                 "source/guide.zh.md", "english/guide.md"}) {
            QVERIFY(top.mkpath(QFileInfo(top.filePath(file)).path()));
            QFile f(top.filePath(file));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QString installed = top.filePath("installed"), source = top.filePath("source");
        QCOMPARE(GuideIn({installed, source}, Language::Chinese), top.filePath("installed/guide.zh.md"));
        QCOMPARE(GuideIn({installed, source}, Language::English), top.filePath("installed/guide.md"));
        QCOMPARE(GuideIn({"", top.filePath("english"), source}, Language::Chinese), top.filePath("source/guide.zh.md"));
        QCOMPARE(GuideIn({"", top.filePath("english")}, Language::Chinese), top.filePath("english/guide.md"));
        QVERIFY(GuideIn({"", top.filePath("missing")}, Language::English).isEmpty());
    }

    void messageBoxesShowTheirTextAsPlainText() {
        Fixture f;
        f.window->messageBoxOverride = nullptr;
        QString shown;
        int format = -1;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            poll.stop();
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            shown = label ? label->text() : QString();
            format = label ? label->textFormat() : -1;
            box->button(QMessageBox::Ok)->click();
        });
        poll.start();
        QCOMPARE(f.window->MessageBox("cannot write /data/<b>run</b>.dat", "", kMbOk, 0), int(kIdOk));
        QCOMPARE(shown, QStringLiteral("cannot write /data/<b>run</b>.dat"));
        QCOMPARE(format, int(Qt::PlainText));
    }

    void keysOpenCloseAndEnd() {
        const int port = FreeSmallPort();
        QVERIFY(port > 0);
        Fixture f({{"Net.Port", std::to_string(port)}});
        MainWindow& w = *f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* dirEdit = f.Get<QLineEdit>(IDC_SAVE_DIR);
        dirEdit->setFocus();
        QTest::keyClick(dirEdit, Qt::Key_Return);
        QVERIFY(w.Dlg().PortOpen());
        QCOMPARE(f.Get<QPushButton>(IDC_OPEN_CLOSE)->text(), QStringLiteral("Close"));
        QVERIFY(w.TimerActive(kTimerSensorList));
        QTest::keyClick(&w, Qt::Key_Enter);
        QVERIFY(!w.Dlg().PortOpen());
        QCOMPARE(f.Get<QPushButton>(IDC_OPEN_CLOSE)->text(), QStringLiteral("Open"));
        QVERIFY(w.isVisible());  // Enter never ends the dialog

        // The folder chooser: Cancel changes nothing, a folder is stored.
        const std::string dirBefore = f.Read("DataSave", "Dir");
        w.folderChooserOverride = [](const std::string&, const std::string&) { return std::string(); };
        QTest::mouseClick(f.Get<QPushButton>(IDC_BROWSE_DIR), Qt::LeftButton);
        QCOMPARE(f.Read("DataSave", "Dir"), dirBefore);
        w.folderChooserOverride = [](const std::string&, const std::string&) { return std::string("/tmp/chosen"); };
        QTest::mouseClick(f.Get<QPushButton>(IDC_BROWSE_DIR), Qt::LeftButton);
        QCOMPARE(dirEdit->text(), QStringLiteral("/tmp/chosen"));
        QCOMPARE(f.Read("DataSave", "Dir"), std::string("/tmp/chosen"));

        // A check box writes on click; PROT on selection.
        QTest::mouseClick(f.Get<QCheckBox>(IDC_ENABLE), Qt::LeftButton);
        QCOMPARE(f.Read("DataSave", "Enable"), std::string("1"));
        f.Get<QComboBox>(IDC_PROTOCOL)->setCurrentIndex(1);
        QCOMPARE(f.Read("Net", "Protocol"), std::string("1"));

        // Escape ends the program.
        QSignalSpy ended(&w, &MainWindow::programEnded);
        QTest::keyClick(&w, Qt::Key_Escape);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
        QVERIFY(w.Dlg().StopReceive());
    }

    // "● REC" leads the menu bar's indicators while recording is enabled and
    // the port is open; amber, with the space left, when the recording
    // folder's file system runs short. It follows the status refresh.
    void recordingIndicator() {
        const int port = FreeSmallPort();
        QVERIFY(port > 0);
        Fixture f({{"Net.Port", std::to_string(port)}});
        MainWindow& w = *f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        RecordingIndicator* rec = w.Recording();
        auto* mqtt = new QLabel("MQTT");
        w.SetMenuCornerWidget(mqtt);
        auto* alarms = new QLabel("0");
        w.SetMenuIndicator(MainWindow::MenuIndicator::Alarms, alarms);
        QLayout* row = rec->parentWidget()->layout();
        QCOMPARE(row->indexOf(rec), 0);
        QCOMPARE(row->indexOf(alarms), 1);
        QCOMPARE(row->indexOf(mqtt), 2);

        QSignalSpy refreshed(&w, &MainWindow::statusRefreshed);
        auto nextRefresh = [&] {
            const int seen = refreshed.count();
            QTRY_VERIFY_WITH_TIMEOUT(refreshed.count() > seen, 30000);
        };
        QTest::mouseClick(f.Get<QCheckBox>(IDC_ENABLE), Qt::LeftButton);
        nextRefresh();
        QVERIFY(rec->isHidden());  // the port is closed
        QTest::mouseClick(f.Get<QPushButton>(IDC_OPEN_CLOSE), Qt::LeftButton);
        QVERIFY(w.Dlg().PortOpen());
        nextRefresh();
        QVERIFY(rec->isVisible());
        QCOMPARE(rec->text(), QString::fromUtf8("● REC"));
        QVERIFY(!rec->LowSpace());
        QVERIFY(rec->mapTo(&w, QPoint(0, 0)).x() < mqtt->mapTo(&w, QPoint(0, 0)).x());

        QString askedFor;
        rec->freeBytes = [&](const QString& folder) {
            askedFor = folder;
            return qint64(300) << 20;
        };
        nextRefresh();
        QVERIFY(rec->LowSpace());
        QCOMPARE(askedFor, f.Get<QLineEdit>(IDC_SAVE_DIR)->text());
        QVERIFY2(rec->toolTip().contains("300.0 MiB"), qPrintable(rec->toolTip()));

        QTest::mouseClick(f.Get<QCheckBox>(IDC_ENABLE), Qt::LeftButton);
        nextRefresh();
        QVERIFY(rec->isHidden());
    }

    // [Window] keeps the window's size and place, the tab, the ticked
    // sensors (by id), Spectrum DISP, the realtime ID and the chart ranges
    // for the next start; the described keys stay as they were.
    void windowIsRememberedForTheNextStart() {
        QTemporaryDir dir;
        const QString ini = dir.filePath("Lumora.ini");
        auto iniText = [&] {
            QFile file(ini);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        auto describedPart = [&] {
            QString text = iniText();
            const int at = text.indexOf("[Window]");
            if (at < 0) return text;
            const int next = text.indexOf("\n[", at);
            return text.left(at) + (next < 0 ? QString() : text.mid(next + 1));
        };
        const QRect placed(20, 30, 700, 500);
        {
            MainWindow w(ini);
            ChartViews charts(w);
            w.Initialise();
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            const QString described = describedPart();
            QTest::mouseClick(w.findChild<QCheckBox*>(QStringLiteral("ctl%1").arg(IDC_SPECTRUM_DISP)), Qt::LeftButton);
            w.ViewTabs()->setCurrentIndex(kViewTabTrace);
            w.findChild<QSpinBox*>(QStringLiteral("ctl%1").arg(IDC_REALTIME_ID))->setValue(5);
            FrameRing& ring = w.Dlg().Acquisition().Ring();
            PublishTenReadings(ring, 1);
            w.Dlg().UpdateSensorList();
            QAbstractItemModel* model = w.SensorListView()->model();
            model->setData(model->index(2, 0), Qt::Checked, Qt::CheckStateRole);
            model->setData(model->index(4, 0), Qt::Checked, Qt::CheckStateRole);
            charts.Trace().Controls()->Fit();
            w.setGeometry(placed);
            w.EndProgram();
            QCOMPARE(describedPart(), described);
        }
        SettingsStore store(ini.toStdString());
        QCOMPARE(store.GetString("Window", "Tab", ""), std::string("2"));
        QCOMPARE(store.GetString("Window", "Sensors", ""), std::string("3,5"));
        QCOMPARE(store.GetString("Window", "SpectrumDisp", ""), std::string("1"));
        QCOMPARE(store.GetString("Window", "RealtimeId", ""), std::string("5"));
        QCOMPARE(store.GetString("Window", "TraceRange", ""), std::string("fit"));
        QCOMPARE(store.GetString("Window", "SpectrumRange", "?"), std::string("?"));  // never changed

        MainWindow w(ini);
        ChartViews charts(w);
        w.Initialise();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.geometry(), placed);
        QCOMPARE(w.ViewTabs()->currentIndex(), int(kViewTabTrace));
        QVERIFY(w.GetCheck(IDC_SPECTRUM_DISP) && w.Dlg().ShowSpectrum());
        QCOMPARE(w.Dlg().LiveRealtimeId(), 5);
        QCOMPARE(charts.Trace().Controls()->Mode(), ChartControls::Ranges::Fitted);
        PublishTenReadings(w.Dlg().Acquisition().Ring(), 1);
        w.Dlg().UpdateSensorList();
        QCOMPARE(w.Dlg().SensorRows().ChosenRows(), (std::vector<int>{2, 4}));
        QCOMPARE(w.SensorListView()->model()->data(w.SensorListView()->model()->index(4, 0), Qt::CheckStateRole).toInt(),
                 int(Qt::Checked));
    }

    void portBoxLimitsTypingButKeepsALongerStoredPort() {
        Fixture f({{"Net.Port", std::string("17418")}});
        auto* port = f.Get<QLineEdit>(1005);
        QVERIFY(port);
        // A port from the settings file is shown and used whole.
        QCOMPARE(port->text(), QStringLiteral("17418"));
        QCOMPARE(f.window->Dlg().Acquisition().m_rcvPort.load(), 17418);
        // Typing stops at four digits.
        port->clear();
        QTest::keyClicks(port, QStringLiteral("123456"));
        QCOMPARE(port->text(), QStringLiteral("1234"));
        QCOMPARE(f.Read("Net", "Port"), std::string("1234"));
    }

    void sensorListKeepsSelectionAndChecksUntilTheLayoutChanges() {
        Fixture f;
        MainWindow& w = *f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        SensorListWidget* view = w.SensorListView();
        QAbstractItemModel* model = view->model();

        f.PushFrame(10, 1);
        QCOMPARE(model->rowCount(), 10);
        QCOMPARE(model->columnCount(), 6);
        QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Wavelength"));
        QCOMPARE(model->data(model->index(2, 4)).toString(), QStringLiteral("0"));
        QCOMPARE(model->data(model->index(0, 5), Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        QCOMPARE(model->data(model->index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::Alignment(Qt::AlignCenter));
        QVERIFY(view->horizontalHeader()->sectionsMovable());

        // Tick row 3, select rows 5 and 7.
        QVERIFY(model->setData(model->index(3, 0), Qt::Checked, Qt::CheckStateRole));
        view->selectionModel()->select(model->index(5, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->select(model->index(7, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(w.Dlg().SensorRows().ChosenRows(), (std::vector<int>{3, 5, 7}));

        for (int counter = 2; counter < 40; ++counter) f.PushFrame(10, counter);
        QCOMPARE(model->data(model->index(3, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(view->selectionModel()->selectedRows().size(), 2);
        QCOMPARE(model->data(model->index(2, 4)).toString(), QStringLiteral("38"));
        QCOMPARE(w.Dlg().SensorRows().RebuildCount(), 1);

        // A new layout rebuilds: no checks, no selection.
        f.PushFrame(10, 40, 1);
        QCOMPARE(model->rowCount(), 10);
        QCOMPARE(model->data(model->index(3, 0), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(view->selectionModel()->selectedRows().isEmpty());
        QVERIFY(w.Dlg().SensorRows().ChosenRows().empty());
        QCOMPARE(model->data(model->index(2, 4)).toString(), QStringLiteral("0"));

        // A click on a row chooses the realtime reading; below the rows, 0.
        auto* id = f.Get<QSpinBox>(IDC_REALTIME_ID);
        QRect row2 = view->visualRect(model->index(2, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row2.center());
        QCOMPARE(id->value(), 3);
        QCOMPARE(w.Dlg().LiveRealtimeId(), 3);
        QRect last = view->visualRect(model->index(9, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 30));
        QCOMPARE(id->value(), 0);
        QCOMPARE(w.Dlg().LiveRealtimeId(), 0);
    }

    void programRecordsWhatALoopbackSenderSends() {
        QTemporaryDir dir;
        const int port = FreeSmallPort();
        QVERIFY(port > 0);
        {
            SettingsStore store(dir.filePath("Lumora.ini").toStdString());
            store.SetString("Net", "Port", std::to_string(port));
            store.SetString("Net", "AutoOpen", "1");
            store.SetString("DataSave", "Enable", "1");
            store.SetString("DataSave", "FileName", "e2e");
        }
        QProcess program;
        program.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(LUMORA_GUI_PATH), {});
        QVERIFY(program.waitForStarted(30000));

        // Wait until the program holds the port (looked up without binding
        // it, which could take it away from the program).
        QElapsedTimer waited;
        waited.start();
        while (!UdpPortInUse(port)) {
            if (waited.elapsed() > 30000) {
                qWarning() << program.readAllStandardError();
                QFAIL("the program never opened its port");
            }
            QTest::qWait(50);
        }

        UdpSocket sender;
        QVERIFY(sender.Create());
        const int kFrames = 200;
        std::vector<uint8_t> frame;
        TrailerFields trailer;
        trailer.sn = "LOOP";
        for (int i = 1; i <= kFrames; ++i) {
            trailer.counter = i;
            EncodeWavelengthFrame(frame, {3, 3}, {1, 2, 3, 4, 5, 6}, &trailer);
            QVERIFY(sender.SendTo(frame.data(), frame.size(), "127.0.0.1", static_cast<uint16_t>(port)));
            if (i % 50 == 0) QTest::qWait(20);
        }
        // Only what the program has taken from its socket and handled is
        // recorded: wait until the socket is empty and the file holds every
        // whole frame, however long this machine takes for it.
        waited.restart();
        while (UdpReceiveQueue(port) != 0 && waited.elapsed() < 30000) QTest::qWait(20);
        QCOMPARE(UdpReceiveQueue(port), 0L);
        const qint64 whole = 5 + kFrames * qint64(frame.size());
        auto recordedBytes = [&] {
            const QStringList found = QDir(dir.path()).entryList({"e2e-*.dat"}, QDir::Files);
            return found.size() == 1 ? QFileInfo(QDir(dir.path()).filePath(found[0])).size() : qint64(-1);
        };
        QTRY_COMPARE_WITH_TIMEOUT(recordedBytes(), whole, 30000);
        // SIGTERM ends it like the close box: the recording is complete.
        program.terminate();
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);

        QStringList files = QDir(dir.path()).entryList({"e2e-*.dat"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile file(dir.filePath(files[0]));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("LMRA"));
        // Every frame, the last one included.
        QCOMPARE(bytes.size(), qsizetype(5 + kFrames * frame.size()));
        QCOMPARE(SettingsStore(dir.filePath("Lumora.ini").toStdString()).GetString("Net", "IP", ""),
                 std::string("127.0.0.1"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
