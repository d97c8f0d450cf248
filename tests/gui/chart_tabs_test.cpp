// The three charts in the main window: tabs 1 to 3, the first spectrum after
// Open, RST, and a real Open/Close of the data port with frames on loopback.
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "window/control_ids.h"
#include "main_window.h"
#include "platform/udp_socket.h"
#include "views/chart_look.h"
#include "views/chart_views.h"

using namespace lumora;

namespace {

int FreeFourDigitPort() {
    for (int port = 7600; port < 9999; port += 13) {
        UdpSocket s;
        if (s.Create() && s.Bind(static_cast<uint16_t>(port), "127.0.0.1")) return port;
    }
    return 0;
}

bool HasGreen(const QImage& img) {
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == qRgb(0, 255, 0)) return true;
    return false;
}

QString Cnt(MainWindow& w) { return qobject_cast<QLineEdit*>(w.Control(IDC_SPECTRUM_CNT))->text(); }

}  // namespace

class ChartTabsTest : public QObject {
    Q_OBJECT
private slots:
    void chartsLiveInTheirTabs() {
        QTemporaryDir dir;
        const int port = FreeFourDigitPort();
        QVERIFY(port > 0);
        const QString ini = dir.filePath("Lumora.ini");
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Net]\nPort=%1\n[View]\nList=1\nRT=1\nOS=1\n[DataSave]\nDir=%2\n")
                    .arg(port)
                    .arg(dir.path())
                    .toUtf8());
        f.close();

        MainWindow w(ini);
        ChartViews charts(w);
        w.show();
        w.Initialise();
        CLumoraDlg& dlg = w.Dlg();
        QVERIFY(w.TabPage(1)->findChild<ChartPanel*>("spectrumChart"));
        QVERIFY(w.TabPage(2)->findChild<ChartPanel*>("traceChart"));
        QVERIFY(w.TabPage(3)->findChild<RealtimeView*>("realtimeSurface"));
        QCOMPARE(charts.Trace().chart()->graph(0)->name(), QString::fromUtf8("第一条"));

        // the first spectrum after Open is shown, brings its tab forward and
        // ticks DISP; RST empties the view
        std::vector<uint16_t> samples(300, 1234);
        QVERIFY(!dlg.ShowSpectrum());
        dlg.Acquisition().m_spectrumAutoShowHook.load()->BringSpectrumForward();
        charts.Spectrum().ShowSpectrumFrame(2, samples.data(), 300);
        QTRY_COMPARE_WITH_TIMEOUT(w.ViewTabs()->currentIndex(), 1, 30000);
        QVERIFY(w.GetCheck(IDC_SPECTRUM_DISP));
        QVERIFY(dlg.ShowSpectrum());
        QTRY_COMPARE_WITH_TIMEOUT(Cnt(w), QString("1"), 30000);
        dlg.OnButtonClicked(IDC_SPECTRUM_RESET);
        QCOMPARE(Cnt(w), QString("0"));
        QCOMPARE(charts.Spectrum().chart()->graphCount(), 0);

        // Open: the start-up series is emptied, the strip samples; frames on
        // loopback reach the trace (rows chosen) and the strip
        dlg.OnOpenClose();
        QVERIFY(dlg.PortOpen());
        QVERIFY(charts.Realtime()->Sampling());
        UdpSocket tx;
        QVERIFY(tx.Create());
        std::vector<uint8_t> frame;
        int sent = 0;
        auto send = [&](int n) {
            for (int i = 0; i < n; ++i) {
                TrailerFields t;
                t.sn = "TABS";
                t.counter = ++sent;
                t.time = 1700000000;
                EncodeWavelengthFrame(frame, {2, 1}, {uint16_t(1000 + sent), uint16_t(2000), uint16_t(3000 - sent)}, &t);
                tx.SendTo(frame.data(), frame.size(), "127.0.0.1", static_cast<uint16_t>(port));
                QTest::qWait(25);
            }
        };
        send(4);
        QTRY_VERIFY_WITH_TIMEOUT(dlg.SensorRows().RowCount() == 3, 30000);
        dlg.SensorRows().SetChecked(0, true);
        dlg.SensorRows().SetChecked(2, true);
        send(10);
        QTRY_VERIFY_WITH_TIMEOUT(charts.Trace().chart()->graphCount() == 2, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(charts.Trace().History().Size() >= 5, 30000);
        QCOMPARE(charts.Trace().chart()->graph(1)->name(), QString("3.%1").arg(port * 1000 + 3));
        // without a reference every value is 0: a flat line across the middle
        QTRY_VERIFY_WITH_TIMEOUT(HasGreen(charts.Realtime()->Picture()), 30000);

        // LEN through the window's own handler
        dlg.OnEditChanged(IDC_REALTIME_LEN, "9");
        QCOMPARE(charts.Realtime()->Strip().Length(), 100);
        dlg.OnEditChanged(IDC_REALTIME_LEN, "250");
        QCOMPARE(charts.Realtime()->Strip().Length(), 250);

        // Close stops the 1 ms tick before the strip is released
        dlg.OnOpenClose();
        QVERIFY(!dlg.PortOpen());
        QVERIFY(!charts.Realtime()->Sampling());
        QVERIFY(charts.Realtime()->Picture().isNull());
    }
};

QTEST_MAIN(ChartTabsTest)
#include "chart_tabs_test.moc"
