// What the user does with the spectrum and trace charts: zoom, pan and fit,
// the way back to the view's ranges, the data copied as CSV, the picture
// saved; and the trace's lines drawn in one pass, in nanometres.
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>
#include <atomic>
#include <vector>

#include <qcustomplot.h>

#include "../core/views/views_test_ring.h"
#include "views/spectrum_view.h"
#include "views/trace_view.h"
#include "window/string_table.h"

using namespace lumora;

namespace {

void Wheel(QCustomPlot& chart, int delta) {
    const QPointF at = chart.axisRect()->rect().center();
    QWheelEvent wheel(at, chart.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&chart, &wheel);
}

void Offer(SpectrumView& view, int channel, std::vector<uint16_t> values) {
    view.OfferFrame(channel, values.data(), static_cast<int>(values.size()));
    view.RedrawNow();
}

// The texts of the chart's context menu, read while it is open.
QStringList MenuTexts(QCustomPlot& chart) {
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) texts << a->text();
        menu->close();
    });
    emit chart.customContextMenuRequested(chart.rect().center());
    return texts;
}

}  // namespace

class ChartControlsTest : public QObject {
    Q_OBJECT
private slots:
    // The spectrum keeps 0..4095 until the user zooms or fits; zooming holds
    // the ranges however frames come; a double click fits and follows the
    // data; the menu's "Automatic range" gives the axes back at once.
    void spectrumRangesBelongToTheUserOnceHeZooms() {
        QCustomPlot chart;
        chart.resize(600, 400);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        SpectrumView view;
        view.Init(&chart, [] { return true; }, nullptr);
        ChartControls* controls = view.Controls();
        QSignalSpy changed(controls, &ChartControls::rangesChanged);
        Offer(view, 0, std::vector<uint16_t>(200, 300));
        QCOMPARE(chart.yAxis->range(), QCPRange(0, 4095));
        QCOMPARE(chart.xAxis->label(), QString("Sample"));
        QVERIFY(chart.yAxis->label().startsWith("Intensity"));

        Wheel(chart, 120);
        QCOMPARE(controls->Mode(), ChartControls::Ranges::User);
        QVERIFY(chart.yAxis->range().size() < 4095);
        const QCPRange zoomedX = chart.xAxis->range(), zoomedY = chart.yAxis->range();
        Offer(view, 1, std::vector<uint16_t>(400, 900));
        QCOMPARE(chart.xAxis->range(), zoomedX);
        QCOMPARE(chart.yAxis->range(), zoomedY);
        QVERIFY(changed.count() >= 1);

        QTest::mouseDClick(&chart, Qt::LeftButton, {}, chart.axisRect()->rect().center());
        QCOMPARE(controls->Mode(), ChartControls::Ranges::Fitted);
        QCOMPARE(chart.xAxis->range(), QCPRange(0, 399));
        QVERIFY(chart.yAxis->range().contains(300) && chart.yAxis->range().contains(900));
        QVERIFY(chart.yAxis->range().upper < 1000);
        Offer(view, 1, std::vector<uint16_t>(400, 5000));  // drawn at 4095, and followed
        QVERIFY(chart.yAxis->range().contains(4095));
        QCOMPARE(controls->RangesText(), QString("fit"));

        controls->GiveRangesToView();
        QCOMPARE(chart.yAxis->range(), QCPRange(0, 4095));
        QCOMPARE(controls->RangesText(), QString("view"));
        // Remembered ranges come back as they were; nonsense is refused.
        QVERIFY(controls->SetRangesText("10 110 -5 2000"));
        QCOMPARE(chart.xAxis->range(), QCPRange(10, 110));
        QCOMPARE(controls->RangesText(), QString("10 110 -5 2000"));
        QVERIFY(!controls->SetRangesText("5 1 0 1"));
        QVERIFY(!controls->SetRangesText("a b c d"));
        QCOMPARE(controls->Mode(), ChartControls::Ranges::User);

        QCOMPARE(MenuTexts(chart), (QStringList{"Save image...", "Copy data", "Automatic range"}));
    }

    // "Copy data": the shown x range of every series, one column each;
    // "Save image...": PNG or PDF by the name's ending; Chinese texts.
    void copyDataAndSaveImage() {
        SetUiLanguage(Language::Chinese);
        QCustomPlot chart;
        chart.resize(500, 300);
        SpectrumView view;
        view.Init(&chart, [] { return true; }, nullptr);
        SetUiLanguage(Language::English);
        QCOMPARE(chart.xAxis->label(), QString::fromUtf8("采样点"));
        QCOMPARE(MenuTexts(chart).value(1), QString::fromUtf8("复制数据"));

        Offer(view, 1, {1, 2, 3, 4, 5, 6});
        Offer(view, 3, {10, 20, 30});
        QVERIFY(view.Controls()->SetRangesText("1 3.5 0 100"));
        QCOMPARE(view.Controls()->DataCsv(),
                 QString::fromUtf8("采样点,CH02,CH04\n1,2,20\n2,3,30\n3,4,\n"));

        QTemporaryDir dir;
        for (const char* name : {"chart.png", "chart.pdf"}) {
            const QString path = dir.filePath(name);
            view.Controls()->chooseImageFile = [&] { return path; };
            QVERIFY(view.Controls()->SaveImage(path));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray head = file.read(8);
            QVERIFY2(head.startsWith(QString(name).endsWith("pdf") ? "%PDF" : "\x89PNG"), name);
        }
        QVERIFY(!view.Controls()->SaveImage(dir.filePath("no/such/folder/chart.png")));
    }

    // Every chosen line reaches the picture, drawn by the chart's one pass
    // over all lines; binary frames' picometres are drawn as nanometres; the
    // legend lists the lines that fit beside the plot.
    void traceLinesInNanometres() {
        QCustomPlot chart;
        chart.resize(600, 400);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        auto ring = testing::MakeRing();
        std::vector<int> rows(320);
        for (int r = 0; r < 320; ++r) rows[r] = r;
        TraceView view;
        view.Init(&chart, ring.get(), [&] { return rows; }, [] { return true; });
        view.valuesArePicometres = [] { return true; };
        for (int counter = 1; counter <= 10; ++counter) {
            testing::PublishFrame(*ring, counter, 320, [](int r) { return r < 2 ? (r ? 2000.0 : -2000.0) : 0.0; });
            view.UpdateTrace();
        }
        QCOMPARE(chart.graph(1)->data()->at(0)->value, 2.0);
        QCOMPARE(chart.yAxis->label(), QString("Wavelength change (nm)"));
        QCOMPARE(chart.yAxis->range(), QCPRange(-2.2, 2.2));
        QVERIFY(chart.legend->itemCount() > 5 && chart.legend->itemCount() < 320);

        // Lines at -2, 0 and 2 nm, across the middle of the plot, on screen
        // and in a vector export (PDF) alike.
        chart.replot();
        QImage vector(chart.size(), QImage::Format_RGB32);
        {
            QCPPainter painter(&vector);
            painter.setMode(QCPPainter::pmVectorized);
            chart.toPainter(&painter, chart.width(), chart.height());
        }
        const QRect plot = chart.axisRect()->rect();
        for (const QImage& picture : {chart.toPixmap().toImage(), vector}) {
            for (int g : {0, 1, 319}) {
                const int y = qRound(chart.yAxis->coordToPixel(chart.graph(g)->data()->at(0)->value));
                const QRgb want = chart.graph(g)->pen().color().rgb();
                bool found = false;
                for (int dy = -1; dy <= 1 && !found; ++dy) found = picture.pixel(plot.center().x(), y + dy) == want;
                QVERIFY2(found, qPrintable(QString("line %1").arg(g)));
            }
        }
    }
};

QTEST_MAIN(ChartControlsTest)
#include "chart_controls_test.moc"
