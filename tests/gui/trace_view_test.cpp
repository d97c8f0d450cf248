#include <QtTest>
#include <atomic>
#include <memory>
#include <vector>

#include <qcustomplot.h>

#include "../core/views/views_test_ring.h"
#include "views/trace_view.h"

using lumora::FrameRing;
using lumora::TraceView;
using lumora::testing::PublishFrame;

namespace {

struct Fixture {
    QCustomPlot chart;
    std::unique_ptr<FrameRing> ring = lumora::testing::MakeRing();
    std::vector<int> rows;
    bool active = true;
    TraceView view;
    int counter = 0;
    Fixture() {
        view.Init(&chart, ring.get(), [this] { return rows; }, [this] { return active; });
    }
    void Frame(int count, double base) {
        PublishFrame(*ring, ++counter, count, [base](int r) { return base + r; });
    }
};

}  // namespace

class TraceViewTest : public QObject {
    Q_OBJECT
private slots:
    void startupSeriesAndLook() {
        Fixture f;
        QCOMPARE(f.chart.graphCount(), 1);
        QCOMPARE(f.chart.graph(0)->name(), QString::fromUtf8("第一条"));
        QVERIFY(f.chart.legend->visible());
        QVERIFY(f.chart.interactions().testFlag(QCP::iRangeZoom));
        QCOMPARE(f.chart.yAxis->grid()->pen().color(), QColor(0, 50, 0));
        f.chart.graph(0)->addData(1, 1);
        f.view.EmptyStartupSeries();  // opening the port
        QCOMPARE(f.chart.graphCount(), 1);
        QCOMPARE(f.chart.graph(0)->data()->size(), 0);

        // the first refresh replaces it, even with no row chosen
        f.Frame(3, 10);
        f.view.UpdateTrace();
        QCOMPARE(f.chart.graphCount(), 0);
        QVERIFY(!f.chart.legend->visible());  // an empty legend is hidden
        QCOMPARE(f.chart.xAxis->range(), QCPRange(0, 1));
    }

    void refreshesOnlyOnNewFramesWithReadings() {
        Fixture f;
        f.rows = {0, 2};
        f.Frame(3, 10);
        f.view.UpdateTrace();
        QCOMPARE(f.view.RebuildCount(), 1);
        f.view.UpdateTrace();  // same frame
        f.Frame(0, 0);         // no readings
        f.view.UpdateTrace();
        QCOMPARE(f.view.RebuildCount(), 1);
        QCOMPARE(f.view.History().Size(), 1);
        f.active = false;  // Trace DISP unticked or port closed
        f.Frame(3, 20);
        f.view.UpdateTrace();
        QCOMPARE(f.view.RebuildCount(), 1);
        f.active = true;
        f.view.UpdateTrace();
        QCOMPARE(f.view.RebuildCount(), 2);
        QCOMPARE(f.chart.graphCount(), 2);
        QCOMPARE(f.chart.graph(0)->name(), QString("1.7008001"));
        QCOMPARE(f.chart.graph(1)->name(), QString("3.7008003"));
        QCOMPARE(f.chart.graph(1)->data()->at(1)->value, 22.0);
        // one scale for both lines with 5 % margins: values 10 .. 22
        QCOMPARE(f.chart.yAxis->range().lower, 10 - 0.6);
        QCOMPARE(f.chart.yAxis->range().upper, 22 + 0.6);
    }

};

QTEST_MAIN(TraceViewTest)
#include "trace_view_test.moc"
