// Termination signals end the desktop program and lumora-cli the way the close
// box does, whatever the program is doing: the programs run as children here.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <vector>

#include "acquisition/frame_encoder.h"
#include "platform/udp_socket.h"
#include "settings/settings_store.h"

using namespace lumora;

class ProgramSignalsTest : public QObject {
    Q_OBJECT
private slots:
    void signalsEndTheProgramsAsTheCloseBoxDoes() {
        // The desktop program with its start-up message box up: AutoOpen on a
        // port (of four digits, as older settings files hold) that is taken.
        QTemporaryDir dir;
        UdpSocket holder;
        int busy = 9300;
        while (busy < 10000 && !(holder.Create() && holder.Bind(static_cast<uint16_t>(busy)))) {
            holder.Close();
            ++busy;
        }
        QVERIFY(busy < 10000);
        const std::string ini = dir.filePath("Lumora.ini").toStdString();
        SettingsStore(ini).SetString("Net", "Port", std::to_string(busy));
        SettingsStore(ini).SetString("Net", "AutoOpen", "1");
        QProcess desktop;
        desktop.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        desktop.setProcessEnvironment(env);
        desktop.start(QStringLiteral(LUMORA_GUI_PATH), {});
        QVERIFY(desktop.waitForStarted(30000));
        // Start-up writes the command port back just before it opens the data
        // port and shows the box; a second later the box is up.
        QTRY_VERIFY_WITH_TIMEOUT(SettingsStore(ini).GetString("Net", "CmdPort", "") != "", 30000);
        QTest::qWait(1000);
        QCOMPARE(desktop.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(desktop.processId()), SIGHUP);
        const bool ended = desktop.waitForFinished(30000);
        if (!ended) {
            desktop.kill();
            desktop.waitForFinished(30000);
        }
        QVERIFY2(ended, "the program lived on after the signal with its start-up box up");
        QCOMPARE(desktop.exitStatus(), QProcess::NormalExit);

        // lumora-cli record: the recording is closed on a whole record.
        QProcess record;
        record.start(QStringLiteral(LUMORA_CLI_PATH),
                     {"record", "--port", "0", "--dir", dir.path(), "--prefix", "hup", "--seconds", "60"});
        QVERIFY(record.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(record.canReadLine(), 30000);
        const QByteArray line = record.readLine().trimmed();
        QVERIFY2(line.startsWith("listening on UDP port "), line.constData());
        UdpSocket sender;
        QVERIFY(sender.Create());
        const std::vector<uint8_t> frame = EncodeWavelengthFrame({2, 2}, {1, 2, 3, 4});
        for (int i = 0; i < 20; ++i)
            QVERIFY(sender.SendTo(frame.data(), frame.size(), "127.0.0.1", static_cast<uint16_t>(line.mid(22).toInt())));
        // Once the status line counts the 20th datagram, its handling (which
        // hands on the 20th frame) has begun and ends before the worker does.
        QByteArray status;
        QTRY_VERIFY_WITH_TIMEOUT((status += record.readAllStandardError()).contains(", datagrams 20\n"), 30000);
        ::kill(static_cast<pid_t>(record.processId()), SIGHUP);
        QVERIFY(record.waitForFinished(30000));
        QCOMPARE(record.exitStatus(), QProcess::NormalExit);
        QCOMPARE(record.exitCode(), 0);
        const QStringList files = QDir(dir.path()).entryList({"hup-*.dat"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        // Every frame, the last one included, each with the recorder's trailer.
        QCOMPARE(QFileInfo(QDir(dir.path()).filePath(files[0])).size(), qint64(5 + 20 * (frame.size() + 52)));
    }

    // The desktop program reads its options before Qt starts: without any
    // display a wrong one gets the usage and status 2, not an abort.
    void optionsAreReadWithoutADisplay() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
        struct Case {
            QStringList args;
            int status;
            const char* says;
        };
        const Case cases[] = {
            {{"--bogus"}, 2, "usage: lumora"},
            {{"-platform"}, 2, "needs a value"},
            {{"-platform", "offscreen", "-reverse", "--bogus"}, 2, "unknown option '--bogus'"},
            {{"-style=fusion", "--help"}, 0, "usage: lumora"},
            {{"--version"}, 0, "lumora 1.0.2.6"},
        };
        for (const Case& c : cases) {
            QProcess lumora;
            lumora.setProcessEnvironment(env);
            lumora.start(QStringLiteral(LUMORA_GUI_PATH), c.args);
            QVERIFY(lumora.waitForFinished(30000));
            const QByteArray said = lumora.readAllStandardOutput() + lumora.readAllStandardError();
            QCOMPARE(lumora.exitStatus(), QProcess::NormalExit);
            QCOMPARE(lumora.exitCode(), c.status);
            QVERIFY2(said.contains(c.says), said.constData());
        }
    }
};

QTEST_GUILESS_MAIN(ProgramSignalsTest)
#include "program_signals_test.moc"
