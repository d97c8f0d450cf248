// Setting > MQTT... and Tools > Play recording... in the desktop program.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>

#include "acquisition/frame_encoder.h"
#include "app/lumora_dlg.h"
#include "main_window.h"
#include "settings/settings_store.h"
#include "tools/publishing_tools.h"
#include "window/control_ids.h"
#include "support/free_ports.h"

using namespace lumora;

namespace {

// Where every named widget of the window stands, in window coordinates.
QMap<QString, QRect> Geometries(QWidget& window) {
    QMap<QString, QRect> at;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || !w->isVisible()) continue;
        at[w->objectName()] = QRect(w->mapTo(&window, QPoint(0, 0)), w->size());
    }
    return at;
}

MainWindow* NewWindow(const QTemporaryDir& dir, const QString& iniText) {
    QFile f(dir.filePath("Lumora.ini"));
    f.open(QIODevice::WriteOnly);
    f.write(iniText.toUtf8());
    f.close();
    return new MainWindow(dir.filePath("Lumora.ini"));
}

}  // namespace

class PublishingToolsTest : public QObject {
    Q_OBJECT
private slots:
    void mqttDialogWritesItsKeysAndTheIndicatorMovesNothing() {
        QTemporaryDir dir;
        std::unique_ptr<MainWindow> w(NewWindow(dir, QStringLiteral("[Net]\nPort=%1\n").arg(test::FreeUdpPort())));
        w->show();
        w->Initialise();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QMap<QString, QRect> before = Geometries(*w);

        PublishingTools tools(*w);
        QApplication::processEvents();
        const QMap<QString, QRect> after = Geometries(*w);
        for (auto it = before.begin(); it != before.end(); ++it) QCOMPARE(after.value(it.key()), it.value());
        QVERIFY(tools.Indicator()->isVisible());
        QVERIFY(tools.Indicator()->toolTip().contains("off"));

        w->findChild<QAction*>(QStringLiteral("cmd%1").arg(ID_SETTING_MQTT))->trigger();
        MqttDialog* d = tools.Dialog();
        QVERIFY(d && d->isVisible());
        const QString port = QString::number(test::FreeTcpPort());
        d->findChild<QLineEdit*>("mqttPort")->setText(port);
        d->findChild<QLineEdit*>("mqttTopic")->setText("site/a");
        SettingsStore ini(dir.filePath("Lumora.ini").toStdString());
        QCOMPARE(ini.GetString("MQTT", "Port", ""), port.toStdString());
        QCOMPARE(ini.GetString("MQTT", "Topic", ""), std::string("site/a"));

        // Enable publishes at once; nobody listens there, which the dialog says.
        d->findChild<QCheckBox*>("mqttEnable")->setChecked(true);
        QCOMPARE(ini.GetInt("MQTT", "Enable", 0), 1);
        QVERIFY(w->Dlg().Publisher().Running());
        QTRY_VERIFY_WITH_TIMEOUT(d->findChild<QLabel*>("mqttState")->text().contains("cannot reach the MQTT broker"),
                                 30000);
        QTRY_VERIFY_WITH_TIMEOUT(tools.Indicator()->toolTip().contains("failed"), 30000);
        d->findChild<QCheckBox*>("mqttEnable")->setChecked(false);
        QCOMPARE(ini.GetInt("MQTT", "Enable", 1), 0);
        QCOMPARE(w->Dlg().Publisher().State(), MqttState::Off);
    }

    void mqttDialogRefusesNamesAndTellsOfTls() {
        QTemporaryDir dir;
        const QString missing = dir.filePath("missing-ca.pem");
        std::unique_ptr<MainWindow> w(NewWindow(
            dir, QStringLiteral("[Net]\nPort=0\n[MQTT]\nPort=%1\nTopic=site\n").arg(test::FreeTcpPort())));
        w->show();
        w->Initialise();
        PublishingTools tools(*w);
        tools.OnMqttSettings();
        MqttDialog* d = tools.Dialog();
        QVERIFY(d && d->isVisible());

        // A wildcard is not taken, and the dialog says why.
        auto* topic = d->findChild<QLineEdit*>("mqttTopic");
        auto* note = d->findChild<QLabel*>("mqttNote");
        topic->setFocus();
        topic->end(false);
        QTest::keyClicks(topic, "/a+b");
        QCOMPARE(topic->text(), QString("site/ab"));
        QVERIFY(note->isVisible());
        QVERIFY(note->text().contains("+ or #"));
        SettingsStore ini(dir.filePath("Lumora.ini").toStdString());
        QCOMPARE(ini.GetString("MQTT", "Topic", ""), std::string("site/ab"));

        // A password without a CA file travels in clear: said under the form.
        auto* cleartext = d->findChild<QLabel*>("mqttCleartext");
        QVERIFY(!cleartext->isVisible());
        d->findChild<QLineEdit*>("mqttPassword")->setText("s3cret");
        QVERIFY(cleartext->isVisible());

        // A CA file that cannot be read: nothing is sent, and the state says
        // why, never "connected".
        d->findChild<QLineEdit*>("mqttCAFile")->setText(missing);
        QVERIFY(!cleartext->isVisible());
        d->findChild<QCheckBox*>("mqttEnable")->setChecked(true);
        QCOMPARE(w->Dlg().Publisher().State(), MqttState::Failed);
        QVERIFY(w->Dlg().Publisher().GaveUp());
        d->Refresh();
        const QString state = d->findChild<QLabel*>("mqttState")->text();
        QVERIFY2(state.contains("TLS could not be set up: the CA file " + missing + " cannot be read"),
                 qPrintable(state));
        d->findChild<QCheckBox*>("mqttEnable")->setChecked(false);
    }

    void playRecordingOpensThePortAndFeedsTheViews() {
        QTemporaryDir dir;
        // A recording of 20 frames that carry their own trailer.
        QByteArray file("LMRA\x65", 5);
        for (int k = 1; k <= 20; ++k) {
            TrailerFields t;
            t.sn = "PLAY";
            t.time = 1700000000;
            t.microseconds = k * 10000;
            t.counter = k;
            const std::vector<uint8_t> f = EncodeWavelengthFrame({2, 2}, {uint16_t(100 + k), 200, 300, 400}, &t);
            file.append(reinterpret_cast<const char*>(f.data()), qsizetype(f.size()));
        }
        QFile rec(dir.filePath("play.dat"));
        QVERIFY(rec.open(QIODevice::WriteOnly));
        rec.write(file);
        rec.close();

        std::unique_ptr<MainWindow> w(NewWindow(dir, QStringLiteral("[Net]\nPort=%1\n").arg(test::FreeUdpPort())));
        w->show();
        w->Initialise();
        PublishingTools tools(*w);
        CLumoraDlg& dlg = w->Dlg();
        QVERIFY(!dlg.PortOpen());
        tools.OnPlayRecording({dir.filePath("play.dat")});
        QVERIFY(dlg.PortOpen());
        QVERIFY(tools.Player() && tools.Player()->isVisible());
        // Every frame reaches the list with its own datagram, the last one too.
        QTRY_VERIFY_WITH_TIMEOUT(dlg.DatagramCount() == 20, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.LastCounter(), 20, 30000);
        QCOMPARE(QString(dlg.CurrentSn()), QString("PLAY"));
        QTRY_COMPARE_WITH_TIMEOUT(tools.Player()->findChild<QProgressBar*>("replayProgress")->value(), 1000, 30000);
        // The bar follows the bytes read, the count the sends: it may be a refresh behind.
        QTRY_VERIFY_WITH_TIMEOUT(tools.Player()->findChild<QLabel*>("replaySent")->text().contains("20"), 30000);
    }
};

QTEST_MAIN(PublishingToolsTest)
#include "publishing_tools_test.moc"
