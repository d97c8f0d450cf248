// The command editor, the "Active SA" device list and the high-speed
// launcher forms, driven through their widgets.
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>
#include <arpa/inet.h>

#include "window/control_ids.h"
#include "conversion/recording_player.h"
#include "tools/conversion_window.h"
#include "tools/convert_settings_dialog.h"
#include "tools/publishing_tools.h"
#include "tools/sensor_tools.h"
#include "device/device_discovery.h"
#include "platform/udp_socket.h"
#include "settings/settings_store.h"
#include "tools_test_support.h"

using namespace lumora;
using lumora::test::ToolsFixture;

namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

QStringList Rows(QTableWidget* list) {
    QStringList rows;
    for (int r = 0; r < list->rowCount(); ++r) rows << (list->item(r, 0) ? list->item(r, 0)->text() : QString());
    return rows;
}

void ClickRow(QTableWidget* list, int row, int column = 0, bool twice = false) {
    QRect rect = list->visualItemRect(list->item(row, column));
    if (twice) {
        // The view opens what it was pressed on: a click, then the double click.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    } else
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

void Type(QLineEdit* e, const QString& text) {
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QTest::keyClicks(e, text);
}

AnnouncementBlock Announcement(const char* ip, const std::string& json) {
    return MakeAnnouncementBlock(inet_addr(ip), json.data(), json.size());
}

// The controls of window whose tooltip is empty or longer than a line; the
// parts inside spin boxes, combo boxes and lists are the parents' own.
QStringList ControlsWithoutOneLineTip(const QWidget* window) {
    QStringList missing;
    for (QWidget* c : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                             qobject_cast<QAbstractSpinBox*>(c) || qobject_cast<QComboBox*>(c) ||
                             qobject_cast<QAbstractItemView*>(c) || qobject_cast<QPlainTextEdit*>(c);
        bool part = false;
        for (QWidget* p = c->parentWidget(); p && p != window; p = p->parentWidget())
            part = part || qobject_cast<QAbstractSpinBox*>(p) || qobject_cast<QComboBox*>(p) ||
                   qobject_cast<QAbstractItemView*>(p);
        if (control && !part && (c->toolTip().isEmpty() || c->toolTip().contains('\n')))
            missing << window->objectName() + "/" + c->objectName() + ":" + c->metaObject()->className();
    }
    return missing;
}

template <class T>
QList<T*> OpenDialogs() {
    QList<T*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<T*>(w); d && d->isVisible()) found << d;
    return found;
}

}  // namespace

class ToolsWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void commandEditorEditsSendsAndKeepsItsState() {
        ToolsFixture f;
        UdpSocket instrument;
        QVERIFY(instrument.Create() && instrument.Bind(0, "127.0.0.1"));
        instrument.SetReceiveTimeout(50);
        f.window->Dlg().CommandTexts().SetIpText("127.0.0.1");
        f.window->Dlg().CommandTexts().SetCmdPortText(std::to_string(instrument.LocalPort()));

        f.tools->OnDebug();
        CommandEditorWindow* ed = f.tools->CommandEditor();
        QVERIFY(ed && ed->isVisible());
        QCOMPARE(ed->windowTitle(), QString("Commad"));
        QTableWidget* list = ed->List();
        QVERIFY(list->horizontalHeader()->isHidden());
        QCOMPARE(Rows(list), QStringList{"EnableWavelength@*chw!;"});

        QTest::mouseClick(ed->Button(CommandEditorWindow::kStandard), Qt::LeftButton);
        QCOMPARE(list->rowCount(), 7);
        QCOMPARE(Rows(list).first(), QString("EnableWavelength@*CHW!;"));
        QCOMPARE(Rows(list).last(), QString("SwitchChannel-02@*FTS:1;"));

        ClickRow(list, 1);
        QCOMPARE(ed->NameBox()->toPlainText(), QString("EnableOS"));
        QCOMPARE(ed->TextBox()->toPlainText(), QString("*CHS!;"));

        // A two-line command: Enter in the box is a line break, CR LF for the instrument.
        ed->TextBox()->clear();
        QTest::keyClicks(ed->TextBox(), "*IDN?");
        QTest::keyClick(ed->TextBox(), Qt::Key_Return);
        QTest::keyClicks(ed->TextBox(), "X");
        ed->NameBox()->setPlainText("Ask");
        QTest::mouseClick(ed->Button(CommandEditorWindow::kAppend), Qt::LeftButton);
        QCOMPARE(list->rowCount(), 8);
        QCOMPARE(Rows(list).first(), QString("Ask@*IDN?\r\nX"));

        QTest::mouseClick(ed->Button(CommandEditorWindow::kSend), Qt::LeftButton);
        char buf[64] = {};
        long n = instrument.ReceiveFrom(buf, sizeof buf - 1);
        QElapsedTimer waited;  // the main window sends once its loop runs
        waited.start();
        while (n < 0 && waited.elapsed() < 30000) {
            QCoreApplication::processEvents();
            n = instrument.ReceiveFrom(buf, sizeof buf - 1);
        }
        QCOMPARE(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), std::string("*IDN?\r\nX"));
        ClickRow(list, 1);
        ClickRow(list, 0);
        QCOMPARE(ed->TextBox()->toPlainText(), QString("*IDN?\nX"));

        // Delete the new top row and the one below it, save: six entries remain.
        ClickRow(list, 0);
        QTest::mouseClick(ed->Button(CommandEditorWindow::kDelete), Qt::LeftButton);
        QVERIFY(ed->NameBox()->toPlainText().isEmpty() && ed->TextBox()->toPlainText().isEmpty());
        ClickRow(list, 0);
        QTest::mouseClick(ed->Button(CommandEditorWindow::kDelete), Qt::LeftButton);
        QTest::mouseClick(ed->Button(CommandEditorWindow::kSave), Qt::LeftButton);
        std::string saved = SettingsStore(f.Ini()).GetString("Command", "Array", "", 2600);
        QVERIFY(saved.rfind("SwitchChannel-02@*FTS:1;&", 0) == 0);
        QVERIFY(saved.size() > 15 && saved.compare(saved.size() - 15, 15, "EnableOS@*CHS!;") == 0);

        // "@" or "&" in a name or a text would split the entry when the list
        // is read back: refused with a message, before anything is stored.
        const int rowsBefore = list->rowCount();
        const std::string arrayBefore = ed->Editor().Array();
        for (auto [name, text] : {std::pair{"A&B", "*A;"}, {"AB", "*A&B;"}, {"Mail", "a@b"}, {"a@b", "*A;"}}) {
            ed->NameBox()->setPlainText(name);
            ed->TextBox()->setPlainText(text);
            QTest::mouseClick(ed->Button(CommandEditorWindow::kAppend), Qt::LeftButton);
            QVERIFY(f.boxes.size() == 1 && f.boxes.back().text.find("\"@\" or \"&\"") != std::string::npos);
            f.boxes.clear();
            QCOMPARE(list->rowCount(), rowsBefore);
            QCOMPARE(ed->Editor().Array(), arrayBefore);
        }
        QTest::mouseClick(ed->Button(CommandEditorWindow::kSave), Qt::LeftButton);
        QCOMPARE(SettingsStore(f.Ini()).GetString("Command", "Array", "", 2600), saved);

        // A separator by its name "@@"; selecting it gives the name back.
        ed->NameBox()->setPlainText("@@");
        ed->TextBox()->clear();
        QTest::mouseClick(ed->Button(CommandEditorWindow::kAppend), Qt::LeftButton);
        QCOMPARE(Rows(list).first(), QString(kCommandSeparator));
        ed->NameBox()->setPlainText("x");
        ClickRow(list, 0);
        QCOMPARE(ed->NameBox()->toPlainText(), QString("@@"));

        // Cancel hides; opening again shows the unsaved list as it was.
        QTest::mouseClick(ed->Button(CommandEditorWindow::kCancel), Qt::LeftButton);
        QVERIFY(!ed->isVisible());
        f.tools->OnDebug();
        QCOMPARE(f.tools->CommandEditor(), ed);
        QVERIFY(ed->isVisible());
        QCOMPARE(Rows(list).first(), QString(kCommandSeparator));
        QCOMPARE(list->rowCount(), 7);
    }

    void deviceListShowsNewestFirstAndOpensThePage() {
        ToolsFixture f;
        UrlCatcher urls;
        DeviceListWidget* list = f.tools->DeviceList();
        QVERIFY(list);
        QVERIFY(f.window->TabPage(kTabActiveSa)->isAncestorOf(list));
        QCOMPARE(list->columnCount(), 10);
        const char* captions[] = {"#", "PN", "SN", "IP", "Counter", "FRQ", "Error", "Warn", "DTPort", "CMDPort"};
        const int widths[] = {80, 200, 200, 240, 240, 100, 100, 100, 120, 120};
        for (int c = 0; c < 10; ++c) {
            QCOMPARE(list->horizontalHeaderItem(c)->text(), QString(captions[c]));
            QCOMPARE(list->columnWidth(c), widths[c]);
        }

        DeviceDiscovery& d = f.tools->Discovery();
        QVERIFY(d.HandleAnnouncement(Announcement("127.0.0.1", R"({"IDN":"SA-1","SN":"001"})")));
        QVERIFY(d.HandleAnnouncement(Announcement("127.0.0.2", R"( {"idn":"SA-2","sn":"002"})")));
        QVERIFY(!d.HandleAnnouncement(Announcement("127.0.0.1", R"({"IDN":"SA-1","SN":"001","x":1})")));
        QVERIFY(!d.HandleAnnouncement(Announcement("127.0.0.3", R"({"IDN":"SA-3","SN":3})")));
        QTableWidgetItem* secondRowPn = list->item(0, 1);
        QVERIFY(d.HandleAnnouncement(Announcement("127.0.0.4", R"({"IDN":"SA-1","SN":"001"})")));
        QCOMPARE(list->rowCount(), 3);
        QCOMPARE(list->item(1, 1), secondRowPn);  // a new row on top; the rows below are left as they were
        auto row = [&](int r) {
            QStringList cells;
            for (int c = 0; c < 4; ++c) cells << list->item(r, c)->text();
            return cells;
        };
        QCOMPARE(row(0), (QStringList{"3", "SA-1", "001", "127.0.0.4"}));
        QCOMPARE(row(1), (QStringList{"2", "SA-2", "002", "127.0.0.2"}));
        QCOMPARE(row(2), (QStringList{"1", "SA-1", "001", "127.0.0.1"}));
        QVERIFY(list->item(0, 9)->text().isEmpty());
        QCOMPARE(list->item(1, 2)->textAlignment(), int(Qt::AlignCenter));

        // Active SA shows the list; a double click opens the row's address.
        f.answer = [](const test::Box&) { return static_cast<int>(kIdOk); };
        f.window->show();
        f.tools->OnActiveSa();
        QCOMPARE(f.window->ViewTabs()->currentIndex(), kTabActiveSa);
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        ClickRow(list, 1, 3, true);
        QTRY_COMPARE_WITH_TIMEOUT(urls.urls.size(), qsizetype(1), 30000);
        QCOMPARE(urls.urls[0], QUrl("http://127.0.0.2"));
    }

    void launcherFormsStoreAsTypedAndStartTheScripts() {
        ToolsFixture f;
        f.tools->OnHighSpeedDaq();
        f.tools->OnHighSpeedDaq();
        QList<HighSpeedDaqDialog*> daq = OpenDialogs<HighSpeedDaqDialog>();
        QCOMPARE(daq.size(), qsizetype(2));  // modeless, several at once
        HighSpeedDaqDialog* first = daq[0];
        HighSpeedDaqDialog* second = daq[1];
        QCOMPARE(first->windowTitle(), QString("High speed DAQ"));
        QStringList shown;
        for (int id = HighSpeedDaqDialog::kPort; id <= HighSpeedDaqDialog::kFileName; ++id)
            shown << first->Box(id)->text();
        QCOMPARE(shown, (QStringList{"8190", "500000", "120", "10", "./Data2/test"}));

        // Each keystroke is stored; the text as typed, the number as taken.
        QLineEdit* port = first->Box(HighSpeedDaqDialog::kPort);
        Type(port, "0080");
        QTest::keyClicks(port, "a");  // digits only
        QCOMPARE(port->text(), QString("0080"));
        SettingsStore s(f.Ini());
        QCOMPARE(s.GetString("HDAQ", "Port", ""), std::string("0080"));
        QCOMPARE(f.tools->DaqSettings().port, 80);

        // The file name is shared by both forms.
        f.tools->OnHighSpeedConvert();
        HighSpeedConvertDialog* conv = OpenDialogs<HighSpeedConvertDialog>().value(0);
        QVERIFY(conv);
        QCOMPARE(conv->windowTitle(), QString("HighSpeed Convert"));
        QCOMPARE(conv->Box(HighSpeedConvertDialog::kWavelengthOffset)->text(), QString("1510000"));
        Type(conv->Box(HighSpeedConvertDialog::kFileName), "./Data2/run 2");
        QCOMPARE(s.GetString("HDAQ", "FileName", ""), std::string("./Data2/run 2"));
        QCOMPARE(f.tools->DaqSettings().fileName, std::string("./Data2/run 2"));
        // Cancel keeps what was typed, starts nothing.
        Type(conv->Box(HighSpeedConvertDialog::kChannelOffset), "5");
        QPointer<HighSpeedConvertDialog> convGone = conv;
        QTest::mouseClick(conv->findChild<QPushButton*>("ctl2"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(convGone.isNull(), 30000);
        QCOMPARE(s.GetString("HDAQ_CONVERT", "ChannelOffset", ""), std::string("5"));
        QVERIFY(f.scripts.empty());

        // The form opened before the changes passes its own values.
        QPointer<HighSpeedDaqDialog> secondGone = second;
        QTest::mouseClick(second->findChild<QPushButton*>("ctl1"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(secondGone.isNull(), 30000);
        QCOMPARE(f.scripts.size(), size_t(1));
        QCOMPARE(f.scripts[0].first, std::string("daq.sh"));
        QCOMPARE(f.scripts[0].second, std::string("8190 500000 120 10 ./Data2/test"));

        // A new form shows the changed records; an emptied box passes 0.
        f.tools->OnHighSpeedDaq();
        HighSpeedDaqDialog* third = nullptr;
        for (HighSpeedDaqDialog* d : OpenDialogs<HighSpeedDaqDialog>())
            if (d != first) third = d;
        QVERIFY(third);
        QCOMPARE(third->Box(HighSpeedDaqDialog::kFileName)->text(), QString("./Data2/run 2"));
        Type(third->Box(HighSpeedDaqDialog::kPort), "");
        QCOMPARE(s.GetString("HDAQ", "Port", "missing"), std::string(""));
        QTest::keyClick(third->Box(HighSpeedDaqDialog::kCount), Qt::Key_Return);  // OK is the default button
        QCOMPARE(f.scripts.size(), size_t(2));
        QCOMPARE(f.scripts[1].second, std::string("0 500000 120 10 ./Data2/run 2"));

        f.tools->OnHighSpeedConvert();
        conv = OpenDialogs<HighSpeedConvertDialog>().value(0);
        QTest::mouseClick(conv->findChild<QPushButton*>("ctl1"), Qt::LeftButton);
        QCOMPARE(f.scripts.size(), size_t(3));
        QCOMPARE(f.scripts[2], (std::pair<std::string, std::string>("convert.sh", "1510000 5 ./Data2/run 2")));
    }

    // Every button, box and list of every tool window says in one line what
    // it does, in both languages.
    void everyControlOfTheToolWindowsHasATip() {
        for (Language lang : {Language::English, Language::Chinese}) {
            SetUiLanguage(lang);
            ToolsFixture f;
            f.tools->OnDebug();
            f.tools->OnHighSpeedDaq();
            f.tools->OnHighSpeedConvert();
            PublishingTools publishing(*f.window);
            f.window->Action(ID_SETTING_MQTT)->trigger();
            ConvertSettingsDialog settings(ConvertSettings{}, lang);
            ConversionWindow conversion(lang, nullptr);
            RecordingPlayer player;
            ReplayWindow replay(player, QStringLiteral("a.dat"), lang, nullptr);
            SensorsDialog sensors(f.window->Dlg(), lang, nullptr);
            const QList<QWidget*> windows{f.tools->CommandEditor(), OpenDialogs<HighSpeedDaqDialog>().value(0),
                                          OpenDialogs<HighSpeedConvertDialog>().value(0), publishing.Dialog(),
                                          &settings, &conversion, &replay, &sensors};
            for (QWidget* w : windows) {
                QVERIFY(w);
                QCOMPARE(ControlsWithoutOneLineTip(w), QStringList());
            }
        }
        SetUiLanguage(Language::English);
    }
};

QTEST_MAIN(ToolsWindowsTest)
#include "tools_windows_test.moc"
