#include <QtTest>

#include "main_window.h"

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void titleCarriesVersion() {
        lumora::MainWindow w;
        QVERIFY(w.windowTitle().startsWith("lumora Ver: "));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
