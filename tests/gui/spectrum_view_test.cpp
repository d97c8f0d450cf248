#include <QLineEdit>
#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

#include <qcustomplot.h>

#include "views/spectrum_view.h"

using lumora::SpectrumView;

namespace {

struct Fixture {
    QCustomPlot chart;
    QLineEdit counter;
    std::atomic<bool> display{true};
    SpectrumView view;
    Fixture() {
        view.Init(&chart, [this] { return display.load(); }, &counter);
    }
    QCPGraph* graphNamed(const QString& name) const {
        for (int i = 0; i < chart.graphCount(); ++i)
            if (chart.graph(i)->name() == name) return chart.graph(i);
        return nullptr;
    }
    std::vector<QString> names() const {
        std::vector<QString> n;
        for (int i = 0; i < chart.graphCount(); ++i) n.push_back(chart.graph(i)->name());
        return n;
    }
};

std::vector<uint16_t> Flat(int n, uint16_t v) { return std::vector<uint16_t>(n, v); }

}  // namespace

class SpectrumViewTest : public QObject {
    Q_OBJECT
private slots:
    void lookOfTheChart() {
        Fixture f;
        const QImage img = f.chart.toPixmap(300, 200).toImage();
        QCOMPARE(img.pixel(1, 1), qRgb(0, 0, 0));
        QCOMPARE(f.chart.xAxis->basePen().color(), QColor(0, 180, 0));
        QCOMPARE(f.chart.yAxis->tickLabelColor(), QColor(0, 180, 0));
        QCOMPARE(f.chart.xAxis->grid()->pen().color(), QColor(0, 50, 0));
        QVERIFY(!f.chart.legend->visible());  // nothing in it yet
        QCOMPARE(f.chart.legend->fillOrder(), QCPLayoutGrid::foRowsFirst);
        QVERIFY(f.chart.interactions().testFlag(QCP::iRangeZoom));  // the wheel zooms, dragging pans
        QCOMPARE(f.counter.text(), QString("0"));
        QCOMPARE(f.chart.graphCount(), 0);
    }

    void channelsAxesAndClamping() {
        Fixture f;
        auto a = Flat(100, 5000);
        auto b = Flat(300, 17);
        QCOMPARE(f.view.OfferFrame(1, a.data(), 100), 0);
        QCOMPARE(f.view.OfferFrame(3, b.data(), 300), 0);
        f.view.RedrawNow();
        QCOMPARE(f.names(), (std::vector<QString>{"CH02", "CH04"}));
        QCOMPARE(f.chart.graph(0)->data()->size(), 100);
        QCOMPARE(f.chart.graph(0)->data()->at(50)->value, 4095.0);  // 5000 is drawn at 4095
        QCOMPARE(f.chart.graph(1)->data()->at(299)->key, 299.0);
        QCOMPARE(f.chart.yAxis->range(), QCPRange(0, 4095));
        QCOMPARE(f.chart.xAxis->range(), QCPRange(0, 299));
        QCOMPARE(f.counter.text(), QString("2"));
        QCOMPARE(f.chart.graph(0)->pen().widthF(), 1.0);
        QVERIFY(f.chart.graph(0)->pen().color() != f.chart.graph(1)->pen().color());

        // a shorter spectrum keeps the bottom axis; the line gets the new points
        auto c = Flat(50, 9);
        f.view.OfferFrame(3, c.data(), 50);
        f.view.RedrawNow();
        QCOMPARE(f.chart.xAxis->range(), QCPRange(0, 299));
        QCOMPARE(f.chart.graph(1)->data()->size(), 50);
        QCOMPARE(f.chart.graph(0)->data()->size(), 100);  // other channels keep theirs
        QCOMPARE(f.counter.text(), QString("3"));
    }

    void displayOffDropsFramesAndResetEmpties() {
        Fixture f;
        auto a = Flat(64, 100);
        f.view.OfferFrame(0, a.data(), 64);
        f.view.RedrawNow();
        f.display = false;
        auto b = Flat(640, 200);
        QCOMPARE(f.view.OfferFrame(0, b.data(), 640), -1);
        QCOMPARE(f.view.OfferFrame(5, b.data(), 640), -1);
        QCoreApplication::processEvents();
        f.view.RedrawNow();
        QCOMPARE(f.counter.text(), QString("1"));
        QCOMPARE(f.chart.graphCount(), 1);
        QCOMPARE(f.chart.graph(0)->data()->at(0)->value, 100.0);

        f.display = true;
        QVERIFY(f.chart.legend->visible());
        f.view.OfferFrame(2, b.data(), 640);
        f.view.ResetSpectrum();
        QCOMPARE(f.counter.text(), QString("0"));
        QCOMPARE(f.chart.graphCount(), 0);
        QVERIFY(!f.chart.legend->visible());  // no empty frame left behind
        f.view.OfferFrame(7, a.data(), 64);
        f.view.RedrawNow();
        QCOMPARE(f.names(), (std::vector<QString>{"CH08"}));
        QCOMPARE(f.counter.text(), QString("1"));
        QCOMPARE(f.chart.xAxis->range(), QCPRange(0, 63));
    }

    // A chart behind another tab is not drawn; it is drawn when it comes forward.
    void hiddenChartIsDrawnWhenShown() {
        Fixture f;
        int replots = 0;
        connect(&f.chart, &QCustomPlot::afterReplot, this, [&] { ++replots; });
        auto a = Flat(64, 100);
        f.view.OfferFrame(0, a.data(), 64);
        f.view.RedrawNow();
        QCOMPARE(replots, 0);
        QCOMPARE(f.counter.text(), QString("1"));
        QCOMPARE(f.chart.graph(0)->data()->size(), 64);
        f.chart.show();
        QTRY_VERIFY_WITH_TIMEOUT(replots >= 1, 30000);
        const int before = replots;
        f.view.OfferFrame(0, a.data(), 32);
        f.view.RedrawNow();
        QCOMPARE(replots, before + 1);
    }

    // Frames from the receive worker faster than the screen refreshes: each
    // is counted, the chart is redrawn far less often, the UI thread keeps up.
    void workerBurstIsCoalesced() {
        Fixture f;
        constexpr int kFrames = 400;
        std::thread worker([&] {
            std::vector<uint16_t> v(5646);
            for (int i = 0; i < kFrames; ++i) {
                for (auto& s : v) s = static_cast<uint16_t>(i);
                f.view.ShowSpectrumFrame(i % 32, v.data(), 5646);
            }
        });
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(f.counter.text(), QString::number(kFrames), 30000);
        QVERIFY(f.view.RedrawCount() <= 3);
        QCOMPARE(f.chart.graphCount(), 32);
        // every channel shows its own last spectrum
        QCOMPARE(f.graphNamed("CH01")->data()->at(10)->value, 384.0);
        QCOMPARE(f.graphNamed("CH16")->data()->at(10)->value, 399.0);
        QCOMPARE(f.graphNamed("CH32")->data()->at(10)->value, 383.0);
    }

};

QTEST_MAIN(SpectrumViewTest)
#include "spectrum_view_test.moc"
