#include <QResizeEvent>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>

#include "../core/views/views_test_ring.h"
#include "platform/clock.h"
#include "views/realtime_view.h"

using lumora::FrameRing;
using lumora::RealtimeView;
using lumora::testing::PublishFrame;

namespace {

const QRgb kGreen = qRgb(0, 255, 0);

struct Fixture {
    std::unique_ptr<FrameRing> ring = lumora::testing::MakeRing();
    std::atomic<bool> show{true};
    std::atomic<int> id{1};
    std::atomic<bool> full{false};
    lumora::ManualClock clock{1700000000000};
    RealtimeView view;
    int counter = 0;
    Fixture(int w = 800, int h = 600) {
        view.resize(w, h);
        view.Init(ring.get(), {[this] { return show.load(); }, [this] { return id.load(); },
                               [this] { return full.load(); }},
                  &clock);
        view.OpenCanvas();
    }
    void Frame(double value) {
        PublishFrame(*ring, ++counter, 4, [value](int r) { return value + r; });
    }
    int GreenIn(const QImage& img, const QRect& r) const {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) n += img.pixel(x, y) == kGreen;
        return n;
    }
};

}  // namespace

class RealtimeViewTest : public QObject {
    Q_OBJECT
private slots:
    void scaleLabelsAndLine() {
        Fixture f;
        f.view.OnLengthChanged(10);
        f.view.OpenCanvas();
        for (int i = 0; i < 10; ++i) {
            f.Frame(i * 10.0);
            QVERIFY(f.view.TickOnce());
        }
        const QImage img = f.view.Picture();
        QCOMPARE(img.size(), QSize(800, 600));
        QCOMPARE(img.pixel(119, 300), kGreen);            // the axis
        QCOMPARE(img.pixel(600, 560), kGreen);            // the base line
        QVERIFY(f.GreenIn(img, QRect(5, 30, 100, 30)) > 0);  // the top label
        QCOMPARE(img.pixel(790, 10), qRgb(0, 0, 0));
        // the newest sample (the maximum) is at the top of the plot
        QCOMPARE(img.pixel(120 + 558, 40), kGreen);

        // FULL: only the line, over the same plot area
        f.full = true;
        f.Frame(90.0);
        QVERIFY(f.view.TickOnce());
        const QImage bare = f.view.Picture();
        QCOMPARE(f.GreenIn(bare, QRect(0, 0, 119, 600)), 0);
        QCOMPARE(bare.pixel(119, 300), qRgb(0, 0, 0));
        QVERIFY(f.GreenIn(bare, QRect(120, 40, 620, 521)) > 0);
    }

    // The view area grows after the port opened: the next drawing fills it,
    // keeping the samples.
    void surfaceFollowsTheWidgetSize() {
        Fixture f(400, 300);
        f.view.show();  // a hidden widget hears of its new size when shown
        f.Frame(5.0);
        QVERIFY(f.view.TickOnce());
        QCOMPARE(f.view.Picture().size(), QSize(400, 300));
        f.view.resize(800, 600);
        f.Frame(7.0);
        QVERIFY(f.view.TickOnce());
        const QImage img = f.view.Picture();
        QCOMPARE(img.size(), QSize(800, 600));
        QCOMPARE(img.pixel(600, 560), kGreen);  // the base line of the larger plot
        const auto samples = f.view.Strip().Samples();
        QCOMPARE(samples[samples.size() - 2], 5.0f);
    }

    void displayOffFreezesAndRateCounts() {
        Fixture f;
        f.Frame(1.0);
        QVERIFY(f.view.TickOnce());
        f.show = false;
        f.Frame(2.0);
        QVERIFY(!f.view.TickOnce());
        f.show = true;
        QVERIFY(f.view.TickOnce());
        QCOMPARE(f.view.DrawRate(), 0);
        for (int i = 0; i < 500; ++i) {
            f.clock.Advance(25);
            f.Frame(i);
            f.view.TickOnce();
        }
        QCOMPARE(f.view.DrawRate(), 40);
        f.view.ClearDrawRate();
        QCOMPARE(f.view.DrawRate(), 0);
    }

    // The 1 ms tick draws while LEN changes and frames arrive; the port is
    // then closed while the strip is being drawn.
    void tickThreadLengthChangesAndClose() {
        Fixture f(1200, 500);
        f.view.show();
        f.view.StartSampling();
        QVERIFY(f.view.Sampling());
        for (int i = 0; i < 90; ++i) {
            f.Frame(i * 0.5);
            f.view.OnLengthChanged(i % 2 ? 10000 : 1000);
            QTest::qWait(2);
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.GreenIn(f.view.Picture(), QRect(120, 40, 1020, 421)) > 0, 30000);
        f.view.CloseCanvas();
        QVERIFY(!f.view.Sampling());
        QVERIFY(f.view.Picture().isNull());
        QCoreApplication::processEvents();  // a repaint requested by the last drawing is harmless
        f.view.repaint();
    }
};

QTEST_MAIN(RealtimeViewTest)
#include "realtime_view_test.moc"
