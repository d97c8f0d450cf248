// Setting > "Sensors..." in the desktop program: the table editor, the list's
// Label, Value and Unit columns with their alarm colours, the alarm count on
// the menu bar and the "Units" boxes of the Trace and Realtime groups.
// With LUMORA_SCREENSHOTS set to a folder, the window and the dialog are saved
// there as pictures to look at.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

#include "acquisition/frame_encoder.h"
#include "app/lumora_dlg.h"
#include "main_window.h"
#include "platform/udp_socket.h"
#include "sensor_list_widget.h"
#include "settings/settings_store.h"
#include "support/free_ports.h"
#include "tools/publishing_tools.h"
#include "tools/sensor_tools.h"
#include "views/chart_views.h"
#include "views/sensor_list.h"
#include "window/control_ids.h"

using namespace lumora;

namespace {

void Save(QWidget* w, const char* name) {
    const QByteArray dir = qgetenv("LUMORA_SCREENSHOTS");
    if (!dir.isEmpty()) w->grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
}

void SetCell(QTableWidget* grid, int row, const char* column, const QString& text) {
    for (int c = 0; c < grid->columnCount(); ++c) {
        if (grid->horizontalHeaderItem(c)->text() == QLatin1String(column)) {
            grid->setItem(row, c, new QTableWidgetItem(text));
            return;
        }
    }
    QFAIL(column);
}

QString Cell(QTableWidget* grid, int row, const char* column) {
    for (int c = 0; c < grid->columnCount(); ++c)
        if (grid->horizontalHeaderItem(c)->text() == QLatin1String(column))
            return grid->item(row, c) ? grid->item(row, c)->text() : QString();
    return {};
}

// Sensor 1 at lambda0 + offset, sensor 2 anywhere, then a lone marker that
// completes the frame.
void SendFrame(UdpSocket& socket, uint16_t port, int counter, int offset) {
    TrailerFields t;
    t.sn = "GUI1";
    t.time = 1700000000 + counter;
    t.counter = counter;
    const std::vector<uint8_t> f = EncodeWavelengthFrame({2}, {uint16_t(13000 + offset), 19000}, &t);
    socket.SendTo(f.data(), f.size(), "127.0.0.1", port);
    socket.SendTo("\xFF\xFF", 2, "127.0.0.1", port);
}

}  // namespace

class SensorToolsTest : public QObject {
    Q_OBJECT
private slots:
    void tableEditorColumnsColoursAlarmsAndUnits() {
        QTemporaryDir dir;
        {
            QFile ini(dir.filePath("Lumora.ini"));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write(QStringLiteral("[Net]\nPort=%1\n[DataSave]\nDir=%2\n")
                          .arg(test::FreeUdpPort())
                          .arg(dir.path())
                          .toUtf8());
        }
        MainWindow w(dir.filePath("Lumora.ini"));
        QStringList boxes;  // no message box may stop the test
        w.messageBoxOverride = [&](const std::string& text, const std::string&, int, int) {
            boxes << QString::fromStdString(text);
            return kIdOk;
        };
        ChartViews charts(w);
        PublishingTools publishing(w);
        SensorTools tools(w);
        w.show();
        w.Initialise();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CLumoraDlg& dlg = w.Dlg();

        // No table: nothing of it shows.
        QVERIFY(!tools.Indicator()->isVisible());
        QVERIFY(!charts.TraceUnits()->isVisible());
        QCOMPARE(w.SensorListView()->model()->columnCount(), kSensorListColumns);

        w.findChild<QAction*>(QStringLiteral("cmd%1").arg(ID_SETTING_SENSORS))->trigger();
        SensorsDialog* d = tools.Dialog();
        QVERIFY(d && d->isVisible());
        QStringList messages;
        d->messageOverride = [&](const QString& m) { messages << m; };
        d->confirmOverride = [](const QString&) { return true; };
        d->SetPath(dir.filePath("sensors.csv"));
        auto* grid = d->findChild<QTableWidget*>("sensorGrid");
        d->AddRow();
        d->AddRow();
        SetCell(grid, 0, "id", "1");
        SetCell(grid, 0, "label", "Pier");
        SetCell(grid, 0, "unit", "kPa");
        SetCell(grid, 0, "lambda0", "1523000");
        SetCell(grid, 0, "high", "10");
        SetCell(grid, 1, "id", "2");
        SetCell(grid, 1, "lambda0", "15x");
        QVERIFY(!d->Save());
        QVERIFY(messages.last().contains(":3: column lambda0: '15x' is not a number"));
        QCOMPARE(grid->currentRow(), 1);
        SetCell(grid, 1, "lambda0", "1529000");

        // The strain preset from lambda0, then a linear one of 1 per pm.
        grid->selectRow(0);
        QVERIFY(d->ApplyPreset());
        QCOMPARE(Cell(grid, 0, "c1"), QString::fromStdString(SensorNumberText(1e6 / (1523000 * 0.78))));
        QCOMPARE(Cell(grid, 0, "unit"), QString("kPa"));  // a unit typed stays
        d->findChild<QComboBox*>("presetKind")->setCurrentIndex(2);
        d->findChild<QLineEdit*>("presetA")->setText("0");
        d->findChild<QLineEdit*>("presetB")->setText("1");
        QVERIFY(d->ApplyPreset());
        QVERIFY(d->Save());
        QVERIFY(QFile::exists(dir.filePath("sensors.csv")));
        QCOMPARE(SettingsStore(dir.filePath("Lumora.ini").toStdString()).GetString("Sensors", "File", ""),
                 dir.filePath("sensors.csv").toStdString());
        QVERIFY(tools.Indicator()->isVisible());
        QVERIFY(charts.TraceUnits()->isVisible() && charts.RealtimeUnits()->isVisible());

        // Frames: sensor 1 reads 20 kPa, above its limit of 10.
        dlg.OnOpenClose();
        QVERIFY2(dlg.PortOpen(), qPrintable(boxes.join('\n')));
        UdpSocket sender;
        QVERIFY(sender.Create());
        SendFrame(sender, dlg.Session().BoundPort(), 1, 20);
        SensorListWidget* list = w.SensorListView();
        QTRY_COMPARE_WITH_TIMEOUT(list->model()->columnCount(), kSensorListColumnsWithValues, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(list->model()->index(0, kSensorListValueColumn).data().toString(), QString("20"),
                                  30000);
        QAbstractItemModel* m = list->model();
        QCOMPARE(m->headerData(kSensorListLabelColumn, Qt::Horizontal).toString(), QString("Label"));
        QCOMPARE(m->headerData(kSensorListUnitColumn, Qt::Horizontal).toString(), QString("Unit"));
        QCOMPARE(m->headerData(5, Qt::Horizontal).toString(), QString("PhysicValue"));
        QCOMPARE(m->index(0, kSensorListLabelColumn).data().toString(), QString("Pier"));
        QCOMPARE(m->index(0, kSensorListUnitColumn).data().toString(), QString("kPa"));
        QCOMPARE(m->index(1, kSensorListValueColumn).data().toString(), QString("0"));
        QCOMPARE(m->index(0, 3).data(Qt::BackgroundRole).value<QColor>(), SensorListModel::HighAlarmColour());
        QVERIFY(!m->index(1, 3).data(Qt::BackgroundRole).isValid());
        QTRY_COMPARE_WITH_TIMEOUT(tools.Indicator()->text(), QString("Alarms: 1"), 30000);
        QVERIFY(tools.Indicator()->toolTip().contains("GUI1 1 Pier: 20 kPa HIGH"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("alarms.csv")), 30000);

        // Units: the trace draws the value of the ticked row, named by its
        // label, with the unit on the axis; the realtime strip samples it.
        dlg.SensorRows().SetChecked(0, true);
        dlg.OnCheckClicked(IDC_TRACE_DISP, true);
        charts.TraceUnits()->click();
        SendFrame(sender, dlg.Session().BoundPort(), 2, 30);
        QCustomPlot* chart = charts.Trace().chart();
        QTRY_VERIFY_WITH_TIMEOUT(chart->graphCount() == 1 && chart->graph(0)->name() == "Pier", 30000);
        QCOMPARE(chart->yAxis->label(), QString("Value (kPa)"));
        QTRY_COMPARE_WITH_TIMEOUT(chart->graph(0)->data()->at(chart->graph(0)->data()->size() - 1)->value, 30.0,
                                  30000);
        charts.RealtimeUnits()->click();
        QCOMPARE(SettingsStore(dir.filePath("Lumora.ini").toStdString()).GetInt("Sensors", "RealtimeUnits", 0), 1);
        dlg.OnCheckClicked(IDC_REALTIME_DISP, true);
        SendFrame(sender, dlg.Session().BoundPort(), 3, 25);
        QTRY_COMPARE_WITH_TIMEOUT(charts.Realtime()->Strip().Samples().back(), 25.0f, 30000);
        w.ViewTabs()->setCurrentIndex(kViewTabList);
        Save(&w, "sensors-list");
        list->horizontalScrollBar()->setValue(list->horizontalScrollBar()->maximum());
        Save(&w, "sensors-list-values");
        w.ViewTabs()->setCurrentIndex(kViewTabTrace);
        Save(&w, "sensors-trace");
        w.ViewTabs()->setCurrentIndex(kViewTabRealtime);
        QTest::qWait(100);
        Save(&w, "sensors-realtime");

        // Zero: the latest wavelengths become lambda0, saved and in use.
        const qsizetype shown = messages.size();
        QVERIFY(d->Zero());
        QCOMPARE(messages.size(), shown);
        QCOMPARE(Cell(grid, 0, "lambda0"), QString::number(1523025));
        SendFrame(sender, dlg.Session().BoundPort(), 4, 25);
        QTRY_COMPARE_WITH_TIMEOUT(m->index(0, kSensorListValueColumn).data().toString(), QString("0"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(tools.Indicator()->text(), QString("Alarms: 0"), 30000);
        Save(d, "sensors-dialog");
        dlg.OnOpenClose();
    }
};

QTEST_MAIN(SensorToolsTest)
#include "sensor_tools_test.moc"
