// Tools > Data Convert and the conversion settings dialog, with the message
// boxes answered by the test.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <fstream>
#include <thread>

#include "acquisition/frame_encoder.h"
#include "window/control_ids.h"
#include "conversion/output_file.h"
#include "settings/settings_store.h"
#include "tools/conversion_window.h"
#include "tools/convert_settings_dialog.h"
#include "tools_test_support.h"

using namespace lumora;
using lumora::test::Box;
using lumora::test::ToolsFixture;

namespace {

class FileCatcher : public QObject {
    Q_OBJECT
public:
    FileCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~FileCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// Runs then(dialog) as soon as a settings dialog is the active modal window
// (looked for every 20 ms, for at most 5 s).
void WhenSettingsDialogUp(std::function<void(ConvertSettingsDialog*)> then, int triesLeft = 250) {
    QTimer::singleShot(20, [then = std::move(then), triesLeft]() mutable {
        if (auto* d = qobject_cast<ConvertSettingsDialog*>(QApplication::activeModalWidget())) {
            then(d);
        } else if (triesLeft > 0) {
            WhenSettingsDialogUp(std::move(then), triesLeft - 1);
        }
    });
}

// A recording of `frames` wavelength frames as the recorder writes it.
void WriteRecording(const std::string& path, int frames) {
    std::ofstream out(path, std::ios::binary);
    out.write("LMRA\x65", 5);
    TrailerFields t;
    t.time = 1700000000;
    for (int i = 0; i < frames; ++i) {
        t.counter = i + 1;
        std::vector<uint8_t> f = EncodeWavelengthFrame({2, 1}, {100, 200, 300}, &t);
        out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    }
}

// A file that looks like a recording but whose format mark is unknown.
void WriteUnreadable(const std::string& path) { std::ofstream(path, std::ios::binary) << "LMRA\x66 garbage"; }

}  // namespace

class ToolsConvertTest : public QObject {
    Q_OBJECT
private slots:
    void emptyFolderAndCancelChangeNothing() {
        ToolsFixture f;
        QDir(f.dir.path()).mkdir("data");
        const std::string data = f.Path("data");
        f.window->SetText(IDC_SAVE_DIR, data);

        f.tools->OnDataConvert();
        // No run, no archive script.
        QVERIFY(f.scripts.empty());
        QVERIFY(f.waits.empty());
        QCOMPARE(f.Texts(), std::vector<std::string>{"No source data file in the directory!\n" + data});

        // Two recordings and a table, but Cancel at the first question.
        WriteRecording(data + "/a.dat", 2);
        WriteRecording(data + "/b.dat", 2);
        std::ofstream(data + "/old.csv") << "x";
        f.boxes.clear();
        f.answer = [](const Box&) { return static_cast<int>(kIdCancel); };
        f.tools->OnDataConvert();
        QCOMPARE(f.Texts(), std::vector<std::string>{"In '" + data + "' 2 files will be converted!"});
        QCOMPARE(f.boxes[0].buttons, int(kMbOkCancel));
        QCOMPARE(f.tools->Job().State(), -1);
        QVERIFY(f.window->Action(ID_TOOLS_DATA_CONVERT)->isEnabled());
        QCOMPARE(f.window->GetText(IDC_FILE_NUMBER), std::string("0/2"));
        QVERIFY(!QFile::exists(QString::fromStdString(CsvOutputPath(data + "/a.dat", 2))));
        QVERIFY(f.scripts.empty());
    }

    void overwriteQuestionHasThreeAnswers() {
        ToolsFixture f;
        QDir(f.dir.path()).mkdir("data");
        const std::string data = f.Path("data");
        f.window->SetText(IDC_SAVE_DIR, data);
        WriteRecording(data + "/a.dat", 3);
        WriteRecording(data + "/b.dat", 3);
        const std::string aOut = CsvOutputPath(data + "/a.dat", 2);
        const std::string bOut = CsvOutputPath(data + "/b.dat", 2);
        std::ofstream(aOut) << "earlier table";

        int overwrite = kIdCancel;
        f.answer = [&](const Box& b) {
            if (StartsWith(b.text, "There are ")) return overwrite;
            return b.buttons == kMbOkCancel || b.buttons == kMbOk ? static_cast<int>(kIdOk) : static_cast<int>(kIdNo);
        };
        auto run = [&]() {
            f.boxes.clear();
            f.tools->OnDataConvert();
            if (f.tools->Job().State() < 0) return;
            QTRY_VERIFY_WITH_TIMEOUT(!f.boxes.empty() && StartsWith(f.boxes.back().text, "Goto data directery?"), 30000);
        };

        run();  // Cancel: nothing converted
        QCOMPARE(f.boxes.size(), size_t(2));
        QCOMPARE(f.boxes[1].text, std::string("There are 1 export files in the directory. Do you want to overwrite them?"));
        QCOMPARE(f.boxes[1].buttons, int(kMbYesNoCancel));
        QVERIFY(f.boxes[1].flags & kMbDefaultButton2);
        QVERIFY(!QFile::exists(QString::fromStdString(bOut)));

        overwrite = kIdNo;  // the existing table stays, its source is skipped
        run();
        QVERIFY(std::find_if(f.boxes.begin(), f.boxes.end(), [](const Box& b) {
                    return StartsWith(b.text, "Sucess: 1\nSkipped: 1");
                }) != f.boxes.end());
        QCOMPARE(QFile(QString::fromStdString(aOut)).size(), qint64(13));
        QVERIFY(QFile::exists(QString::fromStdString(bOut)));

        overwrite = kIdYes;  // both converted, the table replaced
        run();
        QVERIFY(std::find_if(f.boxes.begin(), f.boxes.end(), [&](const Box& b) {
                    return b.text == "Sucess: 2\nDIR: " + data;
                }) != f.boxes.end());
        QVERIFY(QFile(QString::fromStdString(aOut)).size() > 13);
    }

    void runWithOneBadSourceReportsAndAsksOnce() {
        ToolsFixture f;
        FileCatcher files;
        QDir(f.dir.path()).mkdir("data");
        const std::string data = f.Path("data");
        f.window->SetText(IDC_SAVE_DIR, data);
        WriteRecording(data + "/a.dat", 5);
        WriteUnreadable(data + "/b.dat");
        WriteRecording(data + "/c.dat", 5);

        bool menuGrayedDuringRun = false;
        f.answer = [&](const Box& b) {
            if (StartsWith(b.text, "The system is converted")) {
                menuGrayedDuringRun = !f.window->Action(ID_TOOLS_DATA_CONVERT)->isEnabled();
                return static_cast<int>(kIdNo);
            }
            if (StartsWith(b.text, "Display error list?") || StartsWith(b.text, "Goto data")) return static_cast<int>(kIdYes);
            return static_cast<int>(kIdOk);
        };
        f.tools->OnDataConvert();
        QTRY_VERIFY_WITH_TIMEOUT(!f.boxes.empty() && StartsWith(f.boxes.back().text, "Goto data directery?"), 30000);

        const std::vector<std::string> texts = f.Texts();
        QCOMPARE(texts.size(), size_t(6));
        QCOMPARE(texts[0], "In '" + data + "' 3 files will be converted!");
        QVERIFY(StartsWith(texts[1], "The system is converted according to the following parameters."));
        QVERIFY(texts[1].find("Maximum file lines: 200000\n") != std::string::npos);
        QCOMPARE(f.boxes[1].buttons, int(kMbYesNo));
        QVERIFY(f.boxes[1].flags & kMbDefaultButton2);
        QCOMPARE(texts[2], "Sucess: 2\nError: 1\n\nDIR: " + data);
        QCOMPARE(texts[3], "Display error list?" + data);
        QVERIFY(f.boxes[3].flags & kMbDefaultButton2);
        QCOMPARE(texts[4], "Error list: \n1: " + data + "/b.dat\n    not a recording: \"LMRA\" followed by an unknown format byte\n");
        // The confirmed run archived its folder first, then waited for the script.
        QCOMPARE(f.scripts, (std::vector<std::pair<std::string, std::string>>{{"7z.sh", data}}));
        QCOMPARE(f.waits, std::vector<int>{3000});
        QCOMPARE(texts[5], "Goto data directery? '" + data + "'");
        QVERIFY(!(f.boxes[5].flags & kMbDefaultButton2));
        QVERIFY(menuGrayedDuringRun);
        QVERIFY(f.window->Action(ID_TOOLS_DATA_CONVERT)->isEnabled());
        QCOMPARE(files.urls.size(), qsizetype(1));
        QCOMPARE(files.urls[0].toLocalFile(), QString::fromStdString(data));

        // The status refresh shows the files done out of all.
        QTRY_VERIFY_WITH_TIMEOUT((f.window->Dlg().UpdateStatus(), f.window->GetText(IDC_FILE_NUMBER) == "3/3"), 30000);
        auto* bar = qobject_cast<QProgressBar*>(f.window->Control(IDC_PROGRESS_FILES));
        QVERIFY(bar);
        QCOMPARE(bar->value(), 3);
        QCOMPARE(bar->maximum(), 3);
        // No run, no question: the settings were saved after No.
        QCOMPARE(SettingsStore(f.Ini()).GetString("DataConvert", "TitleAlign", "missing"), std::string("1"));
    }

    // A run whose sources are all skipped may end before the menu command
    // returns: its display still ends as any run's does. And the window may
    // close while the worker waits for the run's question: the job is
    // stopped and joined before it is released.
    void runEndingEarlyOrOutlivedByTheWindow() {
        {
            ToolsFixture f;
            QDir(f.dir.path()).mkdir("data");
            const std::string data = f.Path("data");
            f.window->SetText(IDC_SAVE_DIR, data);
            WriteRecording(data + "/a.dat", 2);
            WriteRecording(data + "/b.dat", 2);
            std::ofstream(CsvOutputPath(data + "/a.dat", 2)) << "kept";
            std::ofstream(CsvOutputPath(data + "/b.dat", 2)) << "kept";
            f.tools->OnDataConvert();  // OK, then No: both skipped
            QTRY_VERIFY_WITH_TIMEOUT(!f.boxes.empty() && StartsWith(f.boxes.back().text, "Goto data directery?"), 30000);
            QTRY_VERIFY_WITH_TIMEOUT((f.window->Dlg().UpdateStatus(), f.window->GetText(IDC_FILE_NUMBER) == "2/2"), 30000);
            auto* files = qobject_cast<QProgressBar*>(f.window->Control(IDC_PROGRESS_FILES));
            auto* records = qobject_cast<QProgressBar*>(f.window->Control(IDC_PROGRESS_RECORDS));
            QVERIFY(files && records);
            QCOMPARE(files->value(), files->maximum());
            QCOMPARE(records->value(), records->maximum());
            QVERIFY(records->maximum() > records->minimum());
        }

        ToolsFixture f;
        QDir(f.dir.path()).mkdir("data");
        const std::string data = f.Path("data");
        f.window->SetText(IDC_SAVE_DIR, data);
        WriteRecording(data + "/a.dat", 2);
        // The worker reads the settings file just before it asks: a fifo in
        // its place holds it there until the window has begun to close.
        const std::string ini = f.Ini();
        ::unlink(ini.c_str());
        QVERIFY(::mkfifo(ini.c_str(), 0600) == 0);
        std::atomic<bool> release{false}, done{false};
        std::thread opener([&] {
            while (!done) {
                if (release) {
                    int fd = ::open(ini.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                    if (fd >= 0) ::close(fd);
                }
                QThread::msleep(1);
            }
        });
        f.tools->OnDataConvert();
        QThread::msleep(200);
        std::thread releaser([&] {
            QThread::msleep(300);  // the job is being released by then
            release = true;
        });
        f.tools.reset();
        releaser.join();
        ::unlink(ini.c_str());
        done = true;
        opener.join();
        QVERIFY(!QFile::exists(QString::fromStdString(CsvOutputPath(data + "/a.dat", 2))));
        QVERIFY(!QFile::exists(QString::fromStdString(CsvOutputPath(data + "/a.dat", 2) + kPartSuffix)));
    }

    // The run's question, answered Yes, opens the real dialog; while it is up
    // the menu's dialog does not open, and while the menu's is up the run's
    // question waits.
    void settingsDialogAndQuestionNeverOverlap() {
        ToolsFixture f;
        QDir(f.dir.path()).mkdir("data");
        const std::string data = f.Path("data");
        f.window->SetText(IDC_SAVE_DIR, data);
        WriteRecording(data + "/a.dat", 7);

        bool questionWhileMenuDialog = false;
        f.answer = [&](const Box& b) {
            if (StartsWith(b.text, "The system is converted")) {
                const QWidgetList top = QApplication::topLevelWidgets();
                if (std::any_of(top.begin(), top.end(), [](QWidget* w) {
                        return w->isVisible() && qobject_cast<ConvertSettingsDialog*>(w);
                    }))
                {
                    questionWhileMenuDialog = true;
                    return static_cast<int>(kIdNo);
                }
                return static_cast<int>(kIdYes);
            }
            return static_cast<int>(b.buttons == kMbYesNo ? kIdNo : kIdOk);
        };

        int dialogsSeen = 0;
        bool menuOpenedSecond = false;
        // First the menu's dialog: a run started meanwhile must wait with its
        // question until Cancel.
        size_t boxesWhileMenuDialog = 0;
        WhenSettingsDialogUp([&](ConvertSettingsDialog* d) {
            ++dialogsSeen;
            f.tools->OnDataConvert();
            QTest::qWait(400);
            boxesWhileMenuDialog = f.boxes.size();  // 218 only, the question waits
            // The run's dialog follows its question; there, type and press OK.
            WhenSettingsDialogUp([&](ConvertSettingsDialog* d2) {
                ++dialogsSeen;
                f.tools->OnConvertSettings();  // refused: a dialog is up
                menuOpenedSecond = QApplication::activeModalWidget() != d2;
                d2->Edit(ConvertSettingsDialog::kFileLineMax)->setText("3");
                QTest::mouseClick(d2->findChild<QPushButton*>("ctl1052"), Qt::LeftButton);
            });
            QTest::mouseClick(d->findChild<QPushButton*>("ctl1053"), Qt::LeftButton);
        });
        f.tools->OnConvertSettings();
        QTRY_VERIFY_WITH_TIMEOUT(!f.boxes.empty() && StartsWith(f.boxes.back().text, "Goto data directery?"), 30000);
        QVERIFY(!questionWhileMenuDialog);
        QCOMPARE(boxesWhileMenuDialog, size_t(1));
        QCOMPARE(dialogsSeen, 2);
        QVERIFY(!menuOpenedSecond);
        QVERIFY(!f.tools->SettingsDialogBusy());
        // OK took the new line limit for the run: 7 records in files of 3.
        QCOMPARE(SettingsStore(f.Ini()).GetString("DataConvert", "FileLineMax", ""), std::string("3"));
        QVERIFY(QFile::exists(QString::fromStdString(CsvOutputPath(data + "/a.dat", 4))));
        QVERIFY(!QFile::exists(QString::fromStdString(CsvOutputPath(data + "/a.dat", 5))));
    }

    // Tools > Convert folder... converts the folder chosen as Data Convert
    // converts Save DIR. The run's window stops it with Cancel, which leaves
    // nothing of the source; afterwards "Open folder" says so in the window
    // when no file manager can show it. The run is held inside its source by
    // a first output file that is a fifo nobody reads yet.
    void convertFolderCancelAndOpenFolder() {
        ToolsFixture f;
        QDir(f.dir.path()).mkdir("other");
        const std::string other = f.Path("other");
        WriteRecording(other + "/a.dat", 3000);
        const std::string fifo = CsvOutputPath(other + "/a.dat", 2) + kPartSuffix;
        QVERIFY(::mkfifo(fifo.c_str(), 0600) == 0);
        std::string chooserStart;
        f.window->folderChooserOverride = [&](const std::string&, const std::string& start) {
            chooserStart = start;
            return other;
        };
        f.window->SetText(IDC_SAVE_DIR, f.Path("data"));

        f.tools->OnConvertFolder();
        QCOMPARE(chooserStart, f.Path("data"));
        QCOMPARE(f.Texts(), std::vector<std::string>{"In '" + other + "' 1 files will be converted!"});
        QCOMPARE(f.scripts, (std::vector<std::pair<std::string, std::string>>{{"7z.sh", other}}));
        ConversionWindow* view = f.tools->ConversionView();
        QVERIFY(view && view->isVisible());
        QCOMPARE(view->Status(), QString("Converting..."));
        QVERIFY(!f.window->Action(ID_TOOLS_CONVERT_FOLDER)->isEnabled());

        // The settings question answered, the run is inside the source.
        QTRY_VERIFY_WITH_TIMEOUT(f.tools->Job().Context().progress.m_convFileBusy.load() == 1, 30000);
        QTest::mouseClick(view->CancelButton(), Qt::LeftButton);
        QCOMPARE(view->Status(), QString("Stopping..."));
        // Read and written by the test: the run's open of it goes on, and its
        // writes never fill it.
        const int drain = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(drain >= 0);
        QTRY_VERIFY_WITH_TIMEOUT((void(::read(drain, std::array<char, 65536>().data(), 65536)),
                                  StartsWith(f.boxes.back().text, "Cancelled")),
                                 30000);
        ::close(drain);
        QCOMPARE(f.boxes.back().text, "Cancelled\nSucess: 0\nDIR: " + other);
        QCOMPARE(view->Status(), QString("Cancelled"));
        QVERIFY(!view->CancelButton()->isEnabled());
        QCOMPARE(QDir(QString::fromStdString(other)).entryList(QDir::Files | QDir::System), QStringList{"a.dat"});
        QVERIFY(f.window->Action(ID_TOOLS_CONVERT_FOLDER)->isEnabled());

        std::vector<std::string> shown;
        f.tools->showFolder = [&](const std::string& d) {
            shown.push_back(d);
            return false;
        };
        QVERIFY(view->OpenFolderButton()->isEnabled());
        QTest::mouseClick(view->OpenFolderButton(), Qt::LeftButton);
        QCOMPARE(shown, std::vector<std::string>{other});
        QCOMPARE(view->Notice(), QString::fromStdString("No file manager was found to show " + other));
        QCOMPARE(view->Status(), QString("Cancelled"));
    }

    void receiveStartGivesTheNextSourceAFreshHeader() {
        ToolsFixture f;
        std::atomic<bool>& started = f.tools->Job().Context().receiveStarted;
        QVERIFY(!started);
        ReceiveSession& session = f.window->Dlg().Session();
        session.SetPortText("0");
        QVERIFY(session.Open());
        QTRY_VERIFY_WITH_TIMEOUT(started.load(), 30000);
        session.Close();
    }

    void settingsDialogOkTakesControlsCancelKeepsValues() {
        ConvertSettings v;
        v.m_FileLineMax = "1234";
        v.m_NeedSN = 0;
        {
            ConvertSettingsDialog d(v, Language::English);
            QCOMPARE(d.windowTitle(), QString("Data Convert / Export Setting"));
            QVERIFY(d.findChild<QPushButton*>("ctl1053")->isDefault());
            QVERIFY(!d.Check(ConvertSettingsDialog::kNeedSingleSensor)->isEnabled());
            QCOMPARE(d.Check(ConvertSettingsDialog::kOnlyMatched)->text(), QString("Inlucde Matched  "));
            QCOMPARE(d.Edit(ConvertSettingsDialog::kFileLineMax)->alignment() & Qt::AlignRight, Qt::AlignRight);
            QLineEdit* lines = d.Edit(ConvertSettingsDialog::kFileLineMax);
            lines->selectAll();
            QTest::keyClicks(lines, "5x6");  // letters do not go in
            QCOMPARE(lines->text(), QString("56"));
            d.Check(ConvertSettingsDialog::kNeedSN)->setChecked(true);
            d.Check(ConvertSettingsDialog::kTitleAlign)->setChecked(false);
            QCOMPARE(d.Check(ConvertSettingsDialog::kNeedMs)->text(), QString("Milliseconds"));
            QVERIFY(!d.Check(ConvertSettingsDialog::kNeedMs)->isChecked());
            d.Check(ConvertSettingsDialog::kNeedMs)->setChecked(true);
            // Enter on the focused OK is OK (Cancel is the default elsewhere).
            QTest::keyClick(d.findChild<QPushButton*>("ctl1052"), Qt::Key_Return);
            QCOMPARE(d.result(), int(QDialog::Accepted));
            QCOMPARE(d.Values().m_FileLineMax, std::string("56"));
            QCOMPARE(d.Values().m_NeedSN, 1);
            QCOMPARE(d.Values().m_TitleAlign, 0);
            QCOMPARE(d.Values().m_NeedMs, 1);
        }
        {
            ConvertSettingsDialog d(v, Language::Chinese);
            QCOMPARE(d.windowTitle(), QString::fromUtf8("数据导出设置"));
            QCOMPARE(d.Check(ConvertSettingsDialog::kNeedMs)->text(), QString::fromUtf8("毫秒"));
            d.Edit(ConvertSettingsDialog::kFileLineMax)->setText("9");
            d.Check(ConvertSettingsDialog::kNeedPV)->setChecked(false);
            QTest::keyClick(&d, Qt::Key_Escape);
            QCOMPARE(d.result(), int(QDialog::Rejected));
            QCOMPARE(d.Values().m_FileLineMax, std::string("1234"));
            QCOMPARE(d.Values().m_NeedPV, 1);
        }

        // From the menu: Cancel writes back what was loaded, all nine keys;
        // OK writes what the controls show.
        ToolsFixture f;
        SettingsStore(f.Ini()).SetString("DataConvert", "FileLineMax", "777");
        f.tools->runSettingsDialog = [](ConvertSettings& values) {
            ConvertSettingsDialog d(values, Language::English);
            d.Edit(ConvertSettingsDialog::kFileLineMax)->setText("1");
            d.reject();
            return false;
        };
        f.tools->OnConvertSettings();
        SettingsStore s(f.Ini());
        QCOMPARE(s.GetString("DataConvert", "FileLineMax", ""), std::string("777"));
        QCOMPARE(s.GetString("DataConvert", "AlignErrorMax", ""), std::string("100"));
        QCOMPARE(s.GetString("DataConvert", "NeedSingleSensor", ""), std::string("0"));
        QCOMPARE(s.GetString("DataConvert", "NeedMs", ""), std::string("0"));
        f.tools->runSettingsDialog = [](ConvertSettings& values) {
            ConvertSettingsDialog d(values, Language::English);
            d.Edit(ConvertSettingsDialog::kAlignErrorMax)->setText("5");
            d.accept();
            values = d.Values();
            return true;
        };
        f.tools->OnConvertSettings();
        QCOMPARE(s.GetString("DataConvert", "AlignErrorMax", ""), std::string("5"));
        QCOMPARE(f.tools->Job().Context().Settings().m_AlignErrorMax, std::string("5"));
    }
};

QTEST_MAIN(ToolsConvertTest)
#include "tools_convert_test.moc"
